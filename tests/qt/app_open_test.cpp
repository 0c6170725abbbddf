// The open flow through the real dialog: messages, their effect on the
// recent list, the no-document state, the tree it builds.
#include <QComboBox>
#include <QLabel>
#include <QTableWidget>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/qt/app_support.h"

using namespace quillon;
using apptest::Q;

class AppOpenTest : public QObject {
    Q_OBJECT

private:
    // The no-document state, as the user sees it.
    void VerifyNoDocument(CQuillonDlg& dlg) {
        QCOMPARE(dlg.SizeLabel()->text(), QStringLiteral("Size : 0"));
        QCOMPARE(dlg.TreeModel()->rowCount(), 0);
        QCOMPARE(dlg.HexView()->GetDataSize(), 0u);
        QVERIFY(!dlg.Document().IsOpen());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

private slots:
    void initTestCase() { m_settings = std::make_unique<apptest::ScratchSettings>(); }
    void init() { m_settings->Store({}); }

    // Each failure: its box (caption, exact text, under the wait cursor), the
    // state afterwards and what happens to the path in the recent list.
    void failures_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("forgotten");
        QTest::newRow("missing") << "missing"
                                 << "The file was not found    " << true;
        // A refused parse says under the message where it stopped.
        QTest::newRow("empty file") << "empty"
                                    << "Invalid DICOM file    \nReading stopped at byte 0: the bytes here cannot be "
                                       "read as a data set."
                                    << true;
        QTest::newRow("not DICOM") << "text"
                                   << "Invalid DICOM file    \nReading stopped at byte 0, element (7878,7878): no "
                                      "DICM at byte 128, and the first tag is implausible in either byte order."
                                   << true;
        // What the path names, when it is no file to parse.
        QTest::newRow("directory") << "directory"
                                   << "Invalid DICOM file    \nThe path names a folder, not a file." << true;
        QTest::newRow("unreadable") << "unreadable"
                                    << "Invalid DICOM file    \nThe system does not let the file be opened for "
                                       "reading: Permission denied."
                                    << true;
        QTest::newRow("empty path") << "empty path"
                                    << "" << false;
    }

    void failures() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QFETCH(bool, forgotten);
        if (kind == "unreadable" && geteuid() == 0) QSKIP("root reads every file");
        doctest_files::TempDir dir;
        const QString good = Q(dir.Write("good.dcm", doctest_files::SequenceFile()));
        QString path;
        if (kind == "missing") path = Q(dir.path() / "gone.dcm");
        if (kind == "empty") path = Q(dir.Write("empty.dcm", {}));
        if (kind == "text") path = Q(dir.Write("notes.txt", testdicom::Bytes(500, 'x')));
        if (kind == "directory") {
            std::filesystem::create_directory(dir.path() / "folder");
            path = Q(dir.path() / "folder");
        }
        if (kind == "unreadable") {
            path = Q(dir.Write("locked.dcm", doctest_files::SequenceFile()));
            chmod(path.toLocal8Bit().constData(), 0);
        }
        m_settings->Store({good, path, Q(dir.path() / "other.dcm")});

        CQuillonDlg dlg;
        dlg.show();
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(good);
        QVERIFY(dlg.Document().IsOpen());
        QVERIFY(boxes.boxes.empty());

        dlg.OpenDocument(path);
        if (message.isEmpty()) {
            QVERIFY(boxes.boxes.empty());
        } else {
            QCOMPARE(boxes.boxes.size(), std::size_t(1));
            QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Quillon"));
            QCOMPARE(boxes.boxes[0].text, message);
            QVERIFY(boxes.boxes[0].waitCursor);
        }
        VerifyNoDocument(dlg);
        const QString other = Q(dir.path() / "other.dcm");
        // (An empty path is a free place of the list: there is nothing to forget.)
        const QStringList expected = forgotten ? QStringList{good, other} : QStringList{good, path, other};
        QStringList entries = expected;
        entries.removeAll(QString());
        QCOMPARE(apptest::ComboEntries(dlg), entries);
        QStringList stored = expected;
        while (stored.size() < 8) stored << QString();
        QCOMPARE(m_settings->Stored(), stored);
        if (forgotten) QCOMPARE(dlg.RecentCombo()->currentIndex(), -1);
    }

    void successShowsTheDocument() {
        doctest_files::TempDir dir;
        const testdicom::Bytes bytes = doctest_files::SequenceFile();
        const QString path = Q(dir.Write("seq.dcm", bytes));
        CQuillonDlg dlg;
        dlg.show();
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(path);
        QVERIFY(boxes.boxes.empty());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(dlg.SizeLabel()->text(), QStringLiteral("Size : %1").arg(bytes.size()));
        QCOMPARE(dlg.HexView()->GetDataSize(), quint64(bytes.size()));
        QCOMPARE(dlg.TreeModel()->rowCount(), 1);
        // The root: the path exactly as passed, expanded; deeper items collapsed.
        const QModelIndex root = dlg.TreeModel()->RootIndex();
        QCOMPARE(root.data().toString(), path);
        QVERIFY(dlg.Tree()->isExpanded(root));
        const QModelIndex sequence = apptest::ItemOf(dlg, 0x0008, 0x1115);
        QVERIFY(!dlg.Tree()->isExpanded(sequence));

        // The items' labels and nesting, in tree order.
        QStringList labels;
        std::function<void(const QModelIndex&, int)> walk = [&](const QModelIndex& parent, int depth) {
            for (int row = 0; row < dlg.TreeModel()->rowCount(parent); ++row) {
                const QModelIndex child = dlg.TreeModel()->index(row, 0, parent);
                QCOMPARE(dlg.TreeModel()->parent(child), parent);
                labels << QString(depth * 2, ' ') + child.data().toString();
                walk(child, depth + 1);
            }
        };
        walk(root, 0);
        const QStringList expected = {
            "(0002,0001)  File Meta Information Version",
            "(0002,0002)  Media Storage SOP Class UID",
            "(0002,0010)  Transfer Syntax UID",
            "(0008,0005)  Specific Character Set",
            "(0008,0060)  Modality",
            "(0008,1115)  Referenced Series Sequence",
            "  (FFFE,E000)  SQ Item",
            "    (0008,0005)  Specific Character Set",
            "    (0010,0010)  Patient's Name",
            "  (FFFE,E000)  SQ Item",
            "    (0008,1150)  Referenced SOP Class UID",
            "(0008,1140)  Referenced Image Sequence",
            "  (FFFE,E000)  SQ Item",
            "    (0008,1155)  Referenced SOP Instance UID",
            "(0010,0010)  Patient's Name",
            "(0010,0020)  Patient ID",
            "(0010,0030)  Patient's Birth Date",
            "(0020,0013)  Image Number",
        };
        QCOMPARE(labels, expected);
    }

    void pixelDataItems() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("native.dcm", doctest_files::NativeFramesFile(3))));
        QModelIndex pixel = apptest::ItemOf(dlg, 0x7FE0, 0x0010);
        QCOMPARE(dlg.TreeModel()->rowCount(pixel), 3);
        for (int k = 0; k < 3; ++k)
            QCOMPARE(dlg.TreeModel()->index(k, 0, pixel).data().toString(),
                     QStringLiteral("Frame %1").arg(k + 1, 4, 10, QChar('0')));

        dlg.OpenDocument(Q(dir.Write("jpeg.dcm", doctest_files::EncapsulatedFile(1))));
        pixel = apptest::ItemOf(dlg, 0x7FE0, 0x0010);
        QStringList fragments;
        for (int k = 0; k < dlg.TreeModel()->rowCount(pixel); ++k)
            fragments << dlg.TreeModel()->index(k, 0, pixel).data().toString();
        QCOMPARE(fragments,
                 QStringList({"(FFFE,E000)  SQ Item", "Frame 0001", "Frame 0001 (part 2)", "Frame 0001 (part 3)"}));
    }

    // A second open replaces tree, bytes and size; the highlight stays until
    // an element of the new file is selected.
    void secondOpenReplacesTheFirst() {
        doctest_files::TempDir dir;
        const testdicom::Bytes second = doctest_files::NativeFramesFile(2);
        CQuillonDlg dlg;
        dlg.show();
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(dir.Write("a.dcm", doctest_files::SequenceFile())));
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0020));
        QCOMPARE(dlg.HexView()->GetHighlightStart(), 380u);
        QCOMPARE(dlg.PropertyValue(0), QStringLiteral("0010, 0020"));

        dlg.OpenDocument(Q(dir.Write("b.dcm", second)));
        QCOMPARE(dlg.SizeLabel()->text(), QStringLiteral("Size : %1").arg(second.size()));
        QCOMPARE(dlg.HexView()->GetDataSize(), quint64(second.size()));
        QCOMPARE(dlg.TreeModel()->RootIndex().data().toString(), Q(dir.path() / "b.dcm"));
        QVERIFY(!apptest::ItemOf(dlg, 0x0008, 0x1115).isValid());
        QCOMPARE(dlg.HexView()->GetHighlightStart(), 380u);
        QCOMPARE(dlg.PropertyValue(0), QStringLiteral(" "));  // the old selection went with its tree
        QVERIFY(!dlg.Tree()->currentIndex().isValid());
    }

    // Twelve opens in a row through the drop-down, good and bad files mixed:
    // every one ends in a shown document or in the no-document state.
    void twelveOpensThroughTheDropDown() {
        doctest_files::TempDir dir;
        QStringList paths;
        for (int i = 0; i < 8; ++i) {
            if (i % 3 == 2)
                paths << Q(dir.path() / ("missing" + std::to_string(i) + ".dcm"));
            else
                paths << Q(dir.Write("f" + std::to_string(i) + ".dcm",
                                     i % 2 ? doctest_files::NativeFramesFile(i) : doctest_files::SequenceFile()));
        }
        m_settings->Store(paths);
        CQuillonDlg dlg;
        dlg.show();
        apptest::BoxRecorder boxes;
        for (int n = 0; n < 12; ++n) {
            QComboBox* combo = dlg.RecentCombo();
            QVERIFY(combo->count() > 0);
            const int index = (n * 5) % combo->count();
            const QString path = combo->itemText(index);
            combo->setCurrentIndex(index);
            emit combo->activated(index);
            QCOMPARE(dlg.focusWidget(), static_cast<QWidget*>(dlg.Tree()));
            if (dlg.Document().IsOpen()) {
                QCOMPARE(dlg.TreeModel()->RootIndex().data().toString(), path);
                QVERIFY(dlg.SizeLabel()->text() != QStringLiteral("Size : 0"));
                QVERIFY(apptest::ComboEntries(dlg).contains(path));
            } else {
                VerifyNoDocument(dlg);
                QVERIFY(!apptest::ComboEntries(dlg).contains(path));
                QCOMPARE(boxes.boxes.back().text, QStringLiteral("The file was not found    "));
            }
            QCOMPARE(QApplication::overrideCursor(), nullptr);
        }
        // The missing files are gone, the others kept their order.
        QStringList kept;
        for (const QString& p : paths)
            if (!p.contains("missing")) kept << p;
        QCOMPARE(apptest::ComboEntries(dlg), kept);
    }

    // The file shown is truncated, emptied or rewritten on disk: the view
    // keeps painting without a crash until the check, which closes the
    // document with its message and keeps the path in the recent list.
    void fileChangedOnDisk_data() {
        QTest::addColumn<int>("change");
        QTest::newRow("truncated, noticed by the timer") << 0;
        QTest::newRow("emptied") << 1;
        QTest::newRow("rewritten, same size") << 2;
    }

    void fileChangedOnDisk() {
        QFETCH(int, change);
        doctest_files::TempDir dir;
        const testdicom::Bytes bytes = doctest_files::NativeFramesFile(3);
        const auto fsPath = dir.Write("frames.dcm", bytes);
        const QString path = Q(fsPath);
        CQuillonDlg dlg;
        dlg.show();
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(path);
        QVERIFY(boxes.boxes.empty());
        QVERIFY(!dlg.CheckFileOnDisk());  // unchanged: nothing happens
        QVERIFY(dlg.Document().IsOpen());
        const QStringList recent = apptest::ComboEntries(dlg);

        if (change == 0) {
            std::filesystem::resize_file(fsPath, bytes.size() / 3);
        } else if (change == 1) {
            std::filesystem::resize_file(fsPath, 0);
        } else {
            dir.Write("frames.dcm", testdicom::Bytes(bytes.size(), 0x41));
            struct stat st {};
            QCOMPARE(::stat(fsPath.c_str(), &st), 0);
            struct timespec times[2] = {st.st_atim, st.st_mtim};
            times[1].tv_sec += 10;
            QCOMPARE(utimensat(AT_FDCWD, fsPath.c_str(), times, 0), 0);
        }
        // Before the check: the last lines and the last element are shown
        // from what was loaded, without a crash.
        dlg.HexView()->SetHighlight(bytes.size() - 1, bytes.size() - 1);
        (void)dlg.HexView()->grab();
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x7FE0, 0x0010));
        (void)dlg.grab();
        // A frame is read from the file when it is shown: gone or changed, it
        // shows no picture or the bytes there now.
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0000, 3));
        (void)dlg.grab();

        if (change == 0)
            QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), std::size_t(1), 5000);
        else
            QVERIFY(dlg.CheckFileOnDisk());
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("The file changed on disk    "));
        VerifyNoDocument(dlg);
        QCOMPARE(apptest::ComboEntries(dlg), recent);
        (void)dlg.grab();
        QVERIFY(!dlg.CheckFileOnDisk());
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
};

QTEST_MAIN(AppOpenTest)
#include "app_open_test.moc"
