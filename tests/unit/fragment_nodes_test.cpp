// The fragment items of encapsulated pixel data are held as an offset and a
// length, and made into nodes only when asked for: a node made for a look
// (the tree walk of quillon-dump) and a node kept (the window's tree, a
// selection, a problem) must both stand where the item lies in the file and
// carry the label, description and value the item has; and a walk over many
// fragments must keep none of the nodes it made.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "document/DocumentTree.h"
#include "document/ElementSearch.h"
#include "document/QuillonDocument.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

namespace {

using docunit::U16;
using testdicom::Bytes;

const std::filesystem::path kData = QUILLON_PYDICOM_DATA "/test_files";

// An item as the file holds it, found by walking the item headers from the
// pixel data's value on: where its tag lies and the length it gives.
struct RawItem {
    uint64_t tagOffset;
    uint32_t length;
};

std::vector<RawItem> RawItems(const quillon::QuillonDocument& doc, uint64_t valueOffset) {
    std::vector<RawItem> items;
    uint64_t at = valueOffset;
    for (;;) {
        uint8_t header[8];
        if (!doc.ReadData(at, header, sizeof header)) break;
        const uint32_t tag = uint32_t(header[0] | header[1] << 8) << 16 | uint32_t(header[2] | header[3] << 8);
        if (tag != 0xFFFEE000u) break;
        const uint32_t length = uint32_t(header[4]) | uint32_t(header[5]) << 8 | uint32_t(header[6]) << 16 |
                                uint32_t(header[7]) << 24;
        items.push_back({at, length});
        at += 8 + uint64_t(length);
    }
    return items;
}

// What a tree line of an item shows (the columns of quillon-dump and the
// property rows).
struct Shown {
    std::u16string label;
    uint64_t tagOffset;
    uint64_t dataOffset;
    uint32_t length;
    uint64_t first;
    uint64_t last;
    std::u16string vr;
    std::u16string description;
    std::u16string value;
    bool operator==(const Shown&) const = default;
};

void PrintTo(const Shown& s, std::ostream* os) {
    *os << quillon::ToUtf8(s.label) << " @" << s.tagOffset << "/" << s.dataOffset << " length " << s.length << " ["
        << s.first << "," << s.last << "] " << quillon::ToUtf8(s.vr) << " " << quillon::ToUtf8(s.description) << " \""
        << quillon::ToUtf8(s.value) << "\"";
}

Shown ShownOf(const quillon::QuillonDocument& doc, const TreeItemRecord& record, const CDicomTag* e,
              const std::u16string& label) {
    const CDicomFile& file = *doc.File();
    const auto [first, last] = file.ElementRange(e);
    return {label,
            file.TagOffset(e),
            e->m_dataOffset,
            e->GetLength(),
            first,
            last,
            e->m_vr.GetVR(),
            doc.FrameStarts().ItemDescription(e),
            e->HasValue() ? e->GetValueText(record.charset) : std::u16string()};
}

// Three frames in five fragments, the offset table naming the first of each.
Bytes ThreeFramesInFiveFragments() {
    return doctest_files::FragmentsFile(
        3, {0, 26, 36}, {{0xFF, 0xD8, 1, 2}, {3, 4, 5, 6, 7, 8}, {0xFF, 0xD8}, {0xFF, 0xD8, 9, 10}, {11, 12}});
}

TEST(FragmentNodes, MadeForALookOrKeptTheyShowTheItemsOfTheFile) {
    doctest_files::TempDir dir;
    struct Case {
        std::filesystem::path path;
        std::size_t fragments;
        std::u16string firstLabel;
        std::u16string lastLabel;
    };
    const Case cases[] = {
        {kData / "JPEG2000.dcm", 1, u"Frame 0001", u"Frame 0001"},
        {kData / "MR_small_RLE.dcm", 1, u"Frame 0001", u"Frame 0001"},
        {kData / "SC_rgb_rle_2frame.dcm", 2, u"Frame 0001", u"Frame 0002"},
        {kData / "rtdose_rle.dcm", 15, u"Frame 0001", u"Frame 0015"},
        {kData / "SC_rgb_small_odd_jpeg.dcm", 1, u"Frame 0001", u"Frame 0001"},
        {dir.Write("three.dcm", ThreeFramesInFiveFragments()), 5, u"Frame 0001", u"Frame 0003 (part 2)"},
        {dir.Write("one.dcm", doctest_files::EncapsulatedFile(1)), 3, u"Frame 0001", u"Frame 0001 (part 3)"},
        // Fragments whose bytes make the VR guessed differ from one to the next.
        {dir.Write("text.dcm", doctest_files::FragmentsFile(1, {}, {{0xFF, 0xD8, 0xFF, 0xD9}, {'T', 'E', 'X', 'T'}, {1, 2}})),
         3, u"Frame 0001", u"Frame 0001 (part 3)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.filename().string());
        // The way quillon-dump goes: thumbnails made, the tree walked once.
        quillon::QuillonDocument walked;
        ASSERT_TRUE(walked.OpenPath(c.path, {.thumbnails = true, .treeRecords = false}).Opened());
        const CDicomTag7FE0* pixelData = walked.File()->PixelData();
        ASSERT_NE(pixelData, nullptr);
        ASSERT_EQ(pixelData->FragmentCount(), c.fragments);
        std::vector<Shown> looked;
        VisitTreeRecords(*walked.File(), walked.ThumbnailCount(),
                         [&](const TreeItemRecord& record, CDicomTag* e, const std::u16string& label) {
                             if (e->m_parent == pixelData) looked.push_back(ShownOf(walked, record, e, label));
                         });
        // The thumbnails and the walk read the fragments without keeping a
        // node; a frame that cannot be decoded has its problem pinned to its
        // first fragment, which is kept.
        std::size_t undecoded = 0;
        for (const auto& p : walked.Problems().All()) undecoded += p.problem.code == ProblemCode::FrameDecode;
        EXPECT_EQ(pixelData->FragmentNodesMade(), undecoded);

        // The way the window goes: a record per item, a node kept for each asked for.
        quillon::QuillonDocument shown;
        ASSERT_TRUE(shown.Open(U16(c.path)).Opened());
        const auto& records = shown.Records();
        const std::size_t pixel = docunit::IndexOf(shown, 0x7FE0, 0x0010);
        const CDicomTag7FE0* kept = shown.File()->PixelData();
        ASSERT_EQ(records[pixel].end - pixel, c.fragments + 2);
        std::vector<Shown> made;
        for (std::size_t r = pixel + 1; r < records[pixel].end; ++r) made.push_back(ShownOf(shown, records[r], records[r].Element(), shown.Label(r)));
        EXPECT_EQ(made, looked);

        // Against the item headers in the file: the offset table, then the fragments.
        const std::vector<RawItem> raw = RawItems(shown, kept->m_dataOffset);
        ASSERT_EQ(raw.size(), made.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(made[i].tagOffset, raw[i].tagOffset);
            EXPECT_EQ(made[i].dataOffset, raw[i].tagOffset + 8);
            EXPECT_EQ(made[i].length, raw[i].length);
            EXPECT_EQ(made[i].first, raw[i].tagOffset);
            EXPECT_EQ(made[i].last, raw[i].tagOffset + 8 + raw[i].length - 1);
            CDicomTag* node = records[pixel + 1 + i].Element();
            EXPECT_EQ(kept->Child(i), node);  // asked again: the same node
            EXPECT_EQ(kept->IndexOfChild(node), i);
            EXPECT_EQ(ElementLabel(*shown.File(), node, shown.ThumbnailCount()), made[i].label);
            // The value is the item's bytes.
            std::vector<uint8_t> expected(raw[i].length), held(raw[i].length);
            ASSERT_TRUE(shown.ReadData(raw[i].tagOffset + 8, expected.data(), expected.size()));
            EXPECT_TRUE(node->CopyValue(held.data(), held.size()));
            EXPECT_EQ(held, expected);
        }
        EXPECT_EQ(made[1].label, c.firstLabel);
        EXPECT_EQ(made.back().label, c.lastLabel);

        // A fragment shows the thumbnail of its frame and highlights its bytes.
        const quillon::ElementProperties last = shown.Properties(records[pixel].end - 1);
        EXPECT_EQ(last.first, raw.back().tagOffset);
        EXPECT_EQ(last.values[3], quillon::Format16("%llu", static_cast<unsigned long long>(raw.back().tagOffset)));
        ASSERT_TRUE(last.thumbnail.has_value());
    }
}

// One frame in `count` fragments: an empty JPEG stream that cannot be
// decoded, then fragments of 0, 2 and 4 bytes.
std::filesystem::path WriteManyFragments(const doctest_files::TempDir& dir, std::size_t count) {
    std::vector<Bytes> fragments(count);
    fragments[0] = {0xFF, 0xD8, 0xFF, 0xD9};
    for (std::size_t k = 1; k < count; ++k) fragments[k] = Bytes(k % 3 * 2, uint8_t(k));
    return dir.Write("many.dcm", doctest_files::FragmentsFile(1, {}, fragments));
}

TEST(FragmentNodes, AWalkOverManyFragmentsKeepsFewNodes) {
    constexpr std::size_t kFragments = 100000;
    doctest_files::TempDir dir;
    const auto path = WriteManyFragments(dir, kFragments);

    quillon::QuillonDocument doc;
    // As quillon-dump --problems goes: no thumbnails, no records.
    ASSERT_TRUE(doc.OpenPath(path, {.thumbnails = false, .treeRecords = false}).Opened());
    const CDicomTag7FE0* pixelData = doc.File()->PixelData();
    ASSERT_EQ(pixelData->FragmentCount(), kFragments);
    std::size_t items = 0;
    uint64_t lastTag = 0;
    VisitTreeRecords(*doc.File(), doc.ThumbnailCount(), [&](const TreeItemRecord&, CDicomTag* e, const std::u16string&) {
        if (e->m_parent != pixelData) return;
        ++items;
        lastTag = doc.File()->TagOffset(e);
    });
    EXPECT_EQ(items, kFragments + 1);
    EXPECT_EQ(lastTag, pixelData->FragmentTagOffset(kFragments - 1));
    // The frame cannot be decoded: its problem is pinned to the first fragment,
    // the one node made and kept.
    EXPECT_EQ(pixelData->FragmentNodesMade(), 0u);
    ASSERT_EQ(doc.CheckFrames(), 1u);
    EXPECT_EQ(pixelData->FragmentNodesMade(), 1u);
    EXPECT_EQ(pixelData->FragmentNode(0), pixelData->Child(1));
    // Another asked for: one more, at its place.
    const CDicomTag* middle = pixelData->FragmentNode(kFragments / 2);
    ASSERT_NE(middle, nullptr);
    EXPECT_EQ(middle->m_dataOffset, pixelData->FragmentDataOffset(kFragments / 2));
    EXPECT_EQ(pixelData->IndexOfChild(middle), kFragments / 2 + 1);
    EXPECT_EQ(pixelData->FragmentNodesMade(), 2u);
}

// The window's table: one record per fragment, but a node only for the
// fragments someone asks for. Labels, the bytes a fragment covers, the
// record of a byte and a search over every record come without making the
// others.
TEST(FragmentNodes, TheTreeOfManyFragmentsKeepsOnlyTheNodesAskedFor) {
    constexpr std::size_t kFragments = 50000;
    doctest_files::TempDir dir;
    const auto path = WriteManyFragments(dir, kFragments);

    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(path)).Opened());
    const CDicomTag7FE0* pixelData = doc.File()->PixelData();
    ASSERT_EQ(pixelData->FragmentCount(), kFragments);
    // The frame cannot be decoded: its first fragment carries the problem.
    const std::size_t kept = pixelData->FragmentNodesMade();
    EXPECT_LE(kept, 1u);
    const std::size_t pixel = docunit::IndexOf(doc, 0x7FE0, 0x0010);
    const auto& records = doc.Records();
    ASSERT_EQ(records[pixel].end, pixel + kFragments + 2);

    // Every fragment's label and bytes as its own node gives them, the node
    // made for the look only.
    for (std::size_t k = 0; k < kFragments; ++k) {
        const std::size_t r = pixel + 2 + k;
        std::unique_ptr<CDicomTag> scratch;
        const CDicomTag* look = pixelData->PeekChild(k + 1, scratch);
        ASSERT_NE(look, nullptr);
        ASSERT_EQ(doc.Label(r), ElementLabel(*doc.File(), look, doc.ThumbnailCount())) << k;
        ASSERT_EQ(doc.Range(r), doc.File()->ElementRange(look)) << k;
        ASSERT_TRUE(records[r].IsTag(0xFFFE, 0xE000));
    }
    EXPECT_EQ(doc.Label(pixel + 2), u"Frame 0001");
    EXPECT_EQ(doc.Label(pixel + 1 + kFragments), u"Frame 0001 (part 50000)");

    // A byte of a fragment is the Pixel Data element's; clicked again with
    // that selected, the fragment's: in its header and in its value.
    for (const std::size_t k : {std::size_t(0), kFragments / 2 + 1, kFragments - 1}) {
        const uint64_t tag = pixelData->FragmentTagOffset(k);
        EXPECT_EQ(doc.RecordAtOffset(tag + 3), pixel);
        EXPECT_EQ(quillon::ClickTarget(doc, pixel, tag + 3), pixel + 2 + k);
        if (pixelData->FragmentLength(k) > 0) {
            EXPECT_EQ(quillon::ClickTarget(doc, pixel, pixelData->FragmentDataOffset(k)), pixel + 2 + k);
        }
    }
    // Searches that look at every record, matching none and many.
    EXPECT_FALSE(quillon::FindNext(doc, std::nullopt, u"(0019,0001)").record.has_value());
    EXPECT_FALSE(quillon::FindNext(doc, std::nullopt, u"no such text").record.has_value());
    const auto item = quillon::FindNext(doc, pixel + 2, u"(FFFE,E000)");
    EXPECT_EQ(item.record, pixel + 3);
    EXPECT_EQ(pixelData->FragmentNodesMade(), kept);

    // Selected: the fragment's node, kept; its rows and bytes as before.
    const std::size_t chosen = pixel + 2 + kFragments / 3;
    const quillon::ElementProperties p = doc.Properties(chosen);
    EXPECT_EQ(pixelData->FragmentNodesMade(), kept + 1);
    const uint64_t tag = pixelData->FragmentTagOffset(kFragments / 3);
    EXPECT_EQ(p.values[3], quillon::Format16("%llu", static_cast<unsigned long long>(tag)));
    EXPECT_EQ(p.first, tag);
    EXPECT_EQ(p.last, tag + 8 + pixelData->FragmentLength(kFragments / 3) - 1);
    EXPECT_EQ(records[chosen].Element(), pixelData->FragmentNode(kFragments / 3));
    // The tag path of a fragment finds it again.
    EXPECT_EQ(doc.RecordOfTagPath(doc.TagPathOf(chosen)), chosen);
}

}  // namespace
