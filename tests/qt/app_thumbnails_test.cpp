// The window while the thumbnails are made after the open: the picture of a
// selected frame says "decoding..." until its thumbnail arrives, the status
// area counts them, and closing, reloading or opening another file while
// frames are in flight leaves nothing of the old document in the new one.
#include <QLabel>
#include <QTest>
#include <QTreeView>

#include <memory>

#include "app/QuillonResources.h"
#include "tests/qt/app_support.h"
#include "tests/support/GatedThumbnails.h"

using namespace quillon;
using apptest::Q;

namespace {

// Frame nodes of the pixel data; frame k (from 0) is row k.
QModelIndex FrameItem(CQuillonDlg& dlg, int k) {
    return dlg.TreeModel()->index(k, 0, apptest::ItemOf(dlg, 0x7FE0, 0x0010));
}

QColor PictureCentre(const CQuillonDlg& dlg) { return QColor(dlg.Picture().toImage().pixel(64, 64)); }

int FrameProblems(CQuillonDlg& dlg) {
    int n = 0;
    for (const DocumentProblem& p : dlg.Document().Problems().All()) n += p.problem.code == ProblemCode::FrameDecode;
    return n;
}

}  // namespace

class AppThumbnailsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_settings = std::make_unique<apptest::ScratchSettings>(); }
    void cleanup() { m_settings.reset(); }

    void selectedFrameWaitsForItsThumbnail() {
        doctest_files::TempDir dir;
        auto owned = std::make_unique<gated::GatedDocument>();
        gated::GatedDocument& doc = *owned;
        CQuillonDlg dlg(nullptr, std::make_unique<MemoryRecentStore>(), std::move(owned));
        dlg.show();
        apptest::BoxRecorder boxes;
        // The open returns with every frame held at the gate: the tree is
        // there and the status area counts the thumbnails.
        dlg.OpenDocument(Q(dir.Write("six.dcm", doctest_files::NativeFramesFile(6))));
        QVERIFY(dlg.Document().IsOpen());
        doc.WaitArrivals(1);
        QVERIFY(dlg.ThumbnailProgress()->isVisible());
        QCOMPARE(dlg.ThumbnailProgress()->text(), QStringLiteral("Thumbnails 0 of 6"));
        QCOMPARE(dlg.SizeLabel()->text(), QStringLiteral("Size : %1").arg(dlg.Document().DataSize()));

        // A pending frame: "decoding..." and it goes next; another element,
        // then another pending frame, which is the one whose picture arrives.
        dlg.Tree()->setCurrentIndex(FrameItem(dlg, 4));
        QCOMPARE(dlg.PictureWaitsFor(), std::optional<std::size_t>(4));
        QCOMPARE(dlg.Picture().toImage(), DecodingPicture().toImage());
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x7FE0, 0x0010));
        QCOMPARE(dlg.PictureWaitsFor(), std::nullopt);
        QCOMPARE(dlg.Picture().toImage(), DefaultPicture().toImage());
        dlg.Tree()->setCurrentIndex(FrameItem(dlg, 3));
        QCOMPARE(dlg.PictureWaitsFor(), std::optional<std::size_t>(3));

        // Let go, the thumbnails reach the window through its event loop.
        doc.OpenGate();
        QTRY_COMPARE(dlg.PictureWaitsFor(), std::nullopt);
        QCOMPARE(PictureCentre(dlg), QColor(4, 4, 4));
        QTRY_VERIFY(!dlg.ThumbnailProgress()->isVisible());
        QCOMPARE(dlg.Document().ThumbnailsFinished(), 6u);
        // Made ones show at once.
        dlg.Tree()->setCurrentIndex(FrameItem(dlg, 5));
        QCOMPARE(dlg.PictureWaitsFor(), std::nullopt);
        QCOMPARE(PictureCentre(dlg), QColor(6, 6, 6));
        QVERIFY(boxes.boxes.empty());
    }

    // A file of six undecodable frames: two are made (two problems), two are
    // held in flight and a pending one is selected when the document ends.
    void endingTheDocumentWhileFramesAreInFlight_data() {
        QTest::addColumn<QString>("end");
        QTest::newRow("another file") << "open";
        QTest::newRow("reload") << "reload";
        QTest::newRow("window closed") << "close";
    }

    void endingTheDocumentWhileFramesAreInFlight() {
        QFETCH(QString, end);
        doctest_files::TempDir dir;
        const testdicom::Bytes broken = {0xFF, 0xD8, 0xFF, 0xDB, 0, 3};
        const QString undecodable = Q(dir.Write(
            "broken.dcm", doctest_files::FragmentsFile(6, {}, {broken, broken, broken, broken, broken, broken})));
        const QString good = Q(dir.Write("good.dcm", doctest_files::NativeFramesFile(3)));
        auto owned = std::make_unique<gated::GatedDocument>();
        gated::GatedDocument& doc = *owned;
        auto dlg = std::make_unique<CQuillonDlg>(nullptr, std::make_unique<MemoryRecentStore>(), std::move(owned));
        dlg->show();
        apptest::BoxRecorder boxes;
        dlg->OpenDocument(undecodable);
        QVERIFY(dlg->Document().IsOpen());
        doc.Allow(2);
        QTRY_COMPARE(FrameProblems(*dlg), 2);
        doc.WaitArrivals(4);
        QCOMPARE(dlg->ThumbnailProgress()->text(), QStringLiteral("Thumbnails 2 of 6"));
        // Frame 6's first fragment: pending.
        const QModelIndex pixel = apptest::ItemOf(*dlg, 0x7FE0, 0x0010);
        dlg->Tree()->setCurrentIndex(dlg->TreeModel()->index(1 + 5, 0, pixel));
        QCOMPARE(dlg->PictureWaitsFor(), std::optional<std::size_t>(5));

        // The frames in flight finish while the document goes.
        doc.OpenGate();
        if (end == "close") {
            dlg.reset();
            QCoreApplication::processEvents();
            return;
        }
        if (end == "open") {
            dlg->OpenDocument(good);
            QCOMPARE(dlg->PictureWaitsFor(), std::nullopt);
            QCOMPARE(FrameProblems(*dlg), 0);
            // Late news of the old document, already posted, changes nothing.
            QCoreApplication::processEvents();
            dlg->WaitForThumbnails();
            QCOMPARE(FrameProblems(*dlg), 0);
            QVERIFY(!dlg->ThumbnailProgress()->isVisible());
            dlg->Tree()->setCurrentIndex(FrameItem(*dlg, 1));
            QCOMPARE(PictureCentre(*dlg), QColor(2, 2, 2));
        } else {
            dlg->Reload();
            QCoreApplication::processEvents();
            dlg->WaitForThumbnails();
            // Each frame's problem once: none carried over from before the reload.
            QCOMPARE(FrameProblems(*dlg), 6);
            QCOMPARE(int(dlg->Document().Problems().Size()), 6);
        }
        QVERIFY(boxes.boxes.empty());
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
};

QTEST_MAIN(AppThumbnailsTest)
#include "app_thumbnails_test.moc"
