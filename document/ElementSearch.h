#pragma once
// Finding one's way in an open document: offsets typed by the user, finding an
// element by tag, description or value text, choosing the element a click on
// a byte selects when an element is already selected, and the texts that the
// copy actions put on the clipboard. Plain C++, tested without a display.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "document/QuillonDocument.h"

namespace quillon {

// An offset as the user types it: decimal ("1234"), hexadecimal with a 0x
// prefix ("0x4D2") or with an h suffix ("4D2h"), blanks around it allowed.
// None for anything else, an empty text, or a number beyond 64 bits.
std::optional<uint64_t> ParseOffset(std::u16string_view text);

// A tag as the user types it: "0010,0010", "(0010,0010)" or "00100010"
// (hexadecimal, either case, blanks around it and after the comma allowed).
struct TagQuery {
    uint16_t group = 0;
    uint16_t element = 0;
};
std::optional<TagQuery> ParseTagQuery(std::u16string_view text);

// Values longer than this are not turned into text for a search (a pixel
// data element of hundreds of megabytes would take seconds to render).
inline constexpr uint32_t kFindValueLimit = 1024 * 1024;

// Whether record `index` matches the query. A query that reads as a tag
// matches that tag only; any other text matches a description or a value's
// whole text (FullValueText) that contains it, ignoring the case of ASCII letters.
bool RecordMatches(const quillon::QuillonDocument& document, std::size_t index, std::u16string_view query);

struct FindResult {
    std::optional<std::size_t> record;  // none: nothing matches
    bool wrapped = false;               // the search went past the last record and started again at the first
};

// The next record in pre-order after `from` (from the first record when
// `from` is none, the root) that matches, going round past the last record;
// `from` itself is the last one tried.
FindResult FindNext(const quillon::QuillonDocument& document, std::optional<std::size_t> from, std::u16string_view query);

// The record a click on byte `offset` selects while record `current` is
// selected (none: the root). When the current element holds the byte and an
// element inside it does too, the outermost such inner element (the next one
// further in). Otherwise, at the innermost element or when the selection
// does not hold the byte, the outermost element of the file that holds it
// (none: the root), as for any click; for a selected top-level element
// without inner elements that is the selection itself, which then stays.
std::optional<std::size_t> ClickTarget(quillon::QuillonDocument& document, std::optional<std::size_t> current, uint64_t offset);

// The copy actions' texts for record `index`.
// The value's whole text: no cut, and a long text decoded in full instead of
// its placeholder; empty when the element has no value. None for binary data
// that the value text shows only as a placeholder.
std::optional<std::u16string> FullValueText(const quillon::QuillonDocument& document, std::size_t index);
// The tag offset in decimal.
std::u16string TagOffsetText(const quillon::QuillonDocument& document, std::size_t index);
// The byte range "first-last" in decimal, both ends inclusive.
std::u16string ByteRangeText(quillon::QuillonDocument& document, std::size_t index);

// The element's bytes (header and value) as hexadecimal text: two upper-case
// digits per byte, blank-separated, 16 bytes to a line. At most `limit` bytes
// are written; `cut` tells that the element has more.
inline constexpr uint64_t kCopyBytesLimit = 16 * 1024 * 1024;
struct HexText {
    std::string text;
    uint64_t bytes = 0;  // bytes written
    uint64_t total = 0;  // bytes of the element inside the file
    bool cut = false;
};
HexText ElementBytesHex(quillon::QuillonDocument& document, std::size_t index, uint64_t limit = kCopyBytesLimit);
// The same for any range of a buffer (first..last inclusive, clipped to `size`).
HexText BytesHex(const uint8_t* data, uint64_t size, uint64_t first, uint64_t last, uint64_t limit);

}  // namespace quillon
