// Tree records and labels: pre-order, structure indexes, the character set
// in force, frame nodes of native pixel data and fragment labels.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dicom/TextUtil.h"
#include "document/DocumentTree.h"
#include "document/QuillonDocument.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

using namespace quillon;
using doctest_files::TempDir;
using docunit::U16;

namespace {

struct Expected {
    int depth;
    const char16_t* label;
    const char16_t* charset;
};

void ExpectRecords(const quillon::QuillonDocument& doc, const std::vector<Expected>& expected) {
    const std::vector<TreeItemRecord>& records = doc.Records();
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "record " << i);
        EXPECT_EQ(records[i].depth, expected[i].depth);
        EXPECT_EQ(doc.Label(i), expected[i].label);
        EXPECT_EQ(records[i].charset, expected[i].charset);
    }
}

// parent/row/end agree with the depths of a pre-order walk and with the element tree.
void ExpectConsistentStructure(const std::vector<TreeItemRecord>& records) {
    std::vector<std::size_t> stack;
    std::vector<std::size_t> childCount(records.size() + 1, 0);
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "record " << i);
        const TreeItemRecord& r = records[i];
        while (!stack.empty() && records[stack.back()].depth >= r.depth) stack.pop_back();
        const std::size_t parent = stack.empty() ? kRootRecord : stack.back();
        EXPECT_EQ(r.parent, parent);
        std::size_t& count = childCount[parent == kRootRecord ? records.size() : parent];
        EXPECT_EQ(r.row, count++);
        if (parent != kRootRecord) {
            EXPECT_EQ(r.Element()->m_parent, records[parent].Element());
        }
        std::size_t end = i + 1;
        while (end < records.size() && records[end].depth > r.depth) ++end;
        EXPECT_EQ(r.end, end);
        stack.push_back(i);
    }
}

}  // namespace

// Sequences, items, a nested (0008,0005) and the character set in force.
TEST(DocTree, SequenceFileRecords) {
    TempDir dir;
    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(dir.Write("seq.dcm", doctest_files::SequenceFile()))).Opened());
    const char16_t* latin = u"ISO_IR 100";
    const char16_t* utf8 = u"ISO_IR 192";
    ExpectRecords(doc, {
                                     {0, u"(0002,0001)  File Meta Information Version", latin},
                                     {0, u"(0002,0002)  Media Storage SOP Class UID", latin},
                                     {0, u"(0002,0010)  Transfer Syntax UID", latin},
                                     {0, u"(0008,0005)  Specific Character Set", latin},
                                     {0, u"(0008,0060)  Modality", latin},
                                     {0, u"(0008,1115)  Referenced Series Sequence", latin},
                                     // The item keeps the enclosing set; its own (0008,0005) rules its children.
                                     {1, u"(FFFE,E000)  SQ Item", latin},
                                     {2, u"(0008,0005)  Specific Character Set", utf8},
                                     {2, u"(0010,0010)  Patient's Name", utf8},
                                     // The sibling item is outside it.
                                     {1, u"(FFFE,E000)  SQ Item", latin},
                                     {2, u"(0008,1150)  Referenced SOP Class UID", latin},
                                     {0, u"(0008,1140)  Referenced Image Sequence", latin},
                                     {1, u"(FFFE,E000)  SQ Item", latin},
                                     {2, u"(0008,1155)  Referenced SOP Instance UID", latin},
                                     {0, u"(0010,0010)  Patient's Name", latin},
                                     {0, u"(0010,0020)  Patient ID", latin},
                                     {0, u"(0010,0030)  Patient's Birth Date", latin},
                                     {0, u"(0020,0013)  Image Number", latin},
                                 });
    ExpectConsistentStructure(doc.Records());
}

TEST(DocTree, NoCharacterSetGivesEmptyTexts) {
    TempDir dir;
    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(dir.Write("n.dcm", doctest_files::NativeFramesFile(1)))).Opened());
    for (std::size_t i = 0; i < doc.Records().size(); ++i)
        EXPECT_TRUE(doc.Records()[i].charset.empty()) << ToUtf8(doc.Label(i));
}

// Native pixel data: one frame node per frame under (7FE0,0010), referring
// to the frame's bytes at consecutive offsets.
TEST(DocTree, NativeFrameNodes) {
    TempDir dir;
    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(dir.Write("native.dcm", doctest_files::NativeFramesFile(3)))).Opened());
    const auto& records = doc.Records();
    ASSERT_GE(records.size(), 4u);
    const std::size_t pixel = records.size() - 4;
    const CDicomTag* pixelData = records[pixel].Element();
    ASSERT_TRUE(pixelData->Is(0x7FE0, 0x0010));
    EXPECT_EQ(doc.Label(pixel), u"(7FE0,0010)  Frame Data");
    const uint64_t p = pixelData->m_dataOffset;
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const TreeItemRecord& r = records[pixel + 1 + k];
        const CDicomTag* node = r.Element();
        EXPECT_EQ(r.depth, 1);
        EXPECT_EQ(doc.Label(pixel + 1 + k), Format16("Frame %04d", k + 1));
        EXPECT_EQ(node->m_group, 0x0000);
        EXPECT_EQ(node->m_element, k + 1);
        EXPECT_EQ(node->m_parent, pixelData);
        EXPECT_EQ(node->m_description, u"Frame Data");
        EXPECT_EQ(node->m_vr.GetVR(), u"OB");
        EXPECT_EQ(node->m_dataOffset, p + 4u * k);
        EXPECT_EQ(node->GetLength(), 4u);
        EXPECT_TRUE(node->IsValueInSource());
        const SValueBytes value = node->ValueBytes();
        ASSERT_TRUE(value);
        ASSERT_EQ(value.size, 4u);
        EXPECT_EQ(value.data[0], k + 1);
        // The node's value is exactly the file's bytes at its range.
        uint8_t shown[4] = {};
        ASSERT_TRUE(doc.ReadData(node->m_dataOffset, shown, 4));
        EXPECT_EQ(0, std::memcmp(value.data, shown, 4));
        EXPECT_EQ(doc.File()->TagOffset(node), node->m_dataOffset);
    }
    ExpectConsistentStructure(records);
}

// Encapsulated pixel data with one frame and three fragments: the frame takes
// them all, the first labelled as the frame, the others as its parts; no frame
// nodes are added.
TEST(DocTree, EncapsulatedFragmentLabels) {
    TempDir dir;
    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(dir.Write("jpeg.dcm", doctest_files::EncapsulatedFile(1)))).Opened());
    const auto& records = doc.Records();
    ASSERT_GE(records.size(), 5u);
    const std::size_t pixel = records.size() - 5;
    EXPECT_EQ(doc.Label(pixel), u"(7FE0,0010)  Frame Data");
    EXPECT_EQ(doc.Label(pixel + 1), u"(FFFE,E000)  SQ Item");  // offset table
    EXPECT_EQ(doc.Label(pixel + 2), u"Frame 0001");
    EXPECT_EQ(doc.Label(pixel + 3), u"Frame 0001 (part 2)");
    EXPECT_EQ(doc.Label(pixel + 4), u"Frame 0001 (part 3)");
    EXPECT_EQ(records[pixel].Element()->ChildCount(), 4u);

    // With two frames the second fragment is a frame too.
    ASSERT_TRUE(doc.Open(U16(dir.Write("jpeg2.dcm", doctest_files::EncapsulatedFile(2)))).Opened());
    const auto& two = doc.Records();
    EXPECT_EQ(doc.Label(two.size() - 3), u"Frame 0001");
    EXPECT_EQ(doc.Label(two.size() - 2), u"Frame 0002");
    EXPECT_EQ(doc.Label(two.size() - 1), u"(FFFE,E000)  SQ Item");
}

TEST(DocTree, GroupZeroWithoutPixelDataIsNoFrame) {
    TempDir dir;
    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(U16(dir.Write("g0.dcm", doctest_files::GroupZeroFile()))).Opened());
    const TreeItemRecord& first = doc.Records().front();
    EXPECT_TRUE(first.Element()->Is(0x0000, 0x0002));
    EXPECT_EQ(doc.Label(0).substr(0, 13), u"(0000,0002)  ");
}

// The same label whether it is asked for alone or made by the tree walk.
TEST(DocTree, ElementLabelMatchesTheWalk) {
    TempDir dir;
    for (const auto& bytes :
         {doctest_files::EncapsulatedFile(1), doctest_files::NativeFramesFile(2), doctest_files::SequenceFile()}) {
        quillon::QuillonDocument doc;
        ASSERT_TRUE(doc.Open(U16(dir.Write("f.dcm", bytes))).Opened());
        for (std::size_t i = 0; i < doc.Records().size(); ++i)
            EXPECT_EQ(ElementLabel(*doc.File(), doc.Records()[i].Element(), doc.ThumbnailCount()), doc.Label(i));
    }
}

// Real files: the structure indexes hold for every file of the corpus that loads.
TEST(DocTree, CorpusStructure) {
    const std::filesystem::path data = std::filesystem::path(QUILLON_PYDICOM_DATA) / "test_files";
    if (!std::filesystem::exists(data)) GTEST_SKIP() << "pydicom data not installed";
    int loaded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data)) {
        if (entry.path().extension() != ".dcm") continue;
        quillon::QuillonDocument doc;
        if (!doc.Open(U16(entry.path())).Opened()) continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++loaded;
        ExpectConsistentStructure(doc.Records());
        // The walk that quillon-dump writes as it goes gives the same records.
        std::size_t at = 0;
        std::unique_ptr<CDicomTag> scratch;
        VisitTreeRecords(*doc.File(), doc.ThumbnailCount(),
                         [&](const TreeItemRecord& r, CDicomTag* e, const std::u16string& label) {
            ASSERT_LT(at, doc.Records().size());
            const std::size_t index = at++;
            const TreeItemRecord& kept = doc.Records()[index];
            EXPECT_TRUE(KeyOf(r) == KeyOf(kept));
            const CDicomTag* keptElement = kept.PeekElement(scratch);
            ASSERT_TRUE(e && keptElement);
            EXPECT_TRUE(e->Is(keptElement->m_group, keptElement->m_element));
            EXPECT_EQ(e->m_dataOffset, keptElement->m_dataOffset);
            EXPECT_EQ(r.depth, kept.depth);
            EXPECT_EQ(label, doc.Label(index));
            EXPECT_EQ(r.charset, kept.charset);
            EXPECT_EQ(r.parent, kept.parent);
            EXPECT_EQ(r.row, kept.row);
        });
        EXPECT_EQ(at, doc.Records().size());
    }
    EXPECT_GT(loaded, 40);
}

// A file may hold millions of fragment items, each a node and a record: the
// texts every node and record carries (VRs, name, character set) are shared,
// not copied, so that a node stays about a hundred bytes.
TEST(DocTree, NodesShareTheirTexts) {
    EXPECT_LE(sizeof(CDicomTag), 104u);
    EXPECT_LE(sizeof(TreeItemRecord), 48u);
    CDicomTag a(0x0010, 0x0010), b(0x0010, 0x0010);
    EXPECT_EQ(a.m_vr.GetVR(), u"PN");
    EXPECT_EQ(&a.m_vr.GetVR(), &b.m_vr.GetVR());
    EXPECT_EQ(&static_cast<const std::u16string&>(a.m_description),
              &static_cast<const std::u16string&>(b.m_description));
    a.SetVR(u"lo");
    EXPECT_EQ(a.m_vr.GetVR(), u"LO");
    EXPECT_EQ(b.m_vr.GetVR(), u"PN");
    a.m_vr.Clear();
    EXPECT_TRUE(a.m_vr.GetVR().empty());
}
