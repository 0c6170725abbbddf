// Load problems in the real dialog: the marked tree items, the Problems...
// item of the context menu, the list it opens and a chosen problem selecting
// its element, and a refused file's message.
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>

#include "app/Navigation.h"
#include "app/ProblemsList.h"
#include "tests/qt/app_support.h"

using namespace quillon;
using apptest::Q;

namespace {

QAction* ProblemsItem(CQuillonDlg& dlg, QMenu& menu) {
    dlg.Navigation()->FillMenu(menu, true);
    QAction* last = menu.actions().isEmpty() ? nullptr : menu.actions().last();
    return last && last->text() == QStringLiteral("Problems...") ? last : nullptr;
}

QStringList RowTexts(const QTreeWidgetItem* row) {
    QStringList texts;
    for (int column = 0; column < row->columnCount(); ++column) texts << row->text(column);
    return texts;
}

}  // namespace

class AppProblemsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_settings = std::make_unique<apptest::ScratchSettings>(); }

    void markedItemsAndTheProblemsList() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("problems.dcm", doctest_files::ProblemsFile())));
        QVERIFY(dlg.Document().IsOpen());
        QVERIFY(boxes.boxes.empty());
        // The frame's problem comes with its thumbnail, after the open.
        dlg.WaitForThumbnails();

        // Exactly the items that carry a problem are drawn in the problem
        // colour, the root too (the bytes after the pixel data); the tooltip
        // says what is wrong.
        ElementTreeModel* model = dlg.TreeModel();
        const auto& records = dlg.Document().Records();
        int marked = 0;
        for (std::size_t r = 0; r < records.size(); ++r) {
            const QVariant colour = model->IndexOfRecord(r).data(Qt::ForegroundRole);
            QCOMPARE(colour.isValid(), dlg.Document().RecordHasProblem(r));
            if (colour.isValid()) {
                QCOMPARE(colour.value<QColor>(), kProblemColour);
                ++marked;
            }
        }
        // The fourth: the one fragment's bytes are no JPEG stream the decoder
        // takes, found as its thumbnail is made.
        QCOMPARE(marked, 4);
        QCOMPARE(model->RootIndex().data(Qt::ForegroundRole).value<QColor>(), kProblemColour);
        QCOMPARE(apptest::ItemOf(dlg, 0x0010, 0x1000).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("odd-length: the value length 5 is odd"));
        QVERIFY(!apptest::ItemOf(dlg, 0x0010, 0x0010).data(Qt::ToolTipRole).isValid());

        // The menu's last item opens the list: one row per problem, the
        // fields quillon-dump --problems prints.
        QMenu menu;
        QAction* item = ProblemsItem(dlg, menu);
        QVERIFY(item);
        QVERIFY(item->isEnabled());
        item->trigger();
        ProblemsList* list = dlg.ProblemsList();
        QVERIFY(list);
        QVERIFY(list->isVisible());
        QTreeWidget* rows = list->List();
        QCOMPARE(rows->topLevelItemCount(), 5);
        // In offset order: the frame's problem (found last, at its fragment)
        // comes before the trailing bytes.
        const QStringList decode = RowTexts(rows->topLevelItem(3));
        QCOMPARE(decode.mid(1, 2), (QStringList{"FFFE,E000", "frame-decode"}));
        QVERIFY2(decode[3].startsWith("Frame 1 cannot be decoded: "), qPrintable(decode[3]));
        QCOMPARE(RowTexts(rows->topLevelItem(1)),
                 (QStringList{"365", "0040,0009", "tag-order", "the tag is lower than the one before it"}));

        // A click on a problem selects its element as the tree would: the
        // collapsed sequence opens, the rows show it, its bytes light up.
        const QModelIndex tagOrder = apptest::ItemOf(dlg, 0x0040, 0x0009);
        QVERIFY(!dlg.Tree()->isExpanded(tagOrder.parent()));
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, Qt::NoModifier,
                          rows->visualItemRect(rows->topLevelItem(1)).center());
        QCOMPARE(dlg.Tree()->currentIndex(), tagOrder);
        QVERIFY(dlg.Tree()->isExpanded(tagOrder.parent()));
        QCOMPARE(dlg.PropertyValue(0), QStringLiteral("0040, 0009"));
        QCOMPARE(dlg.HexView()->GetHighlightStart(), quint64(365));
        QCOMPARE(dlg.HexView()->GetHighlightEnd(), quint64(376));

        // Enter on the offset table's problem selects the table item; a
        // problem of no element selects the root.
        rows->setFocus();
        rows->setCurrentItem(rows->topLevelItem(2));
        QTest::keyClick(rows, Qt::Key_Return);
        QCOMPARE(dlg.Tree()->currentIndex(), apptest::ItemOf(dlg, 0xFFFE, 0xE000, 2));
        QCOMPARE(dlg.PropertyValue(1), QStringLiteral("SQ Item"));
        rows->setCurrentItem(rows->topLevelItem(4));
        QTest::keyClick(rows, Qt::Key_Return);
        QCOMPARE(dlg.Tree()->currentIndex(), model->RootIndex());
        // The root's rows stay blank; the trailing bytes light up and are in view.
        QCOMPARE(dlg.PropertyValue(0), QStringLiteral(" "));
        const quint64 size = dlg.Document().DataSize();
        QCOMPARE(dlg.HexView()->GetHighlightStart(), size - 8);
        QCOMPARE(dlg.HexView()->GetHighlightEnd(), size - 1);
        const quint64 line = (size - 8) / 16, first = dlg.HexView()->GetFirstLine();
        QVERIFY(first <= line && line < first + quint64(dlg.HexView()->GetVisibleLines()));

        // Choosing the problem of the element already selected shows it again
        // (its highlight comes back after a click elsewhere cleared it).
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, Qt::NoModifier,
                          rows->visualItemRect(rows->topLevelItem(0)).center());
        const QModelIndex odd = apptest::ItemOf(dlg, 0x0010, 0x1000);
        QCOMPARE(dlg.Tree()->currentIndex(), odd);
        dlg.HexView()->SetHighlight(MCWndHexEditor::kNoOffset, MCWndHexEditor::kNoOffset);
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, Qt::NoModifier,
                          rows->visualItemRect(rows->topLevelItem(0)).center());
        QCOMPARE(dlg.HexView()->GetHighlightStart(), quint64(260));

        // Any column sorts (ties in the order found), the offset column as a
        // number; Ctrl+C copies the selected rows as TSV in the order shown,
        // the menu's Copy All Rows every row.
        const auto column = [&](int c) {
            QStringList texts;
            for (int i = 0; i < rows->topLevelItemCount(); ++i) texts << rows->topLevelItem(i)->text(c);
            return texts;
        };
        rows->sortByColumn(2, Qt::AscendingOrder);
        QCOMPARE(column(2), (QStringList{"frame-decode", "odd-length", "offset-table", "tag-order", "trailing-bytes"}));
        rows->sortByColumn(0, Qt::DescendingOrder);
        QCOMPARE(column(0), (QStringList{"441", "421", "417", "365", "260"}));
        rows->clearSelection();
        rows->topLevelItem(4)->setSelected(true);
        rows->topLevelItem(1)->setSelected(true);
        rows->setFocus();
        QTest::keyClick(rows, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("421\tFFFE,E000\tframe-decode\t") + decode[3] +
                     QStringLiteral("\n260\t0010,1000\todd-length\tthe value length 5 is odd\n"));
        rows->actions().at(1)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text().count(QLatin1Char('\n')), 5);
        rows->sortByColumn(0, Qt::AscendingOrder);
        QCOMPARE(column(0), (QStringList{"260", "365", "417", "421", "441"}));

        // A clean file: nothing marked, the item disabled, the open list empty.
        testdicom::Writer cleanFile = testdicom::Part10(testdicom::kExplicitLE, true);
        testdicom::StudyElements(cleanFile);
        cleanFile.text(0x0020, 0x0013, "IS", "7 ");
        dlg.OpenDocument(Q(dir.Write("clean.dcm", cleanFile.bytes())));
        QVERIFY(!model->RootIndex().data(Qt::ForegroundRole).isValid());
        QCOMPARE(rows->topLevelItemCount(), 0);
        QMenu clean;
        QVERIFY(ProblemsItem(dlg, clean));
        QVERIFY(!ProblemsItem(dlg, clean)->isEnabled());
    }

    // The offset column sorts by value, not as text (99 before 900 before
    // 1000); the stop leads the ascending order; equal offsets keep the
    // order found (reversed in the descending one).
    void offsetsSortAsNumbers() {
        DocumentProblems problems;
        const auto add = [&](uint64_t offset, ProblemCode code, const char* text) {
            SLoadProblem p;
            p.offset = offset;
            p.code = code;
            p.text = text;
            problems.Add(p, std::nullopt);
        };
        add(1000, ProblemCode::OddLength, "a");
        add(99, ProblemCode::OddLength, "b");
        add(900, ProblemCode::OddLength, "c");
        add(99, ProblemCode::OddLength, "d");
        add(5000, ProblemCode::Stopped, "e");
        ProblemsList list(nullptr);
        list.Fill(problems);
        QTreeWidget* rows = list.List();
        const auto order = [&] {
            QString texts;
            for (int i = 0; i < rows->topLevelItemCount(); ++i) texts += rows->topLevelItem(i)->text(3);
            return texts;
        };
        QCOMPARE(order(), QStringLiteral("ebdca"));
        rows->sortByColumn(0, Qt::DescendingOrder);
        QCOMPARE(order(), QStringLiteral("acdbe"));
    }

    // A refused file (no DICOM at all; one cut part way is shown as far as
    // read, see app_partial_test): the usual message on the first line, where
    // the parse stopped on the second; its problems stay listed with no tree
    // to select in.
    void refusedFile() {
        doctest_files::TempDir dir;
        const QString path = Q(dir.Write("notes.dcm", testdicom::Bytes(300, 'x')));

        CQuillonDlg dlg;
        dlg.show();
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(path);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        const QStringList lines = boxes.boxes[0].text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("Invalid DICOM file    "));
        QCOMPARE(lines[1], QStringLiteral("Reading stopped at byte 0, element (7878,7878): no DICM at byte 128, and "
                                          "the first tag is implausible in either byte order."));
        QCOMPARE(dlg.TreeModel()->rowCount(), 0);

        QMenu menu;
        QAction* item = ProblemsItem(dlg, menu);
        QVERIFY(item && item->isEnabled());
        item->trigger();
        QTreeWidget* rows = dlg.ProblemsList()->List();
        QCOMPARE(rows->topLevelItemCount(), 1);
        QCOMPARE(rows->topLevelItem(0)->text(2), QStringLiteral("stopped"));
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, Qt::NoModifier,
                          rows->visualItemRect(rows->topLevelItem(0)).center());
        QVERIFY(!dlg.Tree()->currentIndex().isValid());
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
};

QTEST_MAIN(AppProblemsTest)
#include "app_problems_test.moc"
