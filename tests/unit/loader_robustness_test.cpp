// Loader robustness: hostile nesting, lengths at the top of the 32-bit range,
// truncated and corrupted files, frame counts and frame sizes that would
// allocate or overflow, and paths that are not regular files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <ostream>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "dicom/DicomReader.h"
#include "tests/support/DicomWriter.h"

using namespace testdicom;

namespace {

// Loads from an exact-size copy, so that a read past the end is a read past
// the end of a heap block (and the sanitizers see it).
bool LoadBytes(CDicomFile& f, const uint8_t* data, size_t size) {
    const Bytes copy(data, data + size);
    return f.LoadMemory(copy.data(), copy.size()).Ok();
}
bool LoadBytes(CDicomFile& f, const Bytes& b) { return LoadBytes(f, b.data(), b.size()); }

// Every node in pre-order, without recursion.
std::vector<CDicomTag*> PreOrder(const CDicomFile& f) {
    std::vector<CDicomTag*> out, stack;
    for (auto it = f.Elements().rbegin(); it != f.Elements().rend(); ++it) stack.push_back(it->get());
    while (!stack.empty()) {
        CDicomTag* n = stack.back();
        stack.pop_back();
        out.push_back(n);
        for (auto it = n->m_children.rbegin(); it != n->m_children.rend(); ++it) stack.push_back(it->get());
    }
    return out;
}

// What the window does with every node of a loaded file.
void TouchEveryNode(CDicomFile& f) {
    const std::u16string charset = f.GetSpecificCharacterSet();
    for (CDicomTag* n : PreOrder(f)) {
        const auto [first, last] = f.ElementRange(n);
        EXPECT_LE(f.TagOffset(n), n->m_dataOffset);
        EXPECT_LE(first, last + 1);
        (void)n->GetValueText(charset);
        (void)n->GetDisplayVR();
        const auto value = n->GetValueString();
        EXPECT_TRUE(value);
    }
}

double Seconds(const std::function<void()>& fn) {
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// ---------------------------------------------------------------------------
// Nesting

enum class Nest {
    ExplicitUndefined,  // explicit VR, undefined-length sequences and items
    ExplicitDefined,    // explicit VR, defined lengths throughout
    ImplicitUndefined,
    ImplicitDefined,
    ThroughUN,  // an explicit VR "UN" sequence of undefined length, nested implicit VR inside
};

struct NestedFile {
    Bytes bytes;
    size_t sequenceAt = 0;  // tag offset of the outermost sequence
    size_t innerAt = 0;     // tag offset of the element at the bottom
    size_t afterAt = 0;     // tag offset of the top-level element after the sequence
};

// `depth` sequences, each holding one item that holds the next sequence; the
// last item holds one US element. A top-level element follows.
NestedFile Nested(Nest kind, unsigned depth) {
    const bool implicitFile = kind == Nest::ImplicitUndefined || kind == Nest::ImplicitDefined;
    const bool defined = kind == Nest::ExplicitDefined || kind == Nest::ImplicitDefined;
    Writer w = Part10(implicitFile ? kImplicitLE : kExplicitLE);
    StudyElements(w);
    NestedFile out;
    out.sequenceAt = w.size();
    const uint32_t header = implicitFile ? 8 : 12;
    const uint32_t inner = 10;  // (0028,0010) US, 8-byte header + 2
    for (unsigned k = 0; k < depth; ++k) {
        if (kind == Nest::ThroughUN) {
            if (k == 0) {
                w.header(0x0009, 0x1010, "UN", 0xFFFFFFFF);
                w.setSyntax(Syntax::ImplicitLittle);
            } else {
                w.header(0x0009, 0x1011, "", 0xFFFFFFFF);
            }
            w.item(0xFFFFFFFF);
        } else if (defined) {
            const uint32_t item = (depth - k - 1) * (header + 8) + inner;
            w.header(0x0008, 0x1115, "SQ", item + 8).item(item);
        } else {
            w.header(0x0008, 0x1115, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF);
        }
    }
    out.innerAt = w.size();
    w.us(0x0028, 0x0010, 7);
    if (!defined)
        for (unsigned k = 0; k < depth; ++k) w.itemEnd().seqEnd();
    if (kind == Nest::ThroughUN) w.setSyntax(Syntax::ExplicitLittle);
    out.afterAt = w.size();
    w.text(0x0020, 0x000D, "UI", "1.2.3.4");
    out.bytes = w.bytes();
    return out;
}

struct NestCase {
    const char* name;
    Nest kind;
    unsigned depth;
    bool loads;
};
void PrintTo(const NestCase& c, std::ostream* os) { *os << c.name; }

class NestingDepth : public ::testing::TestWithParam<NestCase> {};

TEST_P(NestingDepth, LoadsUpToTheLimitAndRejectsDeeperPromptly) {
    const NestCase& c = GetParam();
    const NestedFile file = Nested(c.kind, c.depth);
    CDicomFile f;
    bool loaded = false;
    const double seconds = Seconds([&] { loaded = LoadBytes(f, file.bytes); });
    ASSERT_EQ(loaded, c.loads);
    // Rejection happens at the limit, whatever the depth of the input; a
    // rejection that costs time in the input's depth would show here.
    EXPECT_LT(seconds, 5.0);
    if (!c.loads) {
        // Kept as far as read: the chain down to the limit, and the header of
        // the first sequence too deep, where the parse stopped.
        ASSERT_TRUE(f.Partial());
        ASSERT_EQ(f.Elements().size(), 7u);
        const CDicomTag* node = f.Elements()[6].get();
        unsigned sequences = 1;
        while (!node->m_children.empty()) {
            node = node->m_children[0]->m_children[0].get();
            ++sequences;
        }
        EXPECT_EQ(sequences, kMaxSequenceDepth + 1);
        EXPECT_EQ(f.StopOffset(), node->m_dataOffset);
        EXPECT_EQ(f.Problems().All().back().text, "sequences nest more than 1000 levels deep");
        TouchEveryNode(f);
        return;
    }
    // Down the chain: one item per sequence, the US element at the bottom.
    CDicomTag* top = f.Elements()[6].get();
    ASSERT_EQ(f.TagOffset(top), file.sequenceAt);
    const CDicomTag* node = top;
    unsigned levels = 0;
    while (!node->m_children.empty()) {
        ASSERT_EQ(node->m_children.size(), 1u);
        const CDicomTag* item = node->m_children[0].get();
        ASSERT_TRUE(item->IsItem());
        ASSERT_EQ(item->m_children.size(), 1u);
        node = item->m_children[0].get();
        ++levels;
    }
    EXPECT_EQ(levels, c.depth);
    EXPECT_TRUE(node->Is(0x0028, 0x0010));
    EXPECT_EQ(f.TagOffset(node), file.innerAt);
    // The byte range of the outermost sequence is measured through every level.
    EXPECT_EQ(f.ElementRange(top), std::make_pair(uint64_t(file.sequenceAt), uint64_t(file.afterAt - 1)));
    ASSERT_EQ(f.Elements().size(), 8u);
    EXPECT_EQ(f.TagOffset(f.Elements()[7].get()), file.afterAt);
    TouchEveryNode(f);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, NestingDepth,
    ::testing::Values(NestCase{"ExplicitUndefined1000", Nest::ExplicitUndefined, kMaxSequenceDepth, true},
                      NestCase{"ExplicitUndefined1001", Nest::ExplicitUndefined, kMaxSequenceDepth + 1, false},
                      NestCase{"ExplicitDefined1000", Nest::ExplicitDefined, kMaxSequenceDepth, true},
                      NestCase{"ExplicitDefined1001", Nest::ExplicitDefined, kMaxSequenceDepth + 1, false},
                      NestCase{"ImplicitUndefined1000", Nest::ImplicitUndefined, kMaxSequenceDepth, true},
                      NestCase{"ImplicitUndefined1001", Nest::ImplicitUndefined, kMaxSequenceDepth + 1, false},
                      NestCase{"ImplicitDefined1000", Nest::ImplicitDefined, kMaxSequenceDepth, true},
                      NestCase{"ImplicitDefined1001", Nest::ImplicitDefined, kMaxSequenceDepth + 1, false},
                      NestCase{"ThroughUN1000", Nest::ThroughUN, kMaxSequenceDepth, true},
                      NestCase{"ThroughUN1001", Nest::ThroughUN, kMaxSequenceDepth + 1, false},
                      NestCase{"ExplicitUndefined20000", Nest::ExplicitUndefined, 20000, false},
                      NestCase{"ExplicitDefined20000", Nest::ExplicitDefined, 20000, false},
                      NestCase{"ImplicitUndefined100000", Nest::ImplicitUndefined, 100000, false},
                      NestCase{"ImplicitDefined100000", Nest::ImplicitDefined, 100000, false},
                      NestCase{"ThroughUN50000", Nest::ThroughUN, 50000, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Defined-length sequences are closed by measuring their items, and measuring
// an item measures everything below it. A chain of them must not be measured
// again at every level: loading 1000 levels over a wide bottom costs about
// what one level over the same bottom costs, and the lengths come out right.
TEST(NestingDepth, DefinedChainsAreMeasuredOncePerLevel) {
    constexpr unsigned kBottom = 50000;
    auto build = [](unsigned depth, size_t* sequenceAt) {
        Writer w = Part10(kExplicitLE);
        StudyElements(w);
        *sequenceAt = w.size();
        const uint32_t inner = kBottom * 10;
        for (unsigned k = 0; k < depth; ++k) {
            const uint32_t item = (depth - k - 1) * 20 + inner;
            w.header(0x0008, 0x1115, "SQ", item + 8).item(item);
        }
        for (unsigned i = 0; i < kBottom; ++i) w.us(0x0028, 0x0010, uint16_t(i));
        return w.bytes();
    };
    size_t shallowAt = 0, deepAt = 0;
    const Bytes shallow = build(1, &shallowAt), deep = build(kMaxSequenceDepth, &deepAt);
    double shallowSeconds = 1e9, deepSeconds = 1e9;
    for (int run = 0; run < 3; ++run) {
        CDicomFile a, b;
        shallowSeconds = std::min(shallowSeconds, Seconds([&] { ASSERT_TRUE(LoadBytes(a, shallow)); }));
        deepSeconds = std::min(deepSeconds, Seconds([&] { ASSERT_TRUE(LoadBytes(b, deep)); }));
    }
    EXPECT_LT(deepSeconds, 10 * shallowSeconds + 0.05)
        << "1000 levels: " << deepSeconds << " s, one level: " << shallowSeconds << " s";

    CDicomFile f;
    ASSERT_TRUE(LoadBytes(f, deep));
    CDicomTag* top = f.Elements()[6].get();
    EXPECT_EQ(f.ElementRange(top), std::make_pair(uint64_t(deepAt), uint64_t(deep.size() - 1)));
    const CDicomTag* node = top;
    for (unsigned k = 0; k < kMaxSequenceDepth; ++k) {
        ASSERT_EQ(node->m_children.size(), 1u);
        const CDicomTag* item = node->m_children[0].get();
        EXPECT_EQ(item->GetLength(), (kMaxSequenceDepth - k - 1) * 20 + kBottom * 10) << "level " << k;
        node = item->m_children[0].get();
    }
}

// ---------------------------------------------------------------------------
// Lengths at the top of the 32-bit range, and values beyond the end

struct LengthCase {
    const char* name;
    std::function<Writer()> build;
    bool loads;
};
void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

Writer Explicit() {
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    return w;
}
Writer Implicit() {
    Writer w = Part10(kImplicitLE);
    StudyElements(w);
    return w;
}
Writer BigEndian() {
    Writer w = Part10(kExplicitBE);
    StudyElements(w);
    return w;
}
Writer Jpeg() {
    Writer w = Part10("1.2.840.10008.1.2.4.50");
    StudyElements(w);
    return w;
}

class HugeLengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(HugeLengths, AreRefusedWithoutReadingOrAllocatingPastTheFile) {
    const LengthCase& c = GetParam();
    const Writer w = c.build();
    CDicomFile f;
    EXPECT_EQ(LoadBytes(f, w.bytes()), c.loads);
    if (c.loads) TouchEveryNode(f);
}

const Bytes kSixteen(16, 0x41);

INSTANTIATE_TEST_SUITE_P(
    Loader, HugeLengths,
    ::testing::Values(
        LengthCase{"ObValueFFFFFFFE", [] { return Explicit().header(0x0009, 0x1010, "OB", 0xFFFFFFFE).raw(kSixteen); },
                   false},
        LengthCase{"UtUndefinedLength",
                   [] { return Explicit().header(0x0018, 0x9177, "UT", 0xFFFFFFFF).raw(kSixteen); }, false},
        LengthCase{"ObUndefinedLengthInItem",
                   [] {
                       return Explicit()
                           .header(0x0008, 0x1115, "SQ", 0xFFFFFFFF)
                           .item(0xFFFFFFFF)
                           .header(0x0009, 0x1010, "OB", 0xFFFFFFFF)
                           .raw(kSixteen);
                   },
                   false},
        LengthCase{
            "ItemFFFFFFF0InDefinedSequence",
            [] { return Explicit().header(0x0008, 0x1115, "SQ", 0xFFFFFFF8).item(0xFFFFFFF0).us(0x0028, 0x0010, 1); },
            false},
        LengthCase{"SequenceFFFFFFFEEndingAfterOneItem",
                   [] { return Explicit().header(0x0008, 0x1115, "SQ", 0xFFFFFFFE).item(10).us(0x0028, 0x0010, 1); },
                   false},
        LengthCase{"ImplicitValueFFFFFFFE",
                   [] { return Implicit().header(0x0009, 0x1010, "", 0xFFFFFFFE).raw(kSixteen); }, false},
        LengthCase{
            "ImplicitItemFFFFFFFE",
            [] { return Implicit().header(0x0008, 0x1115, "", 0xFFFFFFFF).item(0xFFFFFFFE).us(0x0028, 0x0010, 1); },
            false},
        LengthCase{"BigEndianValueFFFFFFFE",
                   [] { return BigEndian().header(0x0009, 0x1010, "OB", 0xFFFFFFFE).raw(kSixteen); }, false},
        LengthCase{"NativePixelDataFFFFFFFE",
                   [] { return Explicit().header(0x7FE0, 0x0010, "OW", 0xFFFFFFFE).raw(kSixteen); }, false},
        LengthCase{"OffsetTableFFFFFFFF",
                   [] { return Jpeg().header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0xFFFFFFFF).raw(kSixteen); },
                   false},
        LengthCase{
            "FragmentFFFFFFF8",
            [] { return Jpeg().header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0).item(0xFFFFFFF8).raw(kSixteen); },
            false},
        LengthCase{"DefinedPixelDataFFFFFFFEWithEmptyFragments",
                   [] {
                       Writer w = Jpeg().header(0x7FE0, 0x0010, "OB", 0xFFFFFFFE).item(0);
                       for (int i = 0; i < 8; ++i) w.item(0);
                       return w;
                   },
                   false},
        LengthCase{"ValueOneBytePastTheEnd", [] { return Explicit().header(0x0009, 0x1010, "OB", 17).raw(kSixteen); },
                   false},
        LengthCase{"ValueEndingAtTheEnd", [] { return Explicit().header(0x0009, 0x1010, "OB", 16).raw(kSixteen); },
                   true},
        LengthCase{"DefinedItemLongerThanTheFile",
                   [] { return Explicit().header(0x0008, 0x1115, "SQ", 28).item(20).us(0x0028, 0x0010, 1); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Group length elements that turn out to be something else

struct GroupLengthCase {
    const char* name;
    std::function<Writer()> build;
    uint16_t group;
    bool keepsDefaultValue;  // read with length 0: the 4 zero bytes stay
};
void PrintTo(const GroupLengthCase& c, std::ostream* os) { *os << c.name; }

class GroupLengthNodes : public ::testing::TestWithParam<GroupLengthCase> {};

// A (gggg,0000) node starts with a 4-byte default value. When the file makes
// it a sequence, that block must not stay behind with the sequence's length:
// every reader of the value trusts the length to fit the block.
TEST_P(GroupLengthNodes, HoldNoMoreLengthThanValue) {
    const GroupLengthCase& c = GetParam();
    CDicomFile f;
    ASSERT_TRUE(LoadBytes(f, c.build().bytes()));
    const CDicomTag* node = f.Find(c.group, 0x0000);
    ASSERT_NE(node, nullptr);
    if (c.keepsDefaultValue) {
        ASSERT_NE(node->GetData(), nullptr);
        EXPECT_EQ(node->GetLength(), 0u);
    } else {
        EXPECT_EQ(node->GetData(), nullptr);
        EXPECT_FALSE(node->m_children.empty());
    }
    const auto text = node->GetValueString();
    ASSERT_TRUE(text);
    TouchEveryNode(f);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, GroupLengthNodes,
    ::testing::Values(GroupLengthCase{"ExplicitUndefinedSQ",
                                      [] {
                                          return Explicit()
                                              .header(0x0009, 0x0000, "SQ", 0xFFFFFFFF)
                                              .item(0xFFFFFFFF)
                                              .us(0x0028, 0x0010, 1)
                                              .itemEnd()
                                              .seqEnd();
                                      },
                                      0x0009, false},
                      GroupLengthCase{"ExplicitUndefinedUN",
                                      [] {
                                          Writer w =
                                              Explicit().header(0x0009, 0x0000, "UN", 0xFFFFFFFF).item(0xFFFFFFFF);
                                          return w.tag(0x0028, 0x0010).le32(2).u16(1).itemEnd().seqEnd();
                                      },
                                      0x0009, false},
                      GroupLengthCase{
                          "ExplicitDefinedSQ",
                          [] { return Explicit().header(0x0009, 0x0000, "SQ", 18).item(10).us(0x0028, 0x0010, 1); },
                          0x0009, false},
                      GroupLengthCase{"ImplicitUndefined",
                                      [] {
                                          return Implicit()
                                              .header(0x0009, 0x0000, "", 0xFFFFFFFF)
                                              .item(0xFFFFFFFF)
                                              .us(0x0028, 0x0010, 1)
                                              .itemEnd()
                                              .seqEnd();
                                      },
                                      0x0009, false},
                      GroupLengthCase{"InsideAnItem",
                                      [] {
                                          return Explicit()
                                              .header(0x0008, 0x1115, "SQ", 0xFFFFFFFF)
                                              .item(0xFFFFFFFF)
                                              .header(0x0000, 0x0000, "SQ", 0xFFFFFFFF)
                                              .item(0xFFFFFFFF)
                                              .itemEnd()
                                              .seqEnd()
                                              .itemEnd()
                                              .seqEnd()
                                              .header(0x0009, 0x0000, "UL", 0);
                                      },
                                      0x0009, true},
                      GroupLengthCase{"LengthZeroKeepsFourZeroBytes",
                                      [] { return Explicit().header(0x0009, 0x0000, "UL", 0); }, 0x0009, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Truncated and corrupted files

struct Fixture {
    const char* name;
    std::function<Writer()> build;
    bool bare;  // a bare data set: a cut can be read differently after the implicit retry
};
void PrintTo(const Fixture& c, std::ostream* os) { *os << c.name; }

// Sequences of both kinds, a private UN sequence and encapsulated pixel data.
Writer EncapsulatedFixture() {
    Writer w = Part10("1.2.840.10008.1.2.4.70");
    w.text(0x0008, 0x0005, "CS", "ISO_IR 100");
    StudyElements(w);
    w.header(0x0008, 0x1115, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF);
    w.text(0x0008, 0x1150, "UI", Pad("1.2.3", '\0')).itemEnd().item(0).seqEnd();
    w.header(0x0008, 0x1140, "SQ", 8 + 12).item(12).text(0x0008, 0x0100, "SH", "CODE").seqEnd();
    w.header(0x0009, 0x0010, "LO", 4).raw(std::string("ACME"));
    w.header(0x0009, 0x1010, "UN", 0xFFFFFFFF).item(0xFFFFFFFF);
    w.setSyntax(Syntax::ImplicitLittle);
    w.text(0x0010, 0x0010, "", "A^B ").itemEnd().seqEnd();
    w.setSyntax(Syntax::ExplicitLittle);
    w.us(0x0028, 0x0002, 1).us(0x0028, 0x0010, 2).us(0x0028, 0x0011, 2).us(0x0028, 0x0100, 8);
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(4).u32(0).item(4).raw(Bytes{0xFF, 0xD8, 0xFF, 0xD9});
    w.item(2).raw(Bytes{1, 2}).seqEnd();
    return w;
}

// Implicit VR: sequences of both kinds and two native frames.
Writer ImplicitFixture() {
    Writer w = Part10(kImplicitLE);
    StudyElements(w);
    w.header(0x0008, 0x1115, "", 0xFFFFFFFF)
        .item(0xFFFFFFFF)
        .text(0x0008, 0x1150, "", std::string("1.2\0", 4))
        .itemEnd()
        .seqEnd();
    w.header(0x0008, 0x1140, "", 8 + 10).item(10).us(0x0028, 0x0010, 1);
    w.text(0x0028, 0x0008, "", "2 ").us(0x0028, 0x0010, 2).us(0x0028, 0x0011, 2).us(0x0028, 0x0100, 16);
    w.header(0x7FE0, 0x0010, "", 16).raw(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    return w;
}

// Big endian: numbers, a sequence and native OW pixel data.
Writer BigEndianFixture() {
    Writer w = Part10(kExplicitBE);
    StudyElements(w);
    w.header(0x0018, 0x0088, "FD", 8).raw(Bytes{0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18});
    w.header(0x0008, 0x1115, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF).us(0x0028, 0x0010, 3).itemEnd().seqEnd();
    w.us(0x0028, 0x0002, 1).us(0x0028, 0x0010, 1).us(0x0028, 0x0011, 2).us(0x0028, 0x0100, 16);
    w.header(0x7FE0, 0x0010, "OW", 4).u16(0x0102).u16(0x0304);
    return w;
}

// A bare explicit VR data set with a sequence (no preamble, no meta group).
Writer BareFixture() {
    Writer w(Syntax::ExplicitLittle);
    w.text(0x0008, 0x0005, "CS", "ISO_IR 100");
    StudyElements(w);
    w.header(0x0008, 0x1115, "SQ", 0xFFFFFFFF).item(0xFFFFFFFF).us(0x0028, 0x0010, 3).itemEnd().seqEnd();
    w.text(0x0010, 0x4000, "LT", std::string(120, 'x'));
    w.text(0x0020, 0x000D, "UI", "1.2.3.4");
    w.text(0x0020, 0x0011, "IS", "12");
    return w;
}

class DamagedFiles : public ::testing::TestWithParam<Fixture> {};

// Cut at every length: the load either fails, leaving nothing behind or
// what it read (partial), or succeeds; what it gives is the first nodes of
// the whole file's tree, at the same offsets, and a partial load stopped
// within the bytes it had, after the last node it kept began. (A cut before
// "DICM" is another file: a short one, read as implicit VR from 0.)
TEST_P(DamagedFiles, EveryTruncationFailsOrGivesAPrefixOfTheTree) {
    const Fixture& fixture = GetParam();
    const Bytes bytes = fixture.build().bytes();
    CDicomFile whole;
    ASSERT_TRUE(LoadBytes(whole, bytes));
    std::vector<std::tuple<uint16_t, uint16_t, uint64_t>> expected;
    for (const CDicomTag* n : PreOrder(whole)) expected.emplace_back(n->m_group, n->m_element, n->m_dataOffset);

    size_t loads = 0, partial = 0;
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        CDicomFile f;
        if (!LoadBytes(f, bytes.data(), cut)) {
            if (!f.Partial()) {
                EXPECT_TRUE(f.Elements().empty());
                continue;
            }
            ++partial;
            EXPECT_LE(f.StopOffset(), cut);
            EXPECT_FALSE(f.Elements().empty());
            for (const CDicomTag* n : PreOrder(f)) EXPECT_LT(f.TagOffset(n), f.StopOffset());
        } else {
            ++loads;
        }
        TouchEveryNode(f);
        if (fixture.bare || cut < 132) continue;
        const auto nodes = PreOrder(f);
        ASSERT_LE(nodes.size(), expected.size());
        for (size_t i = 0; i < nodes.size(); ++i)
            ASSERT_EQ(std::make_tuple(nodes[i]->m_group, nodes[i]->m_element, nodes[i]->m_dataOffset), expected[i])
                << "node " << i;
    }
    // Cuts at element boundaries do load, others are partial; the test is not vacuous.
    EXPECT_GT(loads, 0u);
    EXPECT_GT(partial, 0u);
}

// One byte overwritten with 0x00 or 0xFF, at every position.
TEST_P(DamagedFiles, EveryOverwrittenByteIsSurvived) {
    const Bytes bytes = GetParam().build().bytes();
    for (size_t i = 0; i < bytes.size(); ++i) {
        for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF)}) {
            SCOPED_TRACE("byte " + std::to_string(i) + " = " + std::to_string(value));
            Bytes damaged = bytes;
            damaged[i] = value;
            CDicomFile f;
            const bool loaded = LoadBytes(f, damaged);
            if (!loaded && !f.Partial()) {
                EXPECT_TRUE(f.Elements().empty());
                continue;
            }
            TouchEveryNode(f);
            if (loaded) continue;
            // Kept as far as read: every node starts before the stop.
            EXPECT_LE(f.StopOffset(), damaged.size());
            for (const CDicomTag* n : PreOrder(f)) ASSERT_LT(f.TagOffset(n), f.StopOffset());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Loader, DamagedFiles,
                         ::testing::Values(Fixture{"Encapsulated", EncapsulatedFixture, false},
                                           Fixture{"ImplicitNative", ImplicitFixture, false},
                                           Fixture{"BigEndianNative", BigEndianFixture, false},
                                           Fixture{"BareExplicit", BareFixture, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Native frames: counts and sizes from the data set

struct FrameCase {
    const char* name;
    uint16_t rows, columns, bits, samples;
    const char* frames;  // Number of Frames text
    uint32_t pixelBytes;
    bool loads;
    size_t storedFrames;
};
void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

Writer NativeImage(const FrameCase& c) {
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.us(0x0028, 0x0002, c.samples);
    w.text(0x0028, 0x0004, "CS", c.samples == 3 ? "RGB " : "MONOCHROME2 ");
    w.text(0x0028, 0x0008, "IS", Pad(c.frames));
    w.us(0x0028, 0x0010, c.rows).us(0x0028, 0x0011, c.columns).us(0x0028, 0x0100, c.bits);
    w.header(0x7FE0, 0x0010, "OW", c.pixelBytes).raw(Bytes(c.pixelBytes, 0x5A));
    return w;
}

class NativeFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(NativeFrames, AreCutOnlyFromBytesTheFileHolds) {
    {
        CDicomFile probe;
        ASSERT_TRUE(LoadBytes(probe, NativeImage({"", 2, 2, 8, 1, "1", 4, true, 1}).bytes()));
        if (probe.Pixel().rows != 2) GTEST_SKIP() << "the loader does not fill the pixel description yet";
    }
    const FrameCase& c = GetParam();
    const Bytes bytes = NativeImage(c).bytes();
    CDicomFile f;
    bool loaded = false;
    // A frame count taken on trust would allocate (or loop) billions of times.
    const double seconds = Seconds([&] { loaded = LoadBytes(f, bytes); });
    EXPECT_LT(seconds, 5.0);
    ASSERT_EQ(loaded, c.loads);
    if (!loaded) return;
    const auto* px = f.PixelData();
    ASSERT_NE(px, nullptr);
    ASSERT_EQ(px->FrameCount(), c.storedFrames);
    EXPECT_LE(uint64_t(px->FrameCount()) * px->FrameSize(), bytes.size() - px->m_dataOffset);
}

INSTANTIATE_TEST_SUITE_P(Loader, NativeFrames,
                         ::testing::Values(
                             // One-byte frames: four billion of them (saturating the IS value) or
                             // 2^32 - 1 (from "-1"), where the file holds sixteen.
                             FrameCase{"FourBillionTinyFrames", 1, 1, 8, 1, "4000000000", 16, false, 0},
                             FrameCase{"Int32MaxTinyFrames", 1, 1, 8, 1, "2147483647", 16, false, 0},
                             FrameCase{"MinusOneFrames", 1, 1, 8, 1, "-1", 16, false, 0},
                             FrameCase{"SixteenTinyFrames", 1, 1, 8, 1, "16", 16, true, 16},
                             FrameCase{"ThreeFramesExactly", 2, 2, 16, 1, "3", 24, true, 3},
                             FrameCase{"ThreeFramesOneByteShort", 2, 2, 16, 1, "3", 22, false, 0},
                             // Rows x Columns x Bits: 2^34, 0 in 32 bits; a 2 GiB frame the file does not hold.
                             FrameCase{"FrameSizeWrapsToZeroIn32Bits", 32768, 32768, 16, 1, "1", 16, false, 0},
                             // 3 x 2^32 + 16 bits: in 32 bits a 2-byte frame that the file does hold.
                             FrameCase{"FrameSizeWrapsToTwoBytesIn32Bits", 36001, 22369, 16, 1, "1", 16, false, 0},
                             FrameCase{"FrameSizeOver32Bits", 65535, 65535, 32, 3, "1", 16, false, 0},
                             FrameCase{"BitsAllocated65535", 65535, 65535, 65535, 1, "1", 16, false, 0},
                             FrameCase{"Samples65535", 1, 1, 8, 65535, "1", 16, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Loading from a file reads the file as the parse advances (and large frames
// straight into their blocks): the result must equal loading the same bytes
// from memory.

struct FileCase {
    const char* name;
    std::function<Writer()> build;
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 31 + seed + (i >> 9));
    return b;
}

Writer WithImage(Writer w, uint16_t rows, uint16_t columns, uint16_t bits, int frames) {
    w.us(0x0028, 0x0002, 1).text(0x0028, 0x0004, "CS", "MONOCHROME2 ");
    w.text(0x0028, 0x0008, "IS", Pad(std::to_string(frames)));
    w.us(0x0028, 0x0010, rows).us(0x0028, 0x0011, columns).us(0x0028, 0x0100, bits);
    const uint32_t bytes = uint32_t(rows) * columns * bits / 8 * uint32_t(frames);
    return w.header(0x7FE0, 0x0010, bits > 8 ? "OW" : "OB", bytes).raw(Pattern(bytes, 7));
}

class LoadFromFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(LoadFromFile, GivesWhatLoadingTheBytesFromMemoryGives) {
    const Bytes bytes = GetParam().build().bytes();
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("quillon-load-" + std::to_string(::getpid()) + "-" + GetParam().name);
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
        std::fclose(out);
    }
    CDicomFile fromMemory, fromFile;
    ASSERT_TRUE(LoadBytes(fromMemory, bytes));
    ASSERT_TRUE(fromFile.Load(path));
    const auto a = PreOrder(fromMemory), b = PreOrder(fromFile);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE("node " + std::to_string(i));
        EXPECT_TRUE(a[i]->Is(b[i]->m_group, b[i]->m_element));
        EXPECT_EQ(a[i]->m_dataOffset, b[i]->m_dataOffset);
        EXPECT_EQ(a[i]->m_vr.GetVR(), b[i]->m_vr.GetVR());
        ASSERT_EQ(a[i]->GetLength(), b[i]->GetLength());
        ASSERT_EQ(a[i]->HasValue(), b[i]->HasValue());
        if (a[i]->HasValue()) {
            const SValueBytes va = a[i]->ValueBytes(), vb = b[i]->ValueBytes();
            ASSERT_TRUE(va && vb);
            ASSERT_EQ(va.size, vb.size);
            EXPECT_EQ(std::memcmp(va.data, vb.data, va.size), 0);
        }
    }
    const auto* pa = fromMemory.PixelData();
    const auto* pb = fromFile.PixelData();
    if (pa && pb) {
        ASSERT_EQ(pa->FrameCount(), pb->FrameCount());
        ASSERT_EQ(pa->FrameSize(), pb->FrameSize());
        std::vector<uint8_t> fa(pa->FrameSize()), fb(pb->FrameSize());
        for (size_t k = 0; k < pa->FrameCount(); ++k) {
            ASSERT_TRUE(pa->ReadFrame(k, fa.data()) && pb->ReadFrame(k, fb.data()));
            EXPECT_EQ(fa, fb) << "frame " << k;
        }
    }
    // One byte short of the value that ends the file: both fail.
    std::filesystem::resize_file(path, bytes.size() - 1);
    EXPECT_FALSE(fromFile.Load(path));
    EXPECT_FALSE(LoadBytes(fromMemory, bytes.data(), bytes.size() - 1));
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Loader, LoadFromFile,
                         ::testing::Values(
                             // A value that spans many read-ahead steps, then frames of 128 KiB
                             // that are read straight from the file, the first partly buffered.
                             FileCase{"LargeValueAndLargeFrames",
                                      [] {
                                          Writer w =
                                              Explicit().header(0x0009, 0x1010, "OB", 300000).raw(Pattern(300000, 1));
                                          w.text(0x0020, 0x000D, "UI", "1.2.3.4");
                                          return WithImage(w, 256, 256, 16, 3);
                                      }},
                             FileCase{"SmallImplicitFrames", [] { return WithImage(Implicit(), 16, 16, 8, 5); }},
                             FileCase{"BigEndianLargeFrames", [] { return WithImage(BigEndian(), 300, 200, 16, 2); }},
                             FileCase{"LargeFragment",
                                      [] {
                                          Writer w = Jpeg().header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0);
                                          return w.item(200000).raw(Pattern(200000, 3)).item(4).raw(Pattern(4, 5));
                                      }}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Paths that are not regular files

TEST(LoaderPaths, DirectoriesDevicesAndPipesAreRefusedWithoutBlocking) {
    CDicomFile f;
    EXPECT_FALSE(f.Load(std::filesystem::temp_directory_path()));
    EXPECT_FALSE(f.Load("/dev/null"));
    EXPECT_FALSE(f.Load("/nonexistent/quillon/file.dcm"));

    // Opening a pipe for reading waits for a writer: the loader must not.
    const std::filesystem::path fifo =
        std::filesystem::temp_directory_path() / ("quillon-fifo-" + std::to_string(::getpid()));
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto result = std::async(std::launch::async, [&] {
        CDicomFile g;
        return g.Load(fifo);
    });
    const bool finished = result.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!finished) {
        // Release the blocked open so that the test can end.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    EXPECT_TRUE(finished) << "Load blocked on a named pipe";
    EXPECT_FALSE(result.get());
    std::filesystem::remove(fifo);
}

}  // namespace
