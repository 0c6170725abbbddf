// The bytes of a loaded file read where they lie: reads across the cache's
// pages and past its size, and a file that shrinks or is rewritten while open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "dicom/FileBytes.h"
#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"
#include "tests/support/DocTestFiles.h"

using doctest_files::TempDir;
using testdicom::Bytes;

namespace {

// Bytes that differ from page to page and within one.
Bytes Pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = uint8_t((i * 7 + i / 65536) & 0xFF);
    return b;
}

std::shared_ptr<quillon::FileBytes> OpenBytes(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? nullptr : quillon::FileBytes::FromDescriptor(fd);
}

// Sets the file's modification time `seconds` into the future, so that a
// rewrite within the same clock tick still shows.
void Touch(const std::filesystem::path& path, int seconds) {
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += seconds;
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
}

}  // namespace

// Reads from the file and from a copy in memory answer alike, at page edges,
// across several pages, through evictions and at the end of the file.
TEST(FileBytes, ReadsMatchTheFile) {
    TempDir dir;
    constexpr std::size_t kPage = quillon::FileBytes::kPageSize;
    const std::size_t size = kPage * (quillon::FileBytes::kPageCount + 3) + 123;
    const Bytes bytes = Pattern(size);
    const auto file = OpenBytes(dir.Write("pattern.bin", bytes));
    const auto memory = quillon::FileBytes::FromMemory(bytes.data(), bytes.size());
    ASSERT_TRUE(file && memory);
    ASSERT_EQ(file->Size(), size);

    struct Case {
        uint64_t offset;
        std::size_t n;
    } cases[] = {
        {0, 1},
        {kPage - 3, 6},               // across a page edge
        {kPage - 1, kPage + 2},       // a large read, straight from the file
        {3 * kPage + 5, 2 * kPage},   // large, not page aligned
        {5 * kPage - 10, kPage - 1},  // the largest cached read, over two pages
        {size - 16, 16},              // the short last page
        {size - 1, 1},
        {size, 0},
    };
    // Twice over every page, so that pages are evicted and read again.
    for (int round = 0; round < 2; ++round) {
        for (std::size_t page = 0; page * kPage < size; ++page) {
            uint8_t b = 0;
            ASSERT_TRUE(file->Read(page * kPage + round, &b, 1));
            EXPECT_EQ(b, bytes[page * kPage + round]);
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "offset " << c.offset << " n " << c.n);
            std::vector<uint8_t> a(c.n + 1, 0xEE), m(c.n + 1, 0xEE);
            ASSERT_TRUE(file->Read(c.offset, a.data(), c.n));
            ASSERT_TRUE(memory->Read(c.offset, m.data(), c.n));
            EXPECT_EQ(0, std::memcmp(a.data(), bytes.data() + c.offset, c.n));
            EXPECT_EQ(a, m);
            EXPECT_EQ(a[c.n], 0xEE);  // nothing written past n
        }
    }
    // Outside the file nothing is read, and that is no change of the file.
    uint8_t b[2];
    for (const auto& source : {file, memory}) {
        EXPECT_FALSE(source->Read(size, b, 1));
        EXPECT_FALSE(source->Read(size - 1, b, 2));
        EXPECT_FALSE(source->Read(UINT64_MAX, b, 2));
        EXPECT_FALSE(source->Changed());
    }
}

// Truncated, grown or rewritten while open: reads past the new end fail
// (never a crash) and Changed() says so; Refresh takes the file as it is.
TEST(FileBytes, FileChangingWhileOpen) {
    TempDir dir;
    const Bytes bytes = Pattern(3 * quillon::FileBytes::kPageSize);
    const auto path = dir.Write("moving.bin", bytes);

    auto source = OpenBytes(path);
    ASSERT_TRUE(source);
    EXPECT_FALSE(source->Changed());
    std::filesystem::resize_file(path, 1000);
    EXPECT_TRUE(source->Changed());
    std::vector<uint8_t> out(5000);
    EXPECT_FALSE(source->Read(2 * quillon::FileBytes::kPageSize, out.data(), 100));  // cached path
    EXPECT_FALSE(source->Read(0, out.data(), out.size()));
    EXPECT_FALSE(source->Read(990, out.data(), 20));
    EXPECT_TRUE(source->Read(0, out.data(), 1000));  // what is left still reads
    EXPECT_EQ(0, std::memcmp(out.data(), bytes.data(), 1000));
    ASSERT_TRUE(source->Refresh());
    EXPECT_EQ(source->Size(), 1000u);
    EXPECT_FALSE(source->Changed());

    // The same size with other bytes: only its time tells.
    dir.Write("moving.bin", Bytes(1000, 0x55));
    Touch(path, 10);
    EXPECT_TRUE(source->Changed());

    // Grown.
    ASSERT_TRUE(source->Refresh());
    std::ofstream(path, std::ios::binary | std::ios::app) << "tail";
    EXPECT_TRUE(source->Changed());
    EXPECT_EQ(source->Size(), 1000u);
}

// The document's view of the same: a file truncated after the open leaves the
// document as loaded and readable where the file still holds bytes.
TEST(FileBytes, DocumentNoticesTruncation) {
    TempDir dir;
    const Bytes bytes = doctest_files::NativeFramesFile(3);
    const auto path = dir.Write("frames.dcm", bytes);
    quillon::QuillonDocument doc;
    // Without thumbnails: their workers would read the frames, and the tail's
    // page with them, into the cache before the file shrinks.
    quillon::OpenOptions noThumbnails;
    noThumbnails.thumbnails = false;
    ASSERT_TRUE(doc.Open(quillon::FromUtf8(path.string()), noThumbnails).Opened());
    EXPECT_FALSE(doc.FileChanged());
    std::filesystem::resize_file(path, bytes.size() / 2);
    EXPECT_TRUE(doc.FileChanged());
    EXPECT_EQ(doc.DataSize(), bytes.size());
    uint8_t tail[4];
    EXPECT_FALSE(doc.ReadData(bytes.size() - 4, tail, 4));
    // Every record's properties still come out (values are held by the tree).
    for (std::size_t i = 0; i < doc.Records().size(); ++i) (void)doc.Properties(i);
    doc.Close();
    EXPECT_FALSE(doc.FileChanged());
}
