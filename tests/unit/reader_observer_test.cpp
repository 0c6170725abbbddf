// The reader and its observer: what a file breaks reaches the problems report
// only through the observer, in the loader's order, and a clean element costs
// the reader no call to it.
#include <gtest/gtest.h>

#include <string>

#include "dicom/DicomFile.h"
#include "dicom/DicomReader.h"
#include "dicom/LoaderRules.h"
#include "dicom/PixelDescription.h"
#include "dicom/ProblemChecks.h"
#include "dicom/ReaderObserver.h"
#include "tests/support/DicomWriter.h"

using namespace testdicom;

namespace {

// Reads a Part 10 file of explicit VR little endian as the loader does.
bool ReadPart10(const Bytes& bytes, quillon::ReaderObserver& observer, quillon::LoadProblems& problems) {
    quillon::PixelDescription pixel;
    quillon::DicomReader reader(quillon::FileBytes::FromMemory(bytes.data(), bytes.size()), pixel, problems, observer);
    reader.SetEncoding({.hasPreamble = true, .explicitVR = true, .littleEndian = true});
    reader.SeekTo(quillon::rules::kPreambleAndMagic);
    if (!reader.ReadMetaInformation()) return false;
    reader.ApplyTransferSyntax();
    return reader.ReadDataSet();
}

// Counts the events that could come once per element of the data set.
struct PerElementCounter : quillon::ReaderObserver {
    int headers = 0, values = 0, itemTagOrder = 0, topLevelTags = 0;
    void HeaderRead(const quillon::HeaderEvent&) override { ++headers; }
    void ValueRead(const CDicomTag& element, const uint8_t*, uint32_t) override {
        if (element.m_group != 0x0002) ++values;
    }
    void ItemTagNotAscending(uint64_t, quillon::Tag, bool) override { ++itemTagOrder; }
    void TopLevelTagRead(uint64_t, quillon::Tag) override { ++topLevelTags; }
};

// A sequence of 20 items of clean elements, then whatever `extra` writes
// into one more item.
Bytes ItemsFile(void (*extra)(Writer&)) {
    Writer w = Part10(kExplicitLE, true);
    StudyElements(w);
    w.header(0x0040, 0x0275, "SQ", kUndefinedLength);
    for (int i = 0; i < 20; ++i) {
        w.item(kUndefinedLength);
        w.text(0x0008, 0x0060, "CS", "OT");
        w.text(0x0008, 0x1030, "LO", Pad("A study"));
        w.us(0x0028, 0x0010, 512);
        w.itemEnd();
    }
    w.item(kUndefinedLength);
    extra(w);
    w.itemEnd().seqEnd();
    return w.bytes();
}

}  // namespace

TEST(ReaderObserver, ProblemsReachTheReportOnlyThroughTheObserver) {
    Writer w = Part10(kExplicitLE, true);
    StudyElements(w);
    w.text(0x0010, 0x0030, "DA", "2001");  // no date
    w.text(0x0010, 0x0021, "LO", "abc");   // lower tag, odd length
    w.text(0x0011, 0x1001, "LO", "ab");    // no creator reserves the block
    w.header(0x0040, 0x0275, "SQ", kUndefinedLength).item(kUndefinedLength);
    w.text(0x0040, 0x0009, "SH", "BB");
    w.text(0x0040, 0x0007, "LO", "CC");  // lower tag in the item
    w.itemEnd().seqEnd();
    const Bytes bytes = w.bytes();
    CDicomFile file;
    ASSERT_TRUE(file.LoadMemory(bytes.data(), bytes.size()));
    ASSERT_EQ(file.Problems().Size(), 5u);

    quillon::ReaderObserver silent;
    quillon::LoadProblems none;
    ASSERT_TRUE(ReadPart10(bytes, silent, none));
    EXPECT_TRUE(none.Empty()) << ProblemLine(none.All()[0]);

    quillon::LoadProblems problems;
    quillon::ProblemChecks checks(problems);
    ASSERT_TRUE(ReadPart10(bytes, checks, problems));
    ASSERT_EQ(problems.Size(), file.Problems().Size());
    for (std::size_t i = 0; i < problems.Size(); ++i)
        EXPECT_EQ(ProblemLine(problems.All()[i]), ProblemLine(file.Problems().All()[i])) << i;
}

TEST(ReaderObserver, CleanElementsCostNoCall) {
    struct Case {
        const char* name;
        void (*extra)(Writer&);
        int headers, values, itemTagOrder;
    };
    const Case cases[] = {
        {"clean", [](Writer& w) { w.text(0x0008, 0x0060, "CS", "OT"); }, 0, 0, 0},
        {"odd length", [](Writer& w) { w.text(0x0008, 0x1030, "LO", "odd"); }, 1, 0, 0},
        {"private element", [](Writer& w) { w.text(0x0009, 0x0010, "LO", "ACME"); }, 1, 0, 0},
        {"VR other than the dictionary's", [](Writer& w) { w.text(0x0008, 0x0060, "LO", "OT"); }, 1, 0, 0},
        {"date", [](Writer& w) { w.text(0x0008, 0x0020, "DA", "20010101"); }, 0, 1, 0},
        {"text over 16 bytes", [](Writer& w) { w.text(0x0008, 0x1030, "LO", Pad("A study of the knee")); }, 0, 1, 0},
        {"text padded with a NUL", [](Writer& w) { w.text(0x0008, 0x1030, "LO", Pad("Kne", '\0')); }, 0, 1, 0},
        {"tag repeated",
         [](Writer& w) {
             w.text(0x0008, 0x0060, "CS", "OT");
             w.text(0x0008, 0x0060, "CS", "OT");
         },
         0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PerElementCounter counter;
        quillon::LoadProblems problems;
        ASSERT_TRUE(ReadPart10(ItemsFile(c.extra), counter, problems));
        EXPECT_EQ(counter.headers, c.headers);
        EXPECT_EQ(counter.values, c.values);
        EXPECT_EQ(counter.itemTagOrder, c.itemTagOrder);
        EXPECT_EQ(counter.topLevelTags, 4);  // the study elements and the sequence
    }
}
