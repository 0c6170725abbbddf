// Bytes as bytes: hex patterns typed in the find bar, finding them across the
// blocks a search reads, the innermost element at a byte, and the caret
// arithmetic of the hex view.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <vector>

#include "dicom/FileBytes.h"
#include "dicom/TextUtil.h"
#include "document/ByteSearch.h"
#include "hexview/HexCaret.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

using namespace quillon;
using docunit::IndexOf;

namespace {

TEST(ParseHexPattern, GroupsOfTwoDigitsOnly) {
    using P = std::vector<uint8_t>;
    const struct {
        const char16_t* text;
        std::optional<P> bytes;
    } cases[] = {
        {u"FE FF 00 E0", P{0xFE, 0xFF, 0x00, 0xE0}},
        {u"  fe ff\t00  e0 ", P{0xFE, 0xFF, 0x00, 0xE0}},
        {u"7f e0", P{0x7F, 0xE0}},
        {u"FE", std::nullopt},         // one byte: text, not a pattern
        {u"FEFF00E0", std::nullopt},   // no blanks: a tag or text
        {u"0010,0010", std::nullopt},  // a tag
        {u"FE FFF", std::nullopt},     // a group of three digits
        {u"FE F", std::nullopt},       // a lone digit
        {u"FE GG", std::nullopt},      // not hexadecimal
        {u"Doe ^", std::nullopt},
        {u"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseHexPattern(c.text), c.bytes) << ToUtf8(c.text);
}

// Bytes of `size` zeros with `pattern` written at each of `at`.
std::shared_ptr<FileBytes> BytesWith(std::size_t size, const std::vector<uint8_t>& pattern,
                                     const std::vector<uint64_t>& at) {
    std::vector<uint8_t> data(size, 0);
    for (uint64_t a : at) std::memcpy(data.data() + a, pattern.data(), pattern.size());
    return FileBytes::FromMemory(data.data(), data.size());
}

TEST(FindBytes, ForwardFromAnOffsetAcrossBlocksAndRound) {
    const std::vector<uint8_t> delimiter{0xFE, 0xFF, 0x00, 0xE0};
    const uint64_t size = 2 * kFindBlockBytes + 100;
    // Matches near the start, split by the first block boundary, and ending at the last byte.
    const uint64_t split = kFindBlockBytes - 2;
    const uint64_t nearEnd = size - 4;
    const auto bytes = BytesWith(size, delimiter, {10, split, nearEnd});

    const struct {
        uint64_t from;
        std::optional<uint64_t> found;
        bool wrapped;
    } cases[] = {
        {0, 10, false},
        {10, 10, false},     // a match at the start offset itself
        {11, split, false},  // across the block boundary
        {split + 1, nearEnd, false},
        {nearEnd + 1, 10, true},  // round past the end
        {size, 10, true},
    };
    for (const auto& c : cases) {
        const ByteFindResult r = FindBytes(*bytes, size, c.from, delimiter);
        EXPECT_EQ(r.offset, c.found) << "from " << c.from;
        EXPECT_EQ(r.wrapped, c.wrapped) << "from " << c.from;
        EXPECT_FALSE(r.cancelled || r.readFailed);
    }
}

TEST(FindBytes, NotFoundEmptyTooLongCancelledAndCutToTheSizeShown) {
    const std::vector<uint8_t> p{0xAB, 0xCD};
    const auto bytes = BytesWith(1000, p, {998});
    EXPECT_EQ(FindBytes(*bytes, 1000, 0, {0x12, 0x34}).offset, std::nullopt);
    EXPECT_EQ(FindBytes(*bytes, 1000, 0, {}).offset, std::nullopt);
    EXPECT_EQ(FindBytes(*bytes, 1, 0, p).offset, std::nullopt);
    // The match ends at the last byte; a size that cuts it off misses it.
    EXPECT_EQ(FindBytes(*bytes, 1000, 0, p).offset, 998u);
    EXPECT_EQ(FindBytes(*bytes, 999, 0, p).offset, std::nullopt);
    std::atomic<bool> cancel{true};
    const ByteFindResult r = FindBytes(*bytes, 1000, 0, p, &cancel);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.offset, std::nullopt);
}

TEST(InnermostRecordAt, DescendsToTheDeepestElement) {
    doctest_files::TempDir dir;
    QuillonDocument doc;
    ASSERT_TRUE(doc.Open(FromUtf8(dir.Write("seq.dcm", doctest_files::SequenceFile()).string())).Opened());
    EXPECT_EQ(InnermostRecordAt(doc, 280), IndexOf(doc, 0x0010, 0x0010, 1));  // value of a name in an item
    EXPECT_EQ(InnermostRecordAt(doc, 248), IndexOf(doc, 0xFFFE, 0xE000, 1));  // the item's header
    EXPECT_EQ(InnermostRecordAt(doc, 330), IndexOf(doc, 0x0008, 0x1115));     // the sequence's delimiter
    EXPECT_EQ(InnermostRecordAt(doc, 385), IndexOf(doc, 0x0010, 0x0020));
    EXPECT_EQ(InnermostRecordAt(doc, 5), std::nullopt);  // the preamble: the root
}

TEST(ValueTipText, WholeTextsHexOfBinaryValuesAndCuts) {
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    w.text(0x0010, 0x0010, "PN", testdicom::Pad("Doe^Jane"));
    const std::string longText(5000, 'x');
    w.text(0x0010, 0x4000, "LT", longText);
    testdicom::Bytes ob(300);
    for (std::size_t i = 0; i < ob.size(); ++i) ob[i] = uint8_t(i);
    w.element(0x0042, 0x0011, "OB", ob);
    w.element(0x0009, 0x1001, "OB", testdicom::Bytes{0xAB, 0xCD});
    // Frame Increment Pointer with three tags (group, element, little endian).
    w.element(0x0028, 0x0009, "AT",
              testdicom::Bytes{0x18, 0x00, 0x63, 0x10, 0x18, 0x00, 0x65, 0x10, 0x54, 0x00, 0x10, 0x00});
    doctest_files::TempDir dir;
    QuillonDocument doc;
    ASSERT_TRUE(doc.Open(FromUtf8(dir.Write("tips.dcm", w.bytes()).string())).Opened());

    EXPECT_EQ(ValueTipText(doc, IndexOf(doc, 0x0010, 0x0010)), u"Doe^Jane");
    const std::u16string cut = ValueTipText(doc, IndexOf(doc, 0x0010, 0x4000));
    EXPECT_EQ(cut, std::u16string(kValueTipChars, u'x') + u"...");
    const std::u16string binary = ValueTipText(doc, IndexOf(doc, 0x0042, 0x0011));
    EXPECT_EQ(binary.substr(0, 24), u"00 01 02 03 04 05 06 07 ");
    EXPECT_NE(binary.find(u"FF"), std::u16string::npos);                          // byte 255, the last shown
    EXPECT_EQ(binary.find(u"00 01 02 03 04 05 06 07", 1), std::u16string::npos);  // 256 on are not
    EXPECT_TRUE(binary.ends_with(u"\n... (300 bytes)"));
    EXPECT_EQ(ValueTipText(doc, IndexOf(doc, 0x0009, 0x1001)), u"AB CD");
    EXPECT_EQ(ValueTipText(doc, IndexOf(doc, 0x0028, 0x0009)), u"(0018,1063) (0018,1065) (0054,0010)");
}

TEST(HexCaret, KeysMoveWithinTheData) {
    using M = CaretMove;
    // 100 bytes: lines 0..6, the last line holds 96..99.
    const struct {
        uint64_t from;
        M move;
        uint64_t to;
    } cases[] = {
        {5, M::Left, 4},      {0, M::Left, 0},       {98, M::Right, 99},    {99, M::Right, 99},
        {20, M::Up, 4},       {4, M::Up, 4},         {20, M::Down, 36},     {85, M::Down, 99},
        {97, M::Down, 97},    {90, M::Down, 99},     {70, M::PageUp, 22},   {20, M::PageUp, 4},
        {5, M::PageDown, 53}, {60, M::PageDown, 99}, {97, M::PageDown, 97}, {37, M::LineStart, 32},
        {37, M::LineEnd, 47}, {97, M::LineEnd, 99},  {50, M::DataStart, 0}, {5, M::DataEnd, 99},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MoveCaret(c.from, c.move, 100, 3), c.to) << "from " << c.from << " move " << int(c.move);
    EXPECT_EQ(MoveCaret(0, M::Right, 0, 3), UINT64_MAX);
}

TEST(HexCaret, RangeAndScrolling) {
    EXPECT_TRUE(RangeBetween(UINT64_MAX, 5).Empty());
    EXPECT_EQ(RangeBetween(9, 4).first, 4u);
    EXPECT_EQ(RangeBetween(9, 4).last, 9u);
    EXPECT_EQ(RangeBetween(9, 4).Length(), 6u);
    EXPECT_EQ(RangeBetween(7, 7).Length(), 1u);
    // A view of 10 lines topped by line 100.
    EXPECT_EQ(TopLineShowing(105, 100, 10), 100u);  // in view: no scrolling
    EXPECT_EQ(TopLineShowing(109, 100, 10), 100u);
    EXPECT_EQ(TopLineShowing(110, 100, 10), 101u);  // just below: one line
    EXPECT_EQ(TopLineShowing(18750000, 100, 10), 18749991u);
    EXPECT_EQ(TopLineShowing(40, 100, 10), 40u);  // above: at the top
}

}  // namespace
