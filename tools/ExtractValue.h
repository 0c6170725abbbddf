#pragma once
// quillon-dump --extract: the stored bytes of one element's value or of one
// frame, as they lie in the file (in a deflated file, in its inflated data set).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// What --extract names: an element (ElementSelector's text) or "frame:K",
// K a frame index from 0.
struct ExtractTarget {
    std::string element;  // the selector text when no frame is named
    std::optional<uint64_t> frame;
};

// The target a text names; none when it is neither form.
std::optional<ExtractTarget> ParseExtractTarget(const std::string& text);

// Writes the target's bytes through `write` in blocks: 0; 1 when the file
// cannot be read, has no such element or frame, or a write fails (the
// reason, one line, in `error`).
int ExtractBytes(const std::filesystem::path& path, const ExtractTarget& target,
                 const std::function<bool(const uint8_t*, std::size_t)>& write, std::string& error);

}  // namespace quillon
