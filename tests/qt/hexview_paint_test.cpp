// Rendering of the hex view: geometry from the font, the empty frame, lines,
// labels, byte texts, the highlight and its scrolling, and reads confined to
// the buffer.
#include "hexview_test_support.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

#include <algorithm>
#include <vector>

using namespace hexview_test;

class HexViewPaintTest : public QObject {
    Q_OBJECT

private slots:
    void create();
    void fontAndGeometry();
    void emptyFrame();
    void seventeenBytes();
    void textColumnCharacters();
    void highlightColumns();
    void highlightEndPastData();
    void caretBoxAndRange();
    void scrolledSideways();
    void unreadUnderTheHighlight();
    void inflatedMark();
    void highlightAboveView();
    void setHighlightScrolls_data();
    void setHighlightScrolls();
    void setHighlightRanges_data();
    void setHighlightRanges();
    void rendersOnlyInsideBuffer();
    void sourcePaintsAsBuffer();
};

namespace {

// Bytes served through the source interface, counting what is asked for;
// reads at or past `failFrom` fail (a file that shrank).
class TestSource : public quillon::HexByteSource {
public:
    TestSource(const std::vector<std::uint8_t>& bytes, quint64 failFrom) : m_bytes(bytes), m_failFrom(failFrom) {}
    bool ReadBytes(quint64 offset, std::uint8_t* dst, std::size_t n) const override {
        asked += n;
        if (offset + n > m_failFrom || offset + n > m_bytes.size()) return false;
        std::copy_n(m_bytes.data() + offset, n, dst);
        return true;
    }
    mutable quint64 asked = 0;

private:
    const std::vector<std::uint8_t>& m_bytes;
    quint64 m_failFrom;
};

}  // namespace

void HexViewPaintTest::create() {
    // Declared after its parent, as a member of the window would be.
    QWidget parent;
    MCWndHexEditor view;
    QVERIFY(!view.Create(nullptr));  // a child needs a parent

    parent.resize(500, 300);
    parent.show();
    QVERIFY(view.Create(&parent));
    QCOMPARE(view.parentWidget(), &parent);
    QVERIFY(view.isVisible());
    QVERIFY(view.geometry().isEmpty());  // the parent moves it into place
    QCOMPARE(view.property("controlId").toInt(), 1000);
    QVERIFY(view.VerticalScrollBar()->isHidden());
    QCOMPARE(view.GetCaretOffset(), MCWndHexEditor::kNone);
    QCOMPARE(view.GetHighlightStart(), MCWndHexEditor::kNone);
    QCOMPARE(view.GetActiveColumn(), 0);
    QVERIFY(view.GetLineHeight() > 0);

    // Moved into place by the parent: the layout follows the new size.
    view.setGeometry(10, 20, 400, 200);
    QCOMPARE(view.GetHeaderRect(), QRect(0, 0, 400, view.GetLineHeight() + 2));
    QCOMPARE(view.ClientArea()->geometry(), view.ClientRect());
    QCOMPARE(view.ClientRect().bottom(), 199);
}

void HexViewPaintTest::fontAndGeometry() {
    MCWndHexEditor view;
    const QFont& font = view.GetFont();
    if (QFontDatabase::hasFamily(QStringLiteral("MS Sans Serif")))
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("MS Sans Serif"));
    else
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(font.pointSize(), 8);

    // Glyphs really render: "0" and "8" differ, and neither is blank.
    const QSize box(20, 20);
    const QImage zero = Reference(font, box, 0, Qt::AlignCenter, QStringLiteral("0"), kBlack, kWhite);
    const QImage eight = Reference(font, box, 0, Qt::AlignCenter, QStringLiteral("8"), kBlack, kWhite);
    QVERIFY(zero != eight);
    QVERIFY(!Uniform(zero, zero.rect(), kWhite));

    const QFontMetrics fm(font, view.ClientArea());
    const int lh = fm.height() + 4;
    const int off = fm.horizontalAdvance(QStringLiteral("FFFFFFFFH: "));
    const int hexW = fm.horizontalAdvance(QStringLiteral(" 00 "));
    const int txtW = fm.horizontalAdvance(QStringLiteral("0")) + 2;
    QCOMPARE(view.GetLineHeight(), lh);
    QCOMPARE(view.GetOffsetColumnRight(), off);
    QCOMPARE(view.GetHexCellSize(), QSize(hexW, lh));
    QCOMPARE(view.GetTextCellSize(), QSize(txtW, lh));
    QCOMPARE(view.GetHexCell(0), std::make_pair(off, off + hexW));
    QCOMPARE(view.GetHexCell(15), std::make_pair(off + 15 * hexW, off + 16 * hexW));
    // Four pixels of gap between the hex and the text column.
    QCOMPARE(view.GetTextCell(0), std::make_pair(off + 16 * hexW + 4, off + 16 * hexW + 4 + txtW));
    QCOMPARE(view.GetTextCell(15).second, off + 16 * hexW + 4 + 16 * txtW);

    view.resize(640, 300);
    QCOMPARE(view.GetHeaderRect(), QRect(0, 0, 640, lh + 2));
    QCOMPARE(view.ClientRect(), QRect(0, lh + 3, 640, 300 - lh - 3));
}

void HexViewPaintTest::emptyFrame() {
    MCWndHexEditor view;
    view.resize(640, HeightForRows(view, 6, 5));
    view.show();
    const int lh = view.GetLineHeight();
    const QImage img = Render(view);
    const QRect client = view.ClientRect();
    const QImage c = img.copy(client);

    QVERIFY(view.VerticalScrollBar()->isHidden());
    // Grey offset column with no labels, grey right margin up to the
    // widget's edge (no scroll bar), white data area, grid lines.
    QVERIFY(Uniform(c, QRect(0, 0, view.GetOffsetColumnRight(), c.height()), kGrey));
    const int marginLeft = view.GetTextCell(15).second;
    QVERIFY(Uniform(c, QRect(marginLeft, 0, c.width() - marginLeft, c.height()), kGrey));
    for (int k : {3, 7, 11}) QVERIFY(Uniform(c, QRect(view.GetHexCell(k).second, 0, 1, c.height()), kGrey));
    const int gap = view.GetHexCell(15).second;
    QVERIFY(Uniform(c, QRect(gap, 0, 4, c.height()), kGrey));
    QVERIFY(
        Uniform(c, QRect(view.GetHexCell(0).first, 0, view.GetHexCell(3).second - view.GetHexCell(0).first, c.height()),
                kWhite));
    QVERIFY(
        Uniform(c, QRect(view.GetTextCell(0).first, 0, marginLeft - view.GetTextCell(0).first, c.height()), kWhite));

    // Header: fill, edges, a digit and a tick over every cell.
    const int bottom = lh + 2;
    QCOMPARE(client.top(), bottom + 1);
    QVERIFY(Uniform(img, QRect(0, 0, img.width(), 1), QColor(0xFF, 0xF5, 0xA4)));
    QVERIFY(Uniform(img, QRect(0, 0, 1, bottom), QColor(0xFF, 0xF5, 0xA4)));
    QVERIFY(Uniform(img, QRect(1, bottom - 2, img.width() - 1, 1), QColor(0xD6, 0xC2, 0x73)));
    QVERIFY(Uniform(img, QRect(1, bottom - 1, img.width() - 1, 1), QColor(0xBE, 0xAC, 0x66)));
    QVERIFY(Uniform(img, QRect(1, bottom, img.width() - 1, 1), QColor(0x8E, 0x81, 0x4C)));
    QVERIFY(Uniform(img, QRect(1, 1, view.GetOffsetColumnRight() - 1, bottom - 3), kHeader));
    for (int k = 0; k < 16; ++k) {
        for (const auto& cell : {view.GetHexCell(k), view.GetTextCell(k)}) {
            const int w = cell.second - cell.first;
            const QImage digit = Reference(view.GetFont(), QSize(w, lh - 4), 0, Qt::AlignHCenter | Qt::AlignTop,
                                           QString::number(k, 16).toUpper(), kBlack, kHeader);
            QCOMPARE(img.copy(cell.first, 2, w, lh - 4), digit);
            const int tick = cell.first + w / 2;
            QVERIFY(Uniform(img, QRect(tick, lh - 2, 1, 2), kBlack));
            QCOMPARE(At(img, tick + 1, lh - 2), kHeader);
        }
    }
    // The header digits are really different glyphs.
    QVERIFY(img.copy(view.GetHexCell(0).first, 2, 10, lh - 4) != img.copy(view.GetHexCell(8).first, 2, 10, lh - 4));
}

void HexViewPaintTest::seventeenBytes() {
    FencedBuffer buf(17);
    for (int i = 0; i < 17; ++i) buf.data()[i] = static_cast<std::uint8_t>(0x30 + i % 10);
    MCWndHexEditor view;
    view.resize(640, HeightForRows(view, 5, 7));
    view.SetData(buf.data(), buf.size());
    view.show();

    QCOMPARE(view.GetLineCount(), quint64(2));
    QVERIFY(view.VerticalScrollBar()->isVisible());
    QCOMPARE(view.GetVisibleLines(), 5);
    const QImage c = ClientImage(view);

    // A label for every row of the view, past the data too; none in the
    // partial row at the bottom.
    for (int r = 0; r < 5; ++r)
        QVERIFY2(SameText(c, LabelRect(view, r), LabelReference(view, quint32(r * 16))),
                 qPrintable(QString::number(r)));
    QVERIFY(Uniform(c, QRect(0, 5 * view.GetLineHeight(), view.GetOffsetColumnRight(), 7), kGrey));

    // Line 0 holds 16 bytes, line 1 one byte, then nothing.
    const int hexW = view.GetHexCellSize().width();
    const int txtW = view.GetTextCellSize().width();
    for (int k = 0; k < 16; ++k) {
        const QString digit = QString(QChar(0x30 + k % 10));
        QVERIFY(SameText(c, HexCellRect(view, 0, k),
                         CellReference(view, hexW, QStringLiteral("3") + digit, kBlack, kWhite)));
        QVERIFY(SameText(c, TextCellRect(view, 0, k), CellReference(view, txtW, digit, kBlack, kWhite)));
    }
    QVERIFY(SameText(c, HexCellRect(view, 1, 0), CellReference(view, hexW, QStringLiteral("36"), kBlack, kWhite)));
    QVERIFY(SameText(c, TextCellRect(view, 1, 0), CellReference(view, txtW, QStringLiteral("6"), kBlack, kWhite)));
    for (int row = 1; row < 5; ++row) {
        for (int k = row == 1 ? 1 : 0; k < 16; ++k) {
            QVERIFY(Uniform(c, HexCellRect(view, row, k).adjusted(1, 0, 0, 0), kWhite));
            QVERIFY(Uniform(c, TextCellRect(view, row, k), kWhite));
        }
    }
}

void HexViewPaintTest::textColumnCharacters() {
    const std::vector<std::uint8_t> bytes = {0x20, 0x41, 0x7A, 0x7B, 0x7E, 0x7F, 0x80, 0xFF, 0x2E};
    FencedBuffer buf(bytes.size());
    std::memcpy(buf.data(), bytes.data(), bytes.size());
    MCWndHexEditor view;
    view.resize(640, HeightForRows(view, 3));
    view.SetData(buf.data(), buf.size());
    view.show();
    const QImage c = ClientImage(view);
    const int txtW = view.GetTextCellSize().width();

    QVERIFY(Uniform(c, TextCellRect(view, 0, 0), kWhite));  // blank
    QVERIFY(SameText(c, TextCellRect(view, 0, 1), CellReference(view, txtW, QStringLiteral("A"), kBlack, kWhite)));
    QVERIFY(SameText(c, TextCellRect(view, 0, 2), CellReference(view, txtW, QStringLiteral("z"), kBlack, kWhite)));
    const QImage dot = CellReference(view, txtW, QStringLiteral("."), kBlack, kWhite);
    for (int k = 3; k <= 8; ++k)
        QVERIFY2(SameText(c, TextCellRect(view, 0, k), dot), qPrintable(QString::number(bytes[k], 16)));
    // The hex column shows every byte, printable or not.
    const int hexW = view.GetHexCellSize().width();
    for (int k = 0; k < 9; ++k)
        QVERIFY(SameText(c, HexCellRect(view, 0, k),
                         CellReference(view, hexW, QString::asprintf("%02X", bytes[k]), kBlack, kWhite)));
}

// The Shift range in amber over the highlight in both columns, black text on
// it; the caret's 2-pixel red box around its byte in both columns, the cell
// inside it keeping its fill.
void HexViewPaintTest::caretBoxAndRange() {
    FencedBuffer buf(64);
    for (int i = 0; i < 64; ++i) buf.data()[i] = static_cast<std::uint8_t>(0x41 + i % 26);
    QWidget parent;
    MCWndHexEditor view(&parent);
    view.resize(640, HeightForRows(view, 6));
    parent.resize(view.size());
    view.SetData(buf.data(), buf.size());
    view.SetHighlight(5, 30);
    view.SetCaretByte(12);
    view.SetCaretByte(20, true);
    QCOMPARE(view.GetRangeStart(), quint64(12));
    QCOMPARE(view.GetRangeEnd(), quint64(20));
    parent.show();
    const QImage c = ClientImage(view);
    const QColor amber = QColor::fromRgb(MCWndHexEditor::kRangeFill);
    const QColor red = QColor::fromRgb(MCWndHexEditor::kCaretBox);
    const int hexW = view.GetHexCellSize().width();
    const int txtW = view.GetTextCellSize().width();
    for (int j = 0; j < 48; ++j) {
        const int row = j / 16, k = j % 16;
        const QString what = QStringLiteral("byte %1").arg(j);
        const QRect hexCell = HexCellRect(view, row, k), txtCell = TextCellRect(view, row, k);
        if (j == 20) {
            for (const QRect& cell : {hexCell, txtCell}) {
                QCOMPARE(c.pixelColor(cell.topLeft() + QPoint(1, 1)), red);
                QCOMPARE(c.pixelColor(cell.bottomRight() - QPoint(1, 1)), red);
                QCOMPARE(c.pixelColor(cell.center() + QPoint(0, cell.height() / 2 - 3)), amber);
            }
            continue;
        }
        const bool inRange = j >= 12 && j <= 20;
        const bool highlighted = j >= 5 && j <= 30;
        const QColor hexFill = inRange ? amber : highlighted ? kBlue : kWhite;
        const QColor txtFill = inRange ? amber : highlighted ? kCyan : kWhite;
        QVERIFY2(Uniform(c, FillProbe(hexCell), hexFill), qPrintable(what));
        QVERIFY2(Uniform(c, FillProbe(txtCell), txtFill), qPrintable(what));
        const QString hex = QString::asprintf("%02X", 0x41 + j % 26);
        const QString chr = QString(QChar(0x41 + j % 26));
        QVERIFY2(SameText(c, hexCell, CellReference(view, hexW, hex, hexFill == kBlue ? kWhite : kBlack, hexFill)),
                 qPrintable(what));
        QVERIFY2(SameText(c, txtCell, CellReference(view, txtW, chr, kBlack, txtFill)), qPrintable(what));
    }
    // No caret, no range: the highlight's colours again.
    view.SetCaretByte(MCWndHexEditor::kNone);
    const QImage after = ClientImage(view);
    QVERIFY(Uniform(after, FillProbe(HexCellRect(view, 1, 4)), kBlue));
}

void HexViewPaintTest::scrolledSideways() {
    // A view too narrow for a line, scrolled sideways by dx, shows what a wide
    // view shows from x = dx on: the rows with their fills, texts, caret box
    // and range, and the header's digits over them.
    FencedBuffer buf(16 * 40);
    for (int i = 0; i < 16 * 40; ++i) buf.data()[i] = static_cast<std::uint8_t>(0x30 + i % 41);
    MCWndHexEditor wide, narrow;
    for (MCWndHexEditor* v : {&wide, &narrow}) {
        v->resize(v == &wide ? 640 : 300, HeightForRows(*v, 12));
        v->SetData(buf.data(), buf.size());
        v->SetUnreadRange(70, 100);
        v->SetHighlight(20, 90);
        v->SetCaretByte(40);
        v->SetCaretByte(45, true);
        v->show();
    }
    QVERIFY(wide.HorizontalScrollBar()->isHidden());
    QCOMPARE(wide.GetHorizontalOffset(), 0);
    QVERIFY(narrow.HorizontalScrollBar()->isVisible());
    const QRect client = narrow.ClientRect();
    QCOMPARE(client.top(), wide.ClientRect().top());
    const int rowsHeight = narrow.GetVisibleLines() * narrow.GetLineHeight();
    const QImage full = Render(wide);
    const int maxOffset = narrow.HorizontalScrollBar()->maximum();
    QCOMPARE(maxOffset, narrow.GetLineWidth() - client.width());
    for (int dx : {0, 37, maxOffset}) {
        narrow.SetHorizontalOffset(dx);
        QCOMPARE(narrow.GetHorizontalOffset(), dx);
        QCOMPARE(narrow.HorizontalScrollBar()->value(), dx);
        const QImage img = Render(narrow);
        const QString what = QStringLiteral("offset %1").arg(dx);
        QVERIFY2(img.copy(0, client.top(), client.width(), rowsHeight) ==
                     full.copy(dx, client.top(), client.width(), rowsHeight),
                 qPrintable(what));
        // The header, but for its lit left edge.
        QVERIFY2(
            img.copy(1, 0, client.width() - 1, client.top()) == full.copy(dx + 1, 0, client.width() - 1, client.top()),
            qPrintable(what));
        // Scrolled, the drawing really moved.
        if (dx != 0) QVERIFY(img.copy(client) != full.copy(client));
    }
    // The corner between the two bars is the window's colour.
    const QImage img = Render(narrow);
    const QRect corner(client.right() + 1, client.bottom() + 1, narrow.width() - client.width(),
                       narrow.height() - client.bottom() - 1);
    QVERIFY(!corner.isEmpty());
    QVERIFY(Uniform(img, corner, narrow.palette().window().color()));
}

void HexViewPaintTest::highlightColumns() {
    FencedBuffer buf(64);
    for (int i = 0; i < 64; ++i) buf.data()[i] = static_cast<std::uint8_t>(0x41 + i % 26);
    QWidget parent;
    MCWndHexEditor view(&parent);
    view.resize(640, HeightForRows(view, 6));
    parent.resize(view.size());
    view.SetData(buf.data(), buf.size());
    // Answers a click as the window does: the element's range again.
    QObject::connect(&view, &MCWndHexEditor::Command, &view, [&view](int) { view.SetHighlight(5, 20); });
    view.SetHighlight(5, 20);
    parent.show();

    const int hexW = view.GetHexCellSize().width();
    const int txtW = view.GetTextCellSize().width();
    // activeHex: whether the hex column is the dark blue one.
    const auto check = [&](bool activeHex) {
        const QImage c = ClientImage(view);
        for (int j = 0; j < 48; ++j) {
            const int row = j / 16, k = j % 16;
            const bool in = j >= 5 && j <= 20;
            const QColor hexFill = !in ? kWhite : activeHex ? kBlue : kCyan;
            const QColor txtFill = !in ? kWhite : activeHex ? kCyan : kBlue;
            const QString what = QStringLiteral("byte %1").arg(j);
            // The clicked byte carries the caret's box (caretBoxAndRange checks it).
            if (quint64(j) == view.GetCaretByte()) {
                QCOMPARE(c.pixelColor(HexCellRect(view, row, k).topLeft() + QPoint(1, 1)), QColor::fromRgb(MCWndHexEditor::kCaretBox));
                continue;
            }
            QVERIFY2(Uniform(c, FillProbe(HexCellRect(view, row, k)), hexFill), qPrintable(what));
            QVERIFY2(Uniform(c, FillProbe(TextCellRect(view, row, k)), txtFill), qPrintable(what));
            // Text: white on dark blue, black on light cyan and on white.
            const QString hex = QString::asprintf("%02X", 0x41 + j % 26);
            const QString chr = QString(QChar(0x41 + j % 26));
            QVERIFY2(SameText(c, HexCellRect(view, row, k),
                              CellReference(view, hexW, hex, hexFill == kBlue ? kWhite : kBlack, hexFill)),
                     qPrintable(what));
            QVERIFY2(SameText(c, TextCellRect(view, row, k),
                              CellReference(view, txtW, chr, txtFill == kBlue ? kWhite : kBlack, txtFill)),
                     qPrintable(what));
        }
        // The grid lines stay over the fill.
        QVERIFY(Uniform(c, QRect(view.GetHexCell(7).second, 0, 1, c.height()), kGrey));
    };

    check(true);
    if (QTest::currentTestFailed()) return;

    // A click in the text column makes it the dark blue one.
    const auto t = view.GetTextCell(9);
    QTest::mouseClick(view.ClientArea(), Qt::LeftButton, {}, QPoint(t.first + 2, 3));
    check(false);
    if (QTest::currentTestFailed()) return;

    // A click outside the cells keeps the side.
    QTest::mouseClick(view.ClientArea(), Qt::LeftButton, {}, QPoint(2, 3));
    check(false);
    if (QTest::currentTestFailed()) return;

    const auto h = view.GetHexCell(2);
    QTest::mouseClick(view.ClientArea(), Qt::LeftButton, {}, QPoint(h.first + 2, 3));
    check(true);
}

// The unread mark fills both columns in pale rose with black text, under
// the highlight, whose colours win where the two meet; it is cut at the end
// of the data, survives new data and a click, and goes on request.
void HexViewPaintTest::unreadUnderTheHighlight() {
    FencedBuffer buf(40);
    for (int i = 0; i < 40; ++i) buf.data()[i] = static_cast<std::uint8_t>(0x41 + i % 26);
    QWidget parent;
    MCWndHexEditor view(&parent);
    view.resize(640, HeightForRows(view, 4));
    parent.resize(view.size());
    view.SetData(buf.data(), buf.size());
    view.SetUnreadRange(10, 1000);
    QCOMPARE(view.GetUnreadEnd(), quint64(39));
    view.SetHighlight(14, 17);
    parent.show();

    const QColor rose = QColor::fromRgb(MCWndHexEditor::kUnreadFill);
    const int hexW = view.GetHexCellSize().width();
    const QImage c = ClientImage(view);
    for (int j = 0; j < 40; ++j) {
        const int row = j / 16, k = j % 16;
        const bool highlighted = j >= 14 && j <= 17;
        const QColor hexFill = highlighted ? kBlue : j >= 10 ? rose : kWhite;
        const QColor txtFill = highlighted ? kCyan : j >= 10 ? rose : kWhite;
        const QString what = QStringLiteral("byte %1").arg(j);
        QVERIFY2(Uniform(c, FillProbe(HexCellRect(view, row, k)), hexFill), qPrintable(what));
        QVERIFY2(Uniform(c, FillProbe(TextCellRect(view, row, k)), txtFill), qPrintable(what));
        const QString hex = QString::asprintf("%02X", 0x41 + j % 26);
        QVERIFY2(SameText(c, HexCellRect(view, row, k),
                          CellReference(view, hexW, hex, hexFill == kBlue ? kWhite : kBlack, hexFill)),
                 qPrintable(what));
    }
    // Past the data nothing is drawn: the cells after byte 39 stay white.
    QVERIFY(Uniform(c, FillProbe(HexCellRect(view, 2, 8)), kWhite));

    const auto h = view.GetHexCell(2);
    QTest::mouseClick(view.ClientArea(), Qt::LeftButton, {}, QPoint(h.first + 2, 3));
    view.SetData(buf.data(), buf.size());
    QCOMPARE(view.GetUnreadStart(), quint64(10));
    view.SetUnreadRange(MCWndHexEditor::kNone, MCWndHexEditor::kNone);
    QCOMPARE(view.GetUnreadStart(), MCWndHexEditor::kNone);
    QVERIFY(Uniform(ClientImage(view), FillProbe(HexCellRect(view, 1, 0)), kWhite));
}

// Where the inflated bytes of a deflated file begin: the offset column of
// every line holding them is tinted, and a 2-pixel line follows the border
// between the bytes before and the bytes from there, in both columns; the
// bytes' own cells keep their fill. Cleared on request.
void HexViewPaintTest::inflatedMark() {
    FencedBuffer buf(80);
    QWidget parent;
    MCWndHexEditor view(&parent);
    view.resize(640, HeightForRows(view, 6));
    parent.resize(view.size());
    view.SetData(buf.data(), buf.size());
    parent.show();
    const QColor tint = QColor::fromRgb(MCWndHexEditor::kInflatedTint);
    const QColor mark = QColor::fromRgb(MCWndHexEditor::kInflatedMark);
    const int lh = view.GetLineHeight();
    // The bottom pixel row of a line's offset label, clear of its text.
    const auto labelFill = [&](const QImage& c, int row) { return At(c, 1, row * lh + lh - 1); };

    view.SetInflatedFrom(37);  // line 2, byte 5
    QCOMPARE(view.GetInflatedFrom(), quint64(37));
    QImage c = ClientImage(view);
    for (int row = 0; row < 6; ++row)
        QVERIFY2(labelFill(c, row) == (row >= 2 && row <= 4 ? tint : kGrey), qPrintable(QString::number(row)));
    for (const auto cell : {&MCWndHexEditor::GetHexCell, &MCWndHexEditor::GetTextCell}) {
        const auto at = [&](int k) { return (view.*cell)(k); };
        const int top = 2 * lh;
        QCOMPARE(At(c, at(5).first, top + lh / 2), mark);                              // left of byte 37
        QCOMPARE(At(c, (at(10).first + at(10).second) / 2, top), mark);                // above byte 42
        QCOMPARE(At(c, (at(2).first + at(2).second) / 2, top + lh - 1), mark);         // under byte 34
        QVERIFY(At(c, (at(2).first + at(2).second) / 2, top) != mark);                // not above it
        QVERIFY(At(c, (at(10).first + at(10).second) / 2, top + lh - 1) != mark);      // nor under 42
        QVERIFY(At(c, (at(5).first + at(5).second) / 2, top + lh) != mark);            // nor under 37
    }
    QVERIFY(Uniform(c, FillProbe(HexCellRect(view, 3, 7)), kWhite));

    // Inflated bytes from the start of a line: one line above it, no step.
    view.SetInflatedFrom(48);
    c = ClientImage(view);
    QCOMPARE(labelFill(c, 2), kGrey);
    QCOMPARE(labelFill(c, 3), tint);
    const auto h0 = view.GetHexCell(0);
    QCOMPARE(At(c, (h0.first + h0.second) / 2, 3 * lh), mark);
    QVERIFY(At(c, h0.first, 3 * lh + lh / 2) != mark);

    view.SetInflatedFrom(MCWndHexEditor::kNone);
    c = ClientImage(view);
    QCOMPARE(labelFill(c, 3), kGrey);
    QVERIFY(At(c, (h0.first + h0.second) / 2, 3 * lh) != mark);
}

void HexViewPaintTest::highlightEndPastData() {
    // An element cut off by the end of the file: the highlight stops at the
    // last byte, the empty cells after it stay white.
    FencedBuffer big(64);
    FencedBuffer buf(17);
    std::memset(buf.data(), 0x11, 17);
    MCWndHexEditor view;
    view.resize(640, HeightForRows(view, 4));
    view.show();

    const auto check = [&] {
        const QImage c = ClientImage(view);
        for (int j = 0; j < 32; ++j) {
            const QColor want = j >= 5 && j <= 16 ? kBlue : kWhite;
            QVERIFY2(Uniform(c, FillProbe(HexCellRect(view, j / 16, j % 16)), want), qPrintable(QString::number(j)));
            const QColor wantText = j >= 5 && j <= 16 ? kCyan : kWhite;
            QVERIFY2(Uniform(c, FillProbe(TextCellRect(view, j / 16, j % 16)), wantText),
                     qPrintable(QString::number(j)));
        }
    };

    view.SetData(buf.data(), buf.size());
    view.SetHighlight(5, 100);
    check();
    if (QTest::currentTestFailed()) return;

    // A highlight set over larger data survives SetData and is drawn only
    // over the bytes that exist.
    view.SetData(big.data(), big.size());
    view.SetHighlight(5, 40);
    view.SetData(buf.data(), buf.size());
    QCOMPARE(view.GetHighlightEnd(), quint64(40));
    check();
}

void HexViewPaintTest::highlightAboveView() {
    FencedBuffer buf(16 * 100);
    MCWndHexEditor view;
    view.resize(640, HeightForRows(view, 10));
    view.SetData(buf.data(), buf.size());
    view.show();
    view.SetHighlight(16 * 5 + 3, 16 * 40);  // line 5 is drawn: no scroll
    QCOMPARE(view.GetScrollPos(), quint64(0));

    // Start above the view: every drawn byte from the first one on.
    view.VerticalScrollBar()->setValue(20);
    QCOMPARE(view.GetFirstLine(), quint64(20));
    QImage c = ClientImage(view);
    QVERIFY(SameText(c, LabelRect(view, 0), LabelReference(view, 20 * 16)));
    for (int row = 0; row < 10; ++row)
        for (int k = 0; k < 16; ++k) QVERIFY(Uniform(c, FillProbe(HexCellRect(view, row, k)), kBlue));

    // End inside the view: line 40 has only its first byte highlighted.
    view.VerticalScrollBar()->setValue(35);
    c = ClientImage(view);
    for (int row = 0; row < 10; ++row) {
        for (int k = 0; k < 16; ++k) {
            const quint64 j = 16 * (35 + row) + k;
            QVERIFY(Uniform(c, FillProbe(HexCellRect(view, row, k)), j <= 16 * 40 ? kBlue : kWhite));
        }
    }
}

void HexViewPaintTest::setHighlightScrolls_data() {
    QTest::addColumn<quint64>("before");  // scroll position before
    QTest::addColumn<quint64>("start");
    QTest::addColumn<quint64>("end");
    QTest::addColumn<quint64>("after");  // scroll position after

    // 100 lines, 10 rows in view.
    QTest::newRow("start line drawn, top") << quint64(30) << quint64(16 * 30) << quint64(16 * 31) << quint64(30);
    QTest::newRow("start line drawn, bottom")
        << quint64(30) << quint64(16 * 39 + 15) << quint64(16 * 60) << quint64(30);
    QTest::newRow("start just below view") << quint64(30) << quint64(16 * 40) << quint64(16 * 41) << quint64(40);
    QTest::newRow("start far below") << quint64(0) << quint64(16 * 77 + 4) << quint64(16 * 90) << quint64(77);
    QTest::newRow("start just above view") << quint64(30) << quint64(16 * 29 + 15) << quint64(16 * 30) << quint64(29);
    QTest::newRow("start on last line") << quint64(0) << quint64(16 * 99) << quint64(16 * 99 + 2) << quint64(99);
    QTest::newRow("none scrolls to top") << quint64(30) << quint64(0xFFFFFFFF) << quint64(0xFFFFFFFF) << quint64(0);
    QTest::newRow("start past the data") << quint64(0) << quint64(16 * 500) << quint64(16 * 501) << quint64(100);
}

void HexViewPaintTest::setHighlightScrolls() {
    QFETCH(quint64, before);
    QFETCH(quint64, start);
    QFETCH(quint64, end);
    QFETCH(quint64, after);

    FencedBuffer buf(16 * 100);
    MCWndHexEditor view;
    view.resize(640, HeightForRows(view, 10, 9));
    view.SetData(buf.data(), buf.size());
    view.show();
    view.VerticalScrollBar()->setValue(int(before));
    QCOMPARE(view.GetScrollPos(), before);

    view.SetHighlight(start, end);
    QCOMPARE(view.GetScrollPos(), after);
    QCOMPARE(view.VerticalScrollBar()->value(), int(after));
    // The render follows: the top row shows the new first line.
    const quint64 first = std::min<quint64>(after, 99);
    QVERIFY(SameText(ClientImage(view), LabelRect(view, 0), LabelReference(view, quint32(first * 16))));
}

void HexViewPaintTest::setHighlightRanges_data() {
    QTest::addColumn<quint64>("start");
    QTest::addColumn<quint64>("end");
    QTest::addColumn<quint64>("wantStart");
    QTest::addColumn<quint64>("wantEnd");
    const quint64 none = MCWndHexEditor::kNone;

    // 100 bytes of data, a highlight (10, 20) shown before each request.
    QTest::newRow("inside") << quint64(5) << quint64(20) << quint64(5) << quint64(20);
    QTest::newRow("one byte") << quint64(99) << quint64(99) << quint64(99) << quint64(99);
    QTest::newRow("end past data") << quint64(50) << quint64(1000) << quint64(50) << quint64(99);
    QTest::newRow("end 0xFFFFFFFF") << quint64(50) << quint64(0xFFFFFFFF) << none << none;
    QTest::newRow("window's none") << quint64(0xFFFFFFFF) << quint64(0xFFFFFFFF) << none << none;
    QTest::newRow("kNone") << none << none << none << none;
    QTest::newRow("start past data") << quint64(100) << quint64(120) << none << none;
    QTest::newRow("start after end") << quint64(30) << quint64(20) << none << none;
}

void HexViewPaintTest::setHighlightRanges() {
    QFETCH(quint64, start);
    QFETCH(quint64, end);
    QFETCH(quint64, wantStart);
    QFETCH(quint64, wantEnd);

    FencedBuffer buf(100);
    MCWndHexEditor view;
    view.resize(640, HeightForRows(view, 10));
    view.SetData(buf.data(), buf.size());
    view.SetHighlight(10, 20);
    view.SetHighlight(start, end);
    QCOMPARE(view.GetHighlightStart(), wantStart);
    QCOMPARE(view.GetHighlightEnd(), wantEnd);
    QCOMPARE(view.GetCaretOffset(), MCWndHexEditor::kNone);
}

void HexViewPaintTest::rendersOnlyInsideBuffer() {
    // Every size around the line boundaries, every scroll position class,
    // highlights reaching past the data, a view of 0, 1 and a few rows; the
    // buffer is fenced by inaccessible pages, so a stray read crashes.
    const quint64 sizes[] = {0, 1, 15, 16, 17, 31, 32, 33, 255, 4096, 4097};
    const int heights[] = {0, 1, 2, 7};  // rows
    MCWndHexEditor view;
    view.show();
    QImage target(700, 400, QImage::Format_RGB32);
    for (quint64 size : sizes) {
        FencedBuffer buf(size);
        QVERIFY(buf.ok());
        std::memset(buf.data(), 0xA5, size);
        view.SetData(buf.data(), size);
        const quint64 lines = view.GetLineCount();
        const std::pair<quint64, quint64> ranges[] = {
            {0, size + 50}, {size ? size - 1 : 0, size + 5}, {size + 3, size + 90}, {0, MCWndHexEditor::kNone}};
        for (int rows : heights) {
            view.resize(640, HeightForRows(view, rows, 3));
            for (quint64 pos : {quint64(0), lines / 2, lines ? lines - 1 : 0, lines}) {
                for (const auto& r : ranges) {
                    view.SetHighlight(r.first, r.second);
                    view.VerticalScrollBar()->setValue(int(pos));
                    view.render(&target);
                }
            }
        }
    }
    view.SetData(nullptr, 1000);  // a size without a buffer is no data
    QCOMPARE(view.GetDataSize(), quint64(0));
    QCOMPARE(view.GetLineCount(), quint64(0));
    QVERIFY(view.VerticalScrollBar()->isHidden());
    view.render(&target);
}

// Bytes from a source paint exactly as the same bytes from a buffer, in every
// scroll position and with a highlight; only the drawn lines are read; lines
// the source cannot deliver show no bytes, and nothing else changes.
void HexViewPaintTest::sourcePaintsAsBuffer() {
    std::vector<std::uint8_t> bytes(16 * 40 + 9);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    MCWndHexEditor fromBuffer, fromSource;
    TestSource source(bytes, bytes.size());
    for (MCWndHexEditor* v : {&fromBuffer, &fromSource}) v->resize(640, HeightForRows(*v, 8));
    fromBuffer.SetData(bytes.data(), bytes.size());
    fromSource.SetSource(&source, bytes.size());
    fromBuffer.show();
    fromSource.show();
    QCOMPARE(fromSource.GetLineCount(), fromBuffer.GetLineCount());
    const struct {
        quint64 start, end;
    } highlights[] = {{MCWndHexEditor::kNone, MCWndHexEditor::kNone}, {5, 20}, {16 * 20 + 3, 16 * 38}, {640, 648}};
    for (const auto& h : highlights) {
        for (MCWndHexEditor* v : {&fromBuffer, &fromSource}) v->SetHighlight(h.start, h.end);
        source.asked = 0;
        QVERIFY(SameImage(ClientImage(fromSource), ClientImage(fromBuffer)));
        QVERIFY(source.asked <= quint64(16 * fromSource.GetVisibleLines()));
    }

    // A source that fails past byte 320: the view of the last lines shows
    // labels and highlight but no bytes, like a view of no bytes there.
    TestSource shrunk(bytes, 320);
    MCWndHexEditor failing;
    failing.resize(640, HeightForRows(failing, 8));
    failing.SetSource(&shrunk, bytes.size());
    failing.show();
    failing.SetHighlight(640, 648);
    const QImage img = ClientImage(failing);
    fromBuffer.SetData(bytes.data(), bytes.size());
    fromBuffer.SetHighlight(640, 648);
    QVERIFY(!SameImage(img, ClientImage(fromBuffer)));
    const int bytesLeft = failing.GetHexCell(0).first;
    QVERIFY(SameImage(img.copy(0, 0, bytesLeft, img.height()),
                      ClientImage(fromBuffer).copy(0, 0, bytesLeft, img.height())));
    fromSource.SetSource(nullptr, 100);
    QCOMPARE(fromSource.GetDataSize(), quint64(0));
}

QTEST_MAIN(HexViewPaintTest)
#include "hexview_paint_test.moc"
