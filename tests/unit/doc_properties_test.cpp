// Property rows of a selection and the element under a clicked byte.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

using namespace quillon;
using doctest_files::TempDir;
using docunit::IndexOf;
using docunit::U16;

namespace {

struct Rows {
    const char16_t* tag;
    const char16_t* description;
    const char16_t* vr;
    const char16_t* tagOffset;
    const char16_t* dataOffset;
    const char16_t* size;
    const char16_t* value;
    uint64_t first;
    uint64_t last;
};

void ExpectRows(const ElementProperties& p, const Rows& rows) {
    EXPECT_EQ(p.values[0], rows.tag);
    EXPECT_EQ(p.values[1], rows.description);
    EXPECT_EQ(p.values[2], rows.vr);
    EXPECT_EQ(p.values[3], rows.tagOffset);
    EXPECT_EQ(p.values[4], rows.dataOffset);
    EXPECT_EQ(p.values[5], rows.size);
    EXPECT_EQ(p.values[6], rows.value);
    EXPECT_EQ(p.highlight, HighlightRequest::Range);
    EXPECT_EQ(p.first, rows.first);
    EXPECT_EQ(p.last, rows.last);
}

class DocProperties : public testing::Test {
protected:
    void Open(const testdicom::Bytes& bytes) { ASSERT_TRUE(doc.Open(U16(dir.Write("f.dcm", bytes))).Opened()); }
    TempDir dir;
    quillon::QuillonDocument doc;
};

}  // namespace

TEST_F(DocProperties, RowsOfElementsItemsAndSequences) {
    Open(doctest_files::SequenceFile());
    SCOPED_TRACE("sequence file");
    struct Case {
        uint16_t group, element;
        int nth;
        Rows rows;
    } cases[] = {
        // Explicit VR short header: tag offset 8 below the data offset.
        {0x0002,
         0x0010,
         1,
         {u"0002, 0010", u"Transfer Syntax UID", u"UI", u"180", u"188", u"20", u"1.2.840.10008.1.2.1", 180, 207}},
        // Undefined-length sequence: size FFFFFFFF, range through its delimiter.
        {0x0008,
         0x1115,
         1,
         {u"0008, 1115", u"Referenced Series Sequence", u"SQ", u"236", u"248", u"FFFFFFFF", u"", 236, 331}},
        // An item: "SQ Item", no VR, its 8-byte header included.
        {0xFFFE, 0xE000, 1, {u"FFFE, E000", u"SQ Item", u"", u"248", u"256", u"FFFFFFFF", u"", 248, 293}},
        {0xFFFE, 0xE000, 3, {u"FFFE, E000", u"SQ Item", u"", u"344", u"352", u"12", u"", 344, 363}},
        {0x0008, 0x1140, 1, {u"0008, 1140", u"Referenced Image Sequence", u"SQ", u"332", u"344", u"20", u"", 332, 363}},
        // The element inside the item decodes with the item's own character set.
        {0x0010, 0x0010, 1, {u"0010, 0010", u"Patient's Name", u"PN", u"274", u"282", u"4", u"Doe ", 274, 285}},
        // Empty value: exactly its header, and an empty value row.
        {0x0010, 0x0030, 1, {u"0010, 0030", u"Patient's Birth Date", u"DA", u"394", u"402", u"0", u"", 394, 401}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.group << "," << c.element << " #" << c.nth);
        ExpectRows(doc.Properties(IndexOf(doc, c.group, c.element, c.nth)), c.rows);
    }
}

TEST_F(DocProperties, PixelDataFrameNodeAndFragments) {
    Open(doctest_files::NativeFramesFile(3));
    const std::size_t pixel = IndexOf(doc, 0x7FE0, 0x0010);
    const ElementProperties pd = doc.Properties(pixel);
    // OB: the long explicit header, 12 below.
    EXPECT_EQ(std::stoull(ToUtf8(pd.values[4])) - std::stoull(ToUtf8(pd.values[3])), 12u);
    EXPECT_FALSE(pd.thumbnail);

    const ElementProperties frame2 = doc.Properties(pixel + 2);
    const uint64_t p = doc.Records()[pixel].Element()->m_dataOffset;
    const std::u16string offset = Format16("%llu", (unsigned long long)(p + 4));
    EXPECT_EQ(frame2.values[0], u"7FE0, 0010");
    EXPECT_EQ(frame2.values[1], u"Frame Data");
    EXPECT_EQ(frame2.values[2], u"OB");
    EXPECT_EQ(frame2.values[3], offset);  // tag offset is the data offset
    EXPECT_EQ(frame2.values[4], offset);
    EXPECT_EQ(frame2.values[5], u"4");
    EXPECT_EQ(frame2.first, p + 4);
    EXPECT_EQ(frame2.last, p + 7);
    EXPECT_EQ(frame2.thumbnail, std::optional<std::size_t>(1));

    Open(doctest_files::EncapsulatedFile(1));
    const std::size_t encapsulated = IndexOf(doc, 0x7FE0, 0x0010);
    EXPECT_FALSE(doc.Properties(encapsulated + 1).thumbnail);  // offset table
    const ElementProperties fragment = doc.Properties(encapsulated + 2);
    EXPECT_EQ(fragment.values[0], u"FFFE, E000");
    EXPECT_EQ(fragment.values[1], u"SQ Item");
    EXPECT_EQ(fragment.thumbnail, std::optional<std::size_t>(0));
    // The one frame takes every fragment: each shows its picture.
    EXPECT_EQ(doc.Properties(encapsulated + 3).thumbnail, std::optional<std::size_t>(0));
}

TEST_F(DocProperties, LongValuesAreCut) {
    struct Case {
        std::vector<uint16_t> numbers;
        bool cut;
    } cases[] = {
        {std::vector<uint16_t>(100, 1000), true},  // 599 characters
        {std::vector<uint16_t>(128, 10), false},   // 511: shown whole
        {[] {
             std::vector<uint16_t> v(127, 10);
             v.push_back(100);
             return v;
         }(),
         true},  // 512
    };
    for (const Case& c : cases) {
        const std::size_t length = doctest_files::NumberListTextLength(c.numbers);
        SCOPED_TRACE(length);
        Open(doctest_files::NumberListFile(c.numbers));
        const std::u16string value = doc.Properties(IndexOf(doc, 0x0028, 0x3006)).values[6];
        if (c.cut) {
            ASSERT_EQ(value.size(), 255u);
            EXPECT_EQ(value.substr(252), u"...");
            EXPECT_EQ(value.substr(0, 12), c.numbers[0] == 1000 ? u"1000 \\1000 \\" : u"10 \\10 \\10 \\");
        } else {
            EXPECT_EQ(value.size(), length);
        }
    }
    // A surrogate pair is never split by the cut.
    std::u16string text(251, u'a');
    text += u"\U0001F600";
    text.resize(600, u'b');
    const std::u16string cut = CutValueText(text);
    EXPECT_EQ(cut, std::u16string(251, u'a') + u"...");
}

TEST_F(DocProperties, RootAndNoDocument) {
    ElementProperties none = doc.Properties(0);
    EXPECT_EQ(none.highlight, HighlightRequest::Keep);
    for (const auto& v : none.values) EXPECT_EQ(v, u" ");

    Open(doctest_files::SequenceFile());
    ElementProperties root = doc.Properties(std::nullopt);
    EXPECT_EQ(root.highlight, HighlightRequest::Clear);
    for (const auto& v : root.values) EXPECT_EQ(v, u" ");
    EXPECT_EQ(doc.Properties(doc.Records().size()).highlight, HighlightRequest::Clear);
}

// Lengths and ranges follow the lengths written in the file: a 26-byte date
// list keeps its 26 bytes (all three dates shown, every byte its own), an
// odd value's range stops before the next element's tag.
TEST_F(DocProperties, LengthsAndRangesAsWrittenInTheFile) {
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    testdicom::StudyElements(w);
    const uint64_t dates = w.size();
    w.text(0x0008, 0x0021, "DA", "20090304\\20090305\\20090306");
    const uint64_t odd = w.size();
    w.text(0x0009, 0x1001, "LO", "abcde");
    const uint64_t next = w.size();
    w.text(0x0010, 0x0030, "DA", "20010101");
    Open(w.bytes());
    const ElementProperties da = doc.Properties(IndexOf(doc, 0x0008, 0x0021));
    EXPECT_EQ(da.values[5], u"26");
    EXPECT_EQ(da.values[6], u"20090304\\20090305\\20090306");
    EXPECT_EQ(da.first, dates);
    EXPECT_EQ(da.last, dates + 8 + 26 - 1);
    const ElementProperties lo = doc.Properties(IndexOf(doc, 0x0009, 0x1001));
    EXPECT_EQ(lo.values[5], u"5");
    EXPECT_EQ(lo.last, odd + 8 + 5 - 1);
    for (uint64_t at : {dates + 8 + 25, odd + 12}) {
        SCOPED_TRACE(at);
        const auto found = doc.RecordAtOffset(at);
        ASSERT_TRUE(found);
        EXPECT_EQ(doc.Range(*found).first, at == odd + 12 ? odd : dates);
    }
    const auto found = doc.RecordAtOffset(next);
    ASSERT_TRUE(found);
    EXPECT_TRUE(doc.Records()[*found].Element()->Is(0x0010, 0x0030));
}

// The element under a byte is the outermost one that holds it.
TEST_F(DocProperties, RecordAtOffsetIsTheOutermostElement) {
    Open(doctest_files::SequenceFile());
    struct Case {
        uint64_t offset;
        int group, element;  // -1: none (preamble)
    } cases[] = {
        {0, -1, -1},
        {131, -1, -1},          // "DICM"
        {132, 0x0002, 0x0001},  // first byte of the first element
        {250, 0x0008, 0x1115},  // inside the first item's header
        {280, 0x0008, 0x1115},  // the name inside the item
        {331, 0x0008, 0x1115},  // last byte of the sequence delimiter
        {332, 0x0008, 0x1140},
        {401, 0x0010, 0x0030},  // the empty element's header
        {402, 0x0020, 0x0013},  // the byte after it: the next element
        {411, 0x0020, 0x0013},
        {412, -1, -1},  // past the end
        {0xFFFFFFFFull, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        const auto found = doc.RecordAtOffset(c.offset);
        if (c.group < 0) {
            EXPECT_FALSE(found);
        } else {
            ASSERT_TRUE(found);
            EXPECT_TRUE(doc.Records()[*found].Element()->Is(uint16_t(c.group), uint16_t(c.element)));
            EXPECT_EQ(doc.Records()[*found].depth, 0);
        }
    }
}

// The skipping lookup gives the same record as testing every record in order,
// for every byte of real files (including malformed ones whose children
// reach beyond their parents).
TEST(DocCaret, SameAsTheLinearScanOnTheCorpus) {
    const std::filesystem::path data = std::filesystem::path(QUILLON_PYDICOM_DATA) / "test_files";
    if (!std::filesystem::exists(data)) GTEST_SKIP() << "pydicom data not installed";
    int files = 0;
    for (const char* name :
         {"CT_small.dcm", "MR_small_RLE.dcm", "JPEG2000.dcm", "UN_sequence.dcm", "rtplan.dcm", "rtstruct.dcm",
          "emri_small_jpeg_2k_lossless.dcm", "nested_priv_SQ.dcm", "SC_rgb_rle_2frame.dcm", "reportsi.dcm",
          "ExplVR_BigEnd.dcm", "MR_small_implicit.dcm", "no_meta_group_length.dcm", "MR_truncated.dcm"}) {
        quillon::QuillonDocument doc;
        if (!doc.Open(U16(data / name)).Opened()) continue;
        SCOPED_TRACE(name);
        ++files;
        const auto& records = doc.Records();
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        for (std::size_t i = 0; i < records.size(); ++i) ranges.push_back(doc.Range(i));
        const uint64_t limit = doc.DataSize() + 64;
        for (uint64_t c = 0; c < limit; ++c) {
            std::optional<std::size_t> expected;
            for (std::size_t i = 0; i < ranges.size(); ++i)
                if (ranges[i].first <= c && c <= ranges[i].second) {
                    expected = i;
                    break;
                }
            ASSERT_EQ(doc.RecordAtOffset(c), expected) << "offset " << c;
        }
    }
    EXPECT_GE(files, 8);
}

// Every element of every real file can be shown: a range inside the file's
// bytes (cut-off files aside) and a value row that fits the list.
TEST(DocCorpus, EveryElementCanBeShown) {
    const std::filesystem::path data = std::filesystem::path(QUILLON_PYDICOM_DATA) / "test_files";
    if (!std::filesystem::exists(data)) GTEST_SKIP() << "pydicom data not installed";
    std::size_t shown = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(data)) {
        if (!entry.is_regular_file()) continue;
        quillon::QuillonDocument doc;
        if (!doc.Open(U16(entry.path())).Opened()) continue;
        SCOPED_TRACE(entry.path().string());
        for (std::size_t i = 0; i < doc.Records().size(); ++i) {
            const ElementProperties p = doc.Properties(i);
            ASSERT_EQ(p.highlight, HighlightRequest::Range);
            EXPECT_LE(p.first, p.last + 1);
            EXPECT_FALSE(p.values[0].empty());
            EXPECT_TRUE(p.values[6].size() < 512);
            ++shown;
        }
    }
    EXPECT_GT(shown, 10000u);
}
