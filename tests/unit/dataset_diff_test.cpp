// Two files compared element by element: edited copies of one small file,
// each edit with the lines it must give (and nothing else).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/DataSetDiff.h"
#include "document/ElementSelector.h"
#include "tests/support/DocTestFiles.h"
#include "tests/support/DocUnitSupport.h"

namespace {

using doctest_files::Bytes;
using doctest_files::Pad;
using doctest_files::TempDir;
using doctest_files::Writer;

struct Edit {
    std::string syntax = testdicom::kExplicitLE;
    std::string name = "Doe^John";
    std::string id = "12345";
    std::string nestedName = "Roe^Ann";
    uint16_t rows = 2;
    bool withId = true;
    bool privateElements = false;
};

// Meta group, (0008,0060), a sequence of one item holding (0010,0010), then
// (0009,xxxx) private elements when asked, (0010,0010), (0010,0020), (0028,0010).
Bytes Build(const Edit& edit) {
    Writer w = testdicom::Part10(edit.syntax);
    w.text(0x0008, 0x0060, "CS", "OT");
    w.header(0x0008, 0x1115, "SQ", 0xFFFFFFFF);
    w.item(0xFFFFFFFF);
    w.text(0x0010, 0x0010, "PN", Pad(edit.nestedName));
    w.itemEnd();
    w.seqEnd();
    if (edit.privateElements) {
        w.text(0x0009, 0x0010, "LO", Pad("ACME"));
        w.text(0x0009, 0x1001, "LO", Pad("secret"));
    }
    w.text(0x0010, 0x0010, "PN", Pad(edit.name));
    if (edit.withId) w.text(0x0010, 0x0020, "LO", Pad(edit.id));
    w.us(0x0028, 0x0010, edit.rows);
    return w.bytes();
}

// One text per entry: kind, path, what changed or the shift.
std::vector<std::string> Lines(const quillon::DataSetDiff& diff) {
    std::vector<std::string> lines;
    for (const quillon::DiffEntry& e : diff.entries) {
        static const char* const kKinds[] = {"added", "removed", "changed", "shift"};
        std::string line = std::string(kKinds[int(e.kind)]) + ' ' + quillon::TagPathText(e.path);
        if (e.kind == quillon::DiffKind::Shift) line += ' ' + std::to_string(e.shift);
        if (e.what & quillon::kDiffValue) line += " value";
        if (e.what & quillon::kDiffVR) line += " VR";
        if (e.what & quillon::kDiffLength) line += " length";
        lines.push_back(line);
    }
    return lines;
}

struct DiffCase {
    const char* name;
    Edit b;
    std::vector<std::string> expected;
    bool equal;
};

TEST(DataSetDiff, EditedCopiesGiveTheirLinesOnly) {
    Edit longerId;
    longerId.id = "1234567";
    Edit sameLength;
    sameLength.name = "Doe^Jane";
    Edit removed;
    removed.withId = false;
    Edit added;
    added.privateElements = true;
    Edit implicit;
    implicit.syntax = testdicom::kImplicitLE;
    Edit big;
    big.syntax = testdicom::kExplicitBE;
    big.rows = 0x0102;
    Edit nested;
    nested.nestedName = "Roe^Annabel";

    const std::vector<DiffCase> cases = {
        {"same file", Edit{}, {}, true},
        {"same-length value", sameLength, {"changed (0010,0010) value"}, false},
        {"longer value", longerId, {"changed (0010,0020) value length", "shift (0028,0010) 2"}, false},
        {"removed element", removed, {"removed (0010,0020)", "shift (0028,0010) -14"}, false},
        {"added private elements",
         added,
         {"added (0009,0010)", "added (0009,1001)", "shift (0010,0010) 26"},
         false},
        // "1.2.840.10008.1.2\0" is two bytes shorter than "...1.2.1\0"; the
        // implicit VR headers are as long as the explicit ones but for the
        // sequence's (8 bytes against 12); the values are the same.
        {"implicit VR little endian",
         implicit,
         {"changed (0002,0010) value length", "shift (0008,0060) -2", "shift (0008,1115)/(FFFE,E000)[1] -6"},
         false},
        // Big endian: the same values once read, but one is changed here.
        {"explicit VR big endian with another Rows",
         big,
         {"changed (0002,0010) value", "changed (0028,0010) value"},
         false},
        {"longer value in an item",
         nested,
         // The delimiters are no elements: the next one is the top-level name.
         {"changed (0008,1115)/(FFFE,E000)[1]/(0010,0010) value length", "shift (0010,0010) 4"},
         false},
    };
    TempDir dir;
    const auto pathA = dir.Write("a.dcm", Build(Edit{}));
    for (const DiffCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pathB = dir.Write("b.dcm", Build(c.b));
        quillon::QuillonDocument a, b;
        ASSERT_TRUE(a.OpenPath(pathA).Opened());
        ASSERT_TRUE(b.OpenPath(pathB).Opened());
        const quillon::DataSetDiff diff = quillon::DiffDataSets(*a.File(), *b.File());
        EXPECT_EQ(Lines(diff), c.expected);
        EXPECT_EQ(diff.Equal(), c.equal);
    }
}

TEST(DataSetDiff, EntriesCarryBothSides) {
    TempDir dir;
    Edit longerId;
    longerId.id = "1234567";
    quillon::QuillonDocument a, b;
    ASSERT_TRUE(a.OpenPath(dir.Write("a.dcm", Build(Edit{}))).Opened());
    ASSERT_TRUE(b.OpenPath(dir.Write("b.dcm", Build(longerId))).Opened());
    const quillon::DataSetDiff diff = quillon::DiffDataSets(*a.File(), *b.File());
    ASSERT_EQ(diff.entries.size(), 2u);
    const quillon::DiffEntry& changed = diff.entries[0];
    ASSERT_TRUE(changed.a && changed.b);
    EXPECT_EQ(changed.a->tagOffset, changed.b->tagOffset);
    EXPECT_EQ(changed.a->vr, "LO");
    EXPECT_EQ(changed.a->length, 6u);
    EXPECT_EQ(changed.b->length, 8u);
    EXPECT_EQ(changed.a->value, u"12345 ");
    EXPECT_EQ(changed.b->value, u"1234567 ");
    const quillon::DiffEntry& shift = diff.entries[1];
    ASSERT_TRUE(shift.a && shift.b);
    EXPECT_EQ(shift.b->tagOffset - shift.a->tagOffset, 2u);
}

// Values beyond 16 MiB are compared from the files a block of 1 MiB at a
// time: a byte changed in any block, the last one included, is a change.
TEST(DataSetDiff, LargeValuesCompareEveryBlock) {
    const std::size_t size = (17u << 20) + 2;
    auto file = [&](std::size_t changedAt) {
        Writer w = testdicom::Part10(testdicom::kExplicitLE);
        w.text(0x0008, 0x0060, "CS", "OT");
        w.text(0x0010, 0x0010, "PN", Pad("Doe^John"));
        Bytes value(size, 0x5A);
        if (changedAt < size) value[changedAt] = 0xA5;
        w.element(0x0042, 0x0011, "OB", value);
        return w.bytes();
    };
    struct Case {
        const char* name;
        std::size_t changedAt;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"same bytes", size, {}},
        {"first byte", 0, {"changed (0042,0011) value"}},
        {"in the ninth block", (8u << 20) + 7, {"changed (0042,0011) value"}},
        {"last byte", size - 1, {"changed (0042,0011) value"}},
    };
    TempDir dir;
    const auto pathA = dir.Write("a.dcm", file(size));
    quillon::QuillonDocument a;
    ASSERT_TRUE(a.OpenPath(pathA).Opened());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        quillon::QuillonDocument b;
        ASSERT_TRUE(b.OpenPath(dir.Write("b.dcm", file(c.changedAt))).Opened());
        EXPECT_EQ(Lines(quillon::DiffDataSets(*a.File(), *b.File())), c.expected);
    }
}

TEST(ElementSelector, ParsesTagAndOrdinal) {
    struct Case {
        const char* text;
        bool ok;
        uint16_t group, element;
        unsigned nth;
    };
    const Case cases[] = {
        {"0010,0010", true, 0x0010, 0x0010, 1}, {"7fe0,0010/3", true, 0x7FE0, 0x0010, 3},
        {"0010,0010/0", false, 0, 0, 0},        {"0010", false, 0, 0, 0},
        {"0010,0010x", false, 0, 0, 0},         {"0010,0010/2x", false, 0, 0, 0},
        {"frame:1", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto selector = quillon::ParseElementSelector(c.text);
        ASSERT_EQ(selector.has_value(), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(selector->group, c.group);
        EXPECT_EQ(selector->element, c.element);
        EXPECT_EQ(selector->nth, c.nth);
    }
}

}  // namespace
