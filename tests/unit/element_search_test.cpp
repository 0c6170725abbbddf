// Offsets and tags typed by the user, finding elements, the element a click
// selects when one is already selected, and the copy texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "dicom/TextUtil.h"
#include "document/ElementSearch.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

using namespace quillon;
using doctest_files::TempDir;
using docunit::IndexOf;

namespace {

// The sequence file of DocTestFiles.h, opened.
class SequenceDocument : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(doc.Open(FromUtf8(dir.Write("seq.dcm", doctest_files::SequenceFile()).string())).Opened());
    }
    TempDir dir;
    quillon::QuillonDocument doc;
};

TEST(ParseOffset, ThreeNotationsAndRejects) {
    const struct {
        const char16_t* text;
        std::optional<uint64_t> value;
    } cases[] = {
        {u"0", 0},
        {u"1234", 1234},
        {u"  280 ", 280},
        {u"0x118", 280},
        {u"0X11a", 282},
        {u"118h", 280},
        {u"11AH", 282},
        {u"0h", 0},
        {u"18446744073709551615", UINT64_MAX},
        {u"0xFFFFFFFFFFFFFFFF", UINT64_MAX},
        {u"18446744073709551616", std::nullopt},  // beyond 64 bits
        {u"0x10000000000000000", std::nullopt},
        {u"", std::nullopt},
        {u"   ", std::nullopt},
        {u"0x", std::nullopt},
        {u"h", std::nullopt},
        {u"11A", std::nullopt},  // hexadecimal digits need 0x or h
        {u"-5", std::nullopt},
        {u"12 34", std::nullopt},
        {u"0x1G", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseOffset(c.text), c.value) << ToUtf8(c.text);
}

TEST(ParseTagQuery, ThreeNotationsAndRejects) {
    const struct {
        const char16_t* text;
        bool ok;
        uint16_t group, element;
    } cases[] = {
        {u"0010,0010", true, 0x0010, 0x0010},
        {u"(7fe0,0010)", true, 0x7FE0, 0x0010},
        {u" ( 0008, 1115 ) ", true, 0x0008, 0x1115},
        {u"FFFEE000", true, 0xFFFE, 0xE000},
        {u"0010,001", false, 0, 0},
        {u"0010", false, 0, 0},
        {u"001000100", false, 0, 0},
        {u"Patient", false, 0, 0},
        {u"(0010,0010", false, 0, 0},
        {u"00G0,0010", false, 0, 0},
    };
    for (const auto& c : cases) {
        const auto tag = ParseTagQuery(c.text);
        ASSERT_EQ(tag.has_value(), c.ok) << ToUtf8(c.text);
        if (tag) {
            EXPECT_EQ(tag->group, c.group) << ToUtf8(c.text);
            EXPECT_EQ(tag->element, c.element) << ToUtf8(c.text);
        }
    }
}

// Each query from the root, then F3 after F3 through every match and round.
TEST_F(SequenceDocument, FindGoesOnInPreOrderAndWraps) {
    const std::size_t name1 = IndexOf(doc, 0x0010, 0x0010, 1);  // "Doe" in the sequence's first item
    const std::size_t name2 = IndexOf(doc, 0x0010, 0x0010, 2);  // "Roe^Ann" at the top
    const struct {
        const char16_t* query;
        std::vector<std::size_t> matches;  // in pre-order
    } cases[] = {
        {u"(0010,0010)", {name1, name2}},
        {u"00100010", {name1, name2}},
        {u"patient's name", {name1, name2}},  // description, any case
        {u"PatientName", {name1, name2}},     // the keyword: no blanks, no possessive s
        {u"instancenumber", {IndexOf(doc, 0x0020, 0x0013)}},  // keyword of the standard name, shown as "Image Number"
        {u"roe^a", {name2}},                  // part of a value
        {u"ISO_IR", {IndexOf(doc, 0x0008, 0x0005, 1), IndexOf(doc, 0x0008, 0x0005, 2)}},
        {u"sq item",
         {IndexOf(doc, 0xFFFE, 0xE000, 1), IndexOf(doc, 0xFFFE, 0xE000, 2), IndexOf(doc, 0xFFFE, 0xE000, 3)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.query));
        FindResult r = FindNext(doc, std::nullopt, c.query);
        ASSERT_EQ(r.record, c.matches.front());
        EXPECT_FALSE(r.wrapped);
        for (std::size_t k = 1; k <= c.matches.size(); ++k) {
            r = FindNext(doc, r.record, c.query);
            ASSERT_EQ(r.record, c.matches[k % c.matches.size()]);
            EXPECT_EQ(r.wrapped, k == c.matches.size());
        }
    }
}

// Pixel data keeps its label "Frame Data" but is found by its standard name
// and keyword; its frame nodes, labelled alike, are not.
TEST(FindStandardName, PixelDataButNotItsFrameNodes) {
    TempDir dir;
    quillon::QuillonDocument frames;
    ASSERT_TRUE(frames.Open(FromUtf8(dir.Write("frames.dcm", doctest_files::NativeFramesFile(2)).string())).Opened());
    const std::size_t pixelData = IndexOf(frames, 0x7FE0, 0x0010);
    for (const char16_t* query : {u"PixelData", u"pixel data", u" PIXEL DATA "}) {
        SCOPED_TRACE(ToUtf8(query));
        const FindResult r = FindNext(frames, std::nullopt, query);
        EXPECT_EQ(r.record, pixelData);
        EXPECT_EQ(FindNext(frames, r.record, query).record, pixelData);  // the only match
    }
    EXPECT_EQ(FindNext(frames, pixelData, u"frame data").record, IndexOf(frames, 0x0000, 0x0001));
}

TEST_F(SequenceDocument, FindWithoutMatchOrFromTheOnlyMatch) {
    EXPECT_FALSE(FindNext(doc, std::nullopt, u"no such text").record);
    EXPECT_FALSE(FindNext(doc, std::nullopt, u"(0010,0040)").record);
    EXPECT_FALSE(FindNext(doc, std::nullopt, u"  ").record);
    // The only match, found again from itself, is a wrap.
    const std::size_t only = IndexOf(doc, 0x0020, 0x0013);
    const FindResult r = FindNext(doc, only, u"0020,0013");
    EXPECT_EQ(r.record, only);
    EXPECT_TRUE(r.wrapped);
    quillon::QuillonDocument empty;
    EXPECT_FALSE(FindNext(empty, std::nullopt, u"x").record);
}

// Clicks on byte 280 (inside "Doe" in the first item) while different
// elements are selected: outermost, then one level further in each time; from
// the innermost element back to the outermost one.
TEST_F(SequenceDocument, ClickDrillsDownOneLevelAtATime) {
    const std::size_t sequence = IndexOf(doc, 0x0008, 0x1115);
    const std::size_t item = IndexOf(doc, 0xFFFE, 0xE000, 1);
    const std::size_t name = IndexOf(doc, 0x0010, 0x0010, 1);
    const std::size_t other = IndexOf(doc, 0x0010, 0x0020);

    EXPECT_EQ(ClickTarget(doc, std::nullopt, 280), sequence);
    EXPECT_EQ(ClickTarget(doc, other, 280), sequence);  // the selection does not hold the byte
    EXPECT_EQ(ClickTarget(doc, sequence, 280), item);
    EXPECT_EQ(ClickTarget(doc, item, 280), name);
    EXPECT_EQ(ClickTarget(doc, name, 280), sequence);
    // The item's header and the sequence's delimiter belong to no inner element.
    EXPECT_EQ(ClickTarget(doc, item, 248), sequence);
    EXPECT_EQ(ClickTarget(doc, sequence, 330), sequence);
    // A top-level element without inner elements stays selected.
    const std::size_t leaf = IndexOf(doc, 0x0010, 0x0020);
    EXPECT_EQ(ClickTarget(doc, leaf, 385), leaf);
    // The second item: its header selects the item, not the first item's elements.
    EXPECT_EQ(ClickTarget(doc, sequence, 300), IndexOf(doc, 0xFFFE, 0xE000, 2));
    // Outside every element: the root, whatever is selected.
    EXPECT_EQ(ClickTarget(doc, sequence, 5), std::nullopt);
    EXPECT_EQ(ClickTarget(doc, name, 100000), std::nullopt);
}

TEST_F(SequenceDocument, CopyTexts) {
    const std::size_t name = IndexOf(doc, 0x0010, 0x0010, 2);
    EXPECT_EQ(FullValueText(doc, name), u"Roe^Ann ");
    EXPECT_EQ(TagOffsetText(doc, name), u"364");
    EXPECT_EQ(ByteRangeText(doc, name), u"364-379");
    const HexText hex = ElementBytesHex(doc, name);
    // Header (10 00 10 00 'P' 'N' 08 00) and the value, 16 bytes on one line.
    EXPECT_EQ(hex.text, "10 00 10 00 50 4E 08 00 52 6F 65 5E 41 6E 6E 20");
    EXPECT_EQ(hex.total, 16u);
    EXPECT_FALSE(hex.cut);

    const std::size_t empty = IndexOf(doc, 0x0010, 0x0030);
    EXPECT_EQ(FullValueText(doc, empty), u"");
    EXPECT_EQ(ByteRangeText(doc, empty), u"394-401");
    EXPECT_EQ(ElementBytesHex(doc, empty).text, "10 00 30 00 44 41 00 00");

    // The sequence: 96 bytes, six full lines, no blank at a line's end.
    const HexText seq = ElementBytesHex(doc, IndexOf(doc, 0x0008, 0x1115));
    EXPECT_EQ(seq.total, 96u);
    EXPECT_EQ(std::count(seq.text.begin(), seq.text.end(), '\n'), 5);
    EXPECT_EQ(seq.text.size(), 96u * 3 - 1);
    EXPECT_EQ(seq.text.find(" \n"), std::string::npos);
}

// The cut: a limit below the element's size, and a range past the buffer.
TEST(BytesHex, CutAndClip) {
    std::vector<uint8_t> bytes(40);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
    HexText h = BytesHex(bytes.data(), bytes.size(), 0, 39, 17);
    EXPECT_TRUE(h.cut);
    EXPECT_EQ(h.bytes, 17u);
    EXPECT_EQ(h.total, 40u);
    EXPECT_EQ(h.text, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n10");
    h = BytesHex(bytes.data(), bytes.size(), 38, 1000, kCopyBytesLimit);
    EXPECT_FALSE(h.cut);
    EXPECT_EQ(h.total, 2u);
    EXPECT_EQ(h.text, "26 27");
    EXPECT_EQ(BytesHex(bytes.data(), bytes.size(), 40, 50, kCopyBytesLimit).total, 0u);
    EXPECT_EQ(BytesHex(nullptr, 0, 0, 0, kCopyBytesLimit).text, "");
}

// A value beyond the search limit is not searched as text, but its tag and
// description still are.
TEST(FindNext, LongValueSearchedByTagAndDescriptionOnly) {
    TempDir dir;
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    std::string big(kFindValueLimit + 2, 'A');
    big.replace(kFindValueLimit / 2, 6, "NEEDLE");
    testdicom::StudyElements(w);
    w.text(0x0040, 0xA160, "UT", big);
    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(FromUtf8(dir.Write("big.dcm", w.bytes()).string())).Opened());
    EXPECT_FALSE(FindNext(doc, std::nullopt, u"NEEDLE").record);
    EXPECT_TRUE(FindNext(doc, std::nullopt, u"(0040,A160)").record);
    EXPECT_TRUE(FindNext(doc, std::nullopt, u"text value").record);
    EXPECT_TRUE(FindNext(doc, std::nullopt, u"Modality").record);
}

}  // namespace

namespace {

// A text of 128 bytes or more shows a placeholder in the list; the copy and
// the search take its whole decoded text.
TEST(FullValueText, LongTextWholeInsteadOfPlaceholder) {
    TempDir dir;
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    std::string comment;
    for (int i = 0; i < 30; ++i) comment += "line " + std::to_string(i) + " ";
    testdicom::StudyElements(w);
    w.text(0x0010, 0x4000, "LT", testdicom::Pad(comment));
    quillon::QuillonDocument doc;
    ASSERT_TRUE(doc.Open(FromUtf8(dir.Write("lt.dcm", w.bytes()).string())).Opened());
    const std::size_t index = IndexOf(doc, 0x0010, 0x4000);
    ASSERT_EQ(doc.Properties(index).values[6], u"(Long Size Data)");
    EXPECT_EQ(FullValueText(doc, index), FromUtf8(testdicom::Pad(comment)));
    EXPECT_EQ(FindNext(doc, std::nullopt, u"LINE 29").record, index);
    EXPECT_FALSE(FindNext(doc, std::nullopt, u"Long Size").record);
}

}  // namespace
