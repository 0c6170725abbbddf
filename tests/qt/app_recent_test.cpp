// The recent-files drop-down, the Open button and the stored values
// (QSettings "Brevant"/"Quillon", group "Recent DICOM HEX File", URL1..URL8).
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include "tests/qt/app_support.h"

using namespace quillon;
using apptest::Q;

class AppRecentTest : public QObject {
    Q_OBJECT

private:
    // n good files in the scratch directory.
    QStringList GoodFiles(int n) {
        QStringList paths;
        for (int i = 0; i < n; ++i)
            paths << Q(m_dir->Write("good" + std::to_string(i) + ".dcm", doctest_files::SequenceFile()));
        return paths;
    }
    static QStringList Padded(QStringList list) {
        while (list.size() < 8) list << QString();
        return list;
    }
    // Chooses `path` in the Open button's file dialog.
    static void ChooseWithOpenButton(CQuillonDlg& dlg, const QString& path) {
        dlg.SetFileChooser([path](QWidget*) { return path; });
        QTest::mouseClick(dlg.OpenButton(), Qt::LeftButton);
    }

private slots:
    void initTestCase() { m_settings = std::make_unique<apptest::ScratchSettings>(); }
    void init() {
        m_settings->Store({});
        m_dir = std::make_unique<doctest_files::TempDir>();
    }

    void loadedAtStartWithoutSelection() {
        const QStringList paths = {"/a/one.dcm", "/b/two.dcm", "", "/c/four.dcm"};
        m_settings->Store(paths);
        CQuillonDlg dlg;
        QCOMPARE(apptest::ComboEntries(dlg), (QStringList{"/a/one.dcm", "/b/two.dcm", "/c/four.dcm"}));
        QCOMPARE(dlg.RecentCombo()->currentIndex(), -1);
        QVERIFY(!dlg.RecentCombo()->isEditable());
        // Loading alone writes nothing.
        QVERIFY(!m_settings->HasValue(5));
        // The settings file is where the platform keeps them.
        QVERIFY(QFile::exists(m_settings->Path() + "/Brevant/Quillon.conf"));
    }

    void knownPathKeepsItsPlace() {
        const QStringList paths = GoodFiles(5);
        m_settings->Store(paths);
        const QDateTime before = QFileInfo(m_settings->Path() + "/Brevant/Quillon.conf").lastModified();
        CQuillonDlg dlg;
        apptest::BoxRecorder boxes;
        QTest::qWait(20);
        ChooseWithOpenButton(dlg, paths[3]);
        QCOMPARE(dlg.RecentCombo()->currentIndex(), 3);
        QVERIFY(dlg.Document().IsOpen());
        QCOMPARE(apptest::ComboEntries(dlg), paths);
        QCOMPARE(m_settings->Stored(), Padded(paths));
        QVERIFY(!m_settings->HasValue(6));
        QCOMPARE(QFileInfo(m_settings->Path() + "/Brevant/Quillon.conf").lastModified(), before);
    }

    void newPathTakesTheNextPlace() {
        const QStringList paths = GoodFiles(5);
        m_settings->Store(paths.mid(0, 4));
        CQuillonDlg dlg;
        apptest::BoxRecorder boxes;
        ChooseWithOpenButton(dlg, paths[4]);
        QCOMPARE(apptest::ComboEntries(dlg), paths);
        QCOMPARE(dlg.RecentCombo()->currentIndex(), 4);
        QCOMPARE(m_settings->Stored()[4], paths[4]);  // URL5
        QVERIFY(!m_settings->HasValue(6));            // only URL5 written
        QVERIFY(dlg.Document().IsOpen());
    }

    void fullListDropsTheOldest() {
        const QStringList paths = GoodFiles(9);
        m_settings->Store(paths.mid(0, 8));
        CQuillonDlg dlg;
        apptest::BoxRecorder boxes;
        ChooseWithOpenButton(dlg, paths[8]);
        QCOMPARE(apptest::ComboEntries(dlg), paths.mid(1));
        QCOMPARE(dlg.RecentCombo()->currentIndex(), 7);
        QCOMPARE(m_settings->Stored(), paths.mid(1));
    }

    // A new path while the list is full, and the open then fails: seven
    // paths stay, the dropped one does not come back.
    void fullListThenFailedOpen() {
        const QStringList paths = GoodFiles(8);
        m_settings->Store(paths);
        CQuillonDlg dlg;
        apptest::BoxRecorder boxes;
        const QString bad = Q(m_dir->Write("bad.dcm", testdicom::Bytes(200, 'z')));
        ChooseWithOpenButton(dlg, bad);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(boxes.boxes[0].text.section(QLatin1Char('\n'), 0, 0), QStringLiteral("Invalid DICOM file    "));
        QCOMPARE(apptest::ComboEntries(dlg), paths.mid(1));
        QCOMPARE(m_settings->Stored(), Padded(paths.mid(1)));
        QCOMPARE(dlg.RecentCombo()->currentIndex(), -1);
        // Every save writes all eight values, the empty one too.
        QVERIFY(m_settings->HasValue(8));
    }

    void pathsCompareExactly() {
        const QString lower = Q(m_dir->Write("case.dcm", doctest_files::SequenceFile()));
        const QString upper = Q(m_dir->Write("CASE.DCM", doctest_files::SequenceFile()));
        CQuillonDlg dlg;
        apptest::BoxRecorder boxes;
        ChooseWithOpenButton(dlg, lower);
        ChooseWithOpenButton(dlg, upper);
        ChooseWithOpenButton(dlg, Q(m_dir->path()) + "/./case.dcm");  // the same file, spelt differently
        QCOMPARE(apptest::ComboEntries(dlg).size(), 3);
        QCOMPARE(m_settings->Stored().mid(0, 2), (QStringList{lower, upper}));
    }

    void cancelledFileDialogDoesNothing() {
        m_settings->Store({"/x/y.dcm"});
        CQuillonDlg dlg;
        ChooseWithOpenButton(dlg, QString());
        QCOMPARE(apptest::ComboEntries(dlg), QStringList{"/x/y.dcm"});
        QVERIFY(!dlg.Document().IsOpen());
    }

    // Choosing from the drop-down opens that file; the order does not change
    // and the focus goes to the tree. A failure removes the entry and leaves
    // nothing selected.
    void dropDown() {
        QStringList paths = GoodFiles(3);
        paths.insert(1, Q(m_dir->path() / "vanished.dcm"));
        m_settings->Store(paths);
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        apptest::BoxRecorder boxes;
        QComboBox* combo = dlg.RecentCombo();
        combo->setFocus();
        // The keyboard chooses the next entry: entry 0 from no selection.
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(dlg.TreeModel()->RootIndex().data().toString(), paths[0]);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg.Tree()));
        QCOMPARE(apptest::ComboEntries(dlg), paths);

        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);  // entry 1, whose file has gone
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(boxes.boxes[0].text, QStringLiteral("The file was not found    "));
        QCOMPARE(apptest::ComboEntries(dlg), (QStringList{paths[0], paths[2], paths[3]}));
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(m_settings->Stored(), Padded({paths[0], paths[2], paths[3]}));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg.Tree()));
    }

    // The values are plain strings of the settings file; anything else
    // there reads as a free place.
    void foreignValues() {
        {
            QSettings s(QStringLiteral("Brevant"), QStringLiteral("Quillon"));
            s.beginGroup(QStringLiteral("Recent DICOM HEX File"));
            s.setValue(QStringLiteral("URL1"), QStringList{"a", "b"});
            s.setValue(QStringLiteral("URL2"), QStringLiteral("/z/with, comma.dcm"));
        }
        CQuillonDlg dlg;
        QCOMPARE(apptest::ComboEntries(dlg), QStringList{"/z/with, comma.dcm"});
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
    std::unique_ptr<doctest_files::TempDir> m_dir;
};

QTEST_MAIN(AppRecentTest)
#include "app_recent_test.moc"
