// The problems the loader records: each code at its offset on a small
// fixture, nothing on well-formed files, and what a refused file keeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/LoadProblems.h"
#include "tests/support/DicomWriter.h"
#include "tests/support/DocTestFiles.h"

using namespace testdicom;

namespace {

bool Load(CDicomFile& f, const Writer& w) { return f.LoadMemory(w.bytes().data(), w.size()); }

std::string Describe(const CLoadProblems& problems) {
    std::string out;
    for (const SLoadProblem& p : problems.All())
        out += std::to_string(p.offset) + " " + ProblemCodeName(p.code) + " " + p.text + "\n";
    return out;
}

// The native image description of a 2 x 2, 8-bit, one-sample image.
void SmallImage(Writer& w) {
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0004, "CS", "MONOCHROME2 ");
    w.us(0x0028, 0x0010, 2);
    w.us(0x0028, 0x0011, 2);
    w.us(0x0028, 0x0100, 8);
}

}  // namespace

TEST(LoadProblems, EachCodeAtItsOffset) {
    struct Case {
        const char* name;
        const char* transferSyntax;
        // Writes the elements after the study elements; returns the offset
        // where the problem applies.
        size_t (*write)(Writer&);
        ProblemCode code;
        bool loads;
    };
    const Case cases[] = {
        {"odd length", kExplicitLE,
         [](Writer& w) {
             const size_t at = w.size();
             w.text(0x0010, 0x0030, "DA", "20010101");
             w.text(0x0010, 0x1000, "LO", "abcde");
             return at + 16;
         },
         ProblemCode::OddLength, true},
        {"VR differs from the dictionary", kExplicitLE,
         [](Writer& w) {
             const size_t at = w.size();
             w.text(0x0010, 0x0030, "CS", "20010101");
             return at;
         },
         ProblemCode::VRMismatch, true},
        {"non-zero reserved bytes", kExplicitLE,
         [](Writer& w) {
             const size_t at = w.size();
             w.tag(0x0010, 0x1002).raw(std::string("OB")).u16(4).raw(Bytes{9, 8, 7, 6});
             return at;
         },
         ProblemCode::ReservedBytes, true},
        {"UN sequence read as implicit VR", kExplicitLE,
         [](Writer& w) {
             const size_t at = w.size();
             w.header(0x0011, 0x1010, "UN", kUndefinedLength);
             w.setSyntax(Syntax::ImplicitLittle);
             w.item(8 + 4).header(0x0040, 0xA160, "", 4).raw(std::string("abcd"));
             w.seqEnd();
             w.setSyntax(Syntax::ExplicitLittle);
             return at;
         },
         ProblemCode::UNSequence, true},
        {"item ends after its length", kExplicitLE,
         [](Writer& w) {
             w.header(0x0040, 0x0275, "SQ", kUndefinedLength);
             const size_t at = w.size();
             w.item(4).text(0x0040, 0x0009, "SH", "abcdefgh");
             w.seqEnd();
             return at;
         },
         ProblemCode::LengthMismatch, true},
        {"group length disagrees with its group", kExplicitLE,
         [](Writer& w) {
             const size_t at = w.size();
             w.element(0x0018, 0x0000, "UL", {20, 0, 0, 0});
             w.text(0x0018, 0x0015, "CS", "HEAD");
             w.text(0x0020, 0x0013, "IS", "1 ");
             return at;
         },
         ProblemCode::GroupLength, true},
        {"bytes after the pixel data", kExplicitLE,
         [](Writer& w) {
             SmallImage(w);
             w.element(0x7FE0, 0x0010, "OB", {1, 2, 3, 4});
             const size_t at = w.size();
             w.raw(Bytes{1, 2, 3, 4, 5, 6});
             return at;
         },
         ProblemCode::TrailingBytes, true},
        {"tag out of order", kExplicitLE,
         [](Writer& w) {
             w.text(0x0020, 0x0013, "IS", "1 ");
             const size_t at = w.size();
             w.text(0x0020, 0x000D, "UI", "1.2");
             return at;
         },
         ProblemCode::TagOrder, true},
        {"DA that is not a date", kExplicitLE,
         [](Writer& w) {
             w.text(0x0010, 0x0030, "DA", "2001AB01");
             return w.size() - 8;
         },
         ProblemCode::ValueVR, true},
        {"UI with a letter", kExplicitLE,
         [](Writer& w) {
             w.text(0x0020, 0x000D, "UI", "1.2.A");
             return w.size() - 5;
         },
         ProblemCode::ValueVR, true},
        {"CS longer than its VR allows", kExplicitLE,
         [](Writer& w) {
             w.text(0x0018, 0x0015, "CS", std::string(18, 'A'));
             return w.size() - 18;
         },
         ProblemCode::ValueVR, true},
        {"offset table entry pointing nowhere", "1.2.840.10008.1.2.4.50",
         [](Writer& w) {
             SmallImage(w);
             w.header(0x7FE0, 0x0010, "OB", kUndefinedLength);
             w.item(8).le32(0);
             const size_t at = w.size();
             w.le32(7);
             w.item(4).raw(Bytes{0xFF, 0xD8, 0xFF, 0xD9});
             w.item(4).raw(Bytes{0xFF, 0xD8, 0xFF, 0xD9});
             w.seqEnd();
             return at;
         },
         ProblemCode::OffsetTable, true},
        {"native pixel data length", kExplicitLE,
         [](Writer& w) {
             SmallImage(w);
             const size_t at = w.size();
             w.element(0x7FE0, 0x0010, "OB", {1, 2, 3, 4, 5, 6});
             return at;
         },
         ProblemCode::PixelDataLength, true},
        {"truncated last element", kExplicitLE,
         [](Writer& w) {
             const size_t at = w.size();
             w.header(0x0020, 0x4000, "LT", 40).raw(std::string("cut off"));
             return at;
         },
         ProblemCode::Truncated, false},
        {"group 8000 stops the parse", kExplicitLE,
         [](Writer& w) {
             const size_t at = w.size();
             w.text(0x8000, 0x0010, "LO", "ab");
             return at;
         },
         ProblemCode::Stopped, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Writer w = Part10(c.transferSyntax);
        StudyElements(w);
        const size_t at = c.write(w);
        CDicomFile f;
        EXPECT_EQ(Load(f, w), c.loads);
        const auto& all = f.Problems().All();
        bool found = false;
        for (const SLoadProblem& p : all) found = found || (p.code == c.code && p.offset == at);
        EXPECT_TRUE(found) << "wanted " << ProblemCodeName(c.code) << " at " << at << ", got:\n"
                           << Describe(f.Problems());
        EXPECT_EQ(f.Problems().Stopped(), !c.loads) << Describe(f.Problems());
    }
}

TEST(LoadProblems, RecordingChangesNothingThatIsBuilt) {
    // The same odd file gives the same tree as it did before: the odd value
    // keeps its length, the item its length, the UI its normalised bytes.
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.text(0x0020, 0x000D, "UI", "1.2.A");
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    const CDicomTag* uid = f.Find(0x0020, 0x000D);
    ASSERT_TRUE(uid);
    EXPECT_EQ(uid->GetLength(), 5u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(uid->GetData()), 5), "1.2.0");
    ASSERT_EQ(f.Problems().Size(), 2u) << Describe(f.Problems());  // odd length, UI characters
    EXPECT_EQ(f.Problems().All()[0].node, uid);
}

TEST(LoadProblems, WellFormedFilesShowNone) {
    for (const Bytes& bytes :
         {doctest_files::SequenceFile(), doctest_files::NativeFramesFile(3), doctest_files::EncapsulatedFile(2)}) {
        CDicomFile f;
        ASSERT_TRUE(f.LoadMemory(bytes.data(), bytes.size()));
        EXPECT_TRUE(f.Problems().Empty()) << Describe(f.Problems());
    }
    const std::filesystem::path data = std::filesystem::path(QUILLON_PYDICOM_DATA) / "test_files";
    if (!std::filesystem::exists(data)) GTEST_SKIP() << "pydicom data not installed";
    // Files that dcdump, dciodvfy's encoding checks and dcmdump read without a
    // complaint about their encoding.
    for (const char* name : {"CT_small.dcm", "MR_small.dcm", "rtplan.dcm", "rtstruct.dcm", "JPEG2000.dcm",
                             "MR_small_RLE.dcm", "ExplVR_BigEnd.dcm", "MR_small_implicit.dcm"}) {
        SCOPED_TRACE(name);
        CDicomFile f;
        ASSERT_TRUE(f.Load(data / name));
        EXPECT_TRUE(f.Problems().Empty()) << Describe(f.Problems());
    }
}

TEST(LoadProblems, RefusedFileKeepsWhereItStopped) {
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.text(0x0010, 0x1000, "LO", "abcde");  // odd: recorded before the stop
    const size_t at = w.size();
    w.header(0x0020, 0x4000, "LT", 40).raw(std::string("cut off"));
    CDicomFile f;
    ASSERT_FALSE(Load(f, w));
    EXPECT_TRUE(f.m_tags.empty());
    const auto& all = f.Problems().All();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all.front().code, ProblemCode::OddLength);
    EXPECT_EQ(all.back().code, ProblemCode::Stopped);
    EXPECT_EQ(all.back().offset, at);
    EXPECT_EQ(all.back().group, 0x0020);
    for (const SLoadProblem& p : all) EXPECT_EQ(p.node, nullptr);
    // A new load starts a new list.
    Writer good = Part10(kExplicitLE);
    StudyElements(good);
    ASSERT_TRUE(Load(f, good));
    EXPECT_TRUE(f.Problems().Empty()) << Describe(f.Problems());
}
