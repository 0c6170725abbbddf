// Selection sync through the real dialog: the property rows of a selected
// item with the hex view's highlight, and clicks in the hex view selecting
// the outermost element under the byte.
#include <QTableWidget>
#include <QTest>

#include "app/QuillonResources.h"
#include "tests/qt/app_support.h"

using namespace quillon;
using apptest::Q;

class AppSyncTest : public QObject {
    Q_OBJECT

private:
    QStringList Values(const CQuillonDlg& dlg) {
        QStringList values;
        for (int row = 0; row < 7; ++row) values << dlg.PropertyValue(row);
        return values;
    }

private slots:
    void initTestCase() { m_settings = std::make_unique<apptest::ScratchSettings>(); }

    void propertyRows_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("element");
        QTest::addColumn<int>("nth");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<quint64>("first");
        QTest::addColumn<quint64>("last");
        QTest::newRow("element") << 0x0002 << 0x0010 << 1
                                 << QStringList{"0002, 0010", "Transfer Syntax UID", "UI", "180", "188",
                                                "20",         "1.2.840.10008.1.2.1"}
                                 << quint64(180) << quint64(207);
        QTest::newRow("item") << 0xFFFE << 0xE000 << 2
                              << QStringList{"FFFE, E000", "SQ Item", "", "294", "302", "FFFFFFFF", ""} << quint64(294)
                              << quint64(323);
        QTest::newRow("undefined-length sequence")
            << 0x0008 << 0x1115 << 1
            << QStringList{"0008, 1115", "Referenced Series Sequence", "SQ", "236", "248", "FFFFFFFF", ""}
            << quint64(236) << quint64(331);
        QTest::newRow("empty element") << 0x0010 << 0x0030 << 1
                                       << QStringList{"0010, 0030", "Patient's Birth Date", "DA", "394", "402", "0", ""}
                                       << quint64(394) << quint64(401);
        QTest::newRow("value in the item's character set")
            << 0x0010 << 0x0010 << 1 << QStringList{"0010, 0010", "Patient's Name", "PN", "274", "282", "4", "Doe "}
            << quint64(274) << quint64(285);
    }

    void propertyRows() {
        QFETCH(int, group);
        QFETCH(int, element);
        QFETCH(int, nth);
        QFETCH(QStringList, values);
        QFETCH(quint64, first);
        QFETCH(quint64, last);
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        const QModelIndex item = apptest::ItemOf(dlg, uint16_t(group), uint16_t(element), nth);
        QVERIFY(item.isValid());
        dlg.Tree()->setCurrentIndex(item);
        QCOMPARE(Values(dlg), values);
        QCOMPARE(dlg.HexView()->GetHighlightStart(), first);
        QCOMPARE(dlg.HexView()->GetHighlightEnd(), last);
        QCOMPARE(dlg.Picture().toImage(), quillon::DefaultPicture().toImage());
    }

    void frameNode() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("native.dcm", doctest_files::NativeFramesFile(3))));
        dlg.WaitForThumbnails();
        const QModelIndex pixel = apptest::ItemOf(dlg, 0x7FE0, 0x0010);
        dlg.Tree()->setCurrentIndex(pixel);
        const quint64 p = dlg.PropertyValue(4).toULongLong();
        QCOMPARE(dlg.PropertyValue(3).toULongLong(), p - 12);  // OB: the long header

        dlg.Tree()->setCurrentIndex(dlg.TreeModel()->index(2, 0, pixel));
        QCOMPARE(Values(dlg), (QStringList{"7FE0, 0010", "Frame Data", "OB", QString::number(p + 8),
                                           QString::number(p + 8), "4", "0"}));
        QCOMPARE(dlg.HexView()->GetHighlightStart(), p + 8);
        QCOMPARE(dlg.HexView()->GetHighlightEnd(), p + 11);
        // Frame 3 of the fixture is grey 3 everywhere: its thumbnail fills the picture.
        const QImage picture = dlg.Picture().toImage();
        QCOMPARE(picture.size(), QSize(128, 128));
        for (const QPoint at : {QPoint(0, 0), QPoint(64, 64), QPoint(127, 127)})
            QCOMPARE(QColor(picture.pixel(at)), QColor(3, 3, 3));
        // Any other element shows the default picture again.
        dlg.Tree()->setCurrentIndex(pixel);
        QCOMPARE(dlg.Picture().toImage(), quillon::DefaultPicture().toImage());
    }

    void longValueIsCut() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        apptest::BoxRecorder boxes;
        const std::vector<uint16_t> numbers(100, 1000);  // "1000 \1000 \..." 599 characters
        dlg.OpenDocument(Q(dir.Write("long.dcm", doctest_files::NumberListFile(numbers))));
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0028, 0x3006));
        const QString value = dlg.PropertyValue(6);
        QCOMPARE(value.size(), 255);
        QVERIFY(value.startsWith(QStringLiteral("1000 \\1000 \\")));
        QVERIFY(value.endsWith(QStringLiteral("...")));
        QCOMPARE(value.left(252), (QStringLiteral("1000 \\").repeated(43)).left(252));
    }

    // A click on a byte selects the outermost element that holds it,
    // expanded; the rows and the highlight follow.
    void clickSelectsTheOutermostElement_data() {
        QTest::addColumn<quint64>("offset");
        QTest::addColumn<bool>("textColumn");
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("element");
        QTest::addColumn<quint64>("first");
        QTest::addColumn<quint64>("last");
        QTest::newRow("name inside an item")
            << quint64(280) << false << 0x0008 << 0x1115 << quint64(236) << quint64(331);
        QTest::newRow("text column, delimiter")
            << quint64(330) << true << 0x0008 << 0x1115 << quint64(236) << quint64(331);
        QTest::newRow("first byte of an element")
            << quint64(132) << false << 0x0002 << 0x0001 << quint64(132) << quint64(145);
        QTest::newRow("after an empty element")
            << quint64(402) << false << 0x0020 << 0x0013 << quint64(402) << quint64(411);
        QTest::newRow("empty element's header")
            << quint64(400) << true << 0x0010 << 0x0030 << quint64(394) << quint64(401);
    }

    void clickSelectsTheOutermostElement() {
        QFETCH(quint64, offset);
        QFETCH(bool, textColumn);
        QFETCH(int, group);
        QFETCH(int, element);
        QFETCH(quint64, first);
        QFETCH(quint64, last);
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0020));

        apptest::ClickByte(dlg.HexView(), offset, textColumn);
        const QModelIndex selected = dlg.Tree()->currentIndex();
        QCOMPARE(selected, apptest::ItemOf(dlg, uint16_t(group), uint16_t(element)));
        QCOMPARE(selected.parent(), dlg.TreeModel()->RootIndex());
        QCOMPARE(dlg.PropertyValue(0),
                 QStringLiteral("%1, %2").arg(group, 4, 16, QChar('0')).arg(element, 4, 16, QChar('0')).toUpper());
        QCOMPARE(dlg.HexView()->GetHighlightStart(), first);
        QCOMPARE(dlg.HexView()->GetHighlightEnd(), last);
        if (dlg.TreeModel()->rowCount(selected) > 0) QVERIFY(dlg.Tree()->isExpanded(selected));
        QCOMPARE(dlg.HexView()->GetActiveColumn(), textColumn ? 1 : 0);
    }

    // A click in the preamble, or outside the bytes, selects the root: blank
    // rows, no highlight, the view back at its first line.
    void clickOutsideElementsSelectsTheRoot_data() {
        QTest::addColumn<QString>("where");
        QTest::newRow("preamble") << "preamble";
        QTest::newRow("DICM") << "dicm";
        QTest::newRow("offset column") << "offsets";
    }

    void clickOutsideElementsSelectsTheRoot() {
        QFETCH(QString, where);
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0020));  // line 23, scrolled to the top
        QVERIFY(dlg.HexView()->GetFirstLine() > 0);
        if (where == "preamble") {
            apptest::ClickByte(dlg.HexView(), 5);
        } else if (where == "dicm") {
            apptest::ClickByte(dlg.HexView(), 129, true);
        } else {
            apptest::ClickOffsetColumn(dlg.HexView());
        }
        QCOMPARE(dlg.Tree()->currentIndex(), dlg.TreeModel()->RootIndex());
        for (int row = 0; row < 7; ++row) QCOMPARE(dlg.PropertyValue(row), QStringLiteral(" "));
        QCOMPARE(dlg.HexView()->GetHighlightStart(), MCWndHexEditor::kNone);
        QCOMPARE(dlg.HexView()->GetFirstLine(), 0u);
    }

    // Without a document a click selects nothing and changes nothing.
    void clickWithoutDocument() {
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        apptest::ClickOffsetColumn(dlg.HexView());
        QVERIFY(!dlg.Tree()->currentIndex().isValid());
        QCOMPARE(dlg.PropertyValue(0), QString());
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
};

QTEST_MAIN(AppSyncTest)
#include "app_sync_test.moc"
