#include "hexview/MCWndHexEditor.h"

#include "hexview/HexCaret.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <optional>
#include <vector>

namespace {

const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kGrey(0xE0, 0xE0, 0xE0);
const QColor kActiveFill(0x00, 0x00, 0xE0);
const QColor kOtherFill(0xA4, 0xFF, 0xFF);
const QColor kHeaderFill(0xEE, 0xD8, 0x80);
const QColor kHeaderLight(0xFF, 0xF5, 0xA4);
const QColor kHeaderShade1(0xD6, 0xC2, 0x73);
const QColor kHeaderShade2(0xBE, 0xAC, 0x66);
const QColor kHeaderShade3(0x8E, 0x81, 0x4C);
const QColor kBlack(0x00, 0x00, 0x00);

// 8-point "MS Sans Serif" where it is installed; elsewhere DejaVu Sans (from
// fonts-dejavu-core), pinned so that the geometry does not depend on what a
// generic family name happens to resolve to.
QFont MakeViewFont() {
    if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif"))) return QFont(QStringLiteral("MS Sans Serif"), 8);
    QFont font(QStringLiteral("DejaVu Sans"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

// Texts of the 256 byte values, built once: "%02X" and the text-column
// character (0x20..0x7A as themselves, everything else ".").
struct ByteTexts {
    std::array<QString, 256> hex;
    std::array<QString, 256> chr;
    ByteTexts() {
        for (int b = 0; b < 256; ++b) {
            hex[b] = QString::asprintf("%02X", b);
            chr[b] = (b >= 0x20 && b <= 0x7A) ? QString(QChar(b)) : QStringLiteral(".");
        }
    }
};

const ByteTexts& Texts() {
    static const ByteTexts texts;
    return texts;
}

// The keys the view keeps from the window while it has the focus: the
// navigation keys that move the caret, and Enter, which must not reach the
// dialog (it would close the window).
bool IsSwallowedKey(int key) {
    switch (key) {
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_End:
        case Qt::Key_Home:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Return:
        case Qt::Key_Enter: return true;
        default: return false;
    }
}

std::optional<quillon::CaretMove> CaretMoveOfKey(const QKeyEvent* e) {
    using quillon::CaretMove;
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    switch (e->key()) {
        case Qt::Key_Left: return CaretMove::Left;
        case Qt::Key_Right: return CaretMove::Right;
        case Qt::Key_Up: return CaretMove::Up;
        case Qt::Key_Down: return CaretMove::Down;
        case Qt::Key_PageUp: return CaretMove::PageUp;
        case Qt::Key_PageDown: return CaretMove::PageDown;
        case Qt::Key_Home: return ctrl ? CaretMove::DataStart : CaretMove::LineStart;
        case Qt::Key_End: return ctrl ? CaretMove::DataEnd : CaretMove::LineEnd;
        default: return std::nullopt;
    }
}

// Lines in the way of a line-drawing call that leaves out its end point.
void HLine(QPainter& p, int x1, int x2, int y, const QColor& c) {
    if (x2 > x1) p.fillRect(QRect(x1, y, x2 - x1, 1), c);
}

void VLine(QPainter& p, int x, int y1, int y2, const QColor& c) {
    if (y2 > y1) p.fillRect(QRect(x, y1, 1, y2 - y1), c);
}

}  // namespace

// The client area: paints the lines of the view and takes the clicks.
namespace quillon {

class HexClientArea : public QWidget {
public:
    explicit HexClientArea(MCWndHexEditor* owner) : QWidget(owner), m_owner(owner) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setCursor(Qt::IBeamCursor);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    // The backing store is the off-screen image: the whole client area is
    // painted into it and reaches the screen in one flush, so no flicker.
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        // Lines are drawn in line coordinates; scrolled sideways, the painter
        // moves them left and the fills reach the right edge still.
        const int dx = m_owner->GetHorizontalOffset();
        if (dx != 0) p.translate(-dx, 0);
        m_owner->PaintClient(p, width() + dx, height());
    }

    void wheelEvent(QWheelEvent* e) override { m_owner->OnMouseWheel(this, e); }

    // A double click arrives as press, release, double click, release; the
    // default handling of the double click is a second press, as wanted.
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) {
            e->ignore();
            return;
        }
        e->accept();
        m_owner->OnLButtonDown(e->position().toPoint());
    }

    // Dragging with the left button down extends the range to the byte
    // under the pointer.
    void mouseMoveEvent(QMouseEvent* e) override {
        if (e->buttons() & Qt::LeftButton) m_owner->OnDrag(e->position().toPoint());
    }

    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) m_owner->m_dragFrom = MCWndHexEditor::kNone;
    }

private:
    MCWndHexEditor* m_owner;
};

}  // namespace quillon

MCWndHexEditor::MCWndHexEditor(QWidget* parent) : QWidget(parent), m_font(MakeViewFont()) {
    setObjectName(QStringLiteral("MyHexEditor"));
    setProperty("controlId", kControlId);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Focus only through a click (taken explicitly after the locate command);
    // the view is not a tab stop.
    setFocusPolicy(Qt::NoFocus);
    setFont(m_font);

    m_client = new quillon::HexClientArea(this);
    m_client->setFont(m_font);

    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    m_scrollBar->setFocusPolicy(Qt::NoFocus);
    m_scrollBar->setSingleStep(1);
    m_scrollBar->setPageStep(kPageLines);
    m_scrollBar->setRange(0, 0);
    m_scrollBar->installEventFilter(this);
    m_scrollBar->hide();
    connect(m_scrollBar, &QAbstractSlider::actionTriggered, this, &MCWndHexEditor::OnScrollAction);
    connect(m_scrollBar, &QAbstractSlider::valueChanged, this, &MCWndHexEditor::OnScrollValueChanged);

    // Pixel values: a line is a few hundred pixels wide.
    m_hBar = new QScrollBar(Qt::Horizontal, this);
    m_hBar->setFocusPolicy(Qt::NoFocus);
    m_hBar->setRange(0, 0);
    m_hBar->installEventFilter(this);
    m_hBar->hide();
    connect(m_hBar, &QAbstractSlider::valueChanged, this, &MCWndHexEditor::OnHorizontalValueChanged);

    RecalcLayout();
}

MCWndHexEditor::~MCWndHexEditor() = default;

bool MCWndHexEditor::Create(QWidget* parent) {
    if (!parent) return false;
    setParent(parent);
    setGeometry(QRect());
    setFont(m_font);
    m_scrollBar->hide();
    RecalcLayout();
    show();
    return true;
}

void MCWndHexEditor::RecalcLayout() {
    const QFontMetrics fm(m_font, m_client);
    const int textHeight = fm.height();

    // Eight digits of offset; data past 4 GiB widens the column to the
    // digits of its last line's offset.
    QString widest = QStringLiteral("FFFFFFFFH: ");
    const quint64 lastLineOffset = m_lineCount ? 16 * (m_lineCount - 1) : 0;
    if (lastLineOffset > 0xFFFFFFFFull) {
        const QString digits = QString::number(lastLineOffset, 16);
        widest = QString(digits.size(), QChar('F')) + QStringLiteral("H: ");
    }
    m_offsetTextSize = QSize(fm.horizontalAdvance(widest), textHeight + 4);
    m_lineHeight = m_offsetTextSize.height();
    m_hexCellSize = QSize(fm.horizontalAdvance(QStringLiteral(" 00 ")), textHeight + 4);
    m_textCellSize = QSize(fm.horizontalAdvance(QStringLiteral("0")) + 2, textHeight + 4);
    m_offsetColumnRight = m_offsetTextSize.width();

    for (int k = 0; k < 16; ++k) {
        const int left = m_offsetColumnRight + k * m_hexCellSize.width();
        m_hexCells[k] = {left, left + m_hexCellSize.width()};
    }
    const int textLeft = m_offsetColumnRight + 16 * m_hexCellSize.width() + 4;
    for (int k = 0; k < 16; ++k) {
        const int left = textLeft + k * m_textCellSize.width();
        m_textCells[k] = {left, left + m_textCellSize.width()};
    }

    m_headerRect = QRect(0, 0, width(), m_lineHeight + 2);
    UpdateHorizontalBar();
    LayoutChildren();
}

int MCWndHexEditor::GetLineWidth() const { return m_textCells[15].second + 4; }

int MCWndHexEditor::BarExtent(const QScrollBar* bar) const {
    return bar->isHidden() ? 0 : style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, bar);
}

QRect MCWndHexEditor::ClientRect() const {
    // The header strip covers rows 0 .. m_lineHeight + 2 inclusive.
    const int top = m_lineHeight + 3;
    const int barWidth = BarExtent(m_scrollBar);
    const int barHeight = BarExtent(m_hBar);
    return QRect(0, top, std::max(0, width() - barWidth), std::max(0, height() - top - barHeight));
}

QWidget* MCWndHexEditor::ClientArea() const { return m_client; }

void MCWndHexEditor::UpdateHorizontalBar() {
    // Whether the vertical bar shows does not depend on the height, so the
    // horizontal bar can be settled from the width alone. Like the vertical
    // one it shows only with lines to scroll.
    const int barWidth = BarExtent(m_scrollBar);
    const int clientWidth = std::max(0, width() - barWidth);
    const int spare = m_lineCount == 0 ? 0 : std::max(0, GetLineWidth() - clientWidth);
    m_hBar->setHidden(spare == 0);
    const QSignalBlocker block(m_hBar);
    m_hBar->setRange(0, spare);
    m_hBar->setPageStep(std::max(1, clientWidth));
    m_hBar->setSingleStep(std::max(1, m_hexCellSize.width()));
    m_hOffset = std::clamp(m_hOffset, 0, spare);
    m_hBar->setValue(m_hOffset);
}

void MCWndHexEditor::LayoutChildren() {
    const QRect client = ClientRect();
    m_client->setGeometry(client);
    if (!m_scrollBar->isHidden())
        m_scrollBar->setGeometry(client.right() + 1, client.top(), width() - client.width(), client.height());
    // Along the bottom, as wide as the client area: the corner stays free.
    if (!m_hBar->isHidden())
        m_hBar->setGeometry(0, client.bottom() + 1, client.width(), std::max(0, height() - client.bottom() - 1));
}

void MCWndHexEditor::SetHorizontalOffset(int offset) {
    const int clamped = std::clamp(offset, 0, m_hBar->isHidden() ? 0 : m_hBar->maximum());
    if (clamped == m_hOffset) return;
    m_hOffset = clamped;
    {
        const QSignalBlocker block(m_hBar);
        m_hBar->setValue(m_hOffset);
    }
    update(m_headerRect);
    m_client->update();
}

void MCWndHexEditor::OnHorizontalValueChanged(int value) { SetHorizontalOffset(value); }

quint64 MCWndHexEditor::GetFirstLine() const {
    if (m_lineCount == 0) return 0;
    return m_scrollPos < m_lineCount ? m_scrollPos : m_lineCount - 1;
}

int MCWndHexEditor::GetVisibleLines() const { return m_lineHeight > 0 ? ClientRect().height() / m_lineHeight : 0; }

void MCWndHexEditor::SetData(const void* data, quint64 size) {
    m_source = nullptr;
    m_data = static_cast<const std::uint8_t*>(data);
    m_dataSize = m_data ? size : 0;
    ApplyDataSize();
}

void MCWndHexEditor::SetSource(const quillon::HexByteSource* source, quint64 size) {
    m_data = nullptr;
    m_source = source;
    m_dataSize = m_source ? size : 0;
    ApplyDataSize();
}

void MCWndHexEditor::ApplyDataSize() {
    m_lineCount = m_dataSize / 16 + (m_dataSize % 16 != 0 ? 1 : 0);
    m_caretOffset = kNone;
    const bool hadCaret = m_caretByte != kNone;
    m_caretByte = kNone;
    m_anchor = kNone;
    if (hadCaret) emit CaretMoved();

    m_scrollBar->setHidden(m_lineCount == 0);
    m_scrollPos = 0;
    m_hOffset = 0;
    UpdateScrollRange();
    RecalcLayout();
    m_client->update();
}

bool MCWndHexEditor::IsNoneRequest(quint64 value) const {
    // 0xFFFFFFFF means none unless the data is large enough for it to be a byte.
    return value == kNone || (value == kNoOffset && m_dataSize <= kNoOffset);
}

void MCWndHexEditor::SetHighlight(quint64 start, quint64 end) {
    const bool none = (start == kNoOffset && end == kNoOffset) || IsNoneRequest(start) || IsNoneRequest(end);

    if (none || start >= m_dataSize || start > end) {
        m_highlightStart = kNone;
        m_highlightEnd = kNone;
    } else {
        m_highlightStart = start;
        m_highlightEnd = std::min(end, m_dataSize - 1);
    }
    m_caretOffset = kNone;

    if (none) {
        SetScrollPos(0);
    } else {
        const quint64 line = start / 16;
        const quint64 first = GetFirstLine();
        const quint64 visible = static_cast<quint64>(GetVisibleLines());
        if (line < first || line - first >= visible) SetScrollPos(line);
    }
    m_client->update();
}

void MCWndHexEditor::SetCaretByte(quint64 offset, bool extend) { PlaceCaret(offset, extend, true, m_activeColumn); }

void MCWndHexEditor::PlaceCaret(quint64 offset, bool extend, bool bothColumns, int column) {
    const quint64 before = m_caretByte;
    if (offset == kNone || !HasData() || m_dataSize == 0) {
        m_caretByte = kNone;
        m_anchor = kNone;
    } else {
        offset = std::min(offset, m_dataSize - 1);
        if (!extend)
            m_anchor = kNone;
        else if (m_anchor == kNone)
            m_anchor = before != kNone ? before : offset;
        m_caretByte = offset;
        ScrollToShowLine(offset / 16);
        ScrollToShowColumns(offset, bothColumns, column);
    }
    m_client->update();
    emit CaretMoved();
}

quint64 MCWndHexEditor::GetFirstVisibleByte() const {
    if (!HasData() || m_dataSize == 0 || GetVisibleLines() <= 0) return kNone;
    return std::min(16 * GetFirstLine(), m_dataSize - 1);
}

quint64 MCWndHexEditor::GetLastVisibleByte() const {
    const quint64 first = GetFirstVisibleByte();
    if (first == kNone) return kNone;
    const quint64 lines = static_cast<quint64>(GetVisibleLines());
    return std::min(16 * (GetFirstLine() + lines) - 1, m_dataSize - 1);
}

void MCWndHexEditor::ScrollToShowLine(quint64 line) {
    const quint64 first = GetFirstLine();
    const quint64 top = quillon::TopLineShowing(line, first, static_cast<quint64>(std::max(GetVisibleLines(), 1)));
    if (top != first || m_scrollPos != first) SetScrollPos(top);
}

void MCWndHexEditor::ScrollToShowColumns(quint64 offset, bool bothColumns, int column) {
    if (m_hBar->isHidden()) return;
    const int k = static_cast<int>(offset % 16);
    const auto& active = column == 0 ? m_hexCells[k] : m_textCells[k];
    const auto& other = column == 0 ? m_textCells[k] : m_hexCells[k];
    const int width = ClientRect().width();
    // Both cells when they fit side by side, else the one of `column`; as
    // little movement as shows it, like a text editor's caret.
    int left = active.first;
    int right = active.second;
    if (bothColumns && std::max(right, other.second) - std::min(left, other.first) <= width) {
        left = std::min(left, other.first);
        right = std::max(right, other.second);
    }
    // At the start of a line the offset column comes into view with it.
    if (left == m_hexCells[0].first && right <= width) left = 0;
    int offsetX = m_hOffset;
    if (right - offsetX > width) offsetX = right - width;
    if (left < offsetX) offsetX = left;
    SetHorizontalOffset(offsetX);
}

bool MCWndHexEditor::MoveCaretByKey(QKeyEvent* e) {
    const std::optional<quillon::CaretMove> move = CaretMoveOfKey(e);
    if (!move || !HasData() || m_dataSize == 0) return false;
    const quint64 page = static_cast<quint64>(std::max(GetVisibleLines(), 1));
    // Without a caret the keys start from the first byte in view.
    const quint64 from = m_caretByte != kNone ? m_caretByte : GetFirstVisibleByte();
    const quint64 to = quillon::MoveCaret(from == kNone ? 0 : from, *move, m_dataSize, page);
    // A page key scrolls the view by the page as well, so that the caret
    // keeps its row where the data allows.
    if ((*move == quillon::CaretMove::PageUp || *move == quillon::CaretMove::PageDown) && to != from) {
        const quint64 first = GetFirstLine();
        const quint64 top = *move == quillon::CaretMove::PageDown ? std::min(first + page, m_lineCount - 1)
                                                                 : (first > page ? first - page : 0);
        SetScrollPos(top);
    }
    SetCaretByte(to, e->modifiers() & Qt::ShiftModifier);
    return true;
}

void MCWndHexEditor::SetUnreadRange(quint64 start, quint64 end) {
    if (start == kNone || end == kNone || start >= m_dataSize || start > end) {
        m_unreadStart = m_unreadEnd = kNone;
    } else {
        m_unreadStart = start;
        m_unreadEnd = std::min(end, m_dataSize - 1);
    }
    m_client->update();
}

void MCWndHexEditor::SetInflatedFrom(quint64 start) {
    m_inflatedFrom = start;
    m_client->update();
}

// Scroll bar values are int. Up to INT_MAX lines (32 GiB of data) a bar value
// is a line number. Beyond, the bar runs 0 .. INT_MAX and value v stands for
// line v * m_lineCount / INT_MAX (rounded down); line and page requests still
// move exactly 1 and kPageLines lines, and dragging the thumb picks lines in
// steps of about m_lineCount / INT_MAX.
int MCWndHexEditor::BarFromLine(quint64 line) const {
    if (m_lineCount <= static_cast<quint64>(INT_MAX)) return static_cast<int>(line);
    return static_cast<int>(static_cast<unsigned __int128>(line) * INT_MAX / m_lineCount);
}

quint64 MCWndHexEditor::LineFromBar(int value) const {
    if (value <= 0) return 0;
    if (m_lineCount <= static_cast<quint64>(INT_MAX)) return static_cast<quint64>(value);
    return static_cast<quint64>(static_cast<unsigned __int128>(value) * m_lineCount / INT_MAX);
}

void MCWndHexEditor::UpdateScrollRange() {
    const QSignalBlocker block(m_scrollBar);
    m_scrollBar->setRange(0, BarFromLine(m_lineCount));
    m_scrollBar->setValue(BarFromLine(m_scrollPos));
}

void MCWndHexEditor::SetScrollPos(quint64 line) {
    m_scrollPos = std::min(line, m_lineCount);
    {
        const QSignalBlocker block(m_scrollBar);
        m_scrollBar->setValue(BarFromLine(m_scrollPos));
    }
    m_scrollBar->update();
    m_client->update();
}

void MCWndHexEditor::OnScrollAction(int action) {
    const quint64 p = m_scrollPos;
    quint64 next = p;
    bool move = true;

    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            move = p != 0;
            next = move ? p - 1 : p;
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            move = p != m_lineCount;
            next = move ? p + 1 : p;
            break;
        case QAbstractSlider::SliderPageStepSub:
            next = p > static_cast<quint64>(kPageLines) ? p - kPageLines : 0;
            break;
        case QAbstractSlider::SliderPageStepAdd: next = std::min(p + kPageLines, m_lineCount); break;
        case QAbstractSlider::SliderMove: {
            // Thumb tracking: the position under the thumb.
            const int track = m_scrollBar->sliderPosition();
            const quint64 line = LineFromBar(track);
            move = track >= 0 && line <= m_lineCount;
            next = move ? line : p;
            break;
        }
        case QAbstractSlider::SliderToMinimum: next = 0; break;
        case QAbstractSlider::SliderToMaximum: {
            // Bottom: the last line on the last full row, the view filled with
            // data as far as the data allows.
            const quint64 visible = static_cast<quint64>(GetVisibleLines());
            next = m_lineCount > visible ? m_lineCount - visible : 0;
            break;
        }
        default: return;
    }

    // The bar has already applied its own idea of the action; put it where
    // the view decided, before it propagates the value.
    m_scrollPos = next;
    m_scrollBar->setSliderPosition(BarFromLine(next));
    if (move) m_client->update();
}

void MCWndHexEditor::OnScrollValueChanged(int value) {
    // Value changes that came without an action (e.g. "Scroll here" of the
    // bar's context menu). Those that follow an action already match.
    if (value == BarFromLine(m_scrollPos)) return;
    m_scrollPos = std::min(LineFromBar(value), m_lineCount);
    m_client->update();
}

void MCWndHexEditor::OnMouseWheel(QWidget* receiver, QWheelEvent* e) {
    // One line per wheel message whatever its delta. A horizontal wheel, or
    // the wheel with Shift, scrolls sideways instead, a hex cell's width per
    // message. Messages without a delta (begin/end phases of touchpads) move
    // nothing.
    const QPoint angle = e->angleDelta();
    const bool sideways = angle.x() != 0 || (e->modifiers() & Qt::ShiftModifier);
    const int delta = angle.x() != 0 ? angle.x() : angle.y();
    if (sideways && delta != 0) {
        const int step = std::max(1, m_hexCellSize.width());
        SetHorizontalOffset(delta < 0 ? m_hOffset + step : m_hOffset - step);
    } else if (delta != 0) {
        const quint64 p = m_scrollPos;
        SetScrollPos(delta < 0 ? p + 1 : (p > 0 ? p - 1 : 0));
    }
    e->accept();

    // Then on to the parent, as unhandled wheel messages go.
    QWidget* parent = parentWidget();
    if (!parent) return;
    const QPointF at = receiver->mapTo(parent, e->position());
    QWheelEvent forward(at, e->globalPosition(), e->pixelDelta(), e->angleDelta(), e->buttons(), e->modifiers(),
                        e->phase(), e->inverted(), Qt::MouseEventNotSynthesized, e->pointingDevice());
    QCoreApplication::sendEvent(parent, &forward);
}

void MCWndHexEditor::wheelEvent(QWheelEvent* e) {
    // Over the header strip.
    OnMouseWheel(this, e);
}

bool MCWndHexEditor::eventFilter(QObject* watched, QEvent* e) {
    // The wheel over the scroll bars follows the view's rule too, instead of
    // the bars' own multi-line steps; over the horizontal bar it scrolls
    // sideways, as the bar does by itself.
    if ((watched == m_scrollBar || watched == m_hBar) && e->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(e);
        if (watched == m_hBar && wheel->angleDelta().x() == 0) {
            QWheelEvent turned(wheel->position(), wheel->globalPosition(), wheel->pixelDelta(), wheel->angleDelta(),
                               wheel->buttons(), wheel->modifiers() | Qt::ShiftModifier, wheel->phase(),
                               wheel->inverted(), wheel->source(), wheel->pointingDevice());
            OnMouseWheel(m_hBar, &turned);
        } else {
            OnMouseWheel(static_cast<QWidget*>(watched), wheel);
        }
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

bool MCWndHexEditor::event(QEvent* e) {
    // Keep the window's shortcuts off the navigation keys while the view has
    // the focus, so that they arrive here as key presses and are dropped.
    if (e->type() == QEvent::ShortcutOverride && IsSwallowedKey(static_cast<QKeyEvent*>(e)->key())) {
        e->accept();
        return true;
    }
    return QWidget::event(e);
}

void MCWndHexEditor::keyPressEvent(QKeyEvent* e) {
    // The navigation keys move the caret (with Shift they extend the range),
    // Enter does nothing; every other key goes on to the window.
    if (IsSwallowedKey(e->key())) {
        MoveCaretByKey(e);
        e->accept();
    } else {
        e->ignore();
    }
}

void MCWndHexEditor::resizeEvent(QResizeEvent*) { RecalcLayout(); }

void MCWndHexEditor::moveEvent(QMoveEvent*) { RecalcLayout(); }

quint64 MCWndHexEditor::HitTest(QPoint pt) {
    const int x = pt.x() + m_hOffset;
    const int y = pt.y();
    if (x <= m_offsetColumnRight || y < 0 || m_lineHeight <= 0) return kNone;

    const quint64 line = GetFirstLine() + static_cast<quint64>(y / m_lineHeight);
    if (line > (kNone - 15) / 16) return kNone;
    const quint64 base = 16 * line;

    if (x < m_hexCells[15].second) {
        for (int k = 0; k < 16; ++k) {
            if (m_hexCells[k].first <= x && x <= m_hexCells[k].second) {
                m_activeColumn = 0;
                return base + k;
            }
        }
        return kNone;
    }
    if (x < m_textCells[15].second) {
        for (int k = 0; k < 16; ++k) {
            if (m_textCells[k].first <= x && x <= m_textCells[k].second) {
                m_activeColumn = 1;
                return base + k;
            }
        }
        return kNone;  // the gap band
    }
    return kNone;
}

void MCWndHexEditor::OnLButtonDown(QPoint clientPoint) {
    m_caretOffset = HasData() ? HitTest(clientPoint) : kNone;
    // The parent's answer may reset m_caretOffset (SetHighlight does).
    const quint64 hit = m_caretOffset;
    // Cleared without a repaint: the parent's answer sets the new highlight.
    m_highlightStart = kNone;
    m_highlightEnd = kNone;

    const QPointer<MCWndHexEditor> alive(this);
    emit Command(ID_HEXVIEW_LOCATE);
    if (!alive) return;

    m_caretOffset = kNone;
    setFocus(Qt::MouseFocusReason);
    // The caret follows the click; Shift and a click extend the range.
    m_dragFrom = kNone;
    if (hit != kNone && hit < m_dataSize) {
        PlaceCaret(hit, QGuiApplication::keyboardModifiers() & Qt::ShiftModifier, false, m_activeColumn);
        m_dragFrom = hit;
    }
}

void MCWndHexEditor::OnDrag(QPoint clientPoint) {
    // Only from a press on a byte. The column of the press stays the active
    // one wherever the pointer goes, but the cell under the pointer is the
    // one kept in view; past the client's edges the pointer still names a
    // byte, and placing the caret there scrolls to it.
    if (m_dragFrom == kNone || !HasData() || m_caretByte == kNone) return;
    // Above the client area: the line above the top one.
    QPoint at = clientPoint;
    const bool above = at.y() < 0;
    if (above) at.setY(0);
    const int pressed = m_activeColumn;
    quint64 hit = HitTest(at);
    const int pointed = m_activeColumn;
    m_activeColumn = pressed;
    if (above && hit != kNone && hit >= 16) hit -= 16;
    if (hit == kNone || hit == m_caretByte) return;
    PlaceCaret(std::min(hit, m_dataSize - 1), true, false, pointed);
}

void MCWndHexEditor::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintHeader(p);
    // The corner between the two scroll bars.
    if (!m_hBar->isHidden() && !m_scrollBar->isHidden()) {
        const QRect client = ClientRect();
        p.fillRect(
            QRect(client.right() + 1, client.bottom() + 1, width() - client.width(), height() - client.bottom() - 1),
            palette().window());
    }
}

void MCWndHexEditor::PaintHeader(QPainter& p) const {
    const int w = width();
    const int bottom = m_lineHeight + 2;

    p.fillRect(QRect(0, 0, w, bottom + 1), kHeaderFill);
    HLine(p, 0, w, 0, kHeaderLight);
    VLine(p, 0, 0, bottom, kHeaderLight);
    HLine(p, 1, w, bottom - 2, kHeaderShade1);
    HLine(p, 1, w, bottom - 1, kHeaderShade2);
    HLine(p, 1, w, bottom, kHeaderShade3);

    p.setFont(m_font);
    p.setPen(kBlack);
    // The digits and their ticks scroll sideways with the lines.
    const int dx = -m_hOffset;
    for (int k = 0; k < 16; ++k) {
        const QString digit = QString::number(k, 16).toUpper();
        for (const auto& cell : {m_hexCells[k], m_textCells[k]}) {
            p.drawText(QRect(cell.first + dx, 2, cell.second - cell.first, m_lineHeight - 2),
                       Qt::AlignHCenter | Qt::AlignTop, digit);
            const int x = cell.first + dx + (cell.second - cell.first) / 2;
            VLine(p, x, m_lineHeight - 2, m_lineHeight, kBlack);
        }
    }
}

void MCWndHexEditor::PaintClient(QPainter& p, int width, int height) const {
    const ByteTexts& texts = Texts();
    const int lh = m_lineHeight;
    const int visible = lh > 0 ? height / lh : 0;
    const quint64 first = GetFirstLine();

    // 1-2. Background, offset column and right margin.
    p.fillRect(QRect(0, 0, width, height), kWhite);
    p.fillRect(QRect(0, 0, m_offsetColumnRight, height), kGrey);
    // The offset column of the lines that hold inflated bytes is tinted.
    if (m_inflatedFrom != kNone && lh > 0 && m_inflatedFrom < m_dataSize) {
        const quint64 firstInflatedLine = m_inflatedFrom / 16;
        const int row = firstInflatedLine <= first ? 0 : static_cast<int>(std::min<quint64>(firstInflatedLine - first, quint64(visible) + 1));
        const quint64 rowsWithData = m_lineCount > first ? m_lineCount - first : 0;
        const int rows = static_cast<int>(std::min<quint64>(rowsWithData, quint64(visible) + 1));
        if (rows > row) p.fillRect(QRect(0, row * lh, m_offsetColumnRight, (rows - row) * lh), QColor::fromRgb(kInflatedTint));
    }
    const int marginLeft = m_textCells[15].second;
    if (width > marginLeft) p.fillRect(QRect(marginLeft, 0, width - marginLeft, height), kGrey);

    // 3. Grid: group separators after every four bytes and the gap band.
    const auto grid = [&] {
        for (int k : {3, 7, 11}) VLine(p, m_hexCells[k].second, 0, height, kGrey);
        for (int i = 0; i < 4; ++i) VLine(p, m_hexCells[15].second + i, 0, height, kGrey);
    };
    grid();

    // 4. Offset labels for every row of the view: the line's first offset in
    // eight hex digits, more past 4 GiB.
    p.setFont(m_font);
    p.setPen(kBlack);
    if (m_lineCount != 0) {
        for (int r = 0; r < visible; ++r) {
            const auto offset = static_cast<unsigned long long>((first + static_cast<quint64>(r)) * 16);
            p.drawText(QRect(0, r * lh + 2, m_offsetColumnRight, lh - 2), Qt::AlignLeft | Qt::AlignTop,
                       QString::asprintf("%08llXH:", offset));
        }
    }

    // 5. Nothing more without data.
    if (!HasData() || m_lineCount == 0 || visible == 0) return;

    // Lines first .. last - 1 are drawn and hold data.
    const quint64 last = std::min(first + static_cast<quint64>(visible), m_lineCount);
    const bool highlight = m_highlightStart != kNone && m_highlightEnd != kNone;

    // 6. Highlight fill, clipped to the drawn lines and to the data: runs of
    // cells per row, first in the active column, then in the other one. The
    // unread mark goes first, in both columns, so that the highlight covers it.
    const auto fillRange = [&](quint64 rangeStart, quint64 rangeEnd, const auto& paint) {
        const quint64 from = std::max(rangeStart, 16 * first);
        const quint64 to = std::min({rangeEnd, 16 * last - 1, m_dataSize - 1});
        if (from > to) return;
        const auto fill = [&](const std::array<std::pair<int, int>, 16>& cells, const QColor& colour) {
            for (quint64 line = from / 16; line <= to / 16; ++line) {
                const quint64 lineStart = 16 * line;
                const int k0 = static_cast<int>(std::max(from, lineStart) - lineStart);
                const int k1 = static_cast<int>(std::min(to, lineStart + 15) - lineStart);
                const int top = static_cast<int>(line - first) * lh;
                p.fillRect(QRect(cells[k0].first, top, cells[k1].second - cells[k0].first, lh), colour);
            }
        };
        paint(fill);
    };
    if (m_unreadStart != kNone && m_unreadEnd != kNone) {
        fillRange(m_unreadStart, m_unreadEnd, [&](const auto& fill) {
            const QColor unread = QColor::fromRgb(kUnreadFill);
            fill(m_hexCells, unread);
            fill(m_textCells, unread);
        });
    }
    if (highlight) {
        fillRange(m_highlightStart, m_highlightEnd, [&](const auto& fill) {
            fill(m_activeColumn == 0 ? m_hexCells : m_textCells, kActiveFill);
            fill(m_activeColumn == 0 ? m_textCells : m_hexCells, kOtherFill);
        });
    }

    // 6b. The user's byte range, over the highlight, in both columns.
    const quillon::ByteRange range = GetRange();
    if (!range.Empty()) {
        fillRange(range.first, range.last, [&](const auto& fill) {
            const QColor fillColour = QColor::fromRgb(kRangeFill);
            fill(m_hexCells, fillColour);
            fill(m_textCells, fillColour);
        });
    }

    // 7. Grid again, over the fill.
    grid();

    // 7b. The border where the inflated bytes begin: above the first of
    // them and the rest of its line, at its left, and under the bytes before
    // it on the same line, in both columns.
    if (m_inflatedFrom != kNone && m_inflatedFrom < m_dataSize) {
        const QColor mark = QColor::fromRgb(kInflatedMark);
        const quint64 line = m_inflatedFrom / 16;
        const int k = static_cast<int>(m_inflatedFrom % 16);
        for (const auto* cells : {&m_hexCells, &m_textCells}) {
            if (line >= first && line < last) {
                const int top = static_cast<int>(line - first) * lh;
                p.fillRect(QRect((*cells)[k].first, top, (*cells)[15].second - (*cells)[k].first, 2), mark);
                if (k > 0) {
                    p.fillRect(QRect((*cells)[k].first, top, 2, lh), mark);
                    p.fillRect(QRect((*cells)[0].first, top + lh - 2, (*cells)[k].first - (*cells)[0].first + 2, 2), mark);
                }
            } else if (k > 0 && line + 1 == first) {
                p.fillRect(QRect((*cells)[0].first, 0, (*cells)[k].first - (*cells)[0].first, 2), mark);
            }
        }
    }

    // 8. Bytes of the drawn lines, up to the end of the data. From a source
    // they are read in one request; lines it cannot deliver stay empty.
    const std::uint8_t* bytes = nullptr;
    std::vector<std::uint8_t> read;
    if (m_data) {
        bytes = m_data + 16 * first;
    } else {
        const quint64 end = std::min(16 * last, m_dataSize);
        read.resize(static_cast<std::size_t>(end - 16 * first));
        if (!m_source->ReadBytes(16 * first, read.data(), read.size())) return;
        bytes = read.data();
    }
    const int hexTextHeight = m_hexCellSize.height() - 2;
    const int chrTextHeight = m_textCellSize.height() - 2;
    for (quint64 line = first; line < last; ++line) {
        const int top = static_cast<int>(line - first) * lh;
        for (int k = 0; k < 16; ++k) {
            const quint64 j = 16 * line + static_cast<quint64>(k);
            if (j >= m_dataSize) break;
            const std::uint8_t b = bytes[j - 16 * first];
            const bool inside = highlight && j >= m_highlightStart && j <= m_highlightEnd && !range.Holds(j);
            const QColor& hexPen = inside && m_activeColumn == 0 ? kWhite : kBlack;
            const QColor& chrPen = inside && m_activeColumn == 1 ? kWhite : kBlack;

            const auto& hc = m_hexCells[k];
            p.setPen(hexPen);
            p.drawText(QRect(hc.first, top + 2, hc.second - hc.first, hexTextHeight), Qt::AlignHCenter | Qt::AlignTop,
                       texts.hex[b]);
            const auto& tc = m_textCells[k];
            p.setPen(chrPen);
            p.drawText(QRect(tc.first, top + 2, tc.second - tc.first, chrTextHeight), Qt::AlignHCenter | Qt::AlignTop,
                       texts.chr[b]);
        }
    }

    // 9. The caret: a 2-pixel box around its byte in both columns.
    if (m_caretByte != kNone && m_caretByte < m_dataSize && m_caretByte / 16 >= first && m_caretByte / 16 < last) {
        const int top = static_cast<int>(m_caretByte / 16 - first) * lh;
        const int k = static_cast<int>(m_caretByte % 16);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor::fromRgb(kCaretBox), 2));
        for (const auto* cells : {&m_hexCells, &m_textCells}) {
            const auto& c = (*cells)[k];
            p.drawRect(QRect(c.first + 1, top + 1, c.second - c.first - 2, lh - 2));
        }
    }
}
