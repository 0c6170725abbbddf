#pragma once
// Plain heap blocks (malloc/free) for value bytes, frame blocks and other
// buffers that are handed from one subsystem to another.
#include <cstdlib>
#include <memory>

namespace quillon {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

template <class T>
using HeapPtr = std::unique_ptr<T, FreeDeleter>;

// Allocates n bytes (at least one) without throwing; null on failure.
inline void* AllocBlock(std::size_t n) noexcept { return std::malloc(n ? n : 1); }

}  // namespace quillon
