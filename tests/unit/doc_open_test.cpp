// The open flow of the main window without the window: outcome, message,
// recent-list effect and the state left behind on every path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <string>

#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"
#include "tests/support/OrdinaryUser.h"

using namespace quillon;
using doctest_files::TempDir;
using docunit::U16;
using testdicom::Bytes;

namespace {

// No document: nothing parsed, no bytes, no records.
void ExpectNoDocument(const quillon::QuillonDocument& doc) {
    EXPECT_FALSE(doc.IsOpen());
    EXPECT_EQ(doc.File(), nullptr);
    EXPECT_EQ(doc.Source(), nullptr);
    EXPECT_EQ(doc.DataSize(), 0u);
    EXPECT_TRUE(doc.Records().empty());
}

// The bytes the document shows (what the hex view reads), whole.
Bytes ShownBytes(const quillon::QuillonDocument& doc) {
    Bytes bytes(doc.DataSize());
    EXPECT_TRUE(doc.ReadData(0, bytes.data(), bytes.size()));
    return bytes;
}

uint8_t ShownByte(const quillon::QuillonDocument& doc, uint64_t offset) {
    uint8_t b = 0;
    EXPECT_TRUE(doc.ReadData(offset, &b, 1));
    return b;
}

// A document whose seams tests can steer.
class SteeredDocument : public quillon::QuillonDocument {
public:
    std::function<void(const std::u16string&)> onParsed;
    bool failFileObject = false;
    bool failBuffer = false;
    std::atomic<int> thumbnailsAsked{0};
    bool thumbnailThrows = false;
    ~SteeredDocument() override { Close(); }

protected:
    std::unique_ptr<CDicomFile> NewFile() override { return failFileObject ? nullptr : quillon::QuillonDocument::NewFile(); }
    uint8_t* AllocateData(uint64_t size) override {
        return failBuffer ? nullptr : quillon::QuillonDocument::AllocateData(size);
    }
    std::unique_ptr<MCImage> MakeThumbnail(quillon::FrameDecoder& frames, std::size_t frame) override {
        ++thumbnailsAsked;
        if (thumbnailThrows) throw std::bad_alloc();
        return quillon::QuillonDocument::MakeThumbnail(frames, frame);
    }
    void Parsed(const std::u16string& path) override {
        if (onParsed) onParsed(path);
    }
};

}  // namespace

TEST(DocOpen, ReadsTheExactBytesAndBuildsTheTree) {
    TempDir dir;
    // CR LF and Ctrl-Z inside a value must come through unchanged.
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    testdicom::StudyElements(w);
    w.text(0x0008, 0x1030, "LO", std::string("a\r\n\x1A\r\nb "));
    const Bytes bytes = w.bytes();
    const auto path = dir.Write("crlf.dcm", bytes);

    quillon::QuillonDocument doc;
    const OpenResult r = doc.Open(U16(path));
    ASSERT_TRUE(r.Opened());
    EXPECT_TRUE(r.message.empty());
    EXPECT_FALSE(r.forgetPath);
    EXPECT_TRUE(doc.IsOpen());
    EXPECT_EQ(doc.Path(), U16(path));
    ASSERT_EQ(doc.DataSize(), bytes.size());
    EXPECT_EQ(ShownBytes(doc), bytes);
    EXPECT_EQ(doc.Records().size(), 7u);
    EXPECT_EQ(SizeText(doc.DataSize()), Format16("Size : %zu", bytes.size()));
}

// Every failing path: the message box text (the message, and under it where
// the parse stopped or what the path names), the loader's reason, whether the
// path leaves the recent list, and no document afterwards, also after a good
// file was open.
TEST(DocOpen, FailuresEndWithoutADocument) {
    TempDir dir;
    const auto good = dir.Write("good.dcm", doctest_files::SequenceFile());
    const auto empty = dir.Write("empty.dcm", {});
    const auto text = dir.Write("notes.txt", Bytes(300, 'x'));
    std::filesystem::create_directory(dir.path() / "folder.dcm");
    ASSERT_EQ(0, mkfifo((dir.path() / "pipe.dcm").c_str(), 0600));
    const std::u16string invalid = kMsgInvalidFile;

    struct Case {
        const char* name;
        std::u16string path;
        OpenStatus status;
        const char16_t* message;
        bool forget;
        std::u16string box;  // the whole text of the box
        Reason reason;
    } cases[] = {
        {"empty path", u"", OpenStatus::EmptyPath, u"", false, u"", Reason::None},
        {"missing file", U16(dir.path() / "missing.dcm"), OpenStatus::NotFound, kMsgFileNotFound, true,
         kMsgFileNotFound, Reason::NotFound},
        {"zero bytes", U16(empty), OpenStatus::Invalid, kMsgInvalidFile, true,
         invalid + u"\nReading stopped at byte 0: the bytes here cannot be read as a data set.", Reason::Empty},
        {"not DICOM", U16(text), OpenStatus::Invalid, kMsgInvalidFile, true,
         invalid + u"\nReading stopped at byte 0, element (7878,7878): no DICM at byte 128, and the first tag is "
                   u"implausible in either byte order.",
         Reason::NotDicom},
        {"directory", U16(dir.path() / "folder.dcm"), OpenStatus::Invalid, kMsgInvalidFile, true,
         invalid + u"\nThe path names a folder, not a file.", Reason::Directory},
        // Must not wait for a writer.
        {"named pipe", U16(dir.path() / "pipe.dcm"), OpenStatus::Invalid, kMsgInvalidFile, true,
         invalid + u"\nThe path names a named pipe, not a regular file.", Reason::NotRegularFile},
        {"device", u"/dev/null", OpenStatus::Invalid, kMsgInvalidFile, true,
         invalid + u"\nThe path names a character device, not a regular file.", Reason::NotRegularFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        quillon::QuillonDocument doc;
        ASSERT_TRUE(doc.Open(U16(good)).Opened());
        const OpenResult r = doc.Open(c.path);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.forgetPath, c.forget);
        EXPECT_EQ(r.Text(), c.box);
        EXPECT_EQ(r.reason.Code(), c.reason);
        ExpectNoDocument(doc);
        EXPECT_TRUE(doc.Path().empty());
    }
}

// Root reads every file: the open is checked as an ordinary user.
TEST(DocOpen, UnreadableFileIsInvalid) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
    const auto path = dir.Write("locked.dcm", doctest_files::SequenceFile());
    ASSERT_EQ(0, chmod(path.c_str(), 0));
    const auto answer = testsupport::AsOrdinaryUser([&] {
        quillon::QuillonDocument doc;
        const OpenResult r = doc.Open(U16(path));
        const bool noDocument = !doc.IsOpen() && doc.File() == nullptr && doc.Source() == nullptr &&
                                doc.DataSize() == 0 && doc.Records().empty();
        return ToUtf8(r.Text()) + "|" + std::to_string(int(r.status)) + "|" + std::to_string(r.forgetPath) + "|" +
               std::to_string(noDocument);
    });
    ASSERT_TRUE(answer) << "cannot give up root to check as an ordinary user";
    EXPECT_EQ(*answer,
              "Invalid DICOM file    \nThe system does not let the file be opened for reading: Permission "
              "denied.|" +
                  std::to_string(int(OpenStatus::Invalid)) + "|1|1");
}

TEST(DocOpen, MemoryShortages) {
    TempDir dir;
    const auto path = U16(dir.Write("good.dcm", doctest_files::SequenceFile()));
    {
        SteeredDocument doc;
        doc.failFileObject = true;
        const OpenResult r = doc.Open(path);
        EXPECT_EQ(r.status, OpenStatus::NoMemory);
        EXPECT_EQ(r.message, kMsgMemoryError);
        EXPECT_FALSE(r.forgetPath);  // the file object, not the file
        ExpectNoDocument(doc);
    }
    {
        SteeredDocument doc;
        doc.failBuffer = true;
        const OpenResult r = doc.Open(path);
        EXPECT_EQ(r.status, OpenStatus::NoMemory);
        EXPECT_EQ(r.message, kMsgMemoryError);
        EXPECT_TRUE(r.forgetPath);  // the page cache of this file's bytes
        ExpectNoDocument(doc);
    }
    {
        // Memory running out while a thumbnail is made, after the open has
        // returned, costs that thumbnail only: the document stays, and the
        // frame says why it has none.
        SteeredDocument doc;
        doc.thumbnailThrows = true;
        ASSERT_TRUE(doc.Open(U16(dir.Write("frames.dcm", doctest_files::NativeFramesFile(2)))).Opened());
        doc.WaitForThumbnails();
        EXPECT_TRUE(doc.IsOpen());
        for (std::size_t k = 0; k < 2; ++k) {
            EXPECT_EQ(doc.ThumbnailStateOf(k), ThumbnailState::Failed);
            EXPECT_EQ(doc.Thumbnail(k), nullptr);
        }
        std::vector<std::string> texts;
        for (const DocumentProblem& p : doc.Problems().All())
            if (p.problem.code == ProblemCode::FrameDecode) texts.push_back(p.problem.text);
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[1].rfind("Frame 2 cannot be decoded: memory ran out", 0), 0u) << texts[1];
    }
}

// The file changes between the parse and the second read.
TEST(DocOpen, FileChangingBetweenTheReads) {
    TempDir dir;
    const Bytes bytes = doctest_files::SequenceFile();
    const auto path = dir.Write("moving.dcm", bytes);

    struct Case {
        const char* name;
        std::function<void()> change;
        OpenStatus status;
        const char16_t* message;
    } cases[] = {
        {"emptied", [&] { std::filesystem::resize_file(path, 0); }, OpenStatus::NoData, kMsgNoData},
        {"deleted", [&] { std::filesystem::remove(path); }, OpenStatus::Invalid, kMsgInvalidFile},
        {"replaced by a directory",
         [&] {
             std::filesystem::remove(path);
             std::filesystem::create_directory(path);
         },
         OpenStatus::Invalid, kMsgInvalidFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(path);
        dir.Write("moving.dcm", bytes);
        SteeredDocument doc;
        doc.onParsed = [&](const std::u16string&) { c.change(); };
        const OpenResult r = doc.Open(U16(path));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.message, c.message);
        EXPECT_TRUE(r.forgetPath);
        ExpectNoDocument(doc);
    }
    std::filesystem::remove_all(path);

    // Grown: the buffer holds what the second read finds, the tree what the parse found.
    dir.Write("moving.dcm", bytes);
    SteeredDocument doc;
    doc.onParsed = [&](const std::u16string&) { std::ofstream(path, std::ios::binary | std::ios::app) << "tail"; };
    ASSERT_TRUE(doc.Open(U16(path)).Opened());
    EXPECT_EQ(doc.DataSize(), bytes.size() + 4);
    EXPECT_EQ(0, std::memcmp(ShownBytes(doc).data() + bytes.size(), "tail", 4));
}

TEST(DocOpen, ThumbnailEntriesFollowTheFrameCount) {
    TempDir dir;
    SteeredDocument doc;
    ASSERT_TRUE(doc.Open(U16(dir.Write("native.dcm", doctest_files::NativeFramesFile(3)))).Opened());
    EXPECT_EQ(doc.ThumbnailCount(), 3u);
    EXPECT_EQ(doc.ThumbnailFrames(), 3u);
    doc.WaitForThumbnails();
    EXPECT_EQ(doc.ThumbnailsFinished(), 3u);
    EXPECT_EQ(doc.thumbnailsAsked, 3);
    // Frame k of the fixture is 2 x 2 pixels of grey k + 1: its thumbnail is
    // 128 x 128 pixels of that grey in 24 bits.
    for (std::size_t k = 0; k < 3; ++k) {
        const MCImage* t = doc.Thumbnail(k);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->GetWidth(), 128u);
        ASSERT_EQ(t->GetHeight(), 128u);
        ASSERT_EQ(t->GetBitsPerPixel(), 24);
        const uint8_t* bits = t->GetBits();
        EXPECT_TRUE(std::all_of(bits, bits + 128 * 128 * 3, [&](uint8_t b) { return b == k + 1; })) << k;
    }
    EXPECT_EQ(doc.Thumbnail(3), nullptr);
    EXPECT_EQ(doc.ThumbnailStateOf(3), ThumbnailState::None);

    // A frame count far beyond the frames present costs nothing: the entries
    // exist (labels count them) but only real frames are asked for.
    doc.thumbnailsAsked = 0;
    ASSERT_TRUE(doc.Open(U16(dir.Write("many.dcm", doctest_files::EncapsulatedFile(2000000000)))).Opened());
    EXPECT_EQ(doc.ThumbnailCount(), 2000000000u);
    doc.WaitForThumbnails();
    EXPECT_LE(doc.thumbnailsAsked, 4);

    ASSERT_TRUE(doc.Open(U16(dir.Write("plain.dcm", doctest_files::SequenceFile()))).Opened());
    EXPECT_EQ(doc.ThumbnailCount(), 0u);
}

// What a tool that prints one thing leaves out: the thumbnails (their
// entries stay, so the labels count the frames) and the tree records (the
// problems then belong to the root). The rest of the document is there.
TEST(DocOpen, OptionsLeaveOutThumbnailsAndRecords) {
    TempDir dir;
    const auto frames = U16(dir.Write("native.dcm", doctest_files::NativeFramesFile(3)));
    SteeredDocument doc;
    OpenOptions noThumbnails;
    noThumbnails.thumbnails = false;
    ASSERT_TRUE(doc.Open(frames, noThumbnails).Opened());
    EXPECT_EQ(doc.thumbnailsAsked, 0);
    EXPECT_EQ(doc.ThumbnailCount(), 3u);
    EXPECT_EQ(doc.ThumbnailFrames(), 0u);
    EXPECT_EQ(doc.ThumbnailStateOf(0), ThumbnailState::None);
    EXPECT_EQ(doc.Thumbnail(0), nullptr);
    ASSERT_NE(doc.Frames(), nullptr);
    EXPECT_TRUE(doc.Records().back().Element()->Is(0x0000, 0x0003));  // frame node 3

    OpenOptions noRecords;
    noRecords.thumbnails = false;
    noRecords.treeRecords = false;
    const Bytes problems = doctest_files::ProblemsFile();
    ASSERT_TRUE(doc.Open(U16(dir.Write("problems.dcm", problems)), noRecords).Opened());
    EXPECT_TRUE(doc.Records().empty());
    EXPECT_EQ(doc.DataSize(), problems.size());
    ASSERT_FALSE(doc.Problems().Empty());
    EXPECT_EQ(doc.Problems().Size(), doc.File()->Problems().Size());
    for (const DocumentProblem& p : doc.Problems().All()) EXPECT_EQ(p.record, std::nullopt);
}

TEST(DocOpen, SecondOpenReplacesTheFirst) {
    TempDir dir;
    const Bytes a = doctest_files::SequenceFile();
    const Bytes b = doctest_files::NativeFramesFile(2);
    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(dir.Write("a.dcm", a))).Opened());
    ASSERT_NE(doc.File()->Find(0x0008, 0x1115), nullptr);
    ASSERT_TRUE(doc.Open(U16(dir.Write("b.dcm", b))).Opened());
    EXPECT_EQ(doc.DataSize(), b.size());
    EXPECT_EQ(doc.File()->Find(0x0008, 0x1115), nullptr);
    EXPECT_TRUE(doc.Records().back().Element()->Is(0x0000, 0x0002));  // frame node 2
    EXPECT_EQ(doc.Path(), U16(dir.path() / "b.dcm"));
    doc.Close();
    ExpectNoDocument(doc);
}

TEST(DocOpen, SizeTextIsUnsigned) {
    EXPECT_EQ(SizeText(0), u"Size : 0");
    EXPECT_EQ(SizeText(412), u"Size : 412");
    // 2 GiB and 4 GiB + 1: the signed 32-bit count would print these negative or small.
    EXPECT_EQ(SizeText(2147483648ull), u"Size : 2147483648");
    EXPECT_EQ(SizeText(4294967297ull), u"Size : 4294967297");
}

// A file of more than 2 GiB, sparse on disk; its large value stays in the
// file, so the open costs no memory to speak of.
TEST(DocOpen, FilesOfTwoGibibytesAndMore) {
    TempDir dir;
    constexpr uint32_t kBig = 0x90000000u;  // 2.25 GiB of value
    testdicom::Writer head = testdicom::Part10(testdicom::kExplicitLE);
    testdicom::StudyElements(head);
    head.header(0x0009, 0x1010, "OB", kBig);
    testdicom::Writer tail(testdicom::Syntax::ExplicitLittle);
    tail.text(0x0020, 0x000D, "UI", testdicom::Pad("1.2.3", '\0'));
    const auto path = dir.Write("big.dcm", head.bytes());
    const uint64_t valueOffset = head.size();
    std::filesystem::resize_file(path, valueOffset + kBig);
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(tail.bytes().data()), std::streamsize(tail.size()));
    }
    const uint64_t size = valueOffset + kBig + tail.size();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    if (uint64_t(st.st_blocks) * 512 > (64u << 20)) GTEST_SKIP() << "the temporary folder does not keep files sparse";

    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(path)).Opened());
    ASSERT_EQ(doc.DataSize(), size);
    EXPECT_EQ(SizeText(doc.DataSize()), Format16("Size : %llu", (unsigned long long)size));
    const auto& records = doc.Records();
    ASSERT_TRUE(records.back().Element()->Is(0x0020, 0x000D));
    const ElementProperties last = doc.Properties(records.size() - 1);
    const uint64_t tagOffset = valueOffset + kBig;
    EXPECT_EQ(last.values[3], Format16("%llu", (unsigned long long)tagOffset));
    EXPECT_EQ(last.values[4], Format16("%llu", (unsigned long long)(tagOffset + 8)));
    EXPECT_EQ(last.first, tagOffset);
    EXPECT_EQ(last.last, size - 1);
    const ElementProperties big = doc.Properties(records.size() - 2);
    EXPECT_EQ(big.values[5], u"2415919104");  // the length, unsigned
    EXPECT_EQ(doc.RecordAtOffset(size - 1), std::optional<std::size_t>(records.size() - 1));
    EXPECT_EQ(doc.RecordAtOffset(0x80000000ull), std::optional<std::size_t>(records.size() - 2));
    EXPECT_EQ(ShownByte(doc, size - 1), 0);  // the UID's padding
    EXPECT_EQ(ShownByte(doc, tagOffset), 0x20);
}
