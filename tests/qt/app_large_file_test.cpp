// The window on a file of 20 GiB: five private values of 4 GiB, then the
// patient's name and a small image. The file is sparse, so it takes almost
// no disk; the window must open it without reading the large values, show
// the offsets past 4 GiB, and let the hex view be scrolled to the end and
// clicked there.
#include <QScrollBar>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/qt/app_support.h"

using namespace quillon;
using apptest::Q;

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, uint16_t(v));
    Put16(b, uint16_t(v >> 16));
}

// An explicit VR little endian element header; `longForm` for the VRs with
// reserved bytes and a 4-byte length.
Bytes Header(uint16_t group, uint16_t element, const char* vr, uint32_t length) {
    Bytes b;
    Put16(b, group);
    Put16(b, element);
    b.push_back(uint8_t(vr[0]));
    b.push_back(uint8_t(vr[1]));
    const std::string v(vr);
    if (v == "OB" || v == "OW") {
        Put16(b, 0);
        Put32(b, length);
    } else {
        Put16(b, uint16_t(length));
    }
    return b;
}

Bytes Element(uint16_t group, uint16_t element, const char* vr, const std::string& value) {
    Bytes b = Header(group, element, vr, uint32_t(value.size()));
    b.insert(b.end(), value.begin(), value.end());
    return b;
}

Bytes US(uint16_t group, uint16_t element, uint16_t value) {
    Bytes b = Header(group, element, "US", 2);
    Put16(b, value);
    return b;
}

constexpr uint32_t kPrivate = 0xFFFFFFF0u;
constexpr int kRows = 64, kColumns = 64;

struct HugeFile {
    uint64_t size = 0;
    uint64_t privateAt[5] = {};  // tag offsets of the private values
    uint64_t nameAt = 0;         // tag offset of (0010,0010)
    uint64_t pixelsAt = 0;       // first byte of the pixel data's value
    bool sparse = false;
};

// Writes the pieces with pwrite at their offsets; the private values stay holes.
HugeFile WriteHugeFile(const std::string& path) {
    HugeFile f;
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0) return f;
    uint64_t at = 0;
    auto put = [&](const Bytes& b) {
        if (::pwrite(fd, b.data(), b.size(), off_t(at)) != ssize_t(b.size())) f.size = 0;
        at += b.size();
    };
    Bytes start(128, 0);
    start.insert(start.end(), {'D', 'I', 'C', 'M'});
    put(start);
    put(Element(0x0002, 0x0010, "UI", std::string("1.2.840.10008.1.2.1") + '\0'));
    put(Element(0x0008, 0x0060, "CS", "OT"));
    put(Element(0x0009, 0x0010, "LO", "QUILLON "));
    for (int k = 0; k < 5; ++k) {
        f.privateAt[k] = at;
        put(Header(0x0009, uint16_t(0x1010 + k), "OB", kPrivate));
        at += kPrivate;
    }
    f.nameAt = at;
    put(Element(0x0010, 0x0010, "PN", "Large^File"));
    put(US(0x0028, 0x0002, 1));
    put(Element(0x0028, 0x0004, "CS", "MONOCHROME2 "));
    put(US(0x0028, 0x0010, kRows));
    put(US(0x0028, 0x0011, kColumns));
    put(US(0x0028, 0x0100, 8));
    put(US(0x0028, 0x0101, 8));
    put(US(0x0028, 0x0102, 7));
    put(Header(0x7FE0, 0x0010, "OB", kRows * kColumns));
    f.pixelsAt = at;
    Bytes pixels(kRows * kColumns);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7);
    put(pixels);
    f.size = at;
    struct stat st {};
    f.sparse = ::fstat(fd, &st) == 0 && uint64_t(st.st_blocks) * 512 < (64u << 20);
    ::close(fd);
    return f;
}

}  // namespace

class AppLargeFileTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_settings = std::make_unique<apptest::ScratchSettings>(); }

    void twentyGibibytes() {
        doctest_files::TempDir dir;
        const std::string path = (dir.path() / "huge.dcm").string();
        const HugeFile f = WriteHugeFile(path);
        if (!f.sparse) QSKIP("the temporary folder does not keep files sparse");
        QCOMPARE(f.size, f.pixelsAt + kRows * kColumns);
        QVERIFY(f.size > 20 * (uint64_t(1) << 30) - 5 * 16);

        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        apptest::BoxRecorder boxes;
        dlg.OpenDocument(Q(path));
        QVERIFY(boxes.boxes.empty());
        QVERIFY(dlg.Document().IsOpen());

        // Offsets past 4 GiB, as the property list shows them.
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0010));
        QCOMPARE(dlg.PropertyValue(0), QStringLiteral("0010, 0010"));
        QCOMPARE(dlg.PropertyValue(3), QString::number(f.nameAt));
        QCOMPARE(dlg.PropertyValue(6), QStringLiteral("Large^File"));
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0009, 0x1013));
        QCOMPARE(dlg.PropertyValue(3), QString::number(f.privateAt[3]));
        QCOMPARE(dlg.PropertyValue(5), QString::number(kPrivate));
        QCOMPARE(dlg.HexView()->GetHighlightStart(), f.privateAt[3]);
        QCOMPARE(dlg.HexView()->GetHighlightEnd(), f.privateAt[3] + 12 + kPrivate - 1);

        // Scrolled to its end, the view shows the file's last line; a click on
        // the last byte selects the pixel data's frame.
        MCWndHexEditor* view = dlg.HexView();
        view->VerticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
        QApplication::processEvents();
        const quint64 lastLine = (f.size - 1) / 16;
        QVERIFY(view->GetFirstLine() <= lastLine);
        QVERIFY(lastLine < view->GetFirstLine() + quint64(view->GetVisibleLines()));
        apptest::ClickByte(view, f.size - 1);
        const QModelIndex selected = dlg.Tree()->currentIndex();
        QVERIFY(selected.isValid());
        QCOMPARE(dlg.PropertyValue(0), QStringLiteral("7FE0, 0010"));
        QCOMPARE(view->GetHighlightStart(), f.pixelsAt - 12);
        QCOMPARE(view->GetHighlightEnd(), f.size - 1);
        // The bytes there are the file's.
        uint8_t last[2] = {};
        QVERIFY(dlg.Document().ReadData(f.size - 2, last, 2));
        QCOMPARE(last[0], uint8_t((kRows * kColumns - 2) * 7));
        QCOMPARE(last[1], uint8_t((kRows * kColumns - 1) * 7));

        // A click in the middle of the third large value selects it.
        const quint64 inside = f.privateAt[2] + 12 + kPrivate / 2;
        apptest::ClickByte(view, inside);
        QCOMPARE(dlg.PropertyValue(0), QStringLiteral("0009, 1012"));
        (void)dlg.grab();
        QVERIFY(boxes.boxes.empty());
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
};

QTEST_MAIN(AppLargeFileTest)
#include "app_large_file_test.moc"
