// The document's load problems: each tied to its tree record, a refused
// file's problems and where it stopped, and the offset table resolved to the
// fragments at which frames start.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"
#include "image/FrameCodecs.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

using namespace quillon;
using doctest_files::TempDir;
using docunit::IndexOf;
using docunit::U16;
using testdicom::Bytes;

namespace {
// The load's problems alone: frames are not decoded, so that fixtures whose
// fragments hold no real stream add no frame-decode problems.
quillon::OpenOptions LoadOnly() {
    quillon::OpenOptions options;
    options.thumbnails = false;
    return options;
}
}  // namespace

// Each problem finds its tree item: by the node the loader named, else by the
// innermost element at its offset, else the root; only those items carry one.
TEST(DocProblems, EachProblemBelongsToItsRecord) {
    TempDir dir;
    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(dir.Write("problems.dcm", doctest_files::ProblemsFile())), LoadOnly()).Opened());
    const quillon::DocumentProblems& problems = doc.Problems();
    ASSERT_EQ(problems.Size(), 4u);

    const struct {
        uint64_t offset;
        ProblemCode code;
        std::optional<std::size_t> record;
    } expected[] = {
        {260, ProblemCode::OddLength, IndexOf(doc, 0x0010, 0x1000)},
        {365, ProblemCode::TagOrder, IndexOf(doc, 0x0040, 0x0009)},        // not its item, not the sequence
        {417, ProblemCode::OffsetTable, IndexOf(doc, 0xFFFE, 0xE000, 2)},  // the table is the second item
        {441, ProblemCode::TrailingBytes, std::nullopt},
    };
    for (std::size_t i = 0; i < problems.Size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(problems[i].problem.offset, expected[i].offset);
        EXPECT_EQ(problems[i].problem.code, expected[i].code);
        EXPECT_EQ(problems[i].record, expected[i].record);
        EXPECT_TRUE(doc.RecordHasProblem(expected[i].record));
        EXPECT_EQ(problems.ProblemsOf(expected[i].record), std::vector<std::size_t>{i});
    }
    std::size_t marked = 0;
    for (std::size_t r = 0; r < doc.Records().size(); ++r) marked += doc.RecordHasProblem(r);
    EXPECT_EQ(marked, 3u);

    // The line is the one quillon-dump --problems prints.
    EXPECT_EQ(problems.Line(1), "365\t0040,0009\ttag-order\tthe tag is lower than the one before it");
    EXPECT_EQ(problems.Line(3), "441\t0000,0000\ttrailing-bytes\t8 bytes after the pixel data are not read");

    // A clean file, and no document, carry none.
    testdicom::Writer clean = testdicom::Part10(testdicom::kExplicitLE, true);
    testdicom::StudyElements(clean);
    clean.text(0x0020, 0x0013, "IS", "7 ");
    ASSERT_TRUE(doc.Open(U16(dir.Write("clean.dcm", clean.bytes()))).Opened());
    EXPECT_TRUE(doc.Problems().Empty());
    EXPECT_FALSE(doc.RecordHasProblem(std::nullopt));
    ASSERT_TRUE(doc.Open(U16(dir.Write("problems.dcm", doctest_files::ProblemsFile()))).Opened());
    doc.Close();
    EXPECT_TRUE(doc.Problems().Empty());
}

// A file cut part way is opened as far as it was read, under the box of a
// refused file whose second line says where the parse stopped; the stop comes
// first among its problems, on the root, the others on their elements.
TEST(DocProblems, RefusedFileSaysWhereItStopped) {
    TempDir dir;
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE, true);
    testdicom::StudyElements(w);
    w.text(0x0010, 0x1000, "LO", "abcde");  // odd: recorded before the stop
    const std::size_t at = w.size();
    w.header(0x0020, 0x4000, "LT", 40).raw(std::string("cut off"));

    quillon::QuillonDocument doc;
    const OpenResult r = doc.Open(U16(dir.Write("cut.dcm", w.bytes())));
    EXPECT_EQ(r.status, OpenStatus::Opened);
    EXPECT_TRUE(r.partial);
    EXPECT_EQ(r.message, kMsgInvalidFile);
    EXPECT_FALSE(r.forgetPath);
    const std::u16string stop = Format16(
        "Reading stopped at byte %zu, element (0020,4000): the last element is cut off by the end of the file.", at);
    EXPECT_EQ(r.detail, stop);
    EXPECT_EQ(r.Text(), std::u16string(kMsgInvalidFile) + u"\n" + stop);
    EXPECT_TRUE(doc.IsOpen());

    const quillon::DocumentProblems& problems = doc.Problems();
    ASSERT_EQ(problems.Size(), 3u);  // stopped, odd length, truncated
    EXPECT_EQ(problems[0].problem.code, ProblemCode::Stopped);
    EXPECT_EQ(problems[1].problem.code, ProblemCode::OddLength);
    EXPECT_EQ(problems[1].record, IndexOf(doc, 0x0010, 0x1000));
    ASSERT_NE(problems.Stop(), nullptr);
    EXPECT_EQ(problems.Stop()->offset, at);
    EXPECT_EQ(problems[0].record, std::nullopt);
    EXPECT_EQ(problems[2].record, std::nullopt);
    EXPECT_TRUE(doc.RecordHasProblem(std::nullopt));

    // Bytes that are no data set at all stop at once, without an element.
    const OpenResult text = doc.Open(U16(dir.Write("notes.txt", Bytes(300, 'x'))));
    EXPECT_EQ(text.Text(),
              std::u16string(kMsgInvalidFile) +
                  u"\nReading stopped at byte 0, element (7878,7878): no DICM at byte 128, and the first tag is "
                  u"implausible in either byte order.");
    EXPECT_FALSE(text.Opened());
    EXPECT_TRUE(text.forgetPath);
    ASSERT_NE(doc.Problems().Stop(), nullptr);
    for (const DocumentProblem& p : doc.Problems().All()) EXPECT_EQ(p.record, std::nullopt);

    // Failures that are no parse keep no problems; a missing file says
    // nothing more, a folder says what the path names.
    const OpenResult missing = doc.Open(U16(dir.path() / "missing.dcm"));
    EXPECT_FALSE(missing.Opened());
    EXPECT_TRUE(missing.detail.empty());
    EXPECT_EQ(missing.Text(), missing.message);
    EXPECT_TRUE(doc.Problems().Empty());
    const OpenResult folder = doc.Open(U16(dir.path()));
    EXPECT_FALSE(folder.Opened());
    EXPECT_EQ(folder.Text(), std::u16string(kMsgInvalidFile) + u"\nThe path names a folder, not a file.");
    EXPECT_TRUE(doc.Problems().Empty());
}

// The offset table resolved: a fragment at which the table starts frames says
// so in its description, and the decoder takes each frame from there; an entry
// that lands on no fragment item is a problem of the table item and starts
// nothing.
TEST(DocProblems, OffsetTableNamesTheFragmentsWhereFramesStart) {
    // Five fragments; their item tags lie at 0, 12, 26, 36 and 48 from the first.
    const std::vector<Bytes> fragments = {
        {0xFF, 0xD8, 1, 2}, {3, 4, 5, 6, 7, 8}, {0xFF, 0xD8}, {0xFF, 0xD8, 9, 10}, {11, 12},
    };
    const std::u16string item = u"SQ Item";
    const struct Case {
        const char* name;
        int frames;
        std::vector<uint32_t> table;
        std::vector<std::u16string> descriptions;  // of the five fragments
        int problems;  // offset-table problems: entries on no item, frames not found
        std::vector<std::u16string> labels = {};  // of the five fragments, where not one per frame
    } cases[] = {
        {"three frames over five fragments",
         3,
         {0, 26, 36},
         {u"SQ Item (Frame 1 starts here)", item, u"SQ Item (Frame 2 starts here)", u"SQ Item (Frame 3 starts here)",
          item},
         0,
         {u"Frame 0001", u"Frame 0001 (part 2)", u"Frame 0002", u"Frame 0003", u"Frame 0003 (part 2)"}},
        {"an entry inside a fragment",
         3,
         {0, 26, 30},
         {u"SQ Item (Frame 1 starts here)", item, u"SQ Item (Frame 2 starts here)", item, item},
         2},
        {"an entry past the fragments", 2, {0, 4000}, {u"SQ Item (Frame 1 starts here)", item, item, item, item}, 2},
        {"two frames at one fragment",
         3,
         {0, 0, 26},
         {u"SQ Item (Frames 1, 2 start here)", item, u"SQ Item (Frame 3 starts here)", item, item},
         1},
        {"many frames at one fragment",
         7,
         {0, 0, 0, 0, 0, 0, 0},
         {u"SQ Item (Frames 1, 2, 3, 4, 5 and 2 more start here)", item, item, item, item},
         0},
        {"an empty table", 5, {}, {item, item, item, item, item}, 0},
        {"a table too long to be held, read from the file",
         1100,
         std::vector<uint32_t>(1100, 0),
         {u"SQ Item (Frames 1, 2, 3, 4, 5 and 1095 more start here)", item, item, item, item},
         0},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        quillon::QuillonDocument doc;
        ASSERT_TRUE(
            doc.Open(U16(dir.Write("frames.dcm", doctest_files::FragmentsFile(c.frames, c.table, fragments))), LoadOnly())
                .Opened());
        const std::size_t pixel = IndexOf(doc, 0x7FE0, 0x0010);
        ASSERT_TRUE(doc.Records()[pixel].Element()->Is(0x7FE0, 0x0010));
        const std::size_t table = pixel + 1;
        EXPECT_EQ(doc.Properties(table).values[1], item);
        for (std::size_t k = 0; k < fragments.size(); ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(doc.Properties(table + 1 + k).values[1], c.descriptions[k]);
            // Fragments labelled by the frame that owns them: where the table
            // is sound, a frame's second fragment is its part 2; else one
            // fragment per frame while there are that many frames.
            const std::u16string label = c.labels.empty()
                                             ? (int(k) < c.frames ? Format16("Frame %04zu", k + 1)
                                                                  : std::u16string(u"(FFFE,E000)  SQ Item"))
                                             : c.labels[k];
            EXPECT_EQ(doc.Label(table + 1 + k), label);
        }
        EXPECT_EQ(doc.RecordHasProblem(table), c.problems > 0);
        ASSERT_EQ(doc.Problems().Size(), std::size_t(c.problems));
        for (const DocumentProblem& p : doc.Problems().All()) EXPECT_EQ(p.problem.code, ProblemCode::OffsetTable);
        // More fragments than frames with nothing to divide them says so.
        if (c.problems == 2 || std::string(c.name) == "two frames at one fragment") {
            EXPECT_NE(doc.Problems().All().back().problem.text.find("frames cannot be found among them"),
                      std::string::npos);
        }
    }

    // What the window says is what the decoder does: frame 2 is fragment 3
    // alone, frame 1 fragments 1 and 2 joined.
    CDicomFile file;
    const Bytes bytes = doctest_files::FragmentsFile(3, {0, 26, 36}, fragments);
    ASSERT_TRUE(file.LoadMemory(bytes.data(), bytes.size()));
    quillon::HeapPtr<uint8_t> joined;
    ByteSpan span;
    ASSERT_TRUE(CompressedFrameBytes(file, 1, joined, span));
    EXPECT_EQ(Bytes(span.data, span.data + span.size), fragments[2]);
    ASSERT_TRUE(CompressedFrameBytes(file, 0, joined, span));
    Bytes first = fragments[0];
    first.insert(first.end(), fragments[1].begin(), fragments[1].end());
    EXPECT_EQ(Bytes(span.data, span.data + span.size), first);
}

// Real files of pydicom's corpus: a truncated one refused with where it
// stopped, group lengths that disagree tied to their group length elements,
// and offset tables of two frames and an empty one.
TEST(DocProblems, CorpusFiles) {
    const std::filesystem::path data = std::filesystem::path(QUILLON_PYDICOM_DATA) / "test_files";
    if (!std::filesystem::exists(data)) GTEST_SKIP() << "pydicom data not installed";
    quillon::QuillonDocument doc;

    const OpenResult cut = doc.Open(U16(data / "MR_truncated.dcm"));
    EXPECT_EQ(
        cut.detail,
        u"Reading stopped at byte 1488, element (7FE0,0010): the last element is cut off by the end of the file.");

    // Three group lengths that disagree with their groups, and encapsulated
    // pixel data given VR OW.
    ASSERT_TRUE(doc.Open(U16(data / "693_J2KI.dcm"), LoadOnly()).Opened());
    ASSERT_EQ(doc.Problems().Size(), 4u);
    for (const DocumentProblem& p : doc.Problems().All()) {
        SCOPED_TRACE(p.problem.text);
        if (p.problem.code == ProblemCode::VRMismatch) {
            EXPECT_EQ(p.problem.group, 0x7FE0);
            ASSERT_TRUE(p.record);
            EXPECT_TRUE(doc.Records()[*p.record].Element()->Is(0x7FE0, 0x0010));
            continue;
        }
        EXPECT_EQ(p.problem.code, ProblemCode::GroupLength);
        ASSERT_TRUE(p.record);
        EXPECT_TRUE(doc.Records()[*p.record].Element()->Is(p.problem.group, 0x0000));
    }

    const struct {
        const char* name;
        std::vector<std::u16string> descriptions;  // of the fragments
    } files[] = {
        {"rtdose_rle.dcm", std::vector<std::u16string>(15, u"SQ Item")},  // an empty table
        {"SC_rgb_rle_2frame.dcm", {u"SQ Item (Frame 1 starts here)", u"SQ Item (Frame 2 starts here)"}},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(doc.Open(U16(data / f.name), LoadOnly()).Opened());
        // rtdose_rle's pixel data says OW: its only problem, the table is fine.
        for (const DocumentProblem& p : doc.Problems().All()) EXPECT_EQ(p.problem.code, ProblemCode::VRMismatch);
        const std::size_t pixel = IndexOf(doc, 0x7FE0, 0x0010);
        ASSERT_TRUE(doc.Records()[pixel].Element()->Is(0x7FE0, 0x0010));
        ASSERT_EQ(doc.Records()[pixel].Element()->ChildCount(), f.descriptions.size() + 1);
        for (std::size_t k = 0; k < f.descriptions.size(); ++k)
            EXPECT_EQ(doc.Properties(pixel + 2 + k).values[1], f.descriptions[k]);
    }
}

namespace {

// Two JPEG frames of two fragments each (found by their start markers: the
// offset table is empty), neither a stream the decoder takes: each is a
// frame-decode problem at its first fragment item, with the decoder's
// reason; an open with thumbnails finds them, one without finds them when
// asked, after the load's own problems.
TEST(DocProblems, UndecodableFramesArePinnedAtTheirFirstFragment) {
    const Bytes broken = {0xFF, 0xD8, 0xFF, 0xDB, 0, 3}, tail = {1, 2, 3, 4};
    TempDir dir;
    const auto path = dir.Write("broken.dcm", doctest_files::FragmentsFile(2, {}, {broken, tail, broken, tail}));
    for (const bool thumbnails : {true, false}) {
        SCOPED_TRACE(thumbnails ? "thumbnails made on open" : "frames checked when asked");
        quillon::QuillonDocument doc;
        quillon::OpenOptions options;
        options.thumbnails = thumbnails;
        ASSERT_TRUE(doc.OpenPath(path, options).Opened());
        // The thumbnails' workers find them; the open does not wait for them.
        if (thumbnails) {
            EXPECT_EQ(doc.WaitForThumbnails().problems, 2u);
        }
        const std::size_t table = IndexOf(doc, 0x7FE0, 0x0010) + 1;
        EXPECT_EQ(doc.Label(table + 2), u"Frame 0001 (part 2)");
        EXPECT_EQ(doc.Problems().Size(), thumbnails ? 2u : 0u);
        EXPECT_EQ(doc.CheckFrames(), thumbnails ? 0u : 2u);
        ASSERT_EQ(doc.Problems().Size(), 2u);
        for (std::size_t n = 0; n < 2; ++n) {
            SCOPED_TRACE(n);
            const DocumentProblem& p = doc.Problems()[n];
            const std::size_t item = table + 1 + 2 * n;
            EXPECT_EQ(p.problem.code, ProblemCode::FrameDecode);
            EXPECT_EQ(p.record, std::optional<std::size_t>(item));
            EXPECT_EQ(p.problem.offset, doc.File()->TagOffset(doc.Records()[item].Element()));
            EXPECT_EQ(p.problem.group, 0xFFFE);
            EXPECT_EQ(p.problem.element, 0xE000);
            const std::string lead = "Frame " + std::to_string(n + 1) + " cannot be decoded: ";
            EXPECT_EQ(p.problem.text.rfind(lead, 0), 0u) << p.problem.text;
            EXPECT_GT(p.problem.text.size(), lead.size() + 5) << "the decoder's reason follows";
            EXPECT_NE(doc.Problems().Line(n).find("\tframe-decode\t"), std::string::npos);
            EXPECT_TRUE(doc.RecordHasProblem(item));
        }
        EXPECT_FALSE(doc.RecordHasProblem(table + 2));
    }
}

}  // namespace

namespace {

// A native grey frame of side x side samples of `bits` bits, its samples a
// hole in the file (zeros) but for a bright row at the middle.
std::filesystem::path SparseFrameFile(const TempDir& dir, const std::string& name, uint16_t side, uint16_t bits) {
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    testdicom::StudyElements(w);
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0004, "CS", testdicom::Pad("MONOCHROME2"));
    w.us(0x0028, 0x0010, side).us(0x0028, 0x0011, side).us(0x0028, 0x0100, bits).us(0x0028, 0x0101, bits);
    w.us(0x0028, 0x0102, uint16_t(bits - 1)).us(0x0028, 0x0103, 0);
    const uint64_t bytes = uint64_t(side) * side * bits / 8;
    w.header(0x7FE0, 0x0010, "OB", uint32_t(bytes));
    const auto path = dir.Write(name, w.bytes());
    const uint64_t head = std::filesystem::file_size(path);
    {
        std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(std::streamoff(head + bytes / 2));
        const std::string bright(side * bits / 8, '\xFF');
        out.write(bright.data(), std::streamsize(bright.size()));
    }
    std::filesystem::resize_file(path, head + bytes);
    return path;
}

}  // namespace

// A frame over the decode budget is a frame-decode problem only when not even
// a reduced decode gives its thumbnail, whether the thumbnails are made on
// open or the frames are checked when asked (as quillon-dump --problems does).
TEST(DocProblems, FramesOverTheBudgetAreProblemsOnlyWhenNoReductionFits) {
    TempDir dir;
    // 8000 x 8000 8-bit grey takes about 320 MB to decode, a quarter of that
    // halved; 1-bit samples are not read a band at a time.
    ASSERT_GT(uint64_t(8000) * 8000 * 5, kFrameDecodeBudget);
    const struct {
        const char* name;
        uint16_t side, bits;
        bool problem;
    } cases[] = {
        {"reduced.dcm", 8000, 8, false},
        {"refused.dcm", 16384, 1, true},
    };
    for (const auto& c : cases) {
        const auto path = SparseFrameFile(dir, c.name, c.side, c.bits);
        for (const bool thumbnails : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (thumbnails ? ", thumbnails made on open" : ", checked when asked"));
            quillon::QuillonDocument doc;
            quillon::OpenOptions options;
            options.thumbnails = thumbnails;
            ASSERT_TRUE(doc.OpenPath(path, options).Opened());
            doc.CheckFrames();
            std::size_t found = 0;
            for (const DocumentProblem& p : doc.Problems().All()) {
                if (p.problem.code != ProblemCode::FrameDecode) continue;
                ++found;
                EXPECT_NE(p.problem.text.find("frames over the 256 MiB budget are not decoded. Native frames of 1 "
                                              "bits allocated are not read a band at a time."),
                          std::string::npos)
                    << p.problem.text;
            }
            EXPECT_EQ(found, c.problem ? 1u : 0u);
        }
    }
}
