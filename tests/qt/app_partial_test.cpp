// A file cut part way in the real dialog: the box of a refused file first,
// then the tree as far as it was read, the unread bytes marked in the hex
// view while the root is selected, the stop chosen in the problems list. And
// Reload (F5, the notice of a file changed on disk) keeping the selection.
#include <QImage>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

#include "app/ProblemsList.h"
#include "tests/qt/app_support.h"

using namespace quillon;
using apptest::Q;

namespace {

testdicom::Bytes Cut(const testdicom::Bytes& bytes, std::size_t size) {
    return testdicom::Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(size));
}

// The colour drawn at the top-left corner of byte `offset`'s hex cell (its
// line must be shown).
QRgb CellColour(MCWndHexEditor* view, quint64 offset) {
    const QImage image = view->ClientArea()->grab().toImage();
    const int row = int(offset / 16 - view->GetFirstLine());
    const auto cell = view->GetHexCell(int(offset % 16));
    const qreal scale = image.devicePixelRatio();
    return image.pixel(int((cell.first + 1) * scale), int((row * view->GetLineHeight() + 1) * scale)) | 0xFF000000;
}

// A new version of SequenceFile: one element more at the start, so that every
// record index after it moves; written beside `path` and renamed over it, as
// editors save.
void ReplaceByRename(const doctest_files::TempDir& dir, const std::filesystem::path& path) {
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    w.text(0x0008, 0x0005, "CS", "ISO_IR 100");
    w.text(0x0008, 0x0016, "UI", testdicom::Pad("1.2.840.10008.5.1.4.1.1.7", '\0'));
    w.text(0x0008, 0x0060, "CS", "OT");
    w.text(0x0010, 0x0010, "PN", testdicom::Pad("Roe^Ann"));
    w.text(0x0010, 0x0020, "LO", testdicom::Pad("12345"));
    std::filesystem::rename(dir.Write("saved.tmp", w.bytes()), path);
}

}  // namespace

class AppPartialTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_settings = std::make_unique<apptest::ScratchSettings>(); }

    void partialDocument() {
        // SequenceFile cut inside the value of (0010,0020) at 380: read up to 380.
        doctest_files::TempDir dir;
        const testdicom::Bytes bytes = Cut(doctest_files::SequenceFile(), 390);
        const QString path = Q(dir.Write("cut.dcm", bytes));
        CQuillonDlg dlg;
        dlg.show();
        QStringList texts;
        bool shownBefore = false;  // the box came after the tree or the bytes were shown
        const ErrorBoxHandler previous = SetErrorBoxHandler([&](QWidget*, const QString&, const QString& text) {
            texts << text;
            shownBefore = shownBefore || !dlg.TreeModel()->IsEmpty() || dlg.HexView()->GetDataSize() != 0;
        });
        dlg.OpenAndRemember(path);
        SetErrorBoxHandler(previous);

        QCOMPARE(texts.size(), 1);
        QCOMPARE(texts[0], QStringLiteral("Invalid DICOM file    \nReading stopped at byte 380, element (0010,0020): "
                                          "the last element is cut off by the end of the file."));
        QVERIFY(!shownBefore);
        QVERIFY(dlg.Document().IsOpen());
        QCOMPARE(apptest::ComboEntries(dlg), QStringList{path});

        // The tree as far as read, the root saying so; the whole file in the hex view.
        ElementTreeModel* model = dlg.TreeModel();
        QCOMPARE(model->RootIndex().data().toString(), path + QStringLiteral(" (read up to byte 380)"));
        QCOMPARE(model->rowCount(model->RootIndex()), 8);
        QVERIFY(apptest::ItemOf(dlg, 0x0010, 0x0010, 2).isValid());
        QVERIFY(!apptest::ItemOf(dlg, 0x0010, 0x0020).isValid());
        MCWndHexEditor* view = dlg.HexView();
        QCOMPARE(view->GetDataSize(), quint64(bytes.size()));

        // The stop is chosen: first in the problems list and current there,
        // the root selected, its unread bytes marked, the view at the stop.
        QVERIFY(dlg.ProblemsList() && dlg.ProblemsList()->isVisible());
        QTreeWidget* rows = dlg.ProblemsList()->List();
        QCOMPARE(rows->currentItem(), rows->topLevelItem(0));
        QCOMPARE(rows->topLevelItem(0)->text(0), QStringLiteral("380"));
        QCOMPARE(rows->topLevelItem(0)->text(2), QStringLiteral("stopped"));
        QCOMPARE(dlg.Tree()->currentIndex(), model->RootIndex());
        QCOMPARE(view->GetUnreadStart(), quint64(380));
        QCOMPARE(view->GetUnreadEnd(), quint64(389));
        QCOMPARE(view->GetHighlightStart(), quint64(380));
        QCOMPARE(CellColour(view, 385), MCWndHexEditor::kUnreadFill);
        QVERIFY(CellColour(view, 370) != MCWndHexEditor::kUnreadFill);

        // Another element: its bytes highlighted, the unread mark gone.
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0010, 2));
        QCOMPARE(view->GetHighlightStart(), quint64(364));
        QCOMPARE(view->GetHighlightEnd(), quint64(379));
        QCOMPARE(view->GetUnreadStart(), MCWndHexEditor::kNone);
        QVERIFY(CellColour(view, 385) != MCWndHexEditor::kUnreadFill);
        // A click on an unread byte selects the root, which marks them again.
        apptest::ClickByte(view, 386);
        QCOMPARE(dlg.Tree()->currentIndex(), model->RootIndex());
        QCOMPARE(view->GetUnreadStart(), quint64(380));

        // A file that is no DICOM at all is still refused: nothing shown,
        // and it leaves the recent list.
        apptest::BoxRecorder boxes;
        const QString text = Q(dir.Write("notes.dcm", testdicom::Bytes(300, 'x')));
        dlg.OpenAndRemember(text);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QVERIFY(!dlg.Document().IsOpen());
        QVERIFY(model->IsEmpty());
        QCOMPARE(view->GetUnreadStart(), MCWndHexEditor::kNone);
        QCOMPARE(apptest::ComboEntries(dlg), QStringList{path});
    }

    // F5 opens the file under the path again, one replaced by rename too,
    // with the element selected before selected again by its tag path.
    void reloadKeepsTheSelection() {
        doctest_files::TempDir dir;
        const std::filesystem::path fsPath = dir.Write("file.dcm", doctest_files::SequenceFile());
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        apptest::BoxRecorder boxes;
        dlg.OpenAndRemember(Q(fsPath));
        QVERIFY(apptest::ComboEntries(dlg).contains(Q(fsPath)));
        const QModelIndex name = apptest::ItemOf(dlg, 0x0010, 0x0010, 2);  // the top-level one
        dlg.Tree()->setCurrentIndex(name);
        const std::size_t before = *dlg.CurrentRecord();

        ReplaceByRename(dir, fsPath);
        QTest::keyClick(&dlg, Qt::Key_F5);
        QVERIFY(boxes.boxes.empty());
        QVERIFY(dlg.Document().IsOpen());
        QVERIFY(apptest::ItemOf(dlg, 0x0008, 0x0016).isValid());  // the new file
        const auto after = dlg.CurrentRecord();
        QVERIFY(after.has_value());
        QVERIFY(*after != before);
        QVERIFY(dlg.Document().Records()[*after].Element()->Is(0x0010, 0x0010));
        QCOMPARE(dlg.Document().Records()[*after].parent, kRootRecord);
        QCOMPARE(dlg.HexView()->GetHighlightStart(), dlg.Document().Range(*after).first);

        // Replaced again: the timer's check notices it and offers Reload,
        // which keeps the selection; deleted, the notice without Reload
        // leaves no document.
        QStringList notices;
        const ChoiceBoxHandler previous =
            SetChoiceBoxHandler([&](QWidget*, const QString&, const QString& text, const QString& choice) {
                notices << text + QLatin1Char('|') + choice;
                return notices.size() == 1;
            });
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0020));
        ReplaceByRename(dir, fsPath);
        QVERIFY(dlg.CheckFileOnDisk());
        QCOMPARE(notices, QStringList{QStringLiteral("The file changed on disk    |&Reload")});
        QVERIFY(dlg.Document().IsOpen());
        QVERIFY(dlg.CurrentRecord().has_value());
        QVERIFY(dlg.Document().Records()[*dlg.CurrentRecord()].Element()->Is(0x0010, 0x0020));
        QVERIFY(!dlg.CheckFileOnDisk());

        std::filesystem::remove(fsPath);
        QVERIFY(dlg.CheckFileOnDisk());
        QCOMPARE(notices.size(), 2);
        QVERIFY(!dlg.Document().IsOpen());
        QVERIFY(dlg.TreeModel()->IsEmpty());
        // F5 where the problems list has the focus reloads as well.
        dlg.ShowProblems();
        QVERIFY(QTest::qWaitForWindowActive(dlg.ProblemsList()));
        ReplaceByRename(dir, fsPath);
        QTest::keyClick(dlg.ProblemsList(), Qt::Key_F5);
        QVERIFY(dlg.Document().IsOpen());
        QVERIFY(apptest::ItemOf(dlg, 0x0008, 0x0016).isValid());
        std::filesystem::remove(fsPath);
        // F5 now finds no file: the usual message, and the path leaves the list.
        QTest::keyClick(&dlg, Qt::Key_F5);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("The file was not found    "));
        QVERIFY(!apptest::ComboEntries(dlg).contains(Q(fsPath)));
        SetChoiceBoxHandler(previous);
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
};

QTEST_MAIN(AppPartialTest)
#include "app_partial_test.moc"
