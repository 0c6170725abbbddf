// The hex view over data of 4 GiB and more, without allocating it: anonymous
// MAP_NORESERVE mappings whose untouched pages read as zero and cost nothing.
#include "hexview_test_support.h"

#include <QApplication>
#include <QWheelEvent>

#include <climits>
#include <cmath>
#include <vector>

using namespace hexview_test;

namespace {

constexpr quint64 k4GiB = 0x100000000ull;

void PlaceView(MCWndHexEditor& view, int rows) {
    view.resize(640, HeightForRows(view, rows));
    view.show();
}

// Point inside hex cell k of a row, in client coordinates.
QPoint InHex(const MCWndHexEditor& v, int k, int row) {
    return QPoint(v.GetHexCell(k).first + 3, row * v.GetLineHeight() + 4);
}

}  // namespace

class HexViewLargeTest : public QObject {
    Q_OBJECT

private slots:
    void past4GiB();
    void moreLinesThanInt();
};

void HexViewLargeTest::past4GiB() {
    const quint64 size = k4GiB + 0x25;  // 4 GiB and 37 bytes
    FencedBuffer buf(size);
    if (!buf.ok()) QSKIP("cannot map 4 GiB of address space");
    for (quint64 j = k4GiB - 16; j < size; ++j) buf.data()[j] = static_cast<std::uint8_t>(0x40 + (j & 0x3F));

    MCWndHexEditor view;
    view.SetData(buf.data(), size);
    PlaceView(view, 6);
    QCOMPARE(view.GetLineCount(), quint64(0x10000003));
    QCOMPARE(view.VerticalScrollBar()->maximum(), 0x10000003);

    // 0xFFFFFFFF is a byte here, not "none".
    view.SetHighlight(0xFFFFFFFF, k4GiB + 5);
    QCOMPARE(view.GetHighlightStart(), quint64(0xFFFFFFFF));
    QCOMPARE(view.GetHighlightEnd(), k4GiB + 5);
    QCOMPARE(view.GetScrollPos(), quint64(0x0FFFFFFF));

    QImage c = ClientImage(view);
    // Labels past 4 GiB show the whole offset, in nine digits, and the
    // column is wide enough for them.
    QVERIFY(SameImage(c.copy(LabelRect(view, 0)), LabelReference(view, 0xFFFFFFF0)));
    QVERIFY(SameImage(c.copy(LabelRect(view, 1)), LabelReference(view, k4GiB)));
    QVERIFY(SameImage(c.copy(LabelRect(view, 2)), LabelReference(view, k4GiB + 0x10)));
    QVERIFY(!SameImage(c.copy(LabelRect(view, 1)), LabelReference(view, 0x00000000)));
    {
        QFontMetrics fm(view.GetFont());
        QVERIFY(fm.horizontalAdvance(QStringLiteral("FFFFFFFFFH:")) <= view.GetOffsetColumnRight());
        view.SetData(buf.data(), k4GiB - 16);  // all offsets in eight digits: the column as ever
        QCOMPARE(view.GetOffsetColumnRight(), fm.horizontalAdvance(QStringLiteral("FFFFFFFFH: ")));
        view.SetData(buf.data(), size);
        view.SetHighlight(0xFFFFFFFF, k4GiB + 5);
        c = ClientImage(view);
    }
    for (int row = 0; row < 3; ++row) {
        for (int k = 0; k < 16; ++k) {
            const quint64 j = 16 * (0x0FFFFFFFull + row) + k;
            const bool in = j >= 0xFFFFFFFF && j <= k4GiB + 5;
            const QRect cell = HexCellRect(view, row, k);
            if (j >= size) {
                QVERIFY(Uniform(c, cell.adjusted(1, 0, 0, 0), kWhite));
                continue;
            }
            const QColor fill = in ? kBlue : kWhite;
            QVERIFY(Uniform(c, FillProbe(cell), fill));
            const QImage ref = CellReference(view, cell.width(), QString::asprintf("%02X", 0x40 + int(j & 0x3F)),
                                             in ? kWhite : kBlack, fill);
            QVERIFY2(SameText(c, cell, ref), qPrintable(QString::number(j, 16)));
        }
    }

    // Clicks on bytes at and past 4 GiB give their true offsets.
    std::vector<quint64> carets;
    QObject::connect(&view, &MCWndHexEditor::Command, &view, [&] { carets.push_back(view.GetCaretOffset()); });
    QTest::mouseClick(view.ClientArea(), Qt::LeftButton, {}, InHex(view, 15, 0));
    QTest::mouseClick(view.ClientArea(), Qt::LeftButton, {}, InHex(view, 2, 1));
    QTest::mouseClick(view.ClientArea(), Qt::LeftButton, {}, InHex(view, 9, 2));
    QCOMPARE(carets, (std::vector<quint64>{0xFFFFFFFF, k4GiB + 2, k4GiB + 16 + 9}));
    QCOMPARE(view.GetCaretOffset(), MCWndHexEditor::kNone);

    // The window's none still means none.
    view.SetHighlight(0xFFFFFFFF, 0xFFFFFFFF);
    QCOMPARE(view.GetHighlightStart(), MCWndHexEditor::kNone);
    QCOMPARE(view.GetScrollPos(), quint64(0));

    // The end of the data: bottom, line down at the end, wheel; drawn from
    // the fenced buffer without reading past it.
    QScrollBar* bar = view.VerticalScrollBar();
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(view.GetScrollPos(), quint64(0x10000003 - 6));
    view.grab();
    bar->setValue(bar->maximum());
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(view.GetScrollPos(), quint64(0x10000003));
    QCOMPARE(view.GetFirstLine(), quint64(0x10000002));
    view.grab();
}

void HexViewLargeTest::moreLinesThanInt() {
    // 40 GiB: 0xA0000000 lines, beyond the int range of a scroll bar.
    const quint64 size = 40 * (1ull << 30) - 3;
    const quint64 lines = size / 16 + 1;
    FencedBuffer buf(size);
    if (!buf.ok()) QSKIP("cannot map 40 GiB of address space");
    for (quint64 j = size - 64; j < size; ++j) buf.data()[j] = 0x5A;

    MCWndHexEditor view;
    view.SetData(buf.data(), size);
    PlaceView(view, 8);
    QScrollBar* bar = view.VerticalScrollBar();
    QCOMPARE(view.GetLineCount(), lines);
    QCOMPARE(bar->maximum(), INT_MAX);

    // Line and page requests move exact lines even where the bar cannot show it.
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(view.GetScrollPos(), quint64(1));
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(view.GetScrollPos(), quint64(11));
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(view.GetScrollPos(), quint64(10));

    // The thumb spans the whole range, both ends included.
    const quint64 step = lines / INT_MAX + 1;  // lines per bar unit, at most
    const struct {
        int track;
        quint64 line;
    } drags[] = {{INT_MAX, lines}, {INT_MAX / 2, lines / 2}, {1, 1}, {0, 0}};
    for (const auto& d : drags) {
        bar->setSliderDown(true);
        bar->setSliderPosition(d.track);
        bar->setSliderDown(false);
        const quint64 got = view.GetScrollPos();
        QVERIFY2(got <= lines && (got > d.line ? got - d.line : d.line - got) < step,
                 qPrintable(QStringLiteral("%1 -> %2").arg(d.track).arg(got)));
        view.grab();
    }

    // A highlight at the very end scrolls its line to the top; the bar
    // follows proportionally.
    view.SetHighlight(size - 20, size - 1);
    QCOMPARE(view.GetScrollPos(), (size - 20) / 16);
    const double proportional = double((size - 20) / 16) / double(lines) * INT_MAX;
    QVERIFY(std::abs(bar->value() - proportional) <= 1.0);
    const QImage c = ClientImage(view);
    QVERIFY(SameImage(c.copy(LabelRect(view, 0)), LabelReference(view, ((size - 20) / 16) * 16)));
    QVERIFY(Uniform(c, FillProbe(HexCellRect(view, 1, int((size - 1) % 16))), kBlue));

    // Bottom, line down at the end, wheel at the end.
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(view.GetScrollPos(), lines - 8);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(view.GetScrollPos(), lines);
    QCOMPARE(bar->value(), INT_MAX);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(view.GetScrollPos(), lines);
    view.grab();
    // A hit far past 4 GiB.
    QCOMPARE(view.HitTest(InHex(view, 4, 0)), 16 * (lines - 1) + 4);
}

QTEST_MAIN(HexViewLargeTest)
#include "hexview_large_test.moc"
