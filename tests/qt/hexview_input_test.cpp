// Input of the hex view: hit testing, the click sequence with its locate
// command, the scroll bars, the wheel, and the keys that move the caret.
#include "hexview_test_support.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QShortcut>
#include <QSignalSpy>
#include <QWheelEvent>

#include <vector>

using namespace hexview_test;

namespace {

// A window around the view: an edit box that holds the focus at first, and a
// record of the keys and wheel turns that reach the window itself.
class Window : public QWidget {
public:
    // `width` 640 leaves room for a whole line; kNarrow does not.
    explicit Window(quint64 size, int width = 640) : buffer(size) {
        for (quint64 i = 0; i < size; ++i) buffer.data()[i] = static_cast<std::uint8_t>(i);
        edit = new QLineEdit(this);
        edit->setGeometry(0, 0, 100, 20);
        view = new MCWndHexEditor(this);
        view->setGeometry(0, 30, width, HeightForRows(*view, 10));
        resize(660, view->geometry().bottom() + 10);
        view->SetData(buffer.data(), buffer.size());
    }

    bool activate() {
        show();
        QApplication::setActiveWindow(this);
        if (!QTest::qWaitForWindowActive(this)) return false;
        edit->setFocus();
        return edit->hasFocus();
    }

    FencedBuffer buffer;
    QLineEdit* edit = nullptr;
    MCWndHexEditor* view = nullptr;
    std::vector<int> keys;
    int wheels = 0;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        // Modifier keys on their own are of no interest here.
        if (e->key() != Qt::Key_Shift && e->key() != Qt::Key_Control && e->key() != Qt::Key_Alt)
            keys.push_back(e->key());
    }
    void wheelEvent(QWheelEvent*) override { ++wheels; }
};

// A view this wide shows the offset column and about half the hex cells.
constexpr int kNarrow = 260;

// Client point inside a cell of a row, where it is drawn at the current
// sideways offset.
QPoint InHex(const MCWndHexEditor& v, int k, int row = 0) {
    return QPoint(v.GetHexCell(k).first + 3 - v.GetHorizontalOffset(), row * v.GetLineHeight() + 4);
}

QPoint InText(const MCWndHexEditor& v, int k, int row = 0) {
    return QPoint(v.GetTextCell(k).first + 3 - v.GetHorizontalOffset(), row * v.GetLineHeight() + 4);
}

void Wheel(QWidget* target, QPoint angle, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent e(pos, target->mapToGlobal(pos), QPoint(), angle, Qt::NoButton, mods, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
}

// True when client x range [left, right) lies inside the client area.
bool InView(const MCWndHexEditor& v, std::pair<int, int> cell) {
    const int x = v.GetHorizontalOffset();
    return cell.first >= x && cell.second <= x + v.ClientRect().width();
}

const quint64 kNone = MCWndHexEditor::kNone;

}  // namespace

class HexViewInputTest : public QObject {
    Q_OBJECT

private slots:
    void hitTest_data();
    void hitTest();
    void click_data();
    void click();
    void clickWithoutData();
    void otherButtonsAndDoubleClick();
    void viewDeletedByTheCommand();
    void scrollBar_data();
    void scrollBar();
    void sidewaysBar();
    void sidewaysClicks();
    void wheel_data();
    void wheel();
    void keys();
    void keysScrollSideways();
};

void HexViewInputTest::hitTest_data() {
    QTest::addColumn<quint64>("scroll");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<quint64>("offset");
    QTest::addColumn<int>("column");  // -1: a miss, the column stays as it was

    MCWndHexEditor v;  // geometry only
    const int lh = v.GetLineHeight();
    const int off = v.GetOffsetColumnRight();
    const auto hex = [&](int k) { return v.GetHexCell(k); };
    const auto txt = [&](int k) { return v.GetTextCell(k); };

    // 17 bytes: lines 0 and 1, then rows without data.
    QTest::newRow("offset column") << quint64(0) << QPoint(0, 3) << kNone << -1;
    QTest::newRow("offset column right edge") << quint64(0) << QPoint(off, 3) << kNone << -1;
    QTest::newRow("hex 0 first pixel") << quint64(0) << QPoint(off + 1, 3) << quint64(0) << 0;
    QTest::newRow("hex 0|1 edge") << quint64(0) << QPoint(hex(0).second, 3) << quint64(0) << 0;
    QTest::newRow("hex 1 after edge") << quint64(0) << QPoint(hex(0).second + 1, 3) << quint64(1) << 0;
    QTest::newRow("hex 7|8 edge") << quint64(0) << QPoint(hex(7).second, 3) << quint64(7) << 0;
    QTest::newRow("hex 15 last pixel") << quint64(0) << QPoint(hex(15).second - 1, 3) << quint64(15) << 0;
    QTest::newRow("gap band first") << quint64(0) << QPoint(hex(15).second, 3) << kNone << -1;
    QTest::newRow("gap band last") << quint64(0) << QPoint(hex(15).second + 3, 3) << kNone << -1;
    QTest::newRow("text 0 left edge") << quint64(0) << QPoint(txt(0).first, 3) << quint64(0) << 1;
    QTest::newRow("text 3|4 edge") << quint64(0) << QPoint(txt(3).second, 3) << quint64(3) << 1;
    QTest::newRow("text 15 last pixel") << quint64(0) << QPoint(txt(15).second - 1, 3) << quint64(15) << 1;
    QTest::newRow("text 15 right edge") << quint64(0) << QPoint(txt(15).second, 3) << kNone << -1;
    QTest::newRow("right margin") << quint64(0) << QPoint(txt(15).second + 20, 3) << kNone << -1;
    QTest::newRow("row 1 top") << quint64(0) << QPoint(hex(2).first + 1, lh) << quint64(18) << 0;
    QTest::newRow("row 0 bottom") << quint64(0) << QPoint(hex(2).first + 1, lh - 1) << quint64(2) << 0;
    QTest::newRow("right of the last byte") << quint64(0) << QPoint(hex(9).first + 1, lh + 2) << quint64(25) << 0;
    QTest::newRow("below the last line") << quint64(0) << QPoint(txt(4).first + 1, 4 * lh + 2) << quint64(68) << 1;
    QTest::newRow("above the client") << quint64(0) << QPoint(hex(2).first + 1, -1) << kNone << -1;
    // Scrolled to the end: the last line is on top.
    QTest::newRow("scrolled to the end") << quint64(2) << QPoint(hex(0).first + 1, 3) << quint64(16) << 0;
    QTest::newRow("scrolled, row 2") << quint64(2) << QPoint(txt(1).first + 1, 2 * lh + 3) << quint64(49) << 1;
}

void HexViewInputTest::hitTest() {
    QFETCH(quint64, scroll);
    QFETCH(QPoint, point);
    QFETCH(quint64, offset);
    QFETCH(int, column);

    FencedBuffer buf(17);
    MCWndHexEditor view;
    view.resize(640, HeightForRows(view, 6));
    view.SetData(buf.data(), buf.size());
    view.VerticalScrollBar()->setValue(int(scroll));
    QCOMPARE(view.GetScrollPos(), scroll);

    for (int primed : {0, 1}) {
        view.HitTest(primed == 0 ? InHex(view, 0) : InText(view, 0));
        QCOMPARE(view.GetActiveColumn(), primed);
        QCOMPARE(view.HitTest(point), offset);
        QCOMPARE(view.GetActiveColumn(), column < 0 ? primed : column);
    }
}

void HexViewInputTest::click_data() {
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<quint64>("caret");
    QTest::addColumn<int>("column");

    MCWndHexEditor v;  // geometry only
    QTest::newRow("hex cell") << InHex(v, 5, 1) << quint64(21) << 0;
    QTest::newRow("text cell") << InText(v, 12, 0) << quint64(12) << 1;
    QTest::newRow("offset column") << QPoint(5, 5) << kNone << 0;
    QTest::newRow("gap band") << QPoint(v.GetHexCell(15).second + 1, 5) << kNone << 0;
    QTest::newRow("below the data") << InHex(v, 3, 8) << quint64(16 * 8 + 3) << 0;
}

void HexViewInputTest::click() {
    QFETCH(QPoint, point);
    QFETCH(quint64, caret);
    QFETCH(int, column);

    Window w(40);
    QVERIFY(w.activate());
    MCWndHexEditor* view = w.view;
    view->SetHighlight(2, 30);

    struct Seen {
        int id;
        quint64 caret;
        quint64 highlight;
        bool viewFocused;
    };
    std::vector<Seen> seen;
    QObject::connect(view, &MCWndHexEditor::Command, view, [&](int id) {
        seen.push_back({id, view->GetCaretOffset(), view->GetHighlightStart(), view->hasFocus()});
    });

    QTest::mouseClick(view->ClientArea(), Qt::LeftButton, {}, point);

    QCOMPARE(int(seen.size()), 1);
    QCOMPARE(seen[0].id, MCWndHexEditor::ID_HEXVIEW_LOCATE);
    QCOMPARE(seen[0].id, 31001);
    QCOMPARE(seen[0].caret, caret);
    QCOMPARE(seen[0].highlight, kNone);  // cleared before the window is told
    QVERIFY(!seen[0].viewFocused);       // the focus comes after
    QCOMPARE(view->GetActiveColumn(), column);
    QCOMPARE(view->GetCaretOffset(), kNone);
    QCOMPARE(view->GetHighlightStart(), kNone);
    QVERIFY(view->hasFocus());
    QCOMPARE(w.view->window()->focusWidget(), static_cast<QWidget*>(view));
}

void HexViewInputTest::clickWithoutData() {
    Window w(40);
    w.view->SetData(nullptr, 0);
    w.show();
    QSignalSpy spy(w.view, &MCWndHexEditor::Command);
    quint64 caret = 0;
    QObject::connect(w.view, &MCWndHexEditor::Command, w.view, [&] { caret = w.view->GetCaretOffset(); });
    QTest::mouseClick(w.view->ClientArea(), Qt::LeftButton, {}, InHex(*w.view, 3));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(caret, kNone);
}

void HexViewInputTest::otherButtonsAndDoubleClick() {
    Window w(40);
    w.show();
    QSignalSpy spy(w.view, &MCWndHexEditor::Command);
    QTest::mouseClick(w.view->ClientArea(), Qt::RightButton, {}, InHex(*w.view, 3));
    QTest::mouseClick(w.view->ClientArea(), Qt::MiddleButton, {}, InHex(*w.view, 3));
    QCOMPARE(spy.count(), 0);
    // A double click, as the platform delivers it, is two presses of the
    // left button: two commands, not three.
    const QPoint at = w.view->ClientArea()->mapTo(&w, InHex(*w.view, 3));
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseDClick(w.windowHandle(), Qt::LeftButton, {}, at);
    QCOMPARE(spy.count(), 2);
}

void HexViewInputTest::viewDeletedByTheCommand() {
    // The window may destroy the view while it answers the click.
    Window w(40);
    w.show();
    QPointer<MCWndHexEditor> view(w.view);
    QObject::connect(w.view, &MCWndHexEditor::Command, w.view, [&] { delete view.data(); });
    QWidget* client = w.view->ClientArea();
    const QPointF at(InHex(*w.view, 3));
    QMouseEvent press(QEvent::MouseButtonPress, at, client->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(client, &press);
    QVERIFY(view.isNull());
}

void HexViewInputTest::scrollBar_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("track");  // thumb drag target, for SliderMove
    QTest::addColumn<int>("expected");

    // 100 lines, 10 rows in view.
    using S = QAbstractSlider;
    QTest::newRow("line up") << 5 << int(S::SliderSingleStepSub) << 0 << 4;
    QTest::newRow("line up at 0") << 0 << int(S::SliderSingleStepSub) << 0 << 0;
    QTest::newRow("line down") << 5 << int(S::SliderSingleStepAdd) << 0 << 6;
    QTest::newRow("line down to the end") << 99 << int(S::SliderSingleStepAdd) << 0 << 100;
    QTest::newRow("line down at the end") << 100 << int(S::SliderSingleStepAdd) << 0 << 100;
    QTest::newRow("page up") << 25 << int(S::SliderPageStepSub) << 0 << 15;
    QTest::newRow("page up near 0") << 7 << int(S::SliderPageStepSub) << 0 << 0;
    QTest::newRow("page down") << 25 << int(S::SliderPageStepAdd) << 0 << 35;
    QTest::newRow("page down near the end") << 97 << int(S::SliderPageStepAdd) << 0 << 100;
    QTest::newRow("top") << 60 << int(S::SliderToMinimum) << 0 << 0;
    QTest::newRow("bottom") << 3 << int(S::SliderToMaximum) << 0 << 90;
    QTest::newRow("thumb track") << 3 << int(S::SliderMove) << 42 << 42;
    QTest::newRow("thumb track to the end") << 3 << int(S::SliderMove) << 100 << 100;
}

void HexViewInputTest::scrollBar() {
    QFETCH(int, start);
    QFETCH(int, action);
    QFETCH(int, track);
    QFETCH(int, expected);

    FencedBuffer buf(16 * 100);
    MCWndHexEditor view;
    view.resize(640, HeightForRows(view, 10, 5));
    view.SetData(buf.data(), buf.size());
    view.show();
    QScrollBar* bar = view.VerticalScrollBar();
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    bar->setValue(start);
    QCOMPARE(view.GetScrollPos(), quint64(start));

    if (action == QAbstractSlider::SliderMove) {
        bar->setSliderDown(true);
        bar->setSliderPosition(track);
        QCOMPARE(view.GetScrollPos(), quint64(expected));  // follows while dragging
        bar->setSliderDown(false);
    } else {
        bar->triggerAction(QAbstractSlider::SliderAction(action));
    }
    QCOMPARE(view.GetScrollPos(), quint64(expected));
    QCOMPARE(bar->value(), expected);
    QCOMPARE(view.GetFirstLine(), quint64(std::min(expected, 99)));
}

void HexViewInputTest::sidewaysBar() {
    // Room for a whole line: no bar, nothing to scroll, ten rows as laid out.
    Window wide(16 * 100);
    wide.show();
    QVERIFY(wide.view->HorizontalScrollBar()->isHidden());
    QCOMPARE(wide.view->GetVisibleLines(), 10);
    wide.view->SetHorizontalOffset(50);
    QCOMPARE(wide.view->GetHorizontalOffset(), 0);

    Window w(16 * 100, kNarrow);
    w.show();
    MCWndHexEditor* v = w.view;
    QScrollBar* hbar = v->HorizontalScrollBar();
    QScrollBar* vbar = v->VerticalScrollBar();
    QVERIFY(hbar->isVisible());
    const QRect client = v->ClientRect();
    QCOMPARE(client.width(), kNarrow - vbar->width());
    QCOMPARE(hbar->minimum(), 0);
    QCOMPARE(hbar->maximum(), v->GetLineWidth() - client.width());
    QCOMPARE(hbar->pageStep(), client.width());
    // Along the bottom, as wide as the client area; the vertical bar ends
    // above it, and the corner between them belongs to neither.
    QCOMPARE(hbar->geometry(), QRect(0, client.bottom() + 1, client.width(), v->height() - client.bottom() - 1));
    QCOMPARE(vbar->geometry(), QRect(client.right() + 1, client.top(), vbar->width(), client.height()));
    // The bar's height comes off the rows: the page and the bytes in view
    // count only the rows above it.
    const int rows = client.height() / v->GetLineHeight();
    QVERIFY(rows < 10);
    QCOMPARE(v->GetVisibleLines(), rows);
    QCOMPARE(v->GetLastVisibleByte(), quint64(16 * rows - 1));
    vbar->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(v->GetFirstLine(), quint64(100 - rows));
    QCOMPARE(v->GetLastVisibleByte(), quint64(16 * 100 - 1));

    // The bar and the offset are one; the offset stays within the line.
    hbar->setValue(37);
    QCOMPARE(v->GetHorizontalOffset(), 37);
    v->SetHorizontalOffset(100000);
    QCOMPARE(v->GetHorizontalOffset(), hbar->maximum());
    QCOMPARE(hbar->value(), hbar->maximum());
    v->SetHorizontalOffset(-5);
    QCOMPARE(v->GetHorizontalOffset(), 0);

    // Widened, the bar goes and the line starts at the left edge again.
    v->SetHorizontalOffset(40);
    v->resize(640, v->height());
    QVERIFY(hbar->isHidden());
    QCOMPARE(v->GetHorizontalOffset(), 0);
    QCOMPARE(v->GetVisibleLines(), 10);
    // Narrowed again and given new data: back at the line start.
    v->resize(kNarrow, v->height());
    QVERIFY(hbar->isVisible());
    v->SetHorizontalOffset(40);
    v->SetData(w.buffer.data(), 32);
    QCOMPARE(v->GetHorizontalOffset(), 0);
}

void HexViewInputTest::sidewaysClicks() {
    // Scrolled sideways, a click (and Shift with a click) picks the byte drawn
    // under the pointer, in either column, not the one drawn there unscrolled.
    Window w(16 * 100, kNarrow);
    QVERIFY(w.activate());
    MCWndHexEditor* v = w.view;
    std::vector<quint64> located;
    QObject::connect(v, &MCWndHexEditor::Command, v, [&] { located.push_back(v->GetCaretOffset()); });

    // Text cell 0 where hex cell 6 is drawn unscrolled.
    const int dx = v->GetTextCell(0).first - v->GetHexCell(6).first;
    QVERIFY(dx <= v->HorizontalScrollBar()->maximum());
    v->SetHorizontalOffset(dx);
    QVERIFY(InView(*v, v->GetHexCell(12)));
    QVERIFY(InView(*v, v->GetTextCell(2)));
    const struct {
        QPoint at;
        Qt::KeyboardModifiers mods;
        quint64 caret;
        int column;
        quint64 rangeStart;
    } clicks[] = {
        {QPoint(v->GetHexCell(6).first + 3, v->GetLineHeight() + 4), {}, 16, 1, kNone},
        {InHex(*v, 12, 2), {}, 44, 0, kNone},
        {InText(*v, 2, 3), Qt::ShiftModifier, 50, 1, 44},
    };
    for (const auto& click : clicks) {
        QTest::mouseClick(v->ClientArea(), Qt::LeftButton, click.mods, click.at);
        QCOMPARE(located.back(), click.caret);
        QCOMPARE(v->GetCaretByte(), click.caret);
        QCOMPARE(v->GetActiveColumn(), click.column);
        QCOMPARE(v->GetRangeStart(), click.rangeStart);
        // The clicked cell was in view: nothing moved.
        QCOMPARE(v->GetHorizontalOffset(), dx);
    }

    // A drag from a pressed byte marks the range to the byte under the
    // pointer, in the pressed column, and past the right edge scrolls on.
    const auto move = [v](QPoint to) {
        QWidget* client = v->ClientArea();
        QMouseEvent e(QEvent::MouseMove, QPointF(to), client->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
        QApplication::sendEvent(client, &e);
    };
    QTest::mousePress(v->ClientArea(), Qt::LeftButton, {}, InHex(*v, 9, 1));
    QCOMPARE(v->GetCaretByte(), quint64(25));
    move(InHex(*v, 9, 1) + QPoint(1, 1));  // still on the pressed byte: no range
    QCOMPARE(v->GetRangeStart(), kNone);
    move(InText(*v, 1, 2));
    QCOMPARE(v->GetCaretByte(), quint64(33));
    QCOMPARE(v->GetRangeStart(), quint64(25));
    QCOMPARE(v->GetRangeEnd(), quint64(33));
    QCOMPARE(v->GetActiveColumn(), 0);
    QCOMPARE(v->GetHorizontalOffset(), dx);
    move(InText(*v, 8, 2));  // past the right edge
    QCOMPARE(v->GetCaretByte(), quint64(40));
    QVERIFY(InView(*v, v->GetTextCell(8)));
    QTest::mouseRelease(v->ClientArea(), Qt::LeftButton, {}, InText(*v, 8, 2));
    QCOMPARE(v->GetRangeEnd(), quint64(40));
    move(InHex(*v, 12, 0));  // no press held on a byte: nothing
    QCOMPARE(v->GetCaretByte(), quint64(40));
    v->SetHorizontalOffset(dx);

    // A cell cut by the right edge comes into view when clicked, by as
    // little as shows it; the other column stays where it was put.
    const int width = v->ClientRect().width();
    v->SetHorizontalOffset(v->GetTextCell(4).first + 3 - width);
    QTest::mouseClick(v->ClientArea(), Qt::LeftButton, {}, QPoint(width - 2, 4));
    QCOMPARE(v->GetCaretByte(), quint64(4));
    QCOMPARE(v->GetHorizontalOffset(), v->GetTextCell(4).second - width);
}

void HexViewInputTest::wheel_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<QPoint>("angle");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<int>("over");  // 0 the client area, 1 the vertical bar, 2 the horizontal bar
    QTest::addColumn<int>("expected");
    // Sideways, in hex cell widths (one a message); -1 the right end.
    QTest::addColumn<int>("startX");
    QTest::addColumn<int>("expectedX");

    QTest::newRow("down one notch") << 5 << QPoint(0, -120) << false << 0 << 6 << 2 << 2;
    QTest::newRow("down two notches: one line") << 5 << QPoint(0, -240) << false << 0 << 6 << 2 << 2;
    QTest::newRow("down a fraction") << 5 << QPoint(0, -8) << false << 0 << 6 << 2 << 2;
    QTest::newRow("up one notch") << 5 << QPoint(0, 120) << false << 0 << 4 << 2 << 2;
    QTest::newRow("up three notches") << 5 << QPoint(0, 360) << false << 0 << 4 << 2 << 2;
    QTest::newRow("up at 0") << 0 << QPoint(0, 120) << false << 0 << 0 << 2 << 2;
    QTest::newRow("down at the end") << 100 << QPoint(0, -120) << false << 0 << 100 << 2 << 2;
    QTest::newRow("over the bar, down") << 5 << QPoint(0, -360) << false << 1 << 6 << 2 << 2;
    QTest::newRow("over the bar, up") << 5 << QPoint(0, 240) << false << 1 << 4 << 2 << 2;
    QTest::newRow("horizontal wheel right") << 5 << QPoint(-120, 0) << false << 0 << 5 << 2 << 3;
    QTest::newRow("horizontal wheel left") << 5 << QPoint(240, 0) << false << 0 << 5 << 2 << 1;
    QTest::newRow("shift, down: right") << 5 << QPoint(0, -120) << true << 0 << 5 << 2 << 3;
    QTest::newRow("shift, up: left") << 5 << QPoint(0, 360) << true << 0 << 5 << 2 << 1;
    QTest::newRow("shift, up at the left end") << 5 << QPoint(0, 120) << true << 0 << 5 << 0 << 0;
    QTest::newRow("shift, down at the right end") << 5 << QPoint(0, -120) << true << 0 << 5 << -1 << -1;
    QTest::newRow("over the horizontal bar, down") << 5 << QPoint(0, -120) << false << 2 << 5 << 2 << 3;
    QTest::newRow("shift over the vertical bar") << 5 << QPoint(0, 120) << true << 1 << 5 << 2 << 1;
}

void HexViewInputTest::wheel() {
    QFETCH(int, start);
    QFETCH(QPoint, angle);
    QFETCH(bool, shift);
    QFETCH(int, over);
    QFETCH(int, expected);
    QFETCH(int, startX);
    QFETCH(int, expectedX);

    // Narrow, so that the lines scroll sideways too.
    Window w(16 * 100, kNarrow);
    w.show();
    MCWndHexEditor* v = w.view;
    const int step = v->GetHexCellSize().width();
    const int rightEnd = v->HorizontalScrollBar()->maximum();
    QVERIFY(rightEnd > 3 * step);
    v->VerticalScrollBar()->setValue(start);
    v->SetHorizontalOffset(startX < 0 ? rightEnd : startX * step);
    QWidget* const targets[] = {v->ClientArea(), v->VerticalScrollBar(), v->HorizontalScrollBar()};
    Wheel(targets[over], angle, shift ? Qt::ShiftModifier : Qt::NoModifier);
    QCOMPARE(v->GetScrollPos(), quint64(expected));
    QCOMPARE(v->VerticalScrollBar()->value(), expected);
    QCOMPARE(v->GetHorizontalOffset(), expectedX < 0 ? rightEnd : expectedX * step);
    QCOMPARE(v->HorizontalScrollBar()->value(), v->GetHorizontalOffset());
    // The turn goes on to the window afterwards.
    QCOMPARE(w.wheels, 1);
}

void HexViewInputTest::keys() {
    Window w(16 * 100);
    QVERIFY(w.activate());
    int pageUpShortcut = 0, leftShortcut = 0;
    QShortcut pageUp(QKeySequence(Qt::Key_PageUp), &w);
    QObject::connect(&pageUp, &QShortcut::activated, [&] { ++pageUpShortcut; });
    QShortcut left(QKeySequence(Qt::Key_Left), &w);
    QObject::connect(&left, &QShortcut::activated, [&] { ++leftShortcut; });
    QSignalSpy moved(w.view, &MCWndHexEditor::CaretMoved);

    // The click puts the caret on the byte and gives the view the focus.
    QTest::mouseClick(w.view->ClientArea(), Qt::LeftButton, {}, InHex(*w.view, 1));
    QVERIFY(w.view->hasFocus());
    QCOMPARE(w.view->GetCaretByte(), quint64(1));
    QCOMPARE(w.view->GetRangeStart(), kNone);
    QCOMPARE(moved.count(), 1);

    // The navigation keys move the caret and scroll it into view (10 rows
    // shown); the window and its shortcuts see none of them.
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        quint64 caret;
        quint64 firstLine;
    } steps[] = {
        {Qt::Key_Right, {}, 2, 0},
        {Qt::Key_Left, {}, 1, 0},
        {Qt::Key_Left, {}, 0, 0},
        {Qt::Key_Left, {}, 0, 0},  // stays at the first byte
        {Qt::Key_Down, {}, 16, 0},
        {Qt::Key_End, {}, 31, 0},
        {Qt::Key_Home, {}, 16, 0},
        {Qt::Key_PageDown, {}, 176, 10},  // a page of 10 lines, and the view with it
        {Qt::Key_PageUp, {}, 16, 0},
        {Qt::Key_End, Qt::ControlModifier, 1599, 90},  // the last byte, on the last row
        {Qt::Key_Up, {}, 1583, 90},
        {Qt::Key_Home, Qt::ControlModifier, 0, 0},
    };
    for (const auto& step : steps) {
        QTest::keyClick(w.view, step.key, step.mods);
        QCOMPARE(w.view->GetCaretByte(), step.caret);
        QCOMPARE(w.view->GetFirstLine(), step.firstLine);
    }
    QVERIFY(w.keys.empty());
    QCOMPARE(pageUpShortcut, 0);
    QCOMPARE(leftShortcut, 0);

    // Shift extends a range from where the caret was; a plain move ends it.
    QTest::keyClick(w.view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(w.view, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(w.view->GetCaretByte(), quint64(17));
    QCOMPARE(w.view->GetRangeStart(), quint64(0));
    QCOMPARE(w.view->GetRangeEnd(), quint64(17));
    QTest::keyClick(w.view, Qt::Key_Up, Qt::ShiftModifier | Qt::ControlModifier);
    QCOMPARE(w.view->GetRangeEnd(), quint64(1));  // back past the anchor: the range runs 0..1
    QTest::keyClick(w.view, Qt::Key_Right);
    QCOMPARE(w.view->GetRangeStart(), kNone);
    // Shift and a click extend the range to the clicked byte.
    QTest::mouseClick(w.view->ClientArea(), Qt::LeftButton, Qt::ShiftModifier, InText(*w.view, 5, 1));
    QCOMPARE(w.view->GetCaretByte(), quint64(21));
    QCOMPARE(w.view->GetRangeStart(), quint64(2));
    QCOMPARE(w.view->GetRangeEnd(), quint64(21));

    // Enter is taken and does nothing; other keys go on to the window.
    for (Qt::Key key : {Qt::Key_A, Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(w.view, key);
    QCOMPARE(w.keys, (std::vector<int>{Qt::Key_A, Qt::Key_Space, Qt::Key_Escape}));
    QCOMPARE(w.view->GetCaretByte(), quint64(21));

    // New data takes the caret and the range away.
    w.view->SetData(w.buffer.data(), 32);
    QCOMPARE(w.view->GetCaretByte(), kNone);
    QCOMPARE(w.view->GetRangeStart(), kNone);

    // With the focus elsewhere the window's shortcut works as usual.
    w.edit->setFocus();
    QTest::keyClick(w.edit, Qt::Key_PageUp);
    QCOMPARE(pageUpShortcut, 1);
}

void HexViewInputTest::keysScrollSideways() {
    // Narrow: the keys scroll the caret's cell of the active column into
    // view, as little as needed, and the line's start to the left edge.
    Window w(16 * 100, kNarrow);
    QVERIFY(w.activate());
    MCWndHexEditor* v = w.view;
    const int width = v->ClientRect().width();
    QTest::mouseClick(v->ClientArea(), Qt::LeftButton, {}, InHex(*v, 1));
    QCOMPARE(v->GetHorizontalOffset(), 0);
    // The hex and the text cell of byte 15 fit side by side: End shows both.
    QVERIFY(v->GetTextCell(15).second - v->GetHexCell(15).first <= width);
    const int endOfLine = v->GetTextCell(15).second - width;
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        quint64 caret;
        int offset;
    } steps[] = {
        {Qt::Key_End, {}, 15, endOfLine},
        {Qt::Key_Left, {}, 14, endOfLine},  // in view already
        {Qt::Key_Down, {}, 30, endOfLine},
        {Qt::Key_Home, {}, 16, 0},  // with the offset column
        {Qt::Key_End, Qt::ControlModifier, 1599, endOfLine},
        {Qt::Key_Home, Qt::ShiftModifier, 1584, 0},
    };
    for (const auto& step : steps) {
        QTest::keyClick(v, step.key, step.mods);
        QCOMPARE(v->GetCaretByte(), step.caret);
        QCOMPARE(v->GetHorizontalOffset(), step.offset);
        QVERIFY(InView(*v, v->GetHexCell(int(step.caret % 16))));
    }
    // Cells too far apart for both: the hex column's is the one shown.
    v->SetHorizontalOffset(0);
    QTest::keyClick(v, Qt::Key_Right);
    QTest::keyClick(v, Qt::Key_Right);
    QCOMPARE(v->GetCaretByte(), quint64(1586));
    QCOMPARE(v->GetHorizontalOffset(), 0);
    QVERIFY(!InView(*v, v->GetTextCell(2)));
    QCOMPARE(v->GetFirstLine(), quint64(100 - v->GetVisibleLines()));

    // From the text column its cells are the ones kept in view, and the
    // window's go-to (SetCaretByte) scrolls both ways.
    v->SetHorizontalOffset(v->HorizontalScrollBar()->maximum());
    QTest::mouseClick(v->ClientArea(), Qt::LeftButton, {}, InText(*v, 15, 0));
    QCOMPARE(v->GetActiveColumn(), 1);
    QTest::keyClick(v, Qt::Key_Home);
    QCOMPARE(v->GetHorizontalOffset(), v->HorizontalScrollBar()->maximum());  // the whole text column is in view
    QVERIFY(InView(*v, v->GetTextCell(0)));
    v->SetHorizontalOffset(0);
    v->SetCaretByte(16 * 50 + 9);
    QVERIFY(InView(*v, v->GetTextCell(9)));
    QVERIFY(v->GetFirstLine() <= 50 && 50 < v->GetFirstLine() + quint64(v->GetVisibleLines()));
}

QTEST_MAIN(HexViewInputTest)
#include "hexview_input_test.moc"
