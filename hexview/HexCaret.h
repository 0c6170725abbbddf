#pragma once
// Caret arithmetic of the hex view, kept apart from the widget so that it is
// plain code: where a key moves the caret, which byte range a caret and an
// anchor span, and which top line brings a line into view. Offsets are byte
// offsets into data of `size` bytes, 16 to a line; UINT64_MAX is "none".
#include <algorithm>
#include <cstdint>

namespace quillon {

enum class CaretMove { Left, Right, Up, Down, PageUp, PageDown, LineStart, LineEnd, DataStart, DataEnd };

// The caret after `move` from `caret` (a byte below `size`) in a view of
// `pageLines` lines. Moves stop at the data's ends: Left at 0 and Right at
// the last byte stay; Up on the first line stays; Down on the last line
// stays, and from the line before a short last line it lands on the last
// byte; a page up or down that would pass an end keeps the column on the
// first line, or lands on the last byte. No data: none.
inline uint64_t MoveCaret(uint64_t caret, CaretMove move, uint64_t size, uint64_t pageLines) {
    if (size == 0) return UINT64_MAX;
    const uint64_t last = size - 1;
    caret = std::min(caret, last);
    const uint64_t page = 16 * std::max<uint64_t>(pageLines, 1);
    switch (move) {
        case CaretMove::Left: return caret > 0 ? caret - 1 : 0;
        case CaretMove::Right: return caret < last ? caret + 1 : last;
        case CaretMove::Up: return caret >= 16 ? caret - 16 : caret;
        case CaretMove::Down: return caret / 16 < last / 16 ? std::min(caret + 16, last) : caret;
        case CaretMove::PageUp: return caret >= page ? caret - page : caret % 16;
        case CaretMove::PageDown: return last - caret >= page ? caret + page : (caret / 16 < last / 16 ? last : caret);
        case CaretMove::LineStart: return caret - caret % 16;
        case CaretMove::LineEnd: return std::min(caret - caret % 16 + 15, last);
        case CaretMove::DataStart: return 0;
        case CaretMove::DataEnd: return last;
    }
    return caret;
}

// The byte range between an anchor and the caret, both ends inclusive, in
// either order; none (both UINT64_MAX) without an anchor or a caret.
struct ByteRange {
    uint64_t first = UINT64_MAX;
    uint64_t last = UINT64_MAX;
    bool Empty() const { return first == UINT64_MAX; }
    uint64_t Length() const { return Empty() ? 0 : last - first + 1; }
    bool Holds(uint64_t offset) const { return !Empty() && first <= offset && offset <= last; }
};

inline ByteRange RangeBetween(uint64_t anchor, uint64_t caret) {
    if (anchor == UINT64_MAX || caret == UINT64_MAX) return {};
    return {std::min(anchor, caret), std::max(anchor, caret)};
}

// The top line of a view of `visible` lines now topped by `first` once
// `line` is in view: `first` when it already is, otherwise the least
// scrolling that shows it (the line at the top when it lies above, at the
// bottom when it lies below).
inline uint64_t TopLineShowing(uint64_t line, uint64_t first, uint64_t visible) {
    if (visible == 0) return line;
    if (line < first) return line;
    if (line - first < visible) return first;
    return line - visible + 1;
}

}  // namespace quillon
