// Element model, recognition and data set parser on small byte fixtures.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "dicom/DicomFile.h"
#include "tests/support/DicomWriter.h"

using namespace testdicom;

namespace {

bool Load(CDicomFile& f, const Writer& w) { return f.LoadMemory(w.bytes().data(), w.size()).Ok(); }

std::string VR(const CDicomTag* t) { return VRToAscii(t->m_vr.GetVR()); }

Bytes ValueOf(const CDicomTag* t) {
    const uint8_t* d = t->GetData();
    return d ? Bytes(d, d + t->GetLength()) : Bytes();
}

}  // namespace

// ---------------------------------------------------------------------------
// Element model

TEST(ElementModel, SetValueKeepsTheFileLengthAndNormalisesTheBlock) {
    // The length stays the one read from the file; the block may carry a
    // normalised tail after it (padding, a short date filled to 8 bytes).
    struct Case {
        const char* vr;
        std::string value;
        std::string block;  // the first bytes of the block, tail included
        bool longForm;
    };
    const Case cases[] = {
        {"DA", "20010203\\", "20010203\\ ", false},                                     // 9 bytes, padded tail
        {"DA", "200102", "200102  ", false},                                            // 6 bytes, filled to 8
        {"DA", "20090304\\20090305\\20090306", "20090304\\20090305\\20090306", false},  // 26 bytes stay
        {"UI", "1.2.840.10008.1.2.1", std::string("1.2.840.10008.1.2.1\0", 20), false},
        {"UI", "1.2.3A", "1.2.30", false},  // letters become '0'
        {"PN", "Doe^J", "Doe^J ", false},
        {"AT", std::string("\x28\x00\x10", 3), std::string("\x28\x00\x10\x00", 4), false},
        {"US", std::string("\x01\x02\x03", 3), std::string("\x01\x02\x03", 3), false},
        {"OB", "abcd", "abcd", true},
        {"OB", "abc", std::string("abc\0", 4), true},
        {"LO", std::string(64, 'x'), std::string(64, 'x'), false},
        {"LO", std::string(70000, 'x'), std::string(70000, 'x'), true},
        {"SQ", "abcd", "abcd", true},
        {"OL", "abcd", "abcd", true},
        {"UC", "abc", "abc ", true},
        {"UR", "http://x", "http://x", true},
        {"OD", "abcdefgh", "abcdefgh", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.vr) + " " + std::to_string(c.value.size()));
        CDicomTag t(0x0009, 0x1001);
        t.SetVR(std::u16string(c.vr, c.vr + 2));
        ASSERT_TRUE(t.SetValue(reinterpret_cast<const uint8_t*>(c.value.data()), uint32_t(c.value.size())));
        EXPECT_EQ(t.GetLength(), c.value.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.GetData()), c.block.size()), c.block);
        EXPECT_EQ(t.m_tagData.m_longLength != 0, c.longForm);
        EXPECT_TRUE(t.m_tagData.m_longLength == 0 || t.m_tagData.m_shortLength == 0);
    }
}

TEST(ElementModel, OddShortValueAtTheLimitKeepsItsLength) {
    // 65535 bytes keep their 16-bit length; the padding blank is only in the block.
    CDicomTag t(0x0009, 0x1001);
    t.SetVR(u"LO");
    const std::string v(65535, 'a');
    ASSERT_TRUE(t.SetValue(reinterpret_cast<const uint8_t*>(v.data()), uint32_t(v.size())));
    EXPECT_EQ(t.GetLength(), 65535u);
    EXPECT_EQ(t.m_tagData.m_longLength, 0u);
    EXPECT_EQ(t.GetData()[65535], ' ');
}

TEST(ElementModel, SetValueWithNothingKeepsThePreviousValue) {
    CDicomTag t(0x0009, 0x1001);
    t.SetVR(u"LO");
    const uint8_t v[] = {'a', 'b'};
    ASSERT_TRUE(t.SetValue(v, 2));
    EXPECT_FALSE(t.SetValue(v, 0));
    EXPECT_FALSE(t.SetValue(nullptr, 2));
    EXPECT_EQ(ValueOf(&t), Bytes({'a', 'b'}));
}

TEST(ElementModel, GroupLengthNodeAndSequenceVR) {
    CDicomTag t(0x0028, 0x0000);
    EXPECT_EQ(t.m_description, u"Group Length");
    EXPECT_EQ(t.m_vr.GetVR(), u"UL");
    EXPECT_EQ(t.m_tagData.m_shortLength, 4u);
    EXPECT_EQ(ValueOf(&t), Bytes(4, 0));

    CDicomTag parent(0x0009, 0x1010);
    auto owned = std::make_unique<CDicomTag>(0x0009, 0x1020);
    CDicomTag* unknown = owned.get();
    unknown->AddChild(std::make_unique<CDicomTag>(0xFFFE, 0xE000));
    parent.AddChild(std::move(owned));
    EXPECT_EQ(unknown->m_vr.GetVR(), u"SQ");
    EXPECT_EQ(unknown->m_parent, &parent);
}

// ---------------------------------------------------------------------------
// Recognition

TEST(Recognition, Part10WithImplicitDataSet) {
    Writer w = Part10(kImplicitLE);
    StudyElements(w);
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    EXPECT_FALSE(f.Encoding().explicitVR);
    EXPECT_TRUE(f.Encoding().hasPreamble);
    ASSERT_EQ(f.Elements().size(), 6u);
    EXPECT_EQ(f.Elements()[0]->m_group, 0x0002);
    EXPECT_EQ(f.Elements()[3]->m_group, 0x0008);
    // The implicit element got its VR from the dictionary.
    EXPECT_EQ(VR(f.Find(0x0010, 0x0010)), "PN");
}

TEST(Recognition, TransferSyntaxDecidesTheEncoding) {
    struct Case {
        std::string uid;  // raw value, padding included
        bool explicitVR;
        bool littleEndian;
    };
    const Case cases[] = {
        {std::string("1.2.840.10008.1.2\0", 18), false, true},
        {"1.2.840.10008.1.2 ", true, true},  // a blank is not a NUL: contains the root
        {std::string("1.2.840.10008.1.2.1\0", 20), true, true},
        {std::string("1.2.840.10008.1.2.2\0", 20), true, false},
        {std::string("1.2.840.10008.1.2.4.50", 22), true, true},
        {"1.2.3.4.5.6", false, true},  // private root
        {"", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uid);
        Writer w(Syntax::ExplicitLittle);
        w.raw(Bytes(128, 0)).raw(std::string("DICM"));
        w.element(0x0002, 0x0001, "OB", {0, 1});
        w.text(0x0002, 0x0010, "UI", c.uid);
        w.setSyntax(c.explicitVR ? (c.littleEndian ? Syntax::ExplicitLittle : Syntax::ExplicitBig)
                                 : Syntax::ImplicitLittle);
        StudyElements(w);
        w.text(0x0010, 0x0030, "DA", "20010101");
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        EXPECT_EQ(f.Encoding().explicitVR, c.explicitVR);
        EXPECT_EQ(f.Encoding().littleEndian, c.littleEndian);
        EXPECT_EQ(f.Elements().size(), 6u);
    }
}

TEST(Recognition, MetaGroupWithoutTransferSyntaxIsImplicit) {
    Writer w(Syntax::ExplicitLittle);
    w.raw(Bytes(128, 0)).raw(std::string("DICM"));
    w.element(0x0002, 0x0001, "OB", {0, 1});
    w.setSyntax(Syntax::ImplicitLittle);
    StudyElements(w);
    w.text(0x0010, 0x0030, "DA", "20010101");
    w.text(0x0010, 0x0040, "CS", "M ");
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    EXPECT_FALSE(f.Encoding().explicitVR);
}

TEST(Recognition, BareDataSets) {
    // Implicit VR starting with (0008,0005): bytes 4 and 5 are a length.
    Writer imp(Syntax::ImplicitLittle);
    imp.text(0x0008, 0x0005, "CS", "ISO_IR 100");
    StudyElements(imp);
    imp.text(0x0010, 0x0030, "DA", "20010101");
    imp.text(0x0010, 0x0040, "CS", "F ");
    // Padded past 132 bytes so that the short-file rule does not apply.
    imp.text(0x0010, 0x4000, "LT", std::string(120, 'x'));
    CDicomFile f;
    ASSERT_TRUE(Load(f, imp));
    EXPECT_FALSE(f.Encoding().hasPreamble);
    EXPECT_FALSE(f.Encoding().explicitVR);

    // Explicit VR bare data sets, also when the first element has a VR with
    // reserved bytes and a 4-byte length that came after the first ones.
    for (const char* vr : {"CS", "UC", "UR", "OD", "SV"}) {
        SCOPED_TRACE(vr);
        Writer modern(Syntax::ExplicitLittle);
        modern.text(0x0008, 0x0005, vr, "ISO_IR 100");
        StudyElements(modern);
        modern.text(0x0010, 0x0030, "DA", "20010101");
        modern.text(0x0010, 0x4000, "LT", std::string(120, 'x'));
        ASSERT_TRUE(Load(f, modern));
        EXPECT_TRUE(f.Encoding().explicitVR);
        ASSERT_EQ(f.Elements().size(), 6u);
        EXPECT_EQ(f.Elements()[0]->GetLength(), 10u);
        EXPECT_EQ(f.Elements()[1]->m_dataOffset, (std::string(vr) == "CS" ? 8u : 12u) + 10u + 8u);
    }

    // First element number above 0x0028: neither tag test passes.
    Writer bad(Syntax::ExplicitLittle);
    bad.text(0x0008, 0x0060, "CS", "OT");
    StudyElements(bad);
    bad.text(0x0010, 0x4000, "LT", std::string(120, 'x'));
    EXPECT_FALSE(Load(f, bad));
    EXPECT_TRUE(f.Elements().empty());
}

TEST(Recognition, ExplicitParseFailureIsRetriedAsImplicit) {
    // An implicit data set whose first length happens to begin with the
    // bytes "DA": taken as explicit VR first, that parse fails, and the
    // implicit retry from offset 0 keeps only its own elements.
    Writer r(Syntax::ImplicitLittle);
    r.tag(0x0008, 0x0000).le32(0x4144);  // length bytes 44 41 00 00 = "DA"
    r.raw(Bytes(0x4144, 'x'));
    StudyElements(r);
    r.text(0x0010, 0x0030, "DA", "20010101");
    r.text(0x0010, 0x0040, "CS", "F ");
    CDicomFile f;
    ASSERT_TRUE(Load(f, r));
    EXPECT_FALSE(f.Encoding().explicitVR);
    ASSERT_EQ(f.Elements().size(), 6u);
    EXPECT_EQ(f.Elements()[0]->GetLength(), 0x4144u);
}

TEST(Recognition, Rejections) {
    CDicomFile f;
    // Shorter than 4 bytes, empty.
    for (size_t n = 0; n < 4; ++n) {
        const uint8_t b[4] = {8, 0, 5, 0};
        EXPECT_FALSE(f.LoadMemory(b, n));
    }
    // PAPYRUS.
    Writer p = Part10(kExplicitLE);
    StudyElements(p);
    Bytes bytes = p.bytes();
    std::memcpy(bytes.data(), "PAPYRUS", 7);
    EXPECT_FALSE(f.LoadMemory(bytes.data(), bytes.size()));
    // DICM followed by a tag that passes neither test.
    Writer d(Syntax::ExplicitLittle);
    d.raw(Bytes(128, 0)).raw(std::string("DICM")).text(0x0008, 0x0060, "CS", "OT");
    EXPECT_FALSE(Load(f, d));
    // Preamble, DICM and fewer than six elements.
    Writer few = Part10(kExplicitLE);
    few.text(0x0008, 0x0060, "CS", "OT");
    EXPECT_FALSE(Load(f, few));
    // A 100-byte file holding explicit VR is read as implicit and rejected.
    Writer small(Syntax::ExplicitLittle);
    small.text(0x0008, 0x0005, "CS", "ISO_IR 100");
    small.text(0x0008, 0x0016, "UI", "1.2.3.4");
    EXPECT_LT(small.size(), 132u);
    EXPECT_FALSE(Load(f, small));
}

// ---------------------------------------------------------------------------
// Element headers and values

TEST(Parser, ExplicitHeaders) {
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    const size_t obAt = w.size();
    w.element(0x0009, 0x1001, "OB", {1, 2, 3, 4});
    // OB whose reserved bytes are 0x0004: a 2-byte length of 4 and an 8-byte header.
    const size_t shortObAt = w.size();
    w.tag(0x0009, 0x1002).raw(std::string("OB")).u16(4).raw(Bytes{9, 8, 7, 6});
    // An unknown two-letter code keeps the 2-byte length: its reserved bytes
    // are its length (0), and its 4-byte length is then read as the next tag
    // (0004,0000) -> length 0.
    w.tag(0x0009, 0x1003).raw(std::string("XX")).u16(0).u32(0x00000004);
    w.raw(std::string("OB")).u16(0);  // ... VR OB, length 0 of that odd "tag"
    w.u32(0);
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    const CDicomTag* ob = f.Find(0x0009, 0x1001);
    ASSERT_TRUE(ob);
    EXPECT_EQ(ob->m_dataOffset, obAt + 12);
    EXPECT_EQ(f.HeaderSize(ob), 12u);
    const CDicomTag* shortOb = f.Find(0x0009, 0x1002);
    ASSERT_TRUE(shortOb);
    EXPECT_EQ(shortOb->GetLength(), 4u);
    EXPECT_EQ(shortOb->m_dataOffset, shortObAt + 8);
    const CDicomTag* pn = f.Find(0x0010, 0x0010);
    EXPECT_EQ(f.HeaderSize(pn), 8u);
    EXPECT_EQ(f.TagOffset(pn), pn->m_dataOffset - 8);
    const CDicomTag* unknown = f.Find(0x0009, 0x1003);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->GetLength(), 0u);
    EXPECT_TRUE(f.Find(0x0004, 0x0000));
}

TEST(Parser, ModernVRsHaveReservedBytesAndAFourByteLength) {
    // Each of these is written with a 12-byte header; read with an 8-byte one,
    // its reserved bytes would become its length and the rest of the file lost.
    const char* const vrs[] = {"OD", "OF", "OL", "OV", "SV", "UC", "UR", "UV"};
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    std::vector<size_t> at;
    uint16_t element = 0x1001;
    for (const char* vr : vrs) {
        at.push_back(w.size());
        w.element(0x0009, element++, vr, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
    }
    w.text(0x0010, 0x0030, "DA", "20010101");
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    element = 0x1001;
    for (size_t i = 0; i < std::size(vrs); ++i) {
        SCOPED_TRACE(vrs[i]);
        const CDicomTag* e = f.Find(0x0009, element++);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->GetLength(), 8u);
        EXPECT_EQ(f.HeaderSize(e), 12u);
        EXPECT_EQ(f.TagOffset(e), at[i]);
        EXPECT_EQ(f.Extent(e), 20u);
        EXPECT_EQ(f.ElementRange(e).second, at[i] + 19);
    }
    EXPECT_TRUE(f.Find(0x0010, 0x0030));
}

TEST(Parser, BigEndianValuesAreSwappedByVR) {
    Writer w = Part10(kExplicitBE);
    StudyElements(w);
    w.element(0x0028, 0x0010, "US", {0x01, 0x02});
    w.element(0x0018, 0x9087, "FD", {1, 2, 3, 4, 5, 6, 7, 8});
    w.element(0x0020, 0x5000, "AT", {0x00, 0x28, 0x00, 0x10});
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    EXPECT_EQ(ValueOf(f.Find(0x0028, 0x0010)), Bytes({0x02, 0x01}));
    EXPECT_EQ(ValueOf(f.Find(0x0018, 0x9087)), Bytes({8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(ValueOf(f.Find(0x0020, 0x5000)), Bytes({0x00, 0x28, 0x00, 0x10}));
    EXPECT_EQ(ValueOf(f.Find(0x0010, 0x0010)), Bytes({'D', 'o', 'e', '^', 'J', 'o', 'h', 'n'}));
}

TEST(Parser, TrailingBytes) {
    // Two stray bytes after the last element fail the load ...
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    Writer stray = w;
    stray.raw(Bytes{0, 0});
    CDicomFile f;
    EXPECT_FALSE(Load(f, stray));
    // ... but after the pixel data only trailing padding is read, and
    // nothing after the padding.
    Writer px = w;
    px.element(0x7FE0, 0x0010, "OB", {1, 2, 3, 4});
    Writer other = px;
    px.tag(0xFFFC, 0xFFFC).raw(std::string("OB")).u16(0).u32(6).raw(Bytes(6, 0));
    px.raw(Bytes{1});
    ASSERT_TRUE(Load(f, px));
    EXPECT_TRUE(f.Elements().back()->Is(0xFFFC, 0xFFFC));
    EXPECT_EQ(f.Elements().back()->GetLength(), 6u);
    other.text(0x0020, 0x4000, "LT", "late");
    ASSERT_TRUE(Load(f, other));
    EXPECT_EQ(f.Elements().back()->m_group, 0x7FE0);
    EXPECT_FALSE(f.Find(0x0020, 0x4000));
}

TEST(Parser, GroupZeroAndGroup8000) {
    CDicomFile f;
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.tag(0x8000, 0x0001).raw(std::string("LO")).u16(2).raw(std::string("ab"));
    EXPECT_FALSE(Load(f, w));

    // Group 0000 is fine early, refused once more than 50 elements are in.
    Writer early = Part10(kExplicitLE);
    early.element(0x0000, 0x0000, "UL", {4, 0, 0, 0});
    StudyElements(early);
    EXPECT_TRUE(Load(f, early));
    Writer late = Part10(kExplicitLE);
    for (uint16_t e = 1; e <= 47; ++e) late.text(0x0009, e, "LO", "ab");  // 3 meta + 47 = 50
    late.element(0x0000, 0x0000, "UL", {4, 0, 0, 0});
    EXPECT_TRUE(Load(f, late));  // the list held exactly 50
    late.element(0x0000, 0x0001, "UL", {4, 0, 0, 0});
    EXPECT_FALSE(Load(f, late));
}

// ---------------------------------------------------------------------------
// Sequences and items

TEST(Parser, UndefinedLengthSequenceAndExtent) {
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    const size_t seqAt = w.size();
    w.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF);
    w.item(0xFFFFFFFF).us(0x0028, 0x0010, 7).itemEnd();
    w.seqEnd();
    w.text(0x0010, 0x0030, "DA", "20010101");
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    CDicomTag* seq = f.Find(0x0008, 0x1140);
    ASSERT_TRUE(seq);
    ASSERT_EQ(seq->m_children.size(), 1u);
    CDicomTag* item = seq->m_children[0].get();
    EXPECT_EQ(item->m_dataOffset, seqAt + 12 + 8);
    EXPECT_EQ(f.Extent(item), 26u);
    EXPECT_EQ(f.Extent(seq), 46u);
    const auto range = f.ElementRange(seq);
    EXPECT_EQ(range.first, seqAt);
    EXPECT_EQ(range.second, seqAt + 45);
    const auto itemRange = f.ElementRange(item);
    EXPECT_EQ(itemRange.first, seqAt + 12);
    EXPECT_EQ(itemRange.second, seqAt + 12 + 25);
    EXPECT_TRUE(f.Find(0x0010, 0x0030));  // parsing went on after the delimiter
}

TEST(Parser, ImplicitSequenceExtentAndUnknownSequence) {
    Writer w = Part10(kImplicitLE);
    StudyElements(w);
    const size_t seqAt = w.size();
    w.header(0x0009, 0x1010, "", 0xFFFFFFFF);  // private, unknown: read as a sequence
    w.item(0xFFFFFFFF).us(0x0028, 0x0010, 7).itemEnd();
    w.seqEnd();
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    CDicomTag* seq = f.Find(0x0009, 0x1010);
    ASSERT_TRUE(seq);
    EXPECT_EQ(VR(seq), "SQ");
    EXPECT_EQ(f.Extent(seq), 42u);
    EXPECT_EQ(f.ElementRange(seq).second, seqAt + 41);
}

TEST(Parser, EmptySequences) {
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF).seqEnd();
    w.header(0x0008, 0x1115, "SQ", 8).seqEnd();
    w.text(0x0010, 0x0030, "DA", "20010101");
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    const CDicomTag* undefinedEmpty = f.Find(0x0008, 0x1140);
    EXPECT_TRUE(undefinedEmpty->m_children.empty());
    const CDicomTag* definedEmpty = f.Find(0x0008, 0x1115);
    EXPECT_EQ(definedEmpty->GetLength(), 0u);
    EXPECT_TRUE(definedEmpty->m_children.empty());
}

TEST(Parser, DefinedLengthItemKeepsTheLengthsOfTheFile) {
    // A defined-length sequence and item whose element has an odd length in
    // the file: measuring the item gives back the length the file wrote.
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    const uint32_t inner = 8 + 5;  // LO of 5 bytes
    const size_t sequenceAt = w.size();
    w.header(0x0008, 0x1140, "SQ", 8 + inner);
    w.item(inner).text(0x0009, 0x1001, "LO", "abcde");
    w.text(0x0010, 0x0030, "DA", "20010101");
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    CDicomTag* sequence = f.Find(0x0008, 0x1140);
    CDicomTag* item = sequence->m_children[0].get();
    EXPECT_EQ(item->GetLength(), 13u);
    EXPECT_EQ(f.Extent(item), 21u);
    const CDicomTag* odd = item->m_children[0].get();
    EXPECT_EQ(odd->GetLength(), 5u);
    // The odd value's range ends with its last byte, not on the next tag.
    EXPECT_EQ(f.ElementRange(odd).second, odd->m_dataOffset + 4);
    EXPECT_EQ(f.ElementRange(sequence).second, sequenceAt + 12 + 8 + inner - 1);
}

TEST(Parser, ItemLengthsAreSettledByTheLoadNotByQueries) {
    // Defined-length items below an undefined-length element carry, right
    // after the load, the length of their content as measured from that
    // element (in implicit VR inside a UN sequence); asking for ranges and
    // extents afterwards changes no length.
    struct Case {
        const char* name;
        void (*write)(Writer&);
        uint16_t element;          // of the top-level sequence, group 0008 or 0009
        std::vector<size_t> path;  // child indexes from that sequence to the item
        uint32_t settled;
    };
    const Case cases[] = {
        {"item of 13 bytes (LO of 5) in an undefined-length SQ",
         [](Writer& w) {
             w.header(0x0008, 0x1140, "SQ", kUndefinedLength);
             w.item(8 + 5).text(0x0008, 0x1030, "LO", "abcde");
             w.seqEnd();
         },
         0x1140,
         {0},
         13},
        {"item of 13 bytes (UT of 5) in an undefined-length UN sequence: implicit VR",
         [](Writer& w) {
             w.header(0x0009, 0x1010, "UN", kUndefinedLength);
             w.setSyntax(Syntax::ImplicitLittle);
             w.item(8 + 5).header(0x0040, 0xA160, "", 5).raw(std::string("abcde"));
             w.seqEnd();
             w.setSyntax(Syntax::ExplicitLittle);
         },
         0x1010,
         {0},
         8 + 5},
        {"item two undefined-length levels down",
         [](Writer& w) {
             w.header(0x0008, 0x1140, "SQ", kUndefinedLength).item(kUndefinedLength);
             w.header(0x0008, 0x1115, "SQ", kUndefinedLength);
             w.item(8 + 5).text(0x0008, 0x1030, "LO", "abcde");
             w.seqEnd().itemEnd().seqEnd();
         },
         0x1140,
         {0, 0, 0},
         13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Writer w = Part10(kExplicitLE);
        StudyElements(w);
        c.write(w);
        w.text(0x0010, 0x0030, "DA", "20010101");
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        const CDicomTag* item = f.Find(c.element == 0x1010 ? 0x0009 : 0x0008, c.element);
        ASSERT_TRUE(item);
        for (size_t index : c.path) {
            ASSERT_LT(index, item->m_children.size());
            item = item->m_children[index].get();
        }
        ASSERT_TRUE(item->IsItem());
        EXPECT_EQ(item->GetLength(), c.settled);

        // Every query on every node, through a const file: lengths stay.
        const CDicomFile& shown = f;
        std::vector<const CDicomTag*> nodes;
        for (const auto& top : shown.Elements()) nodes.push_back(top.get());
        for (size_t i = 0; i < nodes.size(); ++i)
            for (const auto& child : nodes[i]->m_children) nodes.push_back(child.get());
        std::vector<uint32_t> before;
        for (const CDicomTag* n : nodes) before.push_back(n->GetLength());
        for (const CDicomTag* n : nodes) {
            (void)shown.ElementRange(n);
            (void)shown.Extent(n, true);
            (void)shown.Extent(n, false);
        }
        for (size_t i = 0; i < nodes.size(); ++i) EXPECT_EQ(nodes[i]->GetLength(), before[i]) << "node " << i;
    }
}

TEST(Parser, UNSequenceItemsAreImplicit) {
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.header(0x0009, 0x1010, "UN", 0xFFFFFFFF);
    w.setSyntax(Syntax::ImplicitLittle);
    w.item(0xFFFFFFFF);
    const size_t obAt = w.size();
    w.header(0x0009, 0x1011, "", 4).raw(Bytes{1, 2, 3, 4});
    w.itemEnd().seqEnd();
    w.setSyntax(Syntax::ExplicitLittle);
    w.text(0x0010, 0x0030, "DA", "20010101");
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    CDicomTag* un = f.Find(0x0009, 0x1010);
    ASSERT_EQ(un->m_children.size(), 1u);
    CDicomTag* inner = un->m_children[0]->m_children[0].get();
    EXPECT_EQ(inner->m_dataOffset, obAt + 8);
    inner->SetVR(u"OB");  // even as OB it stays an 8-byte header inside the UN sequence
    EXPECT_EQ(f.HeaderSize(inner), 8u);
    EXPECT_EQ(f.Extent(un), 12u + (8 + 12 + 8) + 8);
    EXPECT_EQ(VR(f.Find(0x0010, 0x0030)), "DA");
}

TEST(Parser, SequenceErrors) {
    CDicomFile f;
    // A defined-length sequence holding something other than an item.
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.header(0x0008, 0x1140, "SQ", 10).text(0x0008, 0x0060, "CS", "OT");
    EXPECT_FALSE(Load(f, w));
    // An undefined-length sequence that never ends.
    Writer u = Part10(kExplicitLE);
    StudyElements(u);
    u.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF).us(0x0028, 0x0010, 1);
    EXPECT_FALSE(Load(f, u));
    // Delimiter with a non-zero length in an 8-byte sequence.
    Writer d = Part10(kExplicitLE);
    StudyElements(d);
    d.header(0x0008, 0x1140, "SQ", 8).tag(0xFFFE, 0xE0DD).u32(4);
    EXPECT_FALSE(Load(f, d));
}

// ---------------------------------------------------------------------------
// Pixel data

TEST(Parser, ImplicitPixelDataVRFromBitsAllocated) {
    for (uint16_t bits : {8, 16}) {
        Writer w = Part10(kImplicitLE);
        StudyElements(w);
        w.us(0x0028, 0x0100, bits);
        w.element(0x7FE0, 0x0010, "", {1, 2, 3, 4});
        CDicomFile f;
        ASSERT_TRUE(Load(f, w));
        EXPECT_EQ(VR(f.PixelData()), bits > 8 ? "OW" : "OB");
    }
}

TEST(Parser, EncapsulatedPixelData) {
    Writer w = Part10("1.2.840.10008.1.2.4.50");
    StudyElements(w);
    const size_t pxAt = w.size();
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF);
    w.item(0);
    w.item(6).raw(Bytes{0xFF, 0xD8, 1, 2, 0xFF, 0xD9});
    w.seqEnd();
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    CDicomTag* px = f.PixelData();
    ASSERT_EQ(px->ChildCount(), 2u);
    EXPECT_EQ(px->Child(0)->GetLength(), 0u);
    EXPECT_EQ(px->Child(0)->GetData(), nullptr);
    EXPECT_EQ(ValueOf(px->Child(1)), Bytes({0xFF, 0xD8, 1, 2, 0xFF, 0xD9}));
    EXPECT_EQ(f.Extent(px), 12u + 8 + (8 + 6) + 8);
    EXPECT_EQ(f.ElementRange(px).second, pxAt + 12 + 8 + 14 + 8 - 1);
    const auto fragment = f.ElementRange(px->Child(1));
    EXPECT_EQ(fragment.first, pxAt + 12 + 8);
    EXPECT_EQ(fragment.second, pxAt + 12 + 8 + 14 - 1);

    // Without the delimiter, the file may end after the last fragment.
    Writer open = Part10("1.2.840.10008.1.2.4.50");
    StudyElements(open);
    open.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0).item(2).raw(Bytes{1, 2});
    EXPECT_TRUE(Load(f, open));
    // A fragment running past the end fails.
    Writer cut = Part10("1.2.840.10008.1.2.4.50");
    StudyElements(cut);
    cut.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0).item(20).raw(Bytes{1, 2});
    EXPECT_FALSE(Load(f, cut));
    // A first item that is not an item fails.
    Writer noBot = Part10("1.2.840.10008.1.2.4.50");
    StudyElements(noBot);
    noBot.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).seqEnd();
    EXPECT_FALSE(Load(f, noBot));
}

TEST(Parser, EncapsulatedInsideItemAndImplicitTopLevel) {
    // Inside an item, undefined-length pixel data is encapsulated even in a native file.
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.header(0x0008, 0x1140, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF);
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0).item(2).raw(Bytes{1, 2}).seqEnd();
    w.itemEnd().seqEnd();
    w.text(0x0010, 0x0030, "DA", "20010101");
    CDicomFile f;
    ASSERT_TRUE(Load(f, w));
    const CDicomTag* inner = f.Find(0x0008, 0x1140)->m_children[0]->m_children[0].get();
    EXPECT_EQ(inner->m_children.size(), 2u);

    // In implicit VR the top-level undefined-length pixel data is read as a
    // sequence and the parse goes on after it.
    Writer imp = Part10(kImplicitLE);
    StudyElements(imp);
    imp.header(0x7FE0, 0x0010, "", 0xFFFFFFFF).item(0xFFFFFFFF).us(0x0028, 0x0010, 1).itemEnd().seqEnd();
    imp.text(0x7FE1, 0x0010, "", "ab");
    ASSERT_TRUE(Load(f, imp));
    EXPECT_TRUE(f.Find(0x7FE1, 0x0010));
}
