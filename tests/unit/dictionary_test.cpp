// The built-in data dictionary: the shape of the static table, the rows that
// differ from the plain registry, and the lookup map built from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dicom/DicomDictionary.h"
#include "dicom/DicomTag.h"

namespace {

using Tag = std::pair<uint16_t, uint16_t>;

std::string Hex(uint16_t group, uint16_t element) {
    char text[16];
    std::snprintf(text, sizeof text, "(%04X,%04X)", group, element);
    return text;
}

// The code stored after the first VR's NUL (empty when there is none).
std::string SecondVr(const DicomDictEntry& row) {
    const std::size_t first = strnlen(row.vr, sizeof row.vr);
    if (first + 1 >= sizeof row.vr) return {};
    return std::string(row.vr + first + 1, strnlen(row.vr + first + 1, sizeof row.vr - first - 1));
}

std::vector<std::size_t> RowsOf(uint16_t group, uint16_t element) {
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) {
        if (kDicomDictTable[i].group == group && kDicomDictTable[i].element == element) rows.push_back(i);
    }
    return rows;
}

const CDicomDictionary& Dict() { return CDicomDictionary::Instance(); }

}  // namespace

TEST(DictionaryTable, RowsKeysAndFields) {
    ASSERT_EQ(kDicomDictTableSize, 2080u);

    std::set<Tag> keys;
    std::size_t longestName = 0;
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) {
        const DicomDictEntry& row = kDicomDictTable[i];
        SCOPED_TRACE("row " + std::to_string(i) + " " + Hex(row.group, row.element));
        keys.insert({row.group, row.element});

        const std::size_t nameLength = strnlen(row.name, sizeof row.name);
        ASSERT_LT(nameLength, sizeof row.name) << "name not terminated";
        EXPECT_GT(nameLength, 0u);
        longestName = std::max(longestName, nameLength);

        ASSERT_EQ(strnlen(row.vr, sizeof row.vr), 2u);
        EXPECT_TRUE(std::isupper(static_cast<unsigned char>(row.vr[0])) &&
                    std::isupper(static_cast<unsigned char>(row.vr[1])));
    }
    EXPECT_EQ(keys.size(), 2073u);
    EXPECT_EQ(Dict().Size(), 2073u);
    EXPECT_EQ(longestName, 67u);
}

TEST(DictionaryTable, RowsPerGroup) {
    const std::map<uint16_t, std::size_t> expected = {
        {0x0002, 12}, {0x0004, 19},  {0x0008, 140}, {0x0010, 45}, {0x0012, 15}, {0x0018, 510}, {0x0020, 91},
        {0x0022, 48}, {0x0028, 143}, {0x0032, 26},  {0x0038, 26}, {0x003A, 25}, {0x0040, 175}, {0x0050, 9},
        {0x0054, 78}, {0x0060, 7},   {0x0070, 57},  {0x0072, 98}, {0x0088, 8},  {0x0100, 5},   {0x0400, 25},
        {0x2000, 15}, {0x2010, 18},  {0x2020, 8},   {0x2030, 3},  {0x2040, 8},  {0x2050, 4},   {0x2100, 11},
        {0x2110, 5},  {0x2120, 3},   {0x2130, 9},   {0x3002, 17}, {0x3004, 23}, {0x3006, 44},  {0x300A, 224},
        {0x300C, 25}, {0x300E, 4},   {0x4008, 28},  {0x4FFE, 2},  {0x5000, 26}, {0x5200, 2},   {0x5400, 7},
        {0x6000, 30}, {0x7FE0, 2},
    };
    std::map<uint16_t, std::size_t> actual;
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) ++actual[kDicomDictTable[i].group];

    EXPECT_EQ(actual.size(), 44u);
    for (const auto& [group, rows] : expected) {
        EXPECT_EQ(actual[group], rows) << "group " << std::hex << group;
    }
    EXPECT_EQ(actual, expected);
}

TEST(DictionaryTable, VrCodesInUse) {
    const std::set<std::string> expected = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL",
                                            "ID", "IS", "LO", "LT", "OB", "OW", "PN", "SH", "SL",
                                            "SQ", "SS", "ST", "TM", "UI", "UL", "US", "UT"};
    std::set<std::string> used;
    std::set<Tag> idRows;
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) {
        const DicomDictEntry& row = kDicomDictTable[i];
        used.insert(row.vr);
        if (!SecondVr(row).empty()) used.insert(SecondVr(row));
        if (std::string(row.vr) == "ID") idRows.insert({row.group, row.element});
    }
    EXPECT_EQ(used, expected);
    EXPECT_EQ(idRows, (std::set<Tag>{{0x0020, 0x3401}, {0x0020, 0x3402}}));
}

TEST(DictionaryTable, DuplicatedRowsInTheirPlaces) {
    // Exactly seven tags have a second row.
    std::map<Tag, std::vector<std::size_t>> rowsByTag;
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) {
        rowsByTag[{kDicomDictTable[i].group, kDicomDictTable[i].element}].push_back(i);
    }
    std::set<Tag> duplicated;
    for (const auto& [tag, rows] : rowsByTag) {
        EXPECT_LE(rows.size(), 2u);
        if (rows.size() > 1) duplicated.insert(tag);
    }
    EXPECT_EQ(duplicated, (std::set<Tag>{{0x0002, 0x0000},
                                         {0x0002, 0x0001},
                                         {0x0018, 0x9022},
                                         {0x0028, 0x0400},
                                         {0x0028, 0x0401},
                                         {0x0028, 0x0402},
                                         {0x0028, 0x0403}}));

    // The table opens with (0002,0000), (0002,0001) twice, then group 0002 goes on.
    const Tag opening[] = {{0x0002, 0x0000}, {0x0002, 0x0001}, {0x0002, 0x0000}, {0x0002, 0x0001}, {0x0002, 0x0002}};
    for (std::size_t i = 0; i < std::size(opening); ++i) {
        EXPECT_EQ(Tag(kDicomDictTable[i].group, kDicomDictTable[i].element), opening[i]) << "row " << i;
    }
    EXPECT_EQ(0, std::memcmp(&kDicomDictTable[0], &kDicomDictTable[2], sizeof(DicomDictEntry)));
    EXPECT_EQ(0, std::memcmp(&kDicomDictTable[1], &kDicomDictTable[3], sizeof(DicomDictEntry)));

    const auto nulling = RowsOf(0x0018, 0x9022);
    ASSERT_EQ(nulling.size(), 2u);
    EXPECT_EQ(0, std::memcmp(&kDicomDictTable[nulling[0]], &kDicomDictTable[nulling[1]], sizeof(DicomDictEntry)));
    EXPECT_STREQ(kDicomDictTable[nulling[0]].name, "Blood Signal Nulling");
    EXPECT_STREQ(kDicomDictTable[nulling[0]].vr, "CS");

    // (0028,0400)..(0028,0403): two meanings each; the earlier row is the one looked up.
    struct TwoMeanings {
        uint16_t element;
        const char* firstName;
        const char* firstVr;
        const char* laterName;
        const char* laterVr;
        std::u16string lookedUpName;
    };
    const TwoMeanings cases[] = {
        {0x0400, "Transform Label", "LO", "Rows For Nth Order Coefficients", "US", u"Transform Label"},
        {0x0401, "Transform Version Number", "LO", "Columns For Nth Order Coefficients", "US",
         u"Transform Version Number"},
        {0x0402, "Number of Transform Steps", "US", "CoefficientCoding", "LO", u"Number of Transform Steps"},
        {0x0403, "Sequence of Compressed Data", "LO", "Coefficient Coding Pointers", "AT",
         u"Sequence of Compressed Data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(0x0028, c.element));
        const auto rows = RowsOf(0x0028, c.element);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_STREQ(kDicomDictTable[rows[0]].name, c.firstName);
        EXPECT_STREQ(kDicomDictTable[rows[0]].vr, c.firstVr);
        EXPECT_STREQ(kDicomDictTable[rows[1]].name, c.laterName);
        EXPECT_STREQ(kDicomDictTable[rows[1]].vr, c.laterVr);
        EXPECT_EQ(Dict().LookupName(0x0028, c.element), c.lookedUpName);
        EXPECT_EQ(Dict().LookupVR(0x0028, c.element), std::u16string(c.firstVr, c.firstVr + 2));
    }
}

TEST(DictionaryTable, SecondVrAfterTheNul) {
    struct Pair {
        uint16_t group, element;
        const char* first;
        const char* second;
    };
    const Pair pairs[] = {
        {0x0028, 0x0104, "SS", "US"}, {0x0028, 0x0105, "US", "SS"}, {0x0028, 0x0106, "US", "SS"},
        {0x0028, 0x0107, "US", "SS"}, {0x0028, 0x0108, "US", "SS"}, {0x0028, 0x0109, "US", "SS"},
        {0x0028, 0x0110, "US", "SS"}, {0x0028, 0x0111, "US", "SS"}, {0x0028, 0x0120, "US", "SS"},
        {0x0028, 0x0121, "US", "SS"}, {0x0028, 0x1100, "US", "SS"}, {0x0028, 0x1101, "US", "SS"},
        {0x0028, 0x1102, "US", "SS"}, {0x0028, 0x1103, "US", "SS"}, {0x0028, 0x3002, "US", "SS"},
        {0x0060, 0x3004, "US", "SS"}, {0x0060, 0x3006, "US", "SS"}, {0x5000, 0x200C, "OW", "OB"},
        {0x5000, 0x3000, "OW", "OB"}, {0x5400, 0x0110, "OB", "OW"}, {0x5400, 0x0112, "OB", "OW"},
        {0x5400, 0x100A, "OB", "OW"}, {0x5400, 0x1010, "OB", "OW"}, {0x7FE0, 0x0010, "OB", "OW"},
    };
    std::set<Tag> expectedTags;
    for (const auto& p : pairs) {
        SCOPED_TRACE(Hex(p.group, p.element));
        expectedTags.insert({p.group, p.element});
        const auto rows = RowsOf(p.group, p.element);
        ASSERT_EQ(rows.size(), 1u);
        const DicomDictEntry& row = kDicomDictTable[rows[0]];
        EXPECT_STREQ(row.vr, p.first);
        EXPECT_EQ(SecondVr(row), p.second);
        // Only the text up to the first NUL counts.
        EXPECT_EQ(Dict().LookupVR(p.group, p.element), std::u16string(p.first, p.first + 2));
    }

    // Every other row is zero after its VR.
    std::set<Tag> withTrailingBytes;
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) {
        const DicomDictEntry& row = kDicomDictTable[i];
        for (std::size_t b = std::strlen(row.vr); b < sizeof row.vr; ++b) {
            if (row.vr[b] != '\0') {
                withTrailingBytes.insert({row.group, row.element});
                break;
            }
        }
    }
    EXPECT_EQ(withTrailingBytes, expectedTags);
}

TEST(DictionaryTable, GroupLengthRows) {
    const uint16_t groups[] = {0x0002, 0x0004, 0x0008, 0x0010, 0x0018, 0x0020, 0x0028, 0x0032, 0x0038, 0x0040,
                               0x0050, 0x0054, 0x0088, 0x0100, 0x0400, 0x2000, 0x2010, 0x2020, 0x2030, 0x2040,
                               0x2050, 0x2100, 0x2110, 0x4008, 0x4FFE, 0x5000, 0x6000, 0x7FE0};
    std::set<uint16_t> expected(std::begin(groups), std::end(groups));
    std::set<uint16_t> actual;
    std::size_t rows = 0;
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) {
        const DicomDictEntry& row = kDicomDictTable[i];
        if (row.element != 0x0000) continue;
        ++rows;
        actual.insert(row.group);
        EXPECT_STREQ(row.name, "Group Length") << Hex(row.group, 0);
        EXPECT_STREQ(row.vr, "UL") << Hex(row.group, 0);
    }
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(rows, 29u);
}

TEST(DictionaryLookup, NamedRows) {
    struct Row {
        uint16_t group, element;
        std::u16string name;
        std::u16string vr;
    };
    const Row rows[] = {
        {0x0002, 0x0000, u"Group Length", u"UL"},
        {0x0002, 0x0001, u"File Meta Information Version", u"OB"},
        {0x0008, 0x0023, u"Image Date", u"DA"},
        {0x0008, 0x0033, u"Image Time", u"TM"},
        {0x0010, 0x0010, u"Patient's Name", u"PN"},
        {0x0018, 0x9022, u"Blood Signal Nulling", u"CS"},
        {0x0020, 0x0013, u"Image Number", u"IS"},
        {0x0020, 0x3401, u"Modifying Device", u"ID"},
        {0x0020, 0x3402, u"Modified Image", u"ID"},
        {0x0028, 0x0000, u"Group Length", u"UL"},
        {0x0028, 0x0010, u"Rows", u"US"},
        {0x0028, 0x0104, u"Smallest Valid Pixel Value", u"SS"},
        {0x0028, 0x0106, u"Smallest Image Pixel Value", u"US"},
        {0x5000, 0x0005, u"Curve Dimensions", u"US"},
        {0x5000, 0x3000, u"Curve Data", u"OW"},
        {0x5200, 0x9229, u"Functional Groups Sequence Shared", u"SQ"},
        {0x5200, 0x9230, u"Per-frame Functional Groups Sequence", u"SQ"},
        {0x5400, 0x0100, u"Waveform Sequence", u"SQ"},
        {0x5400, 0x1010, u"Waveform Data", u"OB"},
        {0x6000, 0x0010, u"Overlay Rows", u"US"},
        {0x6000, 0x3000, u"Overlay Data", u"OW"},
        {0x7FE0, 0x0000, u"Group Length", u"UL"},
        {0x7FE0, 0x0010, u"Frame Data", u"OB"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(Hex(r.group, r.element));
        EXPECT_EQ(Dict().LookupName(r.group, r.element), r.name);
        EXPECT_EQ(Dict().LookupVR(r.group, r.element), r.vr);
    }
}

TEST(DictionaryLookup, NonAsciiNamesDecodeToTheirCharacters) {
    const std::map<Tag, std::u16string> expected = {
        {{0x0010, 0x2203}, u"Patient\u2019s Sex Neutered"},
        {{0x0018, 0x8150}, u"Exposure Time in \u00B5S"},
        {{0x0018, 0x8151}, u"X-Ray Tube Current in \u00B5A"},
        {{0x0020, 0x9251}, u"R \u2013 R Interval Time Measured"},
        {{0x0040, 0x1102}, u"Person\u2019s Address"},
        {{0x0040, 0x1103}, u"Person\u2019s Telephone Numbers"},
        {{0x0070, 0x0084}, u"Content Creator\u2019s Name"},
        {{0x6000, 0x1100}, u"Overlay Descriptor \u2013 Gray"},
        {{0x6000, 0x1101}, u"Overlay Descriptor \u2013 Red"},
        {{0x6000, 0x1102}, u"Overlay Descriptor \u2013 Green"},
        {{0x6000, 0x1103}, u"Overlay Descriptor \u2013 Blue"},
        {{0x6000, 0x1200}, u"Overlays \u2013 Gray"},
        {{0x6000, 0x1201}, u"Overlays \u2013 Red"},
        {{0x6000, 0x1202}, u"Overlays \u2013 Green"},
        {{0x6000, 0x1203}, u"Overlays \u2013 Blue"},
    };
    for (const auto& [tag, name] : expected) {
        EXPECT_EQ(Dict().LookupName(tag.first, tag.second), name) << Hex(tag.first, tag.second);
    }

    // These are the only rows with 8-bit names; all other names stay ASCII.
    std::set<Tag> eightBit;
    for (std::size_t i = 0; i < kDicomDictTableSize; ++i) {
        const DicomDictEntry& row = kDicomDictTable[i];
        for (const char* p = row.name; *p; ++p) {
            if (static_cast<unsigned char>(*p) >= 0x80) {
                eightBit.insert({row.group, row.element});
                break;
            }
        }
    }
    std::set<Tag> expectedTags;
    for (const auto& entry : expected) expectedTags.insert(entry.first);
    EXPECT_EQ(eightBit, expectedTags);
}

TEST(FoldRepeatingGroup, Groups) {
    const std::pair<uint16_t, uint16_t> cases[] = {
        {0x6000, 0x6000}, {0x6002, 0x6000}, {0x60FE, 0x6000},
        {0x6F00, 0x6000}, {0x6FFF, 0x6000}, {0x6001, 0x6000},  // odd overlay groups fold too
        {0x5400, 0x5400}, {0x5410, 0x5400}, {0x54FF, 0x5400},
        {0x5000, 0x5000}, {0x5002, 0x5002}, {0x50FE, 0x50FE},  // curves never fold
        {0x5500, 0x5500}, {0x5FFF, 0x5FFF}, {0x7000, 0x7000},
        {0x0028, 0x0028}, {0x7FE0, 0x7FE0}, {0xFFFE, 0xFFFE},
    };
    for (const auto& [group, folded] : cases) {
        EXPECT_EQ(FoldRepeatingGroup(group), folded) << std::hex << group;
    }
}

TEST(DictionaryLookup, RepeatingGroupsAfterFolding) {
    struct Case {
        uint16_t group, element;
        std::u16string name;
        std::u16string vr;
    };
    const Case cases[] = {
        {0x6002, 0x3000, u"Overlay Data", u"OW"},
        {0x60FE, 0x0010, u"Overlay Rows", u"US"},
        {0x6F00, 0x0010, u"Overlay Rows", u"US"},
        {0x5410, 0x0100, u"Waveform Sequence", u"SQ"},
        {0x5002, 0x0005, u"", u""},  // curve groups other than 5000 find nothing
        {0x6000, 0x0011, u"Overlay Columns", u"US"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.group, c.element));
        const uint16_t group = FoldRepeatingGroup(c.group);
        EXPECT_EQ(Dict().LookupName(group, c.element), c.name);
        EXPECT_EQ(Dict().LookupVR(group, c.element), c.vr);
    }
    // The lookup itself matches exactly; folding is the caller's job.
    EXPECT_TRUE(Dict().LookupName(0x6002, 0x3000).empty());
    EXPECT_TRUE(Dict().LookupName(0x5410, 0x0100).empty());
}

TEST(DictionaryLookup, UnknownTagsAreEmpty) {
    const Tag unknown[] = {
        {0x0009, 0x0010},                    // private creator
        {0x0009, 0x1001}, {0x0029, 0x0000},  // private group length: no row (the element-0000 rule is the caller's)
        {0x0000, 0x0000},                    // command group
        {0x0008, 0x0002},                    // gaps between listed elements
        {0x0028, 0x0405}, {0xFFFE, 0xE000},  // items and delimiters
        {0xFFFE, 0xE0DD}, {0x7FE0, 0x0020}, {0x0010, 0x1003},
    };
    for (const auto& [group, element] : unknown) {
        SCOPED_TRACE(Hex(group, element));
        EXPECT_TRUE(Dict().LookupName(group, element).empty());
        EXPECT_TRUE(Dict().LookupVR(group, element).empty());
    }
}

TEST(DictionaryLookup, AnswersAreStoredTexts) {
    // Lookups hand out references into the map, the same object every time.
    const CDicomDictionary& dict = Dict();
    EXPECT_EQ(&dict, &CDicomDictionary::Instance());
    EXPECT_EQ(&dict.LookupName(0x0010, 0x0010), &dict.LookupName(0x0010, 0x0010));
    EXPECT_EQ(&dict.LookupVR(0x0028, 0x0010), &dict.LookupVR(0x0028, 0x0010));
    EXPECT_NE(&dict.LookupName(0x0028, 0x0010), &dict.LookupName(0x0028, 0x0011));
    EXPECT_EQ(&dict.LookupName(0x0009, 0x0010), &dict.LookupVR(0x0011, 0x0010));
}

// A new element gets its declared VR and description through the same folded
// lookups; element number 0000 is a group length in any group.
TEST(DictionaryLookup, NewElementsTakeNameAndVr) {
    struct Case {
        uint16_t group, element;
        std::u16string description;
        std::u16string vr;
    };
    const Case cases[] = {
        {0x0010, 0x0010, u"Patient's Name", u"PN"},
        {0x0028, 0x0010, u"Rows", u"US"},
        {0x7FE0, 0x0010, u"Frame Data", u"OB"},
        {0x0029, 0x0000, u"Group Length", u"UL"},
        {0x6002, 0x3000, u"Overlay Data", u"OW"},
        {0x60FE, 0x0010, u"Overlay Rows", u"US"},
        {0x6F00, 0x0010, u"Overlay Rows", u"US"},
        {0x5002, 0x0005, u"", u""},
        {0x5410, 0x0100, u"Waveform Sequence", u"SQ"},
        {0x0028, 0x0400, u"Transform Label", u"LO"},
        {0x0028, 0x0106, u"Smallest Image Pixel Value", u"US"},
        {0x0028, 0x0104, u"Smallest Valid Pixel Value", u"SS"},
        {0x0009, 0x0010, u"", u""},
        {0x0009, 0x1001, u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.group, c.element));
        CDicomTag tag(c.group, c.element);
        EXPECT_EQ(tag.GetDescription(), c.description);
        EXPECT_EQ(tag.m_description, c.description);
        EXPECT_EQ(tag.m_vr.GetDeclaredVR(), c.vr);
    }
}

// Names the generator writes as two adjacent literals come out whole.
TEST(Dictionary, SplitLiteralNamesAreWhole) {
    const CDicomDictionary& dict = CDicomDictionary::Instance();
    EXPECT_EQ(dict.LookupName(0x300A, 0x0082),
              u"Beam Dose Speci"
              u"fication Point");
    EXPECT_EQ(dict.LookupName(0x300A, 0x00A2),
              u"Brachy Application Setup Dose Speci"
              u"fication Point");
}
