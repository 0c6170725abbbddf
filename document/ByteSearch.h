#pragma once
// Working with the bytes of an open document as bytes: finding a byte
// pattern typed in hexadecimal, and the innermost element that holds a byte.
// Plain C++, tested without a display.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/QuillonDocument.h"

namespace quillon {

class FileBytes;

// A byte pattern as the user types it in the find bar: two or more groups of
// two hexadecimal digits separated by blanks ("FE FF 00 E0", either case,
// blanks around it allowed). None for anything else: a single group, a tag
// ("0010,0010", "00100010") and text are not byte patterns.
std::optional<std::vector<uint8_t>> ParseHexPattern(std::u16string_view text);

struct ByteFindResult {
    std::optional<uint64_t> offset;  // where the pattern starts; none: not found
    bool wrapped = false;            // found before `from`, after going round past the end
    bool cancelled = false;          // `cancel` was set before the search ended
    bool readFailed = false;         // the bytes could not be read (the file shrank)
};

// The first occurrence of `pattern` in bytes 0 .. size-1 of `bytes` that
// starts at `from` or later, else the first that starts before `from` (going
// round). Reads in large blocks and scans them with memmem, so that hundreds
// of megabytes take a fraction of a second; `cancel` is looked at between
// blocks. An empty pattern is never found.
ByteFindResult FindBytes(const FileBytes& bytes, uint64_t size, uint64_t from, const std::vector<uint8_t>& pattern,
                         const std::atomic<bool>* cancel = nullptr);

// The block FindBytes reads at a time.
inline constexpr std::size_t kFindBlockBytes = 8 * 1024 * 1024;

// The innermost element whose range holds `offset`: the outermost one, then
// the outermost inside it that holds the byte, and so on. None when no
// element does (the byte belongs to the root).
std::optional<std::size_t> InnermostRecordAt(QuillonDocument& document, uint64_t offset);

// The text of the status line under the hex view for a caret on byte
// `caret` and a marked range of `rangeLength` bytes (0: none), for example
// "Offset 1500 (0x5DC) | Byte 0x4F | Range 16 bytes | in <label>", the label
// that of the innermost element holding the byte ("in the root" when none
// does). Empty without a caret (UINT64_MAX) or past the data.
std::u16string CaretStatusText(QuillonDocument& document, uint64_t caret, uint64_t rangeLength);

// The tooltip of the property list's value cell for record `index`: the
// value's whole text up to kValueTipChars characters (then "..."), binary
// values as hex of their first kValueTipBytes bytes (then "... (N bytes)"),
// an AT value as all its tags "(GGGG,EEEE)", up to kValueTipTags of them.
// Empty when the element has no value.
inline constexpr std::size_t kValueTipChars = 4096;
inline constexpr std::size_t kValueTipTags = 1024;
inline constexpr std::size_t kValueTipBytes = 256;
std::u16string ValueTipText(const QuillonDocument& document, std::size_t index);

// Bytes first..last (inclusive) of the open file, at most `limit` of them
// from the first; empty when they cannot be read.
std::vector<uint8_t> ReadRange(const QuillonDocument& document, uint64_t first, uint64_t last, uint64_t limit);

}  // namespace quillon
