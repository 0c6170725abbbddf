// CDicomTag::GetValueText: number lists, placeholders, the no-VR path and the
// decoding of text values through the Specific Character Set term.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "dicom/DicomTag.h"
#include "dicom/TextUtil.h"

namespace {

constexpr uint16_t kPrivateGroup = 0x0009;  // no dictionary VR
constexpr uint16_t kPrivateElement = 0x1001;

std::u16string Wide(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }
std::string U8(std::u16string_view text) { return quillon::ToUtf8(text); }

std::string Hex(std::string_view bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    return out;
}

template <class T>
std::string BytesOf(T value) {
    std::string out(sizeof value, '\0');
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

// An element with the given declared VR (none when empty) and value, stored
// through SetValue (so text VRs are padded to even length as in a file).
std::unique_ptr<CDicomTag> Element(std::string_view vr, std::string_view value, uint16_t group = kPrivateGroup,
                                   uint16_t element = kPrivateElement) {
    auto tag = std::make_unique<CDicomTag>(group, element);
    if (!vr.empty()) tag->SetVR(Wide(vr));
    if (!value.empty()) tag->SetValue(reinterpret_cast<const uint8_t*>(value.data()), uint32_t(value.size()));
    return tag;
}

// An element without a declared VR whose VR was inferred as `guessed`.
std::unique_ptr<CDicomTag> Inferred(std::string_view guessed, std::string_view value, uint16_t group = kPrivateGroup,
                                    uint16_t element = kPrivateElement) {
    auto tag = Element("", value, group, element);
    tag->m_vr.m_declaredVR.clear();  // the dictionary's VR, if any
    tag->m_vr.m_guessedVR = Wide(guessed);
    return tag;
}

struct Case {
    const char* vr;
    std::string value;
    std::u16string text;
};

void ExpectTexts(const Case* begin, const Case* end, std::u16string_view term = u"") {
    for (const Case* c = begin; c != end; ++c) {
        SCOPED_TRACE(std::string(c->vr) + ": " + Hex(c->value));
        EXPECT_EQ(Element(c->vr, c->value)->GetValueText(term), c->text);
    }
}

}  // namespace

TEST(ValueText, NumberLists) {
    const std::string one = std::string("\x00\x00\xC0\x3F", 4);  // 1.5f
    const Case cases[] = {
        {"US", std::string("\x00\x02\x00\x02\x01\x00", 6), u"512 \\512 \\1 "},
        {"US", std::string("\x01\x00\x02", 3), u"1 "},  // trailing odd byte ignored
        {"US", "\xFF\xFF", u"65535 "},
        {"SS", "\xFE\xFF", u"-2 "},
        {"SS", std::string("\x00\x80\x01\x00", 4), u"-32768 \\1 "},
        {"UL", "\xFF\xFF\xFF\xFF", u"4294967295 "},
        {"UL", std::string("\x01\x00\x00\x00\x02\x00\x00\x00", 8), u"1 \\2 "},
        {"SL", "\xFF\xFF\xFF\xFF", u"-1 "},
        {"SL", std::string("\x01\x00\x00", 3), u""},  // no whole number
        {"FL", one + "\x01\x02", u"1.500000 "},
        {"FL", one + BytesOf(-0.25f), u"1.500000 \\-0.250000 "},
        {"FD", BytesOf(1.5), u"1.500000 "},
        {"FD", BytesOf(1e20) + BytesOf(-2.0), u"100000000000000000000.000000 \\-2.000000 "},
        {"FD", one, u""},
    };
    ExpectTexts(std::begin(cases), std::end(cases));
}

TEST(ValueText, WidestDoubleIsPrintedWhole) {
    const std::u16string text = Element("FD", BytesOf(-DBL_MAX) + BytesOf(DBL_MAX))->GetValueText(u"");
    const std::string printed = U8(text);
    EXPECT_EQ(printed.rfind("-17976931348623157", 0), 0u) << printed;
    EXPECT_NE(printed.find(".000000 \\17976931348623157"), std::string::npos) << printed;
    EXPECT_EQ(printed.substr(printed.size() - 8), ".000000 ");
}

TEST(ValueText, TagsAndOtherBinaryVRs) {
    const Case cases[] = {
        // Only the first tag, group then element.
        {"AT", std::string("\x28\x00\x10\x00\x10\x00\x20\x00", 8), u"0028, 0010"},
        {"AT", std::string("\xE0\x7F\x10\x00", 4), u"7FE0, 0010"},
        {"AT", std::string("\x28\x00\x10", 3), u"0028, 0010"},  // padded with a zero byte
        {"AT", std::string("\x28\x00", 2), u""},                // shorter than one tag
        {"SQ", "abcd", u"(Sequence Data)"},
        {"OB", std::string("\x00\x01", 2), u"0"},
        {"OB", "abc", u"0"},
        {"OW", std::string("\x10\x00\x20\x00", 4), u"0"},
    };
    ExpectTexts(std::begin(cases), std::end(cases));

    // The File Meta Information Version, OB from the dictionary.
    auto version = std::make_unique<CDicomTag>(0x0002, 0x0001);
    const uint8_t bytes[] = {0x00, 0x01};
    ASSERT_TRUE(version->SetValue(bytes, 2));
    EXPECT_EQ(version->GetValueText(u""), u"0");
}

TEST(ValueText, TextValues) {
    const Case cases[] = {
        {"PN", "Doe^John", u"Doe^John"},
        {"CS", "ABC", u"ABC "},                                 // padding blank kept
        {"UI", "1.2.840.10008.1.2.1", u"1.2.840.10008.1.2.1"},  // padding NUL ends the text
        {"LO", std::string("AB\0CD", 5), u"AB"},
        {"LO", "A\\B", u"A\\B "},
        {"PN", "A=B=C", u"A=B=C "},
        {"OF", "AB", u"AB"},  // an unknown code reads as text
        {"UN", std::string(127, 'x'), std::u16string(127, u'x')},
        {"UN", std::string(128, 'x'), u"(Long Size Data)"},
        {"LO", std::string(200, 'x'), u"(Long Size Data)"},
    };
    ExpectTexts(std::begin(cases), std::end(cases));

    // A PN value of odd length as a file may hold it (SetValue before SetVR
    // keeps the length): 127 bytes are decoded, 128 are not.
    for (uint32_t length : {127u, 128u}) {
        SCOPED_TRACE(length);
        auto tag = Element("", std::string(length, 'n'));
        tag->SetVR(u"PN");
        ASSERT_EQ(tag->GetLength(), length);
        EXPECT_EQ(tag->GetValueText(u""), length == 127 ? std::u16string(127, u'n') : u"(Long Size Data)");
    }
}

TEST(ValueText, PlaceholdersForInferredAndSequenceVRs) {
    struct PlaceholderCase {
        const char* guessed;  // inferred VR, declared VR empty; null: declared `declared`
        const char* declared;
        uint16_t group, element;
        std::u16string text;
    };
    const PlaceholderCase cases[] = {
        {"OB", nullptr, kPrivateGroup, kPrivateElement, u"(Sequence Data)"},
        {"OW", nullptr, kPrivateGroup, kPrivateElement, u"(Sequence Data)"},
        {"SQ", nullptr, kPrivateGroup, kPrivateElement, u"(Sequence Data)"},
        {"OB", nullptr, 0x7FE0, 0x0010, u"(Frame Data)"},
        {"OW", nullptr, 0x7FE0, 0x0010, u"(Frame Data)"},
        {"SQ", nullptr, 0x7FE0, 0x0010, u"(Frame Data)"},
        // An inferred binary list VR is still read as text.
        {"US", nullptr, kPrivateGroup, kPrivateElement, u"\x10"},
        // Declared binary VRs take the number route, Pixel Data included.
        {nullptr, "SQ", 0x7FE0, 0x0010, u"(Sequence Data)"},
        {nullptr, "OB", 0x7FE0, 0x0010, u"0"},
    };
    const std::string value("\x10\x00", 2);
    for (const PlaceholderCase& c : cases) {
        SCOPED_TRACE(std::string(c.guessed ? c.guessed : c.declared) + (c.group == 0x7FE0 ? " pixel data" : ""));
        auto tag =
            c.guessed ? Inferred(c.guessed, value, c.group, c.element) : Element(c.declared, value, c.group, c.element);
        EXPECT_EQ(tag->GetValueText(u""), c.text);
    }
}

TEST(ValueText, WithoutAnyVR) {
    const Case cases[] = {
        {"", std::string("\x10\x00\x00\x00", 4), u"16"},
        {"", "1234", u"1234"},
        {"", "\xFF", u"-1"},                 // 1 byte, signed
        {"", "\x1F\x20", u"8223"},           // a byte below 0x20
        {"", "\xC9\x41", u"16841"},          // a byte above 0xC8
        {"", "\xC8\x41", u"\u00C8A"},        // 0xC8 itself is text (ANSI)
        {"", std::string(8, '\x01'), u"0"},  // 8 bytes: no 8-byte integer
        {"",
         std::string("\x01"
                     "AB",
                     3),
         u"\x01"
         u"AB"},  // length 3 is always text
        {"", std::string(127, '7'), std::u16string(127, u'7')},
        {"", std::string(128, '7'), u"(Long Size Data)"},
        {"", std::string(200, '\x01'), u"(Long Size Data)"},
    };
    ExpectTexts(std::begin(cases), std::end(cases));
    // The text route uses the term.
    EXPECT_EQ(Element("", "\xE9\xE9\xE9")->GetValueText(u"ISO_IR 144"), u"\u0449\u0449\u0449");
}

TEST(ValueText, EmptyAndAbsentValues) {
    // Length 0 is the empty text whatever the VR.
    for (const char* vr : {"", "US", "SQ", "OB", "PN", "AT"}) EXPECT_EQ(Element(vr, "")->GetValueText(u""), u"") << vr;

    // A length without value bytes (undefined-length sequences and the like):
    // placeholders still show, anything read from the value is empty.
    struct AbsentCase {
        const char* vr;
        uint32_t length;
        std::u16string text;
    };
    const AbsentCase cases[] = {
        {"SQ", kUndefinedLength, u"(Sequence Data)"},
        {"", kUndefinedLength, u"(Long Size Data)"},
        {"", 4, u""},
        {"LO", 10, u""},
        {"US", 4, u""},
        {"FD", 8, u""},
        {"AT", 4, u""},
    };
    for (const AbsentCase& c : cases) {
        SCOPED_TRACE(std::string(c.vr) + " " + std::to_string(c.length));
        auto tag = Element(c.vr, "");
        tag->m_tagData.m_longLength = c.length;
        ASSERT_EQ(tag->GetData(), nullptr);
        EXPECT_EQ(tag->GetValueText(u""), c.text);
    }
}

TEST(ValueText, CharacterSetTerms) {
    struct TermCase {
        std::string value;
        const char16_t* term;
        std::u16string text;
    };
    const TermCase cases[] = {
        {"\xE9", u"", u"\u00E9 "},
        {"\xE9", u"ISO_IR 100", u"\u00E9 "},
        {"\xE9", u"ISO_IR 144", u"\u0449 "},
        {"\xC3\xA9", u"ISO_IR 192", u"\u00E9"},
        {"Wang^XiaoDong=\xE7\x8E\x8B^\xE5\xB0\x8F\xE6\x9D\xB1=", u"ISO_IR 192", u"Wang^XiaoDong=\u738B^\u5C0F\u6771= "},
        {"\x1B$)C\xB1\xE8\xC8\xF1", u"\\ISO 2022 IR 149", u"\uAE40\uD76C"},
        {"\xD4\xCF=\x1B$B;3ED\x1B(J", u"ISO 2022 IR 13\\ISO 2022 IR 87", u"\uFF94\uFF8F=\u5C71\u7530 "},
    };
    for (const TermCase& c : cases) {
        SCOPED_TRACE(Hex(c.value) + "/ " + U8(c.term));
        EXPECT_EQ(Element("PN", c.value)->GetValueText(c.term), c.text);
    }
    // Numbers do not depend on the term.
    EXPECT_EQ(Element("US", std::string("\x01\x00", 2))->GetValueText(u"ISO_IR 192"), u"1 ");
}
