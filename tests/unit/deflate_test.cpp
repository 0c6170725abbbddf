// Deflated data sets: inflated and shown after the meta group as if they
// followed it in the file; a stream that does not inflate to its end gives a
// partial document whose stop names the file byte where inflating stopped;
// a deflate bomb stops at the limit.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/FileBytes.h"
#include "dicom/InflatedDataSet.h"
#include "dicom/LoaderRules.h"
#include "document/QuillonDocument.h"
#include "tests/support/DeflatedFiles.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

using namespace quillon;
using deflated_files::kInflatedFrom;
using doctest_files::TempDir;
using testdicom::Bytes;

namespace {

// Every record's tag, tag offset and range.
struct Row {
    uint16_t group, element;
    uint64_t tagOffset, first, last;
    bool operator==(const Row&) const = default;
};

std::vector<Row> Rows(QuillonDocument& doc) {
    std::vector<Row> rows;
    for (std::size_t i = 0; i < doc.Records().size(); ++i) {
        const CDicomTag* e = doc.Records()[i].Element();
        const auto [first, last] = doc.Range(i);
        rows.push_back({e->m_group, e->m_element, doc.File()->TagOffset(e), first, last});
    }
    return rows;
}

// A document whose files inflate to at most `limit` bytes.
class LimitedDocument : public QuillonDocument {
public:
    explicit LimitedDocument(uint64_t limit) : m_limit(limit) {}

protected:
    std::unique_ptr<CDicomFile> NewFile() override {
        auto file = QuillonDocument::NewFile();
        file->SetInflateLimit(m_limit);
        return file;
    }

private:
    uint64_t m_limit;
};

Bytes Appended(Bytes bytes, const Bytes& tail) {
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

// The gzip trailer of `data`: its CRC-32 and size, little endian.
Bytes GzipTrailer(const Bytes& data) {
    const uint32_t crc = uint32_t(crc32(0, data.data(), uInt(data.size())));
    const uint32_t size = uint32_t(data.size());
    Bytes out;
    for (uint32_t v : {crc, size})
        for (int s = 0; s < 32; s += 8) out.push_back(uint8_t(v >> s));
    return out;
}

}  // namespace

// The same data set, deflated in every way a writer may, shows the same tree
// as uncompressed, its offsets 14 further on (the deflated file's meta group
// has a group length, and its UID is two characters longer), and the bytes shown after the meta group are the
// inflated data set; the root says how offsets read.
TEST(Deflate, ShowsTheInflatedDataSetAfterTheMetaGroup) {
    const Bytes dataSet = deflated_files::SequenceDataSet();
    const Bytes stream = deflated_files::Deflate(dataSet).bytes;
    const struct Case {
        const char* name;
        Bytes stream;
        bool zlibWrapped;
        const char* problems;  // the codes of the problems, space-separated
    } cases[] = {
        {"raw deflate", stream, false, ""},
        {"stored blocks (level 0)", deflated_files::Deflate(dataSet, SIZE_MAX, false, 0).bytes, false, ""},
        {"zlib-wrapped", deflated_files::Deflate(dataSet, SIZE_MAX, true).bytes, true, ""},
        {"one zero byte of padding", Appended(stream, {0}), false, ""},
        {"a gzip trailer after the stream", Appended(stream, GzipTrailer(dataSet)), false, ""},
        {"three bytes after the stream", Appended(stream, {1, 2, 3}), false, "trailing-bytes "},
        {"a wrong gzip trailer", Appended(stream, GzipTrailer(Bytes(dataSet.begin(), dataSet.end() - 1))), false,
         "trailing-bytes "},
    };
    TempDir dir;
    QuillonDocument plain;
    ASSERT_TRUE(plain.Open(docunit::U16(dir.Write("plain.dcm", doctest_files::SequenceFile()))).Opened());
    // The data set's rows: the meta groups differ.
    const auto dataSetRows = [](QuillonDocument& doc) {
        std::vector<Row> rows = Rows(doc);
        std::erase_if(rows, [](const Row& row) { return row.group == 0x0002; });
        return rows;
    };
    std::vector<Row> expected = dataSetRows(plain);
    for (Row& row : expected) row.tagOffset += 14, row.first += 14, row.last += 14;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QuillonDocument doc;
        const auto path = dir.Write("deflated.dcm", deflated_files::File(c.stream));
        const OpenResult opened = doc.Open(docunit::U16(path));
        ASSERT_TRUE(opened.Opened());
        EXPECT_FALSE(opened.partial);
        std::string codes;
        for (std::size_t i = 0; i < doc.Problems().Size(); ++i) codes += std::string(ProblemCodeName(doc.Problems()[i].problem.code)) + " ";
        EXPECT_EQ(codes, c.problems);
        EXPECT_EQ(dataSetRows(doc), expected);
        EXPECT_EQ(doc.InflatedFrom(), kInflatedFrom);
        ASSERT_TRUE(doc.File()->Inflation());
        EXPECT_EQ(doc.File()->Inflation()->zlibWrapped, c.zlibWrapped);
        EXPECT_EQ(doc.DataSize(), kInflatedFrom + dataSet.size());
        Bytes shown(dataSet.size() + 4);
        ASSERT_TRUE(doc.ReadData(kInflatedFrom - 4, shown.data(), shown.size()));
        EXPECT_EQ(Bytes(shown.begin() + 4, shown.end()), dataSet);
        const Bytes meta = deflated_files::Meta();
        EXPECT_EQ(Bytes(shown.begin(), shown.begin() + 4), Bytes(meta.end() - 4, meta.end()));
        const std::u16string note = u"deflated: offsets from byte 222 on are positions in the inflated data set";
        EXPECT_EQ(doc.RootLabel(u"F"), u"F (" + note + u")");
        EXPECT_EQ(doc.Properties(std::nullopt).values[1], u"D" + note.substr(1));
        EXPECT_FALSE(doc.FileChanged());
    }
    // Files that are not deflated say nothing of it.
    EXPECT_EQ(plain.RootLabel(u"F"), u"F");
    EXPECT_FALSE(plain.InflatedFrom());
    EXPECT_EQ(plain.Properties(std::nullopt).values[1], u" ");
}

// A stream that does not inflate to its end: the document shows what
// inflated, read as far as it goes, and its stop names the byte of the file
// where inflating stopped. Streams flushed at a known point make that byte
// exact: a corrupt block header right after the flush is found in its first
// byte, 222 + flushed.
TEST(Deflate, BrokenStreamsShowWhatInflated) {
    const Bytes dataSet = deflated_files::SequenceDataSet();
    // (0010,0010) starts 156 bytes into the data set (shown at 378), and
    // (0010,0020) follows at 172 (394).
    const deflated_files::Stream atElement = deflated_files::Deflate(dataSet, 156);
    const deflated_files::Stream inValue = deflated_files::Deflate(dataSet, 166);
    const deflated_files::Stream wrapped = deflated_files::Deflate(dataSet, SIZE_MAX, true);
    const auto corruptAt = [](Bytes stream, std::size_t at) {
        stream[at] = 0x07;  // a final block of the reserved type 3
        return stream;
    };
    const auto cut = [](const Bytes& stream, std::size_t size) { return Bytes(stream.begin(), stream.begin() + std::ptrdiff_t(size)); };
    const std::string F = std::to_string(kInflatedFrom + atElement.flushed);
    const std::string G = std::to_string(kInflatedFrom + inValue.flushed);
    Bytes badCheck = wrapped.bytes;
    badCheck.back() ^= 0x55;
    const struct Case {
        const char* name;
        Bytes stream;
        uint64_t stop;           // the stop offset, as shown
        uint16_t group, element; // the element the parse stopped at (0,0: none)
        std::string sentence;    // the stop's sentence ends so
        std::size_t topLevel;    // top-level elements read, the meta group's three included
    } cases[] = {
        {"corrupt right after an element", corruptAt(atElement.bytes, atElement.flushed), 378, 0, 0,
         "the deflated data set is corrupt at byte " + F + " of the file (invalid block type): its inflated bytes end at byte 378", 8},
        {"corrupt inside a value", corruptAt(inValue.bytes, inValue.flushed), 378, 0x0010, 0x0010,
         "the last element is cut off by the end of the file; the deflated data set is corrupt at byte " + G +
             " of the file (invalid block type): its inflated bytes end at byte 388", 8},
        {"cut off after the flush", cut(atElement.bytes, atElement.flushed), 378, 0, 0,
         "the deflated data set is cut off by the end of the file at byte " + F + ": its inflated bytes end at byte 378", 8},
        {"nothing inflates", corruptAt(atElement.bytes, 0), kInflatedFrom, 0, 0,
         "the deflated data set is corrupt at byte 222 of the file (invalid block type): its inflated bytes end at byte 222", 4},
        {"zlib check value wrong", badCheck, kInflatedFrom + dataSet.size(), 0, 0,
         "the deflated data set is corrupt at byte " + std::to_string(kInflatedFrom + badCheck.size() - 1) +
             " of the file (incorrect data check): its inflated bytes end at byte 426", 12},
        {"zlib trailer cut", cut(wrapped.bytes, wrapped.bytes.size() - 2), kInflatedFrom + dataSet.size(), 0, 0,
         "cut off by the end of the file at byte " + std::to_string(kInflatedFrom + wrapped.bytes.size() - 2) +
             ": its inflated bytes end at byte 426", 12},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QuillonDocument doc;
        const OpenResult opened = doc.Open(docunit::U16(dir.Write("broken.dcm", deflated_files::File(c.stream))));
        ASSERT_TRUE(opened.Opened());
        EXPECT_TRUE(opened.partial);
        EXPECT_EQ(doc.StopOffset(), c.stop);
        const SLoadProblem* stop = doc.Problems().Stop();
        ASSERT_NE(stop, nullptr);
        EXPECT_EQ(stop->offset, c.stop);
        EXPECT_EQ(stop->group, c.group);
        EXPECT_EQ(stop->element, c.element);
        EXPECT_TRUE(stop->text.size() >= c.sentence.size() &&
                    stop->text.compare(stop->text.size() - c.sentence.size(), c.sentence.size(), c.sentence) == 0)
            << stop->text;
        // The stop is the first problem the window lists.
        EXPECT_EQ(doc.Problems()[0].problem.code, ProblemCode::Stopped);
        EXPECT_EQ(doc.File()->Elements().size(), c.topLevel);
        EXPECT_EQ(doc.RootLabel(u"F"),
                  u"F (deflated: offsets from byte 222 on are positions in the inflated data set) (read up to byte " +
                      quillon::FromUtf8(std::to_string(c.stop)) + u")");
        for (std::size_t i = 0; i < doc.Records().size(); ++i) EXPECT_LT(doc.Range(i).second, c.stop);
    }
}

// A few KiB that stand for gigabytes are inflated up to the limit and no
// further: the document shows that much, its stop says so, and the bytes
// held are the limit's. Progress is told in compressed bytes up to their total.
TEST(Deflate, BombStopsAtTheLimit) {
    // The elements of the sequence file, then an OB value of 1 GiB of zeros:
    // one flushed MiB of zeros, repeated (a full flush forgets the history,
    // so each MiB compresses to the same bytes).
    testdicom::Writer w;
    w.raw(deflated_files::SequenceDataSet());
    w.header(0x0042, 0x0011, "OB", 0x40000000);
    const Bytes head = w.bytes();
    const deflated_files::Stream first = deflated_files::Deflate(Appended(head, Bytes(1 << 20, 0)), head.size());
    const deflated_files::Stream zeros = deflated_files::Deflate(Bytes(1 << 20, 0), 1 << 20);
    Bytes stream(first.bytes.begin(), first.bytes.begin() + std::ptrdiff_t(first.flushed));
    const Bytes mib(zeros.bytes.begin(), zeros.bytes.begin() + std::ptrdiff_t(zeros.flushed));
    for (int i = 0; i < 1024; ++i) stream.insert(stream.end(), mib.begin(), mib.end());
    stream.insert(stream.end(), {0x03, 0x00});  // an empty final block
    ASSERT_LT(stream.size(), 2u << 20);

    TempDir dir;
    const auto path = dir.Write("bomb.dcm", deflated_files::File(stream));
    constexpr uint64_t kLimit = 8 << 20;
    LimitedDocument doc(kLimit);
    std::vector<std::pair<std::size_t, std::size_t>> told;
    doc.SetProgressHandler([&](OpenStage stage, std::size_t done, std::size_t total) {
        if (stage == OpenStage::Inflating) told.emplace_back(done, total);
    });
    const OpenResult opened = doc.Open(docunit::U16(path));
    ASSERT_TRUE(opened.Opened());
    EXPECT_TRUE(opened.partial);
    EXPECT_EQ(doc.DataSize(), kInflatedFrom + kLimit);
    ASSERT_TRUE(doc.File()->Inflation());
    EXPECT_EQ(doc.File()->Inflation()->end, InflateEnd::OverLimit);
    const SLoadProblem* stop = doc.Problems().Stop();
    ASSERT_NE(stop, nullptr);
    // The OB value is cut by the limit: the parse stops at its tag.
    EXPECT_EQ(stop->offset, kInflatedFrom + deflated_files::SequenceDataSet().size());
    EXPECT_EQ(stop->element, 0x0011);
    EXPECT_NE(stop->text.find("the inflated data set reaches the limit of 8 MiB at byte " +
                              std::to_string(kInflatedFrom + kLimit)),
              std::string::npos)
        << stop->text;
    // The MiBs of zeros are held as no memory at all: only the block with
    // the elements takes any.
    EXPECT_LE(doc.File()->Source()->Inflated()->HeldBytes(), InflatedBytes::kBlockSize);
    ASSERT_GE(told.size(), 8u);
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_EQ(told.back().first, told.back().second);
    EXPECT_EQ(told.back().second, stream.size());

    // The limit everyone else gets is the named one, well under a gigabyte.
    EXPECT_EQ(CDicomFile().InflateLimit(), rules::kInflatedDataSetLimit);
    EXPECT_LE(rules::kInflatedDataSetLimit, uint64_t(256) << 20);
}

// Blocks of zeros are held as none and read back as zeros, between blocks
// with data, at the end, and where the limit cuts a block short: every byte
// reads back as the data it was inflated from.
TEST(Deflate, ZeroBlocksReadBackAsTheData) {
    constexpr std::size_t kBlock = InflatedBytes::kBlockSize;
    Bytes data(4 * kBlock + 1000, 0);
    for (std::size_t i = 0; i < 300; ++i) data[i] = uint8_t(i * 7 + 1);  // block 0
    data[3 * kBlock - 1] = 0xAA;                                         // the last byte of block 2
    data[4 * kBlock + 10] = 0x55;                                        // the short last block
    const struct {
        const char* name;
        Bytes data;
        uint64_t limit;
        InflateEnd end;
        uint64_t held;  // bytes of blocks held
    } cases[] = {
        {"mixed", data, 1 << 30, InflateEnd::Complete, 2 * kBlock + 1000},
        {"zero tail", Bytes(data.begin(), data.begin() + 3 * kBlock + 5), 1 << 30, InflateEnd::Complete, 2 * kBlock},
        {"limit inside a zero block", data, 3 * kBlock + 100, InflateEnd::OverLimit, 2 * kBlock},
        {"limit before a block's data", data, 2 * kBlock + 700, InflateEnd::OverLimit, kBlock},
        {"all zeros", Bytes(2 * kBlock + 3, 0), 1 << 30, InflateEnd::Complete, 0},
    };
    for (const auto& c : cases) {
        const Bytes stream = deflated_files::Deflate(c.data).bytes;
        const auto source = FileBytes::FromMemory(stream.data(), stream.size());
        const InflateResult result = InflateDataSet(*source, 0, c.limit);
        EXPECT_EQ(result.outcome.end, c.end) << c.name;
        const uint64_t size = std::min<uint64_t>(c.data.size(), c.limit);
        ASSERT_EQ(result.bytes->Size(), size) << c.name;
        EXPECT_EQ(result.bytes->HeldBytes(), c.held) << c.name;
        Bytes back(size, 0xEE);
        ASSERT_TRUE(result.bytes->Read(0, back.data(), back.size())) << c.name;
        EXPECT_TRUE(std::equal(back.begin(), back.end(), c.data.begin())) << c.name;
        // A read across a block boundary, and one past the end.
        uint8_t across[4] = {};
        if (size > 2 * kBlock + 2) {
            ASSERT_TRUE(result.bytes->Read(2 * kBlock - 2, across, 4)) << c.name;
            EXPECT_TRUE(std::equal(across, across + 4, c.data.begin() + 2 * kBlock - 2)) << c.name;
        }
        EXPECT_FALSE(result.bytes->Read(size - 1, across, 2)) << c.name;
    }
}
