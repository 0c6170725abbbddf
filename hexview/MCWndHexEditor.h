// MCWndHexEditor: read-only view of a borrowed byte buffer as lines of 16
// bytes (offset column, 16 hex cells, a 4-pixel gap, 16 text cells) under a
// column-header strip, with one highlighted inclusive byte range, and a
// second, paler range marked as unread (bytes no element was read from).
//
// Layout of the widget, top to bottom: the header strip (LineHeight() + 3
// pixels high, full width), then the client area with the vertical scroll bar
// at its right and, when the widget is narrower than a whole line
// (GetLineWidth()), a horizontal scroll bar under it (the corner between the
// two bars stays empty). Client coordinates start at the client area's
// top-left corner (ClientRect() gives it in widget coordinates).
//
// The cell extents (GetHexCell, GetTextCell, GetOffsetColumnRight) are line
// coordinates: x from the left end of a line. Scrolled sideways by
// GetHorizontalOffset() pixels, line x is drawn at client x - offset; the
// header strip scrolls with the lines. Without a horizontal bar the offset is
// 0 and line and client coordinates are the same.
//
// Offsets and sizes are 64-bit. "No offset" is kNone (UINT64_MAX), a value no
// byte can have; callers may still pass the 32-bit marker kNoOffset
// (0xFFFFFFFF) to SetHighlight to mean none (see there).
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "hexview/HexCaret.h"

class QPainter;
class QScrollBar;
class QWheelEvent;

namespace quillon {

// Where the view's bytes come from when they are not one buffer in memory
// (a file read where it lies). The view asks only for the lines it draws.
class HexByteSource {
public:
    virtual ~HexByteSource() = default;
    // Copies n bytes at offset into dst; false when they cannot be read (the
    // view then draws no bytes for those lines).
    virtual bool ReadBytes(quint64 offset, std::uint8_t* dst, std::size_t n) const = 0;
};

class HexClientArea;

}  // namespace quillon

class MCWndHexEditor : public QWidget {
    Q_OBJECT

public:
    // Held and returned for "no offset" (caret, hit test, highlight).
    static constexpr quint64 kNone = std::numeric_limits<quint64>::max();
    // The window's 32-bit "none" marker, accepted by SetHighlight.
    static constexpr quint64 kNoOffset = 0xFFFFFFFFu;
    // Command sent to the parent by a click (see Command()).
    static constexpr int ID_HEXVIEW_LOCATE = 31001;
    // Control identifier of the view inside its parent (property "controlId").
    static constexpr int kControlId = 1000;
    // Lines moved by a page request of the scroll bar, whatever the height.
    static constexpr int kPageLines = 10;

    // Builds the view with its font, hidden scroll bar and measured layout.
    // With a parent it is a child of that parent (shown with the parent).
    explicit MCWndHexEditor(QWidget* parent = nullptr);
    ~MCWndHexEditor() override;

    // Makes the view a visible child of parent with an empty rectangle (the
    // parent moves it into place). False without a parent.
    bool Create(QWidget* parent);

    // Shows size bytes from data (borrowed: the caller keeps them alive and
    // unchanged until the next SetData). A null pointer shows no data,
    // whatever the size. Resets the caret and the scroll position (both
    // ways); keeps the highlight.
    void SetData(const void* data, quint64 size);
    // The same with the bytes read from a source (borrowed like a buffer);
    // a null source shows no data.
    void SetSource(const quillon::HexByteSource* source, quint64 size);

    // Highlights bytes start..end (inclusive) and scrolls the start line to the
    // top when it is not drawn. A request for none (either value kNone, both
    // values kNoOffset, or kNoOffset where it cannot be an offset because the
    // data has at most 0xFFFFFFFF bytes) clears the highlight and scrolls to
    // line 0. An end past the data is cut at the last byte; a start past the
    // data, or a start after the end, leaves no highlight. Resets the caret.
    void SetHighlight(quint64 start, quint64 end);

    // Marks bytes start..end (inclusive) as unread: a pale rose fill
    // (kUnreadFill) in both columns, under the highlight, whose colours win
    // where the two meet. kNone (or a start past the data) clears the mark.
    // Neither scrolls nor touches the highlight or the caret; SetData keeps it.
    void SetUnreadRange(quint64 start, quint64 end);
    quint64 GetUnreadStart() const { return m_unreadStart; }
    quint64 GetUnreadEnd() const { return m_unreadEnd; }
    // The fill of unread bytes: a rose as pale as the other column's cyan.
    static constexpr QRgb kUnreadFill = 0xFFFFC8C8;

    // Marks where the inflated data set of a deflated file begins: from
    // `start` on the bytes shown are not the file's but the inflated ones.
    // Every line that holds inflated bytes has its offset column tinted
    // (kInflatedTint instead of grey), and a 2-pixel line in kInflatedMark
    // runs along the border between the last byte before `start` and the
    // first from it, in both columns. kNone clears it; SetData keeps it.
    void SetInflatedFrom(quint64 start);
    quint64 GetInflatedFrom() const { return m_inflatedFrom; }
    static constexpr QRgb kInflatedTint = 0xFFC8E6C8;
    static constexpr QRgb kInflatedMark = 0xFFE06000;

    // Byte under the click being handled, valid while Command() runs; kNone
    // otherwise and for clicks outside the cells. May be at or past the data
    // size (below the last line, right of a partial last line).
    quint64 GetCaretOffset() const { return m_caretOffset; }

    // The caret byte: the byte the keyboard works from, drawn as a box
    // around its cell in both columns. Unlike GetCaretOffset it stays: a
    // click on a byte puts it there (after the locate command), the
    // navigation keys move it, SetData and SetSource take it away (kNone).
    quint64 GetCaretByte() const { return m_caretByte; }
    // Puts the caret on `offset` (cut to the last byte; kNone or no data:
    // no caret and no range) and scrolls its line into view, and sideways
    // its cells: both columns' when they fit side by side, else the active
    // column's, moving no further than needed. With `extend`
    // the byte range runs from the anchor (the caret before, when there was
    // no range) to the new caret; without it there is no range.
    void SetCaretByte(quint64 offset, bool extend = false);
    // The byte range the user marked with Shift (inclusive; kNone for both
    // without one). Drawn in kRangeFill over the element highlight.
    quint64 GetRangeStart() const { return GetRange().first; }
    quint64 GetRangeEnd() const { return GetRange().last; }
    quillon::ByteRange GetRange() const { return quillon::RangeBetween(m_anchor, m_caretByte); }
    static constexpr QRgb kRangeFill = 0xFFFFD050;
    static constexpr QRgb kCaretBox = 0xFFE00000;
    // The first and the last byte drawn (kNone for both without data).
    quint64 GetFirstVisibleByte() const;
    quint64 GetLastVisibleByte() const;

    // Measures the cell geometry from the font; runs at construction and on
    // every resize and move.
    void RecalcLayout();

    // Byte offset under a client point (the horizontal offset is added),
    // or kNone outside the cells (offset column, gap band, right margin,
    // above the client area). Sets the active column on a hit.
    quint64 HitTest(QPoint clientPoint);

    // State, for the parent and for tests.
    quint64 GetDataSize() const { return m_dataSize; }
    quint64 GetLineCount() const { return m_lineCount; }
    quint64 GetHighlightStart() const { return m_highlightStart; }
    quint64 GetHighlightEnd() const { return m_highlightEnd; }
    int GetActiveColumn() const { return m_activeColumn; }
    quint64 GetScrollPos() const { return m_scrollPos; }
    quint64 GetFirstLine() const;
    int GetVisibleLines() const;

    // Geometry, in client coordinates except HeaderRect and ClientRect (widget
    // coordinates). Cell extents are (left, right), right exclusive.
    const QFont& GetFont() const { return m_font; }
    int GetLineHeight() const { return m_lineHeight; }
    int GetOffsetColumnRight() const { return m_offsetColumnRight; }
    QSize GetHexCellSize() const { return m_hexCellSize; }
    QSize GetTextCellSize() const { return m_textCellSize; }
    std::pair<int, int> GetHexCell(int k) const { return m_hexCells.at(k); }
    std::pair<int, int> GetTextCell(int k) const { return m_textCells.at(k); }
    QRect GetHeaderRect() const { return m_headerRect; }
    QRect ClientRect() const;
    QWidget* ClientArea() const;
    QScrollBar* VerticalScrollBar() const { return m_scrollBar; }
    QScrollBar* HorizontalScrollBar() const { return m_hBar; }

    // Width of a whole line: offset column, both byte columns and a margin
    // as wide as the gap. A narrower client area scrolls sideways.
    int GetLineWidth() const;
    // Pixels the lines are scrolled to the left, 0 .. GetLineWidth() minus
    // the client width (0 without a horizontal bar).
    int GetHorizontalOffset() const { return m_hOffset; }
    void SetHorizontalOffset(int offset);

signals:
    // Sent synchronously on a left click with ID_HEXVIEW_LOCATE; connect it
    // with Qt::DirectConnection (the default within the GUI thread). The caret
    // is set while it runs and reset to kNone afterwards.
    void Command(int commandId);
    // The caret byte or the range changed.
    void CaretMoved();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    friend class quillon::HexClientArea;

    void PaintClient(QPainter& p, int width, int height) const;
    void PaintHeader(QPainter& p) const;
    void OnLButtonDown(QPoint clientPoint);
    void OnDrag(QPoint clientPoint);
    void OnScrollAction(int action);
    void OnScrollValueChanged(int value);
    void OnMouseWheel(QWidget* receiver, QWheelEvent* e);
    void OnHorizontalValueChanged(int value);
    void UpdateHorizontalBar();
    // The room a scroll bar takes across its length (0 when hidden).
    int BarExtent(const QScrollBar* bar) const;
    void ScrollToShowColumns(quint64 offset, bool bothColumns, int column);
    void PlaceCaret(quint64 offset, bool extend, bool bothColumns, int column);
    void SetScrollPos(quint64 line);
    void UpdateScrollRange();
    void LayoutChildren();
    int BarFromLine(quint64 line) const;
    quint64 LineFromBar(int value) const;
    bool IsNoneRequest(quint64 value) const;
    void ApplyDataSize();
    bool HasData() const { return m_data || m_source; }
    bool MoveCaretByKey(QKeyEvent* e);
    void ScrollToShowLine(quint64 line);

    const std::uint8_t* m_data = nullptr;
    const quillon::HexByteSource* m_source = nullptr;
    quint64 m_dataSize = 0;
    quint64 m_lineCount = 0;
    quint64 m_caretOffset = kNone;
    quint64 m_caretByte = kNone;
    quint64 m_anchor = kNone;  // the range's other end, kNone without a range
    quint64 m_dragFrom = kNone;  // the byte a left-button press is held on
    int m_activeColumn = 0;
    quint64 m_highlightStart = kNone;
    quint64 m_highlightEnd = kNone;
    quint64 m_unreadStart = kNone;
    quint64 m_unreadEnd = kNone;
    quint64 m_inflatedFrom = kNone;
    quint64 m_scrollPos = 0;  // top line asked for, 0 .. m_lineCount
    int m_hOffset = 0;        // pixels scrolled sideways

    QFont m_font;
    int m_lineHeight = 0;
    QSize m_offsetTextSize;
    QSize m_hexCellSize;
    QSize m_textCellSize;
    int m_offsetColumnRight = 0;
    std::array<std::pair<int, int>, 16> m_hexCells{};
    std::array<std::pair<int, int>, 16> m_textCells{};
    QRect m_headerRect;

    QWidget* m_client = nullptr;
    QScrollBar* m_scrollBar = nullptr;
    QScrollBar* m_hBar = nullptr;
};
