// Saving from the tree's context menu: an element's value bytes, a frame's
// stored bytes (from its frame node or any of its fragments) and the frame
// decoded as a PNG picture, each compared with the file's own bytes or the
// frame's thumbnail; and the reasons given when nothing can be saved.
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QTest>

#include "app/Navigation.h"
#include "app/SaveActions.h"
#include "document/SavedBytes.h"
#include "image/MCImage.h"
#include "tests/qt/app_support.h"

using namespace quillon;
using apptest::Q;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Slice(const doctest_files::Bytes& bytes, uint64_t first, uint64_t size) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data() + first), qsizetype(size));
}

QAction* ActionNamed(QMenu& menu, const char* text) {
    for (QAction* a : menu.actions())
        if (a->text() == QLatin1String(text)) return a;
    return nullptr;
}

}  // namespace

class AppSaveTest : public QObject {
    Q_OBJECT

private slots:
    // Native frames: the value of Pixel Data is all frames' bytes, a frame
    // node's frame is its own four bytes, the picture is the frame at full
    // size with the thumbnail's colours.
    void nativeValueFrameAndPicture() {
        doctest_files::TempDir dir;
        const doctest_files::Bytes bytes = doctest_files::NativeFramesFile(3);
        CQuillonDlg dlg;
        dlg.OpenDocument(Q(dir.Write("frames.dcm", bytes)));
        const CDicomTag7FE0* pixelData = dlg.Document().File()->PixelData();
        QVERIFY(pixelData);

        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x7FE0, 0x0010));
        QMenu menu;
        dlg.Navigation()->FillMenu(menu, true);
        QVERIFY(ActionNamed(menu, "&Save Value As...")->isEnabled());
        QVERIFY(!ActionNamed(menu, "Save &Frame As...")->isEnabled());  // the element, not a frame
        const QString value = Q(dir.path() / "value.bin");
        QCOMPARE(SaveValueTo(dlg, value), QString());
        QCOMPARE(ReadAll(value), Slice(bytes, pixelData->m_dataOffset, 12));
        QCOMPARE(SaveFrameTo(dlg, Q(dir.path() / "none.raw")),
                 QStringLiteral("The selected element belongs to no frame."));

        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0000, 0x0002));  // "Frame 0002"
        QMenu frameMenu;
        dlg.Navigation()->FillMenu(frameMenu, true);
        QVERIFY(ActionNamed(frameMenu, "Save &Frame As...")->isEnabled());
        QVERIFY(ActionNamed(frameMenu, "Save &Picture As...")->isEnabled());
        const QString frame = Q(dir.path() / "frame.raw");
        QCOMPARE(SaveFrameTo(dlg, frame), QString());
        QCOMPARE(ReadAll(frame), Slice(bytes, pixelData->FrameOffset(1), 4));
        QCOMPARE(ReadAll(frame), QByteArray(4, '\x02'));

        const QString picture = Q(dir.path() / "frame.png");
        QCOMPARE(SavePictureTo(dlg, picture), QString());
        const QImage image(picture, "PNG");
        QCOMPARE(image.size(), QSize(2, 2));
        dlg.Document().WaitForThumbnail(1);
        const MCImage* thumbnail = dlg.Document().Thumbnail(1);
        QVERIFY(thumbnail && thumbnail->GetBits());
        const uint8_t* rgb = thumbnail->GetBits();
        QCOMPARE(image.pixel(0, 0), qRgb(rgb[0], rgb[1], rgb[2]));
    }

    // Encapsulated: every fragment of the frame saves the frame, its
    // fragments' values joined without item headers, under a JPEG name; a
    // frame that does not decode gives no picture and says why.
    void encapsulatedFrame() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.OpenDocument(Q(dir.Write("jpeg.dcm", doctest_files::EncapsulatedFile())));
        const QByteArray joined("\xFF\xD8\xFF\xD9\x01\x02\x03\x04\x05\x06\x07\x08", 12);
        for (int nth : {2, 3, 4}) {  // the three fragment items after the offset table
            dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0xFFFE, 0xE000, nth));
            const QString path = Q(dir.path() / ("frame" + std::to_string(nth) + ".jpg"));
            QCOMPARE(SaveFrameTo(dlg, path), QString());
            QCOMPARE(ReadAll(path), joined);
        }
        const auto compression = TransferSyntaxFamily(dlg.Document().File()->DataSet());
        QCOMPARE(FrameFileName(std::filesystem::path("/a/jpeg.dcm"), 0, FrameFileExtension(compression)),
                 std::string("jpeg-frame0001.jpg"));

        const QString picture = Q(dir.path() / "no.png");
        QVERIFY(SavePictureTo(dlg, picture).startsWith(QStringLiteral("Frame 1 cannot be decoded: ")));
        QVERIFY(!QFile::exists(picture));
    }

    // A folder that cannot be written: the reason, and no file left behind.
    void unwritableFolder() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0010, 2));
        QCOMPARE(SaveValueTo(dlg, Q(dir.path() / "name.bin")), QString());
        QCOMPARE(ReadAll(Q(dir.path() / "name.bin")), QByteArray("Roe^Ann "));

        const QString missing = Q(dir.path() / "no-such-folder" / "name.bin");
        const QString error = SaveValueTo(dlg, missing);
        QVERIFY2(error.startsWith(QStringLiteral("Cannot write ") + missing + QStringLiteral(": ")), qPrintable(error));
        QVERIFY(!QFile::exists(missing));
    }
};

QTEST_MAIN(AppSaveTest)
#include "app_save_test.moc"
