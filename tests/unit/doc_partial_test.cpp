// A file whose parse stops part way is opened as far as it was read: the
// tree up to the stop, the bytes from the stop on belonging to the root and
// shown as unread, the stop first among the problems. Files that are no
// DICOM at all are still refused. And a document opened again finds the
// element selected before by its tag path.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dicom/DicomReader.h"
#include "dicom/TextUtil.h"
#include "document/QuillonDocument.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

using namespace quillon;
using doctest_files::TempDir;
using docunit::IndexOf;
using docunit::U16;
using testdicom::Bytes;

namespace {

Bytes Cut(const Bytes& bytes, std::size_t size) { return Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(size)); }

// SequenceFile up to its second sequence (332), then a chain of (0008,1140)
// sequences one deeper than the reader follows, each with one item and
// closed again: sequence k has its tag at 332 + 20k.
Bytes TooDeep() {
    testdicom::Writer w;
    w.raw(Cut(doctest_files::SequenceFile(), 332));
    for (unsigned k = 0; k <= kMaxSequenceDepth; ++k) w.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF);
    for (unsigned k = 0; k <= kMaxSequenceDepth; ++k) w.itemEnd().seqEnd();
    return w.bytes();
}

struct TagOf {
    uint16_t group, element;
};

}  // namespace

// Broken variants of one good file (SequenceFile, whose layout DocTestFiles.h
// gives): each is opened as far as it was read, or, when what was read is no
// DICOM file, refused as before.
TEST(DocPartial, BrokenVariantsOpenAsFarAsRead) {
    const Bytes good = doctest_files::SequenceFile();
    const Bytes deep = TooDeep();
    const struct Case {
        const char* name;
        Bytes bytes;
        bool partial;
        uint64_t stop;
        const char* sentence;  // after "Reading stopped at byte N"
        std::size_t topLevel;  // elements read at the top level
        TagOf last;            // the last record in pre-order
    } cases[] = {
        {"a value cut off",
         Cut(good, 390),
         true,
         380,
         ", element (0010,0020): the last element is cut off by the end of the file.",
         8,
         {0x0010, 0x0010}},
        {"a header cut off",
         Cut(good, 384),
         true,
         380,
         ", element (0010,0020): the element header runs past the end of the file.",
         8,
         {0x0010, 0x0010}},
        // The sequence keeps its first item and the second one's header.
        {"a value cut off inside a sequence",
         Cut(good, 312),
         true,
         302,
         ", element (0008,1150): the last element is cut off by the end of the file.",
         6,
         {0xFFFE, 0xE000}},
        {"an item header cut off",
         Cut(good, 298),
         true,
         294,
         ", element (FFFE,E000): the item header runs past the end of the file.",
         6,
         {0x0010, 0x0010}},
        {"the file ends where an item is expected",
         Cut(good, 294),
         true,
         294,
         ": the file ends inside a sequence, where an item is expected.",
         6,
         {0x0010, 0x0010}},
        // The header of the sequence one too deep is read, its items are not.
        {"sequences nested past the limit",
         deep,
         true,
         332 + 20 * kMaxSequenceDepth + 12,
         ", element (0008,1140): sequences nest more than 1000 levels deep.",
         7,
         {0x0008, 0x1140}},
        {"text, no DICM", Bytes(300, 'x'), false, 0, "", 0, {}},
        {"cut before DICM", Cut(good, 100), false, 0, "", 0, {}},
        {"DICM and no element", Cut(good, 132), false, 0, "", 0, {}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::u16string path = U16(dir.Write("broken.dcm", c.bytes));
        QuillonDocument doc;
        const OpenResult r = doc.Open(path);
        if (!c.partial) {
            EXPECT_FALSE(r.Opened());
            EXPECT_FALSE(r.partial);
            EXPECT_EQ(r.status, OpenStatus::Invalid);
            EXPECT_TRUE(r.forgetPath);
            EXPECT_FALSE(doc.IsOpen());
            continue;
        }
        // Opened, with the box of a refused file to show first; the path stays in the list.
        ASSERT_TRUE(r.Opened());
        EXPECT_TRUE(r.partial);
        EXPECT_FALSE(r.forgetPath);
        EXPECT_EQ(r.reason.Code(), Reason::NotDicom);
        EXPECT_EQ(r.Text(), std::u16string(kMsgInvalidFile) + u"\n" +
                                FromUtf8("Reading stopped at byte " + std::to_string(c.stop) + c.sentence));
        ASSERT_TRUE(doc.Partial());
        EXPECT_EQ(doc.StopOffset(), c.stop);
        EXPECT_EQ(doc.DataSize(), c.bytes.size());
        EXPECT_EQ(doc.RootLabel(u"broken.dcm"),
                  FromUtf8("broken.dcm (read up to byte " + std::to_string(c.stop) + ")"));

        // What was read, and nothing of it reaches the stop.
        const auto& records = doc.Records();
        ASSERT_FALSE(records.empty());
        std::size_t topLevel = 0;
        for (std::size_t i = 0; i < records.size(); ++i) {
            topLevel += records[i].parent == kRootRecord;
            EXPECT_LT(doc.Range(i).second, c.stop) << "record " << i;
        }
        EXPECT_EQ(topLevel, c.topLevel);
        EXPECT_TRUE(records.back().Element()->Is(c.last.group, c.last.element));

        // The bytes from the stop on belong to the root, which shows them as
        // unread (none when the file ends where the parse stopped).
        EXPECT_TRUE(doc.RecordAtOffset(c.stop - 1).has_value());
        const ElementProperties root = doc.Properties(std::nullopt);
        EXPECT_EQ(root.highlight, HighlightRequest::Clear);
        if (c.stop < c.bytes.size()) {
            EXPECT_EQ(doc.RecordAtOffset(c.stop), std::nullopt);
            EXPECT_EQ(doc.RecordAtOffset(c.bytes.size() - 1), std::nullopt);
            ASSERT_TRUE(root.unread.has_value());
            EXPECT_EQ(*root.unread, std::make_pair(c.stop, uint64_t(c.bytes.size() - 1)));
        } else {
            EXPECT_FALSE(root.unread.has_value());
        }
        EXPECT_FALSE(doc.Properties(0).unread.has_value());

        // The stop comes first, on the root.
        ASSERT_FALSE(doc.Problems().Empty());
        EXPECT_EQ(doc.Problems()[0].problem.code, ProblemCode::Stopped);
        EXPECT_EQ(doc.Problems()[0].problem.offset, c.stop);
        EXPECT_EQ(doc.Problems()[0].record, std::nullopt);
        EXPECT_EQ(doc.Problems().Stop(), &doc.Problems()[0].problem);
    }

    // A sequence the parse stopped in ends where reading stopped.
    QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(dir.Write("cut.dcm", Cut(good, 312)))).partial);
    EXPECT_EQ(doc.Range(IndexOf(doc, 0x0008, 0x1115)), std::make_pair(uint64_t(236), uint64_t(301)));
    EXPECT_EQ(doc.Range(IndexOf(doc, 0xFFFE, 0xE000, 2)), std::make_pair(uint64_t(294), uint64_t(301)));
    // A whole file is no partial document.
    ASSERT_TRUE(doc.Open(U16(dir.Write("good.dcm", good))).Opened());
    EXPECT_FALSE(doc.Partial());
    EXPECT_EQ(doc.RootLabel(u"good.dcm"), u"good.dcm");
    EXPECT_FALSE(doc.Properties(std::nullopt).unread.has_value());
}

// Reload opens the path again as the file is now and finds the element
// selected before at the same tag path, whatever its record index became;
// where the path is gone the root is selected. A file replaced under the
// path by rename, or deleted, counts as changed.
TEST(DocPartial, ReloadKeepsTheSelectionByTagPath) {
    TempDir dir;
    const std::filesystem::path path = dir.Write("file.dcm", doctest_files::SequenceFile());
    QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(path)).Opened());
    EXPECT_FALSE(doc.FileChanged());
    const std::size_t uid = IndexOf(doc, 0x0008, 0x1150);      // in the second item of (0008,1115)
    const std::size_t name = IndexOf(doc, 0x0010, 0x0010, 2);  // the top-level one, after the first in an item

    // The new file: an element more at the start, the second item of
    // (0008,1115) dropped; written beside and renamed over the path.
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    w.text(0x0008, 0x0005, "CS", "ISO_IR 100");
    w.text(0x0008, 0x0016, "UI", testdicom::Pad("1.2.840.10008.5.1.4.1.1.7", '\0'));
    w.text(0x0008, 0x0060, "CS", "OT");
    w.header(0x0008, 0x1115, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF).text(0x0008, 0x1150, "UI", "1.9 ").itemEnd().seqEnd();
    w.text(0x0010, 0x0010, "PN", testdicom::Pad("Roe^Ann"));
    const std::filesystem::path written = dir.Write("new.dcm", w.bytes());
    std::filesystem::rename(written, path);
    EXPECT_TRUE(doc.FileChanged());

    std::optional<std::size_t> selected = name;
    ASSERT_TRUE(doc.Reload(selected).Opened());
    EXPECT_FALSE(doc.FileChanged());
    ASSERT_TRUE(selected.has_value());
    EXPECT_NE(*selected, name);
    EXPECT_TRUE(doc.Records()[*selected].Element()->Is(0x0010, 0x0010));
    EXPECT_EQ(doc.Records()[*selected].parent, kRootRecord);
    EXPECT_EQ(doc.TagPathOf(*selected), (TagPath{{0x0010, 0x0010, 0}}));

    // The first item's (0008,1150) is found again; the second item is gone.
    ASSERT_TRUE(doc.Open(U16(dir.Write("file.dcm", doctest_files::SequenceFile()))).Opened());
    EXPECT_EQ(doc.TagPathOf(uid), (TagPath{{0x0008, 0x1115, 0}, {0xFFFE, 0xE000, 1}, {0x0008, 0x1150, 0}}));
    std::filesystem::rename(dir.Write("new.dcm", w.bytes()), path);
    selected = uid;
    ASSERT_TRUE(doc.Reload(selected).Opened());
    EXPECT_EQ(selected, std::nullopt);
    selected = IndexOf(doc, 0x0008, 0x1150);
    EXPECT_EQ(doc.RecordOfTagPath(doc.TagPathOf(*selected)), selected);

    // Deleted: changed, and a reload has nothing to open.
    std::filesystem::remove(path);
    EXPECT_TRUE(doc.FileChanged());
    EXPECT_EQ(doc.Reload(selected).status, OpenStatus::NotFound);
    EXPECT_EQ(selected, std::nullopt);
    EXPECT_FALSE(doc.IsOpen());
}
