// Specific Character Set decoding: the term table, the code page conversion,
// the Korean designation removal and the "=" component groups.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

#include "dicom/CharacterSet.h"
#include "dicom/TextUtil.h"

namespace {

std::string Hex(std::string_view bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    return out;
}

std::string U8(std::u16string_view text) { return quillon::ToUtf8(text); }

std::u16string Convert(unsigned codePage, std::string_view bytes) {
    std::u16string out = u"not touched";
    EXPECT_TRUE(ConvertCodePage(codePage, bytes, out)) << codePage << ": " << Hex(bytes);
    return out;
}

// Every code page the term table can produce, and 0 for the ANSI code page.
constexpr unsigned kCodePages[] = {0,     28591, 28592, 28593, 28594, 28595, 28596, 28597,
                                   28598, 28599, 949,   65001, 54936, 874,   932,   50222};

}  // namespace

// ---------------------------------------------------------------------------
// Term table

TEST(CodePageForTerm, EveryRowBothSpellings) {
    struct Case {
        const char16_t* term;
        unsigned codePage;
    };
    const Case cases[] = {
        {u"ISO_IR 126", 28597},      {u"ISO 2022 IR 126", 28597}, {u"ISO_IR 100", 28591},
        {u"ISO 2022 IR 100", 28591}, {u"ISO_IR 101", 28592},      {u"ISO 2022 IR 101", 28592},
        {u"ISO_IR 109", 28593},      {u"ISO 2022 IR 109", 28593}, {u"ISO_IR 110", 28594},
        {u"ISO 2022 IR 110", 28594}, {u"ISO_IR 148", 28599},      {u"ISO 2022 IR 148", 28599},
        {u"ISO_IR 127", 28596},      {u"ISO 2022 IR 127", 28596}, {u"ISO_IR 138", 28598},
        {u"ISO 2022 IR 138", 28598}, {u"ISO_IR 144", 28595},      {u"ISO 2022 IR 144", 28595},
        {u"ISO_IR 149", 949},        {u"ISO 2022 IR 149", 949},   {u"ISO_IR 192", 65001},
        {u"ISO 2022 IR 192", 65001}, {u"GB18030", 54936},         {u"ISO_IR 166", 874},
        {u"ISO 2022 IR 166", 874},   {u"ISO_IR 13", 932},         {u"ISO 2022 IR 13", 932},
        {u"ISO_IR 14", 932},         {u"ISO 2022 IR 14", 932},    {u"ISO_IR 87", 50222},
        {u"ISO 2022 IR 87", 50222},  {u"ISO_IR 159", 50222},      {u"ISO 2022 IR 159", 50222},
    };
    for (const Case& c : cases) EXPECT_EQ(CodePageForTerm(c.term), c.codePage) << U8(c.term);
}

TEST(CodePageForTerm, SubstringMatchInRowOrder) {
    struct Case {
        const char16_t* term;
        unsigned codePage;
    };
    const Case cases[] = {
        // Nothing matches: the ANSI code page.
        {u"", 0},
        {u"ISO_IR 6", 0},
        {u"ISO 2022 IR 6", 0},
        {u"ISO_IR 58", 0},
        {u"GBK", 0},
        {u"iso_ir 100", 0},  // case-sensitive
        {u"ISO_IR100", 0},
        // Substring test over the whole term.
        {u"  ISO_IR 100  ", 28591},
        {u"ISO_IR 1000", 28591},
        {u"\\ISO 2022 IR 149", 949},
        {u"ISO 2022 IR 6\\ISO 2022 IR 87", 50222},
        // The first matching row wins, whatever the order of the term's values.
        {u"ISO 2022 IR 13\\ISO 2022 IR 87", 932},
        {u"ISO 2022 IR 87\\ISO 2022 IR 13", 932},
        {u"ISO 2022 IR 149\\ISO_IR 100", 28591},
        {u"ISO_IR 100\\ISO_IR 126", 28597},
        // "ISO_IR 13" / "ISO_IR 14" are contained in these, which come first.
        {u"ISO_IR 138", 28598},
        {u"ISO_IR 144", 28595},
        {u"ISO 2022 IR 138", 28598},
        {u"ISO 2022 IR 144", 28595},
        {u"ISO_IR 159", 50222},
    };
    for (const Case& c : cases) EXPECT_EQ(CodePageForTerm(c.term), c.codePage) << U8(c.term);
}

// ---------------------------------------------------------------------------
// Code page conversion

TEST(ConvertCodePage, CharactersOfEachCodePage) {
    struct Case {
        unsigned codePage;
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        // The ANSI code page is Windows-1252, not Latin-1.
        {0, "A\xE9", u"A\u00E9"},
        {0, "\x80\x9F", u"\u20AC\u0178"},
        {28591, "\x80\xE9\xFF", u"\u0080\u00E9\u00FF"},
        {28592, "\xA3", u"\u0141"},
        {28593, "\xA1", u"\u0126"},
        {28594, "\xA1", u"\u0104"},
        {28595, "\xE9", u"\u0449"},
        {28596, "\xC7", u"\u0627"},
        {28597, "\xC4\xE9", u"\u0394\u03B9"},
        {28598, "\xF9", u"\u05E9"},
        {28599, "\xFD\xF0", u"\u0131\u011F"},
        {874, "\xA1", u"\u0E01"},
        // Windows-31J keeps backslash and tilde; single-byte katakana.
        {932, "\\~\x93\xFA\xB1", u"\\~\u65E5\uFF71"},
        // Unified Hangul Code, including the extension beyond EUC-KR.
        {949, "\xB1\xE8\x81\x41", u"\uAE40\uAC02"},
        {54936, "\xCD\xF5", u"\u738B"},
        {54936, "\x81\x30\x81\x30", u"\u0080"},
        {54936, "\x95\x32\x82\x36", u"\U00020000"},
        {65001, "\xC3\xA9\xF0\x9F\x98\x80", u"\u00E9\U0001F600"},
        // ISO-2022-JP: JIS X 0208, JIS X 0201 katakana and roman, JIS X 0212.
        {50222, "\x1B$B;3ED\x1B(B^A", u"\u5C71\u7530^A"},
        {50222, "\x1B(I12\x1B(BZ", u"\uFF71\uFF72Z"},
        {50222, "\x1B(J\\~", u"\u00A5\u203E"},
        {50222, "\x1B$(D\x30\x21", u"\u4E02"},
        {50222, "", u""},
    };
    for (const Case& c : cases) EXPECT_EQ(Convert(c.codePage, c.bytes), c.text) << c.codePage << ": " << Hex(c.bytes);
}

TEST(ConvertCodePage, UndefinedBytesBecomeReplacementCharacters) {
    struct Case {
        unsigned codePage;
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        {0, "A\x81\x8D\x8F\x90\x9DZ", u"A\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDZ"},
        {28593, "\xA5", u"\uFFFD"},
        {28596, "\xA1\xC7", u"\uFFFD\u0627"},
        {28597, "\xAE", u"\uFFFD"},
        {28598, "A\xA1\xF9", u"A\uFFFD\u05E9"},
        {874, "\xDB\xA1", u"\uFFFD\u0E01"},
        // Multi-byte code pages skip one byte and go on with the next.
        {65001,
         "\xFF"
         "A",
         u"\uFFFDA"},
        {65001, "\xC3", u"\uFFFD"},  // cut short by the end of the value
        {65001,
         "\xE2\x82"
         "A",
         u"\uFFFD\uFFFDA"},
        {932, "A\x93", u"A\uFFFD"},
        {949, "\xB1 A", u"\uFFFD A"},
        {949, "A\xB1", u"A\uFFFD"},
        {54936,
         "\x81\x30"
         "A",
         u"\uFFFD0A"},
        {50222,
         "A\x80"
         "B",
         u"A\uFFFDB"},
    };
    for (const Case& c : cases) EXPECT_EQ(Convert(c.codePage, c.bytes), c.text) << c.codePage << ": " << Hex(c.bytes);
}

TEST(ConvertCodePage, AsciiIsUnchangedOnEveryCodePage) {
    const std::string ascii = "Doe^John=Az09 .-\\";
    for (unsigned cp : kCodePages) EXPECT_EQ(Convert(cp, ascii), u"Doe^John=Az09 .-\\") << cp;
}

TEST(ConvertCodePage, UnknownCodePageFailsWithEmptyText) {
    for (unsigned cp : {1u, 1200u, 28600u, 50220u, 0xFFFFFFFFu}) {
        std::u16string out = u"old";
        EXPECT_FALSE(ConvertCodePage(cp, "abc", out)) << cp;
        EXPECT_TRUE(out.empty()) << cp;
    }
}

TEST(ConvertCodePage, ReadsOnlyTheGivenBytes) {
    // A lead byte whose trail byte lies just outside the view.
    const std::string buffer = "\x93\xFA";
    EXPECT_EQ(Convert(932, std::string_view(buffer.data(), 1)), u"\uFFFD");
    const std::string utf8 = "\xC3\xA9";
    EXPECT_EQ(Convert(65001, std::string_view(utf8.data(), 1)), u"\uFFFD");
}

TEST(ConvertCodePage, LongValuesAreConvertedWhole) {
    // Far more than one conversion chunk, with multi-unit characters and a
    // substitution in between.
    std::string korean, emoji;
    std::u16string koreanText, emojiText;
    for (int i = 0; i < 700; ++i) {
        korean += i == 350 ? "\xB1 " : "\xB1\xE8";
        koreanText += i == 350 ? u"\uFFFD " : u"\uAE40";
        emoji += "A\xF0\x9F\x98\x80";
        emojiText += u"A\U0001F600";
    }
    EXPECT_EQ(Convert(949, korean), koreanText);
    EXPECT_EQ(Convert(65001, emoji), emojiText);
    EXPECT_EQ(Convert(0, std::string(70000, 'x')), std::u16string(70000, u'x'));
}

TEST(ConvertCodePage, ShiftStateDoesNotCarryOverToTheNextValue) {
    // The first value ends inside JIS X 0208; the next starts in ASCII again.
    EXPECT_EQ(Convert(50222, "\x1B$B;3"), u"\u5C71");
    EXPECT_EQ(Convert(50222, "ED"), u"ED");
}

TEST(ConvertCodePage, ArbitraryBytesAlwaysConvert) {
    // Substitution always moves on, so every input converts, and no code page
    // yields more UTF-16 units than it was given bytes.
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255), size(0, 24);
    for (unsigned cp : kCodePages) {
        for (int i = 0; i < 2000; ++i) {
            std::string bytes(size_t(size(random)), '\0');
            for (char& b : bytes) b = char(byte(random));
            // Favour ESC and "$" now and then so that escape sequences occur.
            if (!bytes.empty() && i % 3 == 0) bytes[size_t(i) % bytes.size()] = '\x1B';
            std::u16string out;
            ASSERT_TRUE(ConvertCodePage(cp, bytes, out)) << cp << ": " << Hex(bytes);
            ASSERT_LE(out.size(), bytes.size()) << cp << ": " << Hex(bytes);
        }
    }
}

// ---------------------------------------------------------------------------
// Single group: Korean designations

TEST(DecodeSingleGroup, EscapeSequencesSwitchTheCodePage) {
    struct Case {
        const char* bytes;
        const char16_t* term;
        std::u16string text;
    };
    const Case cases[] = {
        {"\x1B$)C\xB1\xE8", u"ISO 2022 IR 149", u"\uAE40"},
        {"\x1B$)C\xB1\xE8", u"\\ISO 2022 IR 149", u"\uAE40"},
        {"\x1B$)C\xB1\xE8", u"ISO_IR 149", u"\uAE40"},
        {"A\x1B$)C\xB1\xE8\x1B$)C\xC8\xF1", u"ISO 2022 IR 149", u"A\uAE40\uD76C"},
        // Whole sequences go, whatever their length and wherever they stand.
        {"\x1B$)CA", u"ISO 2022 IR 149", u"A"},
        {"AB\x1B$)C", u"ISO 2022 IR 149", u"AB"},
        {"\xB1\xE8\x1B(B ", u"\\ISO 2022 IR 149", u"\uAE40 "},
        {"\xB1\xE8\x1B(B\\\xB1\xE8", u"ISO 2022 IR 149", u"\uAE40\\\uAE40"},
        // An ESC that starts no sequence stays a character.
        {"\x1B\x1B$)C\xB1\xE8", u"ISO 2022 IR 149", u"\x1B\uAE40"},
        {"A\x1B", u"ISO 2022 IR 149", u"A\x1B"},
        // A G1 designation switches the bytes after it to its set.
        {"\xE9\x1B-L\xE9\x1B-A\xE9", u"ISO 2022 IR 100\\ISO 2022 IR 144", u"\u00E9\u0449\u00E9"},
        {"\x1B)I\xD4\xCF", u"\\ISO 2022 IR 13", u"\uFF94\uFF8F"},
        // JIS kanji inside a katakana value, back to the katakana set after ESC ( B.
        {"\xD4\x1B$B;3\x1B(B\xCF", u"ISO 2022 IR 13\\ISO 2022 IR 87", u"\uFF94\u5C71\uFF8F"},
        // Terms without code extensions keep ESC as a character.
        {"\x1B$)CA", u"ISO_IR 100", u"\x1B$)CA"},
        {"\x1B$)CA", u"", u"\x1B$)CA"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeSingleGroup(c.bytes, c.term), c.text) << Hex(c.bytes) << " / " << U8(c.term);
}

TEST(DecodeSingleGroup, NullAndNulTerminated) {
    EXPECT_EQ(DecodeSingleGroup(nullptr, u"ISO_IR 100"), u"");
    EXPECT_EQ(DecodeSingleGroup("AB\0\xE9", u"ISO_IR 100"), u"AB");
    EXPECT_EQ(DecodeSingleGroup("", u"ISO 2022 IR 149"), u"");
}

// ---------------------------------------------------------------------------
// Whole values: "=" groups and term values

TEST(DecodeText, ComponentGroups) {
    struct Case {
        const char* bytes;
        const char16_t* term;
        std::u16string text;
    };
    const Case cases[] = {
        // Separators survive, also around empty groups; group 3 keeps further "=".
        {"A=", u"", u"A="},
        {"A==C", u"", u"A==C"},
        {"=", u"", u"="},
        {"===", u"", u"==="},
        {"A\\B=C", u"", u"A\\B=C"},
        // A single-valued term is the character set of every group; with an
        // empty term the groups are ISO_IR 100.
        {"\xE9", u"ISO_IR 144", u"\u0449"},
        {"\xE9=\xE9=\xE9", u"ISO_IR 144", u"\u0449=\u0449=\u0449"},
        {"M\xC3\xBCller^Zo\xC3\xAB=\xE5\xB1\xB1\xE7\x94\xB0^\xE5\xA4\xAA\xE9\x83\x8E", u"ISO_IR 192",
         u"M\u00FCller^Zo\u00EB=\u5C71\u7530^\u592A\u90CE"},
        {"\x80", u"", u"\u20AC"},
        {"\x80=\x80", u"", u"\u0080=\u0080"},
        // One term value per group; empty values take the one before.
        {"\xE9=\xE9=\xE9", u"ISO_IR 100\\ISO_IR 144\\ISO_IR 126", u"\u00E9=\u0449=\u03B9"},
        {"\xE9=\xE9=\xE9=\xE9", u"ISO_IR 100\\ISO_IR 144\\ISO_IR 126", u"\u00E9=\u0449=\u03B9=\u03B9"},
        {"\xE9=\xE9=\xE9", u"ISO_IR 100\\\\ISO_IR 126", u"\u00E9=\u00E9=\u03B9"},
        {"\xE9=\xE9=\xE9", u"ISO_IR 126\\ISO_IR 144\\", u"\u03B9=\u0449=\u0449"},
        {"\xE9=\xE9=\xE9", u"\\ISO_IR 144", u"\u00E9=\u0449=\u0449"},
        // The third value keeps further backslashes and is matched as a whole.
        {"\xE9=\xE9=\xE9", u"ISO_IR 100\\ISO_IR 144\\ISO_IR 138\\ISO_IR 126", u"\u00E9=\u0449=\u03B9"},
        // First value ISO 2022 IR 6 names nothing: the ANSI code page.
        {"\x80^A=\x1B$B;3ED\x1B(B=\x1B$B$d$^\x1B(B", u"ISO 2022 IR 6\\ISO 2022 IR 87",
         u"\u20AC^A=\u5C71\u7530=\u3084\u307E"},
        // Japanese three-group name with katakana first.
        {"\xD4\xCF=\x1B$B;3ED\x1B(J", u"ISO 2022 IR 13\\ISO 2022 IR 87", u"\uFF94\uFF8F=\u5C71\u7530"},
        // Each group switches at its escape sequences, which never show.
        {"Hong^Gildong=\x1B$)C\xFB\xF3^\x1B$)C\xD1\xCE\xD4\xD7=\x1B$)C\xC8\xAB^\x1B$)C\xB1\xE6\xB5\xBF",
         u"\\ISO 2022 IR 149", u"Hong^Gildong=\u6D2A^\u5409\u6D1E=\uD64D^\uAE38\uB3D9"},
        // Undefined bytes per group.
        {"\xA1=\xA1", u"\\ISO_IR 138", u"\u00A1=\uFFFD"},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeText(c.bytes, c.term), c.text) << Hex(c.bytes) << " / " << U8(c.term);
}

TEST(DecodeText, TermTrimmedBeforeSplitting) {
    struct Case {
        const char* bytes;
        const char16_t* term;
        std::u16string text;
    };
    const Case cases[] = {
        {"\xE9", u"  ISO_IR 100  ", u"\u00E9"},
        // A leading blank would otherwise make a non-empty first value (ANSI)...
        {"\x80=\xE9", u" \\ISO_IR 144", u"\u0080=\u0449"},
        {"\x80=\xE9", u"\t\\ISO_IR 144\r\n", u"\u0080=\u0449"},
        // ...and a trailing blank a non-empty second value.
        {"\xE9=\xE9", u"ISO_IR 144\\ ", u"\u0449=\u0449"},
        // Korean designations in a value without "=".
        {"\x1B$)C\xB1\xE8", u" \\ISO 2022 IR 149 ", u"\uAE40"},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeText(c.bytes, c.term), c.text) << Hex(c.bytes) << " / " << U8(c.term);
}

TEST(DecodeText, StopsAtTheFirstNul) {
    EXPECT_EQ(DecodeText(nullptr, u"ISO_IR 100"), u"");
    EXPECT_EQ(DecodeText("", u"ISO_IR 100"), u"");
    // An "=" after the NUL does not make a group.
    EXPECT_EQ(DecodeText("A\0=\xE9", u"ISO_IR 144"), u"A");
    EXPECT_EQ(DecodeText("A=B\0=C", u""), u"A=B");
    EXPECT_EQ(DecodeText("\xB1\xE8\0\x1B$)C", u"ISO 2022 IR 149"), u"\uAE40");
}

TEST(DecodeText, ArbitraryBytesAndTerms) {
    // Whatever the bytes and the term, decoding finishes and yields at most
    // one UTF-16 unit per byte besides the kept "=" separators.
    const char16_t* terms[] = {u"",
                               u"ISO_IR 192",
                               u"\\ISO 2022 IR 149",
                               u"ISO 2022 IR 13\\ISO 2022 IR 87",
                               u"ISO 2022 IR 6\\ISO 2022 IR 87\\ISO 2022 IR 159",
                               u"GB18030",
                               u"\\\\\\",
                               u"ISO_IR 166\\ISO_IR 138\\"};
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(1, 255), size(0, 40);
    for (const char16_t* term : terms) {
        for (int i = 0; i < 1000; ++i) {
            std::string bytes(size_t(size(random)), '\0');
            for (char& b : bytes) b = char(i % 2 ? byte(random) : "=\x1B$)C\xB1\xE8\\"[byte(random) % 8]);
            const std::u16string text = DecodeText(bytes.c_str(), term);
            ASSERT_LE(text.size(), bytes.size()) << Hex(bytes);
        }
    }
}
