// quillon::FrameFragments, the one answer to which fragments make a frame and
// which frame owns a fragment: on the offset tables whose item descriptions
// and frame bytes are tested elsewhere, what the decoder takes, what the
// table says, the codestreams' start markers, and what a fragment item shows.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/OffsetTable.h"
#include "document/QuillonDocument.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

namespace {

using docunit::IndexOf;
using docunit::U16;
using testdicom::Bytes;
using Owners = std::vector<std::optional<std::size_t>>;
using Starts = std::vector<std::pair<std::size_t, uint32_t>>;
constexpr std::nullopt_t none = std::nullopt;

// Five fragments; their item tags lie at 0, 12, 26, 36 and 48 from the first.
const std::vector<Bytes> kFragments = {
    {0xFF, 0xD8, 1, 2}, {3, 4, 5, 6, 7, 8}, {0xFF, 0xD8}, {0xFF, 0xD8, 9, 10}, {11, 12},
};

Starts AllAtFirst(uint32_t frames) {
    Starts starts;
    for (uint32_t n = 0; n < frames; ++n) starts.emplace_back(0, n);
    return starts;
}

TEST(FrameFragments, RangesOwnersAndWhatTheTableSays) {
    struct Case {
        const char* name;
        int frames;
        std::vector<uint32_t> table;
        std::vector<std::pair<std::size_t, std::size_t>> ranges;  // [first, last) of each frame
        Owners owners;                                            // of the five fragments
        Starts tableStarts;                                       // (fragment, frame from 0)
    };
    const Case cases[] = {
        {"three frames over five fragments",
         3,
         {0, 26, 36},
         {{0, 2}, {2, 3}, {3, 5}},
         {0, 0, 1, 2, 2},
         {{0, 0}, {2, 1}, {3, 2}}},
        {"an entry inside a fragment: one fragment per frame",
         3,
         {0, 26, 30},
         {{0, 1}, {1, 2}, {2, 3}},
         {0, 1, 2, none, none},
         {{0, 0}, {2, 1}}},
        {"an entry past the fragments", 2, {0, 4000}, {{0, 1}, {1, 2}}, {0, 1, none, none, none}, {{0, 0}}},
        {"two frames at one fragment: not ascending",
         3,
         {0, 0, 26},
         {{0, 1}, {1, 2}, {2, 3}},
         {0, 1, 2, none, none},
         {{0, 0}, {0, 1}, {2, 2}}},
        {"first entry not on the first fragment",
         2,
         {12, 26},
         {{0, 1}, {1, 2}},
         {0, 1, none, none, none},
         {{1, 0}, {2, 1}}},
        {"more entries than frames",
         2,
         {0, 12, 26},
         {{0, 1}, {1, 2}},
         {0, 1, none, none, none},
         {{0, 0}, {1, 1}, {2, 2}}},
        {"more frames than fragments",
         7,
         {0, 0, 0, 0, 0, 0, 0},
         {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}},
         {0, 1, 2, 3, 4},
         AllAtFirst(7)},
        {"an empty table", 5, {}, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}}, {0, 1, 2, 3, 4}, {}},
        {"one frame takes every fragment", 1, {}, {{0, 5}}, {0, 0, 0, 0, 0}, {}},
        {"a table too long to be held, read from the file",
         1100,
         std::vector<uint32_t>(1100, 0),
         {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}},
         {0, 1, 2, 3, 4},
         AllAtFirst(1100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = doctest_files::FragmentsFile(c.frames, c.table, kFragments);
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(bytes.data(), bytes.size()));
        const CDicomTag* pixelData = file.PixelData();
        ASSERT_NE(pixelData, nullptr);
        const auto fragments = quillon::FrameFragments::Read(*pixelData, file.Pixel().numberOfFrames);
        EXPECT_EQ(fragments.FragmentCount(), kFragments.size());
        ASSERT_EQ(fragments.FrameCount(), c.ranges.size());
        for (std::size_t n = 0; n < c.ranges.size(); ++n) {
            EXPECT_EQ(fragments.Range(n).first, c.ranges[n].first) << "frame " << n;
            EXPECT_EQ(fragments.Range(n).last, c.ranges[n].second) << "frame " << n;
        }
        EXPECT_EQ(fragments.Range(c.ranges.size()).last, 0u);
        for (std::size_t k = 0; k < kFragments.size(); ++k)
            EXPECT_EQ(fragments.Owner(k), c.owners[k]) << "fragment " << k;
        EXPECT_EQ(fragments.Owner(kFragments.size()), none);
        EXPECT_EQ(fragments.TableStarts(), c.tableStarts);
    }
}

TEST(FrameFragments, NoFramesOwnNothing) {
    const Bytes bytes = doctest_files::FragmentsFile(3, {0, 26, 36}, kFragments);
    CDicomFile file;
    ASSERT_TRUE(file.LoadMemory(bytes.data(), bytes.size()));
    const auto fragments = quillon::FrameFragments::Read(*file.PixelData(), 0);
    EXPECT_EQ(fragments.FrameCount(), 0u);
    for (std::size_t k = 0; k < kFragments.size(); ++k) EXPECT_EQ(fragments.Owner(k), none);
    // The table's word stands without frames.
    EXPECT_EQ(fragments.TableStarts(), (Starts{{0, 0}, {2, 1}, {3, 2}}));
    EXPECT_EQ(quillon::FrameFragments().Owner(0), none);
}

// Without a table that names the frames, the fragments that begin a
// codestream start them, when exactly one per frame does; else one fragment
// per frame, which with fragments left over is unresolved.
TEST(FrameFragments, StartMarkersFindTheFramesWithoutATable) {
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0}, j2k = {0xFF, 0x4F, 0xFF, 0x51, 0, 0x29};
    const Bytes jp2 = {0, 0, 0, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A};
    const Bytes data = {1, 2, 3, 4}, soiAlone = {0xFF, 0xD8}, sizFirst = {0xFF, 0x51, 0xFF, 0x4F};
    struct Case {
        const char* name;
        int frames;
        std::vector<uint32_t> table;
        std::vector<Bytes> fragments;
        std::vector<std::pair<std::size_t, std::size_t>> ranges;
        bool unresolved;
    };
    const Case cases[] = {
        {"JPEG, empty table", 2, {}, {jpeg, data, data, jpeg, data}, {{0, 3}, {3, 5}}, false},
        {"JPEG 2000, empty table", 2, {}, {j2k, data, j2k, data}, {{0, 2}, {2, 4}}, false},
        {"JP2 boxes, empty table", 3, {}, {jp2, jp2, data, jp2}, {{0, 1}, {1, 3}, {3, 4}}, false},
        {"a table entry inside a fragment: the markers decide", 2, {0, 6}, {jpeg, data, jpeg, data},
         {{0, 2}, {2, 4}}, false},
        {"a sound table wins over the markers", 2, {0, 12}, {jpeg, jpeg, jpeg}, {{0, 1}, {1, 3}}, false},
        {"more markers than frames", 2, {}, {jpeg, jpeg, jpeg}, {{0, 1}, {1, 2}}, true},
        {"fewer markers than frames", 3, {}, {jpeg, data, jpeg, data}, {{0, 1}, {1, 2}, {2, 3}}, true},
        {"the first fragment starts no stream", 2, {}, {data, jpeg, data, jpeg}, {{0, 1}, {1, 2}}, true},
        {"half a marker starts nothing", 2, {}, {jpeg, soiAlone, sizFirst, jpeg}, {{0, 3}, {3, 4}}, false},
        {"as many fragments as frames, no markers", 3, {}, {data, data, data}, {{0, 1}, {1, 2}, {2, 3}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = doctest_files::FragmentsFile(c.frames, c.table, c.fragments);
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(bytes.data(), bytes.size()));
        const auto fragments = quillon::FrameFragments::Read(*file.PixelData(), file.Pixel().numberOfFrames);
        ASSERT_EQ(fragments.FrameCount(), c.ranges.size());
        for (std::size_t n = 0; n < c.ranges.size(); ++n) {
            EXPECT_EQ(fragments.Range(n).first, c.ranges[n].first) << "frame " << n;
            EXPECT_EQ(fragments.Range(n).last, c.ranges[n].second) << "frame " << n;
        }
        EXPECT_EQ(fragments.Unresolved(), c.unresolved);
    }
}

// An Extended Offset Table that names each frame's first fragment is read
// before the Basic Offset Table and the start markers; one that does not
// (another count, an entry off an item tag, not ascending) is passed over.
TEST(FrameFragments, ExtendedOffsetTableComesFirst) {
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0}, data = {1, 2, 3, 4};
    // Item tags of four 4-byte fragments lie at 0, 12, 24 and 36 from the first.
    struct Case {
        const char* name;
        int frames;
        std::vector<uint32_t> table;
        std::vector<Bytes> fragments;
        std::vector<uint64_t> extended;
        std::vector<std::pair<std::size_t, std::size_t>> ranges;
        bool unresolved;
    };
    const Case cases[] = {
        {"no markers, empty basic table", 2, {}, {data, data, data, data}, {0, 24}, {{0, 2}, {2, 4}}, false},
        {"wins over the markers", 2, {}, {jpeg, data, jpeg, data}, {0, 12}, {{0, 1}, {1, 4}}, false},
        {"wins over a sound basic table", 2, {0, 12}, {data, data, data}, {0, 24}, {{0, 2}, {2, 3}}, false},
        {"an entry inside a fragment: the markers decide", 2, {}, {jpeg, data, jpeg, data}, {0, 30},
         {{0, 2}, {2, 4}}, false},
        {"too few entries", 3, {}, {data, data, data, data}, {0, 12}, {{0, 1}, {1, 2}, {2, 3}}, true},
        {"not ascending", 2, {}, {data, data, data}, {12, 0}, {{0, 1}, {1, 2}}, true},
        {"first entry past the first fragment", 2, {}, {data, data, data}, {12, 24}, {{0, 1}, {1, 2}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = doctest_files::FragmentsFile(c.frames, c.table, c.fragments, c.extended);
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(bytes.data(), bytes.size()));
        const auto& fragments = file.Fragments();
        ASSERT_EQ(fragments.FrameCount(), c.ranges.size());
        for (std::size_t n = 0; n < c.ranges.size(); ++n) {
            EXPECT_EQ(fragments.Range(n).first, c.ranges[n].first) << "frame " << n;
            EXPECT_EQ(fragments.Range(n).last, c.ranges[n].second) << "frame " << n;
        }
        EXPECT_EQ(fragments.Unresolved(), c.unresolved);
        // The loader's offset-table check reads the same tables.
        bool reported = false;
        for (const SLoadProblem& p : file.Problems().All()) reported |= p.code == ProblemCode::OffsetTable;
        EXPECT_EQ(reported, c.unresolved);
    }
}

// The picture of a fragment item is the thumbnail of the frame that owns it,
// and its label names that frame: "Frame NNNN" where the frame starts,
// "(part k)" on the fragments that continue it.
TEST(FrameFragments, FragmentItemsShowTheirFrame) {
    struct Case {
        const char* name;
        int frames;
        std::vector<uint32_t> table;
        Owners thumbnails;  // of the five fragment items
        std::vector<std::u16string> labels;
    };
    const std::u16string item = u"(FFFE,E000)  SQ Item";
    const Case cases[] = {
        {"three frames over five fragments",
         3,
         {0, 26, 36},
         {0, 0, 1, 2, 2},
         {u"Frame 0001", u"Frame 0001 (part 2)", u"Frame 0002", u"Frame 0003", u"Frame 0003 (part 2)"}},
        {"one frame of five fragments",
         1,
         {},
         {0, 0, 0, 0, 0},
         {u"Frame 0001", u"Frame 0001 (part 2)", u"Frame 0001 (part 3)", u"Frame 0001 (part 4)",
          u"Frame 0001 (part 5)"}},
        {"more frames than fragments",
         7,
         {},
         {0, 1, 2, 3, 4},
         {u"Frame 0001", u"Frame 0002", u"Frame 0003", u"Frame 0004", u"Frame 0005"}},
        {"fragments left over", 2, {}, {0, 1, none, none, none}, {u"Frame 0001", u"Frame 0002", item, item, item}},
    };
    doctest_files::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        quillon::QuillonDocument doc;
        ASSERT_TRUE(doc.Open(U16(dir.Write("frames.dcm", doctest_files::FragmentsFile(c.frames, c.table, kFragments))))
                        .Opened());
        const std::size_t table = IndexOf(doc, 0x7FE0, 0x0010) + 1;
        EXPECT_EQ(doc.Properties(table).thumbnail, none);
        EXPECT_EQ(doc.Label(table), item);
        for (std::size_t k = 0; k < kFragments.size(); ++k) {
            EXPECT_EQ(doc.Properties(table + 1 + k).thumbnail, c.thumbnails[k]) << "fragment " << k;
            EXPECT_EQ(doc.Label(table + 1 + k), c.labels[k]) << "fragment " << k;
            EXPECT_EQ(ElementLabel(*doc.File(), doc.Records()[table + 1 + k].Element(), doc.ThumbnailCount()),
                      c.labels[k]);
        }
    }
}

}  // namespace
