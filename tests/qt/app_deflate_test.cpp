// A deflated file in the real dialog: the inflated data set shown after the
// meta group, the hex view marking where it begins, the root saying how its
// offsets read, clicks and selections in those offsets; F5 and the recent
// list as for any file; a broken stream shown as far as it inflates.
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

#include "app/ProblemsList.h"
#include "tests/qt/app_support.h"
#include "tests/support/DeflatedFiles.h"

using namespace quillon;
using apptest::Q;

class AppDeflateTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_settings = std::make_unique<apptest::ScratchSettings>(); }

    void deflatedFile() {
        doctest_files::TempDir dir;
        const testdicom::Bytes dataSet = deflated_files::SequenceDataSet();
        const deflated_files::Stream stream = deflated_files::Deflate(dataSet, 156);
        const QString path = Q(dir.Write("deflated.dcm", deflated_files::File(stream.bytes)));
        const QString note = QStringLiteral("deflated: offsets from byte 222 on are positions in the inflated data set");
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        apptest::BoxRecorder boxes;
        dlg.OpenAndRemember(path);
        QVERIFY(boxes.boxes.empty());
        QCOMPARE(apptest::ComboEntries(dlg), QStringList{path});

        ElementTreeModel* model = dlg.TreeModel();
        MCWndHexEditor* view = dlg.HexView();
        QCOMPARE(model->RootIndex().data().toString(), path + QStringLiteral(" (") + note + QStringLiteral(")"));
        QCOMPARE(view->GetDataSize(), quint64(deflated_files::kInflatedFrom + dataSet.size()));
        QCOMPARE(view->GetInflatedFrom(), quint64(deflated_files::kInflatedFrom));
        dlg.Tree()->setCurrentIndex(model->RootIndex());
        QCOMPARE(dlg.PropertyValue(1), QStringLiteral("D") + note.mid(1));

        // Offsets are those of the inflated data set after the meta group:
        // (0010,0010) at 378, selected by a click on its value too.
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0010, 2));
        QCOMPARE(dlg.PropertyValue(3), QStringLiteral("378"));
        QCOMPARE(view->GetHighlightStart(), quint64(378));
        QCOMPARE(view->GetHighlightEnd(), quint64(393));
        dlg.Tree()->setCurrentIndex(model->RootIndex());
        apptest::ClickByte(view, 390);
        QCOMPARE(dlg.Tree()->currentIndex(), apptest::ItemOf(dlg, 0x0010, 0x0010, 2));

        // F5 inflates the file again and keeps the selection.
        QTest::keyClick(&dlg, Qt::Key_F5);
        QVERIFY(boxes.boxes.empty());
        QVERIFY(dlg.Document().IsOpen());
        QCOMPARE(dlg.Tree()->currentIndex(), apptest::ItemOf(dlg, 0x0010, 0x0010, 2));
        QCOMPARE(view->GetInflatedFrom(), quint64(deflated_files::kInflatedFrom));

        // The stream corrupt right after the flush: shown up to 378, the box
        // and the stop naming the file byte where inflating stopped.
        testdicom::Bytes corrupt = stream.bytes;
        corrupt[stream.flushed] = 0x07;
        const QString broken = Q(dir.Write("broken.dcm", deflated_files::File(corrupt)));
        const QString byte = QString::number(deflated_files::kInflatedFrom + stream.flushed);
        dlg.OpenAndRemember(broken);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(boxes.boxes[0].text,
                 QStringLiteral("Invalid DICOM file    \nReading stopped at byte 378: the deflated data set is corrupt at "
                                "byte %1 of the file (invalid block type): its inflated bytes end at byte 378.")
                     .arg(byte));
        QCOMPARE(model->RootIndex().data().toString(),
                 broken + QStringLiteral(" (") + note + QStringLiteral(") (read up to byte 378)"));
        QCOMPARE(view->GetInflatedFrom(), quint64(deflated_files::kInflatedFrom));
        QCOMPARE(dlg.ProblemsList()->List()->topLevelItem(0)->text(2), QStringLiteral("stopped"));
        QVERIFY(apptest::ComboEntries(dlg).contains(broken) && apptest::ComboEntries(dlg).contains(path));

        // A file that is not deflated has no mark.
        dlg.OpenAndRemember(Q(dir.Write("plain.dcm", doctest_files::SequenceFile())));
        QCOMPARE(view->GetInflatedFrom(), MCWndHexEditor::kNone);
        QCOMPARE(model->RootIndex().data().toString().contains(QStringLiteral("deflated")), false);
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
};

QTEST_MAIN(AppDeflateTest)
#include "app_deflate_test.moc"
