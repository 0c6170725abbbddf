#include "dicom/InternedText.h"

#include <functional>
#include <mutex>
#include <unordered_set>

namespace quillon {

namespace {

struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view text) const noexcept { return std::hash<std::u16string_view>{}(text); }
};

}  // namespace

InternedText& InternedText::operator=(std::u16string_view text) {
    if (text.empty()) {
        clear();
        return *this;
    }
    // A file repeats few texts many times: each thread remembers the texts it
    // interned last, by hash, and finds them again without the lock.
    const std::size_t hash = TextHash{}(text);
    thread_local const std::u16string* recent[256] = {};
    const std::u16string*& slot = recent[hash & 255];
    if (slot && *slot == text) {
        m_text = slot;
        return *this;
    }
    // Nodes are made on any thread (files load in the background).
    static std::mutex mutex;
    // Set nodes do not move: the addresses handed out stay valid.
    static std::unordered_set<std::u16string, TextHash, std::equal_to<>> pool;
    {
        std::lock_guard lock(mutex);
        auto found = pool.find(text);
        if (found == pool.end()) found = pool.emplace(text).first;
        m_text = &*found;
    }
    slot = m_text;
    return *this;
}

}  // namespace quillon
