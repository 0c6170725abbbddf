// Finding one's way in a file through the real dialog: a file from the
// command line, dropped files, the Open dialog's folder, go to offset, find,
// drill-down clicks, the copy actions and the resizable window.
#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "app/CQuillonApp.h"
#include "app/FindBar.h"
#include "app/GoToOffsetBar.h"
#include "app/Navigation.h"
#include "tests/qt/app_support.h"

using namespace quillon;
using apptest::Q;

namespace {

// Byte offsets of the sequence file (tests/support/DocTestFiles.h).
constexpr quint64 kSequenceFirst = 236, kSequenceLast = 331;
constexpr quint64 kItemFirst = 248, kItemLast = 293;
constexpr quint64 kNameFirst = 274, kNameLast = 285;
constexpr quint64 kFileSize = 412;

QAction* ActionNamed(QMenu& menu, const QString& text) {
    for (QAction* a : menu.actions())
        if (a->text() == text) return a;
    return nullptr;
}

// Whether the line of byte `offset` is on the screen.
bool InView(MCWndHexEditor* view, quint64 offset) {
    const quint64 line = offset / 16;
    return view->GetFirstLine() <= line && line < view->GetFirstLine() + quint64(view->GetVisibleLines());
}

// The tag text of the selected element (property row 0).
QString SelectedTag(CQuillonDlg& dlg) { return dlg.PropertyValue(0); }

}  // namespace

class AppNavigationTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_settings = std::make_unique<apptest::ScratchSettings>(); }
    void init() {
        m_settings->Store({});
        QGuiApplication::clipboard()->clear();
    }

    // quillon FILE: the file is opened once the dialog runs, under its
    // absolute path, and enters the recent list like a file chosen with Open.
    void commandLineFile() {
        doctest_files::TempDir dir;
        const QString path = Q(dir.Write("seq.dcm", doctest_files::SequenceFile()));
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(Q(dir.path()));
        CQuillonDlg dlg;
        CQuillonApp::PrepareDialog(dlg, QStringLiteral("seq.dcm"));
        QDir::setCurrent(cwd);
        QVERIFY(!dlg.Document().IsOpen());  // not before the dialog runs
        QTRY_VERIFY(dlg.Document().IsOpen());
        QCOMPARE(dlg.SizeLabel()->text(), QStringLiteral("Size : %1").arg(kFileSize));
        QCOMPARE(apptest::ComboEntries(dlg), QStringList{path});
        QCOMPARE(dlg.RecentCombo()->currentIndex(), 0);
        QCOMPARE(m_settings->Stored().first(), path);
        QCOMPARE(dlg.TreeModel()->data(dlg.TreeModel()->RootIndex(), Qt::DisplayRole).toString(), path);
    }

    // A missing file from the command line fails like one chosen with Open.
    void commandLineMissingFile() {
        doctest_files::TempDir dir;
        apptest::BoxRecorder boxes;
        CQuillonDlg dlg;
        CQuillonApp::PrepareDialog(dlg, Q(dir.path() / "gone.dcm"));
        QTRY_COMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("The file was not found    "));
        QVERIFY(apptest::ComboEntries(dlg).isEmpty());
    }

    // Several dropped files: the first local one is opened and remembered;
    // a drop without a local file is refused.
    void drop() {
        doctest_files::TempDir dir;
        const QString first = Q(dir.Write("a.dcm", doctest_files::SequenceFile()));
        const QString second = Q(dir.Write("b.dcm", doctest_files::NativeFramesFile(2)));
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.acceptDrops());

        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("https://example.org/x.dcm"))});
        QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &refused);
        QVERIFY(!refused.isAccepted());

        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(dlg.Document().IsOpen());
        QCOMPARE(QString::fromStdU16String(dlg.Document().Path()), first);
        QCOMPARE(apptest::ComboEntries(dlg), QStringList{first});
        QCOMPARE(dlg.RecentCombo()->currentIndex(), 0);
    }

    // The Open dialog starts in the folder of the last file opened; before
    // any, in that of the newest entry of the recent list.
    void openDialogFolder() {
        doctest_files::TempDir one, two;
        std::filesystem::create_directory(two.path() / "sub");
        const QString inOne = Q(one.Write("a.dcm", doctest_files::SequenceFile()));
        const QString inTwo = Q(two.Write("sub/b.dcm", doctest_files::SequenceFile()));
        m_settings->Store({inTwo, inOne});
        CQuillonDlg dlg;
        QCOMPARE(dlg.OpenFolder(), Q(one.path()));
        dlg.OpenDocument(inTwo);
        QCOMPARE(dlg.OpenFolder(), Q(two.path() / "sub"));

        // The real file dialog, cancelled.
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QString shown;
        QStringList filters;
        QTimer::singleShot(0, [&] {
            auto* fileDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!fileDialog) return;
            shown = fileDialog->directory().absolutePath();
            filters = fileDialog->nameFilters();
            fileDialog->reject();
        });
        QTest::mouseClick(dlg.OpenButton(), Qt::LeftButton);
        QCOMPARE(shown, Q(two.path() / "sub"));
        QCOMPARE(filters, (QStringList{QStringLiteral("DICOM files (*.dcm *.dicom DICOMDIR)"),
                                       QStringLiteral("All files (*)")}));
        QCOMPARE(QString::fromStdU16String(dlg.Document().Path()), inTwo);
    }

    // Ctrl+G, an offset in each notation, Enter: the outermost element that
    // holds the byte is selected and scrolled to; the bar closes and the
    // dialog stays open. Past the end: a message in the bar, nothing else.
    void goToOffset_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<quint64>("first");
        QTest::addColumn<quint64>("last");
        QTest::newRow("decimal") << "280"
                                 << "0008, 1115" << kSequenceFirst << kSequenceLast;
        QTest::newRow("0x hex") << "0x118"
                                << "0008, 1115" << kSequenceFirst << kSequenceLast;
        QTest::newRow("h hex") << "17Ch"
                               << "0010, 0020" << quint64(380) << quint64(393);
        QTest::newRow("last byte") << "411"
                                   << "0020, 0013" << quint64(402) << quint64(411);
        QTest::newRow("preamble: the root") << "0x10"
                                            << " " << MCWndHexEditor::kNone << MCWndHexEditor::kNone;
    }

    void goToOffset() {
        QFETCH(QString, typed);
        QFETCH(QString, tag);
        QFETCH(quint64, first);
        QFETCH(quint64, last);
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        // Start elsewhere, scrolled away from the target's line.
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0002, 0x0001));
        const QRect hexBefore = dlg.HexView()->geometry();

        QTest::keyClick(&dlg, Qt::Key_G, Qt::ControlModifier);
        GoToOffsetBar* bar = dlg.Navigation()->GoToBar();
        QVERIFY(bar->isVisible());
        QVERIFY(bar->Edit()->hasFocus());
        QVERIFY(dlg.HexViewFrame()->geometry().contains(bar->geometry()));
        QTest::keyClicks(bar->Edit(), typed);
        QTest::keyClick(bar->Edit(), Qt::Key_Return);

        QVERIFY(dlg.isVisible());  // Enter went to the bar, not to the dialog
        QVERIFY(!bar->isVisible());
        QCOMPARE(SelectedTag(dlg), tag);
        QCOMPARE(dlg.HexView()->GetHighlightStart(), first);
        QCOMPARE(dlg.HexView()->GetHighlightEnd(), last);
        if (first != MCWndHexEditor::kNone) {
            QVERIFY(InView(dlg.HexView(), first));
            QCOMPARE(dlg.Tree()->currentIndex().parent(), dlg.TreeModel()->RootIndex());
        } else {
            QCOMPARE(dlg.Tree()->currentIndex(), dlg.TreeModel()->RootIndex());
        }
        QCOMPARE(dlg.HexView()->geometry(), hexBefore);
        QVERIFY(boxes.boxes.empty());
    }

    // Far down a file the hex view scrolls to the element.
    void goToOffsetScrolls() {
        doctest_files::TempDir dir;
        testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
        testdicom::StudyElements(w);
        w.element(0x0042, 0x0011, "OB", testdicom::Bytes(8000, 0x55));
        w.text(0x0020, 0x0013, "IS", testdicom::Pad("7"));
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        const quint64 size = w.bytes().size();
        dlg.OpenDocument(Q(dir.Write("long.dcm", w.bytes())));
        QCOMPARE(dlg.HexView()->GetFirstLine(), 0u);
        QVERIFY(dlg.Navigation()->GoToBar()->Go(QStringLiteral("%1").arg(size - 1)));
        QCOMPARE(SelectedTag(dlg), QStringLiteral("0020, 0013"));
        QVERIFY(dlg.HexView()->GetFirstLine() > 0);
        QVERIFY(InView(dlg.HexView(), size - 1));
        // Going again to the element already selected shows it again.
        dlg.HexView()->SetHighlight(0, 0);
        QVERIFY(dlg.Navigation()->GoToBar()->Go(QStringLiteral("0x%1").arg(size - 2, 0, 16)));
        QCOMPARE(dlg.HexView()->GetHighlightEnd(), size - 1);
        QVERIFY(InView(dlg.HexView(), size - 1));
    }

    void goToOffsetRefused_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::newRow("past the end") << "412"
                                      << "Offset 412 is past the end (the file has 412 bytes)";
        QTest::newRow("far past, hex") << "0xFFFFFFFFFF"
                                       << "Offset 1099511627775 is past the end (the file has 412 bytes)";
        QTest::newRow("not a number") << "12x"
                                      << "Not an offset: type 1234, 0x4D2 or 4D2h";
    }

    void goToOffsetRefused() {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        const QModelIndex before = apptest::ItemOf(dlg, 0x0010, 0x0020);
        dlg.Tree()->setCurrentIndex(before);

        QTest::keyClick(&dlg, Qt::Key_G, Qt::ControlModifier);
        GoToOffsetBar* bar = dlg.Navigation()->GoToBar();
        QTest::keyClicks(bar->Edit(), typed);
        QTest::keyClick(bar->Edit(), Qt::Key_Return);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->Message(), message);
        QCOMPARE(dlg.Tree()->currentIndex(), before);
        QCOMPARE(dlg.HexView()->GetHighlightStart(), quint64(380));
        QVERIFY(boxes.boxes.empty());
        // Esc closes the bar, not the dialog.
        QTest::keyClick(bar->Edit(), Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QVERIFY(dlg.isVisible());
    }

    // Ctrl+F and F3 through every match of a tag, a name and a value, round
    // past the end with "Wrapped to the top"; then "Not found".
    void find_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("tags");  // row 0 of each match, in pre-order
        QTest::addColumn<QStringList>("values");
        QTest::newRow("tag") << "(0010,0010)" << QStringList{"0010, 0010", "0010, 0010"}
                             << QStringList{"Doe ", "Roe^Ann "};
        QTest::newRow("name") << "referenced sop" << QStringList{"0008, 1150", "0008, 1155"}
                              << QStringList{"1.2.3", "1.2"};
        QTest::newRow("value") << "ISO_IR" << QStringList{"0008, 0005", "0008, 0005"}
                               << QStringList{"ISO_IR 100", "ISO_IR 192"};
    }

    void find() {
        QFETCH(QString, query);
        QFETCH(QStringList, tags);
        QFETCH(QStringList, values);
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));

        QTest::keyClick(&dlg, Qt::Key_F, Qt::ControlModifier);
        FindBar* bar = dlg.Navigation()->FindBar();
        QVERIFY(bar->isVisible());
        QTest::keyClicks(bar->Edit(), query);
        QTest::keyClick(bar->Edit(), Qt::Key_Return);
        QVERIFY(dlg.isVisible());
        QCOMPARE(SelectedTag(dlg), tags[0]);
        QCOMPARE(dlg.PropertyValue(6), values[0]);
        QCOMPARE(bar->Message(), QString());
        // F3 from the tree: the next match, then round to the first.
        dlg.Tree()->setFocus();
        QTest::keyClick(dlg.Tree(), Qt::Key_F3);
        QCOMPARE(SelectedTag(dlg), tags[1]);
        QCOMPARE(dlg.PropertyValue(6), values[1]);
        QCOMPARE(bar->Message(), QString());
        QTest::keyClick(dlg.Tree(), Qt::Key_F3);
        QCOMPARE(dlg.PropertyValue(6), values[0]);
        QCOMPARE(bar->Message(), QStringLiteral("Wrapped to the top"));
        // The selected element's bytes are highlighted and in view.
        const quint64 start = dlg.HexView()->GetHighlightStart();
        QVERIFY(start != MCWndHexEditor::kNone);
        QVERIFY(InView(dlg.HexView(), start));

        const QModelIndex before = dlg.Tree()->currentIndex();
        QTest::keyClick(&dlg, Qt::Key_F, Qt::ControlModifier);
        bar->Edit()->setText(QStringLiteral("no such thing"));
        QTest::keyClick(bar->Edit(), Qt::Key_Return);
        QCOMPARE(bar->Message(), QStringLiteral("Not found"));
        QCOMPARE(dlg.Tree()->currentIndex(), before);
        QVERIFY(boxes.boxes.empty());
    }

    // Real encapsulated files, a frame per RLE fragment: each fragment item
    // is labelled with its frame, shows its tag and place in the property
    // list and its bytes in the hex view, and the picture of its frame where
    // the frame can be decoded (rtdose_rle's 32-bit frames cannot); a click
    // on a byte of its value, from the Pixel Data, lands on it.
    void fragmentsOfRealFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("frames");
        QTest::addColumn<bool>("pictures");
        QTest::newRow("rtdose_rle") << "rtdose_rle.dcm" << 15 << false;
        QTest::newRow("SC_rgb_rle_2frame") << "SC_rgb_rle_2frame.dcm" << 2 << true;
    }

    void fragmentsOfRealFiles() {
        QFETCH(QString, name);
        QFETCH(int, frames);
        QFETCH(bool, pictures);
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(QStringLiteral(QUILLON_PYDICOM_DATA "/test_files/") + name);
        QVERIFY(boxes.boxes.empty());
        // The pictures compared are the thumbnails themselves, not "decoding...".
        dlg.WaitForThumbnails();
        const QModelIndex pixel = apptest::ItemOf(dlg, 0x7FE0, 0x0010);
        QCOMPARE(dlg.TreeModel()->rowCount(pixel), frames + 1);
        const CDicomTag7FE0* pixelData = dlg.Document().File()->PixelData();
        QVERIFY(pixelData);
        QCOMPARE(pixelData->FragmentCount(), std::size_t(frames));
        QImage previous;
        for (int k = 1; k <= frames; ++k) {
            const QModelIndex fragment = dlg.TreeModel()->index(k, 0, pixel);
            QCOMPARE(fragment.data().toString(), QStringLiteral("Frame %1").arg(k, 4, 10, QChar('0')));
            // The item header as the file holds it.
            const quint64 at = pixelData->FragmentTagOffset(std::size_t(k - 1));
            uint8_t header[8] = {};
            QVERIFY(dlg.Document().ReadData(at, header, sizeof header));
            QCOMPARE(quint32(header[0] | header[1] << 8 | header[2] << 16 | quint32(header[3]) << 24), 0xE000FFFEu);
            const quint64 length = quint64(header[4]) | quint64(header[5]) << 8 | quint64(header[6]) << 16 |
                                   quint64(header[7]) << 24;

            dlg.Tree()->setCurrentIndex(fragment);
            QCOMPARE(dlg.PropertyValue(0), QStringLiteral("FFFE, E000"));
            QCOMPARE(dlg.PropertyValue(3), QString::number(at));
            QCOMPARE(dlg.PropertyValue(4), QString::number(at + 8));
            QCOMPARE(dlg.PropertyValue(5), QString::number(length));
            QCOMPARE(dlg.HexView()->GetHighlightStart(), at);
            QCOMPARE(dlg.HexView()->GetHighlightEnd(), at + 8 + length - 1);
            if (pictures) {
                // Each frame's own picture.
                const QImage picture = dlg.Picture().toImage();
                QVERIFY(!picture.isNull());
                QVERIFY(picture != previous);
                previous = picture;
            }

            dlg.Tree()->setCurrentIndex(pixel);
            apptest::ClickByte(dlg.HexView(), at + 8 + length / 2);
            QCOMPARE(dlg.Tree()->currentIndex(), fragment);
        }
    }

    // Clicks on one byte inside the first item's (0010,0010): the sequence,
    // the item, the element; at the innermost element the specified
    // behaviour again: the outermost element. A click on the item's own
    // header, which no inner element holds, does the same. A top-level
    // element without inner elements keeps the specified second click: no
    // new selection, the highlight gone.
    void drillDown() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0020));
        MCWndHexEditor* view = dlg.HexView();
        const QModelIndex sequence = apptest::ItemOf(dlg, 0x0008, 0x1115);
        const QModelIndex item = apptest::ItemOf(dlg, 0xFFFE, 0xE000, 1);
        const QModelIndex name = apptest::ItemOf(dlg, 0x0010, 0x0010, 1);
        const struct {
            quint64 offset;
            bool textColumn;
            QModelIndex item;
            quint64 first, last;
        } steps[] = {
            {280, false, sequence, kSequenceFirst, kSequenceLast},
            {280, false, item, kItemFirst, kItemLast},
            {280, true, name, kNameFirst, kNameLast},
            {280, false, sequence, kSequenceFirst, kSequenceLast},  // from the innermost back out
            {250, false, item, kItemFirst, kItemLast},
            {250, false, sequence, kSequenceFirst, kSequenceLast},  // the item's header: no inner element
            {305, true, apptest::ItemOf(dlg, 0xFFFE, 0xE000, 2), 294, 323},
        };
        for (const auto& step : steps) {
            apptest::ClickByte(view, step.offset, step.textColumn);
            QCOMPARE(dlg.Tree()->currentIndex(), step.item);
            QCOMPARE(view->GetHighlightStart(), step.first);
            QCOMPARE(view->GetHighlightEnd(), step.last);
            QCOMPARE(view->GetActiveColumn(), step.textColumn ? 1 : 0);
            if (step.item == name) QCOMPARE(dlg.PropertyValue(6), QStringLiteral("Doe "));
        }
        const QModelIndex leaf = apptest::ItemOf(dlg, 0x0010, 0x0020);
        apptest::ClickByte(view, 385);
        QCOMPARE(dlg.Tree()->currentIndex(), leaf);
        QCOMPARE(view->GetHighlightStart(), quint64(380));
        apptest::ClickByte(view, 385);
        QCOMPARE(dlg.Tree()->currentIndex(), leaf);
        QCOMPARE(view->GetHighlightStart(), MCWndHexEditor::kNone);
    }

    // Each copy action of the tree's and the list's context menu, and Ctrl+C
    // on a property cell.
    void copy() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        QClipboard* clipboard = QGuiApplication::clipboard();

        QMenu none;
        dlg.Navigation()->FillMenu(none, true);
        QVERIFY(!ActionNamed(none, "Copy &Value")->isEnabled());  // nothing selected yet

        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0010, 2));
        const struct {
            const char* action;
            QString text;
        } cases[] = {
            {"Copy &Value", QStringLiteral("Roe^Ann ")},
            {"Copy &Bytes as Hex", QStringLiteral("10 00 10 00 50 4E 08 00 52 6F 65 5E 41 6E 6E 20")},
            {"Copy &Tag Offset", QStringLiteral("364")},
            {"Copy Byte &Range", QStringLiteral("364-379")},
        };
        for (const auto& c : cases) {
            QMenu menu;
            dlg.Navigation()->FillMenu(menu, true);
            QAction* action = ActionNamed(menu, QString::fromLatin1(c.action));
            QVERIFY2(action && action->isEnabled(), c.action);
            clipboard->clear();
            action->trigger();
            QCOMPARE(clipboard->text(), c.text);
            QCOMPARE(dlg.Navigation()->LastMessage(), QString());
        }

        // Ctrl+C in the property list still copies the current cell.
        dlg.PropertyList()->setFocus();
        dlg.PropertyList()->setCurrentCell(3, 1);
        QTest::keyClick(dlg.PropertyList(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("364"));

        // The menu is the tree's and the list's context menu; the hex view's
        // has go to offset and find only. The dialog's own menu is unchanged.
        for (QWidget* w : {static_cast<QWidget*>(dlg.Tree()), static_cast<QWidget*>(dlg.PropertyList()),
                           static_cast<QWidget*>(dlg.HexView())}) {
            QStringList seen;
            QTimer::singleShot(0, [&] {
                if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                    for (QAction* a : menu->actions())
                        if (!a->isSeparator()) seen << a->text();
                    menu->close();
                }
            });
            emit w->customContextMenuRequested(QPoint(10, 10));
            QVERIFY(seen.contains("&Go to Offset..."));
            QVERIFY(seen.contains("&Find..."));
            QVERIFY(seen.contains("&About Quillon..."));
            QCOMPARE(seen.contains("Copy &Value"), w != dlg.HexView());
        }
    }

    // A value longer than the list shows, a placeholder value and 16 MiB cut.
    void copyLongValues() {
        doctest_files::TempDir dir;
        testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
        testdicom::StudyElements(w);
        const std::string comment(600, 'c');
        w.text(0x0010, 0x4000, "LT", comment);
        testdicom::Bytes numbers;  // 300 US values, "0 \\1 \\2 ... \\299 ": past the list's cut
        QString numbersText;
        for (int v = 0; v < 300; ++v) {
            numbers.push_back(uint8_t(v));
            numbers.push_back(uint8_t(v >> 8));
            numbersText += QStringLiteral("%1%2 ").arg(v ? QStringLiteral("\\") : QString()).arg(v);
        }
        w.element(0x0028, 0x1201, "US", numbers);
        testdicom::Bytes big(17 * 1024 * 1024, 0xAB);
        w.element(0x7FE0, 0x0010, "OB", big);
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.OpenDocument(Q(dir.Write("long.dcm", w.bytes())));
        QClipboard* clipboard = QGuiApplication::clipboard();

        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x4000));
        QCOMPARE(dlg.PropertyValue(6), QStringLiteral("(Long Size Data)"));
        QMenu menu;
        dlg.Navigation()->FillMenu(menu, true);
        ActionNamed(menu, "Copy &Value")->trigger();
        QCOMPARE(clipboard->text(), QString::fromStdString(comment));

        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0028, 0x1201));
        QCOMPARE(dlg.PropertyValue(6), numbersText.left(252) + QStringLiteral("..."));
        QMenu list;
        dlg.Navigation()->FillMenu(list, true);
        ActionNamed(list, "Copy &Value")->trigger();
        QCOMPARE(clipboard->text(), numbersText);

        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x7FE0, 0x0010));
        QMenu pixels;
        dlg.Navigation()->FillMenu(pixels, true);
        ActionNamed(pixels, "Copy &Bytes as Hex")->trigger();
        const qsizetype limit = 16 * 1024 * 1024;
        QCOMPARE(clipboard->text().size(), limit * 3 - 1);
        QVERIFY(clipboard->text().startsWith(QStringLiteral("E0 7F 10 00 4F 42 00 00 00 00 10 01 AB AB")));
        QCOMPARE(dlg.Navigation()->LastMessage(),
                 QStringLiteral("Copied the first 16777216 of %1 bytes (16 MiB)").arg(big.size() + 12));
    }

    // On a small screen the window opens no larger than the screen with every
    // control inside it; enlarged, the tree and the hex view take the room.
    void windowFits() {
        const QSize designed = [] {
            CQuillonDlg dlg;
            return dlg.size();
        }();
        {
            // A screen with room: the designed size and layout.
            CQuillonDlg dlg;
            QList<QRect> before;
            for (QWidget* w : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) before << w->geometry();
            dlg.AllowResizing(QRect(0, 0, 4000, 3000));
            QCOMPARE(dlg.size(), designed);
            QList<QRect> after;
            for (QWidget* w : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) after << w->geometry();
            QCOMPARE(after, before);
            QVERIFY(dlg.minimumSize() != dlg.maximumSize());
        }

        CQuillonDlg dlg;
        const QRect tree = dlg.Tree()->geometry();
        const QRect hex = dlg.HexViewFrame()->geometry();
        const QRect list = dlg.PropertyList()->geometry();
        const QRect picture = dlg.PictureButton()->geometry();
        const QRect exit = dlg.ExitButton()->geometry();
        const QRect available(0, 0, 853, 600);  // 1280 x 900 at a scale factor of 1.5
        dlg.AllowResizing(available);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.width() <= available.width());
        QVERIFY(dlg.height() <= available.height());
        const QRect client = dlg.rect();
        for (QWidget* w : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!w->isVisible()) continue;
            QVERIFY2(client.contains(w->geometry()), qPrintable(w->objectName()));
        }
        QVERIFY(!dlg.PropertyList()->geometry().intersects(dlg.PictureButton()->geometry()));
        QVERIFY(!dlg.Tree()->geometry().intersects(dlg.HexViewFrame()->geometry()));
        QVERIFY(dlg.HexView()->GetVisibleLines() >= 5);
        // The width comes out of the tree: the hex view keeps all its columns.
        QCOMPARE(dlg.HexViewFrame()->width(), hex.width());
        QCOMPARE(dlg.PropertyList()->width(), list.width());
        QVERIFY(dlg.Tree()->width() < tree.width());
        QCOMPARE(dlg.HexView()->geometry(), dlg.HexViewFrame()->geometry());

        // Enlarged by the user.
        dlg.resize(designed + QSize(200, 150));
        QCOMPARE(dlg.Tree()->geometry(), tree.adjusted(0, 0, 0, 150));
        QCOMPARE(dlg.HexViewFrame()->geometry(), hex.adjusted(0, 0, 200, 150));
        QCOMPARE(dlg.HexView()->geometry(), hex.adjusted(0, 0, 200, 150));
        QCOMPARE(dlg.PropertyList()->geometry(), list);
        QCOMPARE(dlg.PictureButton()->geometry(), picture);
        QCOMPARE(dlg.ExitButton()->geometry(), exit.translated(200, 150));

        // A bar opened on the enlarged window lies over the hex view.
        dlg.Navigation()->OpenGoTo();
        QVERIFY(dlg.HexViewFrame()->geometry().contains(dlg.Navigation()->GoToBar()->geometry()));

        // Tab order is that of the designed window.
        QList<QWidget*> order;
        QWidget* w = dlg.ExitButton();
        for (int i = 0; i < 7; ++i) {
            order << w;
            do w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || w->parentWidget() != &dlg);
        }
        const QList<QWidget*> expected{dlg.ExitButton(),   dlg.OpenButton(), dlg.RecentCombo(),  dlg.Tree(),
                                       dlg.PropertyList(), dlg.LinkButton(), dlg.PictureButton()};
        QCOMPARE(order, expected);
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
};

QTEST_MAIN(AppNavigationTest)
#include "app_navigation_test.moc"
