// Transfer syntax families and photometric interpretation of the loaded data
// set. Every predicate reads the first top-level element each time it is
// called; nothing is cached.
#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "dicom/DicomHeader.h"

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

std::u16string Trim(const std::u16string& text) {
    size_t b = 0, e = text.size();
    while (b < e && IsSpace(text[b])) ++b;
    while (e > b && IsSpace(text[e - 1])) --e;
    return text.substr(b, e - b);
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = char16_t(x - 32);
        if (y >= u'a' && y <= u'z') y = char16_t(y - 32);
        if (x != y) return false;
    }
    return true;
}

constexpr std::u16string_view kJPEG[] = {
    u"1.2.840.10008.1.2.4.50", u"1.2.840.10008.1.2.4.51", u"1.2.840.10008.1.2.4.52", u"1.2.840.10008.1.2.4.53",
    u"1.2.840.10008.1.2.4.54", u"1.2.840.10008.1.2.4.55", u"1.2.840.10008.1.2.4.56", u"1.2.840.10008.1.2.4.60",
    u"1.2.840.10008.1.2.4.61", u"1.2.840.10008.1.2.4.62", u"1.2.840.10008.1.2.4.63", u"1.2.840.10008.1.2.4.64"};
constexpr std::u16string_view kJPEGLossless[] = {u"1.2.840.10008.1.2.4.57", u"1.2.840.10008.1.2.4.58",
                                                 u"1.2.840.10008.1.2.4.59", u"1.2.840.10008.1.2.4.65",
                                                 u"1.2.840.10008.1.2.4.66", u"1.2.840.10008.1.2.4.70"};
constexpr std::u16string_view kNone[] = {u"1.2.840.10008.1.2", u"1.2.840.10008.1.2.1", u"1.2.840.10008.1.2.1.99",
                                         u"1.2.840.10008.1.2.2", u"1.2.840.10008.1.20"};

template <size_t N>
bool InList(const std::u16string& uid, const std::u16string_view (&list)[N]) {
    return std::any_of(std::begin(list), std::end(list), [&](std::u16string_view u) { return EqualsNoCase(uid, u); });
}

}  // namespace

std::string CompressionNameForUID(const std::u16string& rawUid) {
    const std::u16string uid = Trim(rawUid);
    if (uid.empty()) return "UNKNOWN";
    if (InList(uid, kNone)) return "NONE";
    if (InList(uid, kJPEG)) return "JPEG";
    if (InList(uid, kJPEGLossless)) return "JPEG Lossless";
    if (EqualsNoCase(uid, u"1.2.840.10008.1.2.4.80")) return "JPEG-LS Lossless";
    if (EqualsNoCase(uid, u"1.2.840.10008.1.2.4.81")) return "JPEG-LS Lossy";
    if (EqualsNoCase(uid, u"1.2.840.10008.1.2.4.90")) return "JPEG2000 Lossless";
    if (EqualsNoCase(uid, u"1.2.840.10008.1.2.4.91")) return "JPEG2000 Lossy";
    if (EqualsNoCase(uid, u"1.2.840.10008.1.2.5")) return "RLE";
    return "UNKNOWN";
}

std::u16string CDicomHeader::VocabularyText(uint16_t group, uint16_t element, bool* present) const {
    const CDicomTag* tag = Find(group, element);
    *present = tag != nullptr;
    return tag ? Trim(tag->GetValueText(u"")) : std::u16string();
}

namespace {

template <size_t N>
bool TransferSyntaxIn(const CDicomHeader& h, const std::u16string& uid, bool present,
                      const std::u16string_view (&list)[N]) {
    (void)h;
    return present && !uid.empty() && InList(uid, list);
}

}  // namespace

#define QUILLON_TS_PREDICATE(Name, ...)                                          \
    bool CDicomHeader::Name() const {                                           \
        bool present = false;                                                   \
        const std::u16string uid = VocabularyText(0x0002, 0x0010, &present);   \
        static constexpr std::u16string_view kList[] = {__VA_ARGS__};          \
        return TransferSyntaxIn(*this, uid, present, kList);                    \
    }

bool CDicomHeader::IsJPEG() const {
    bool present = false;
    const std::u16string uid = VocabularyText(0x0002, 0x0010, &present);
    return TransferSyntaxIn(*this, uid, present, kJPEG);
}
bool CDicomHeader::IsJPEGLossless() const {
    bool present = false;
    const std::u16string uid = VocabularyText(0x0002, 0x0010, &present);
    return TransferSyntaxIn(*this, uid, present, kJPEGLossless);
}
QUILLON_TS_PREDICATE(IsRLE, u"1.2.840.10008.1.2.5")
QUILLON_TS_PREDICATE(IsJPEGLSLossless, u"1.2.840.10008.1.2.4.80")
QUILLON_TS_PREDICATE(IsJPEGLSLossy, u"1.2.840.10008.1.2.4.81")
QUILLON_TS_PREDICATE(IsJPEG2000Lossless, u"1.2.840.10008.1.2.4.90")
QUILLON_TS_PREDICATE(IsJPEG2000Lossy, u"1.2.840.10008.1.2.4.91")
#undef QUILLON_TS_PREDICATE

bool CDicomHeader::IsUncompressed() const {
    if (!Find(0x0002, 0x0010) || !m_littleEndian) return true;
    return !(IsRLE() || IsJPEG() || IsJPEGLossless() || IsJPEGLSLossy() || IsJPEGLSLossless() || IsJPEG2000Lossy() ||
             IsJPEG2000Lossless());
}

// Photometric interpretation: exact, case-sensitive comparison of the
// trimmed text; a default from the pixel description when it is absent.
#define QUILLON_PHOTOMETRIC(Name, Term, Default)                                  \
    bool CDicomHeader::Name() const {                                            \
        bool present = false;                                                    \
        const std::u16string text = VocabularyText(0x0028, 0x0004, &present);   \
        if (!present) return (Default);                                          \
        return text == (Term);                                                   \
    }

QUILLON_PHOTOMETRIC(IsRGB, u"RGB", m_samplesPerPixel == 3)
QUILLON_PHOTOMETRIC(IsCMYK, u"CMYK", false)
QUILLON_PHOTOMETRIC(IsARGB, u"ARGB", m_samplesPerPixel == 4)
QUILLON_PHOTOMETRIC(IsYBRFull, u"YBR_FULL", false)
QUILLON_PHOTOMETRIC(IsYBRFull422, u"YBR_FULL_422", false)
QUILLON_PHOTOMETRIC(IsYBRPartial422, u"YBR_PARTIAL_422", false)
QUILLON_PHOTOMETRIC(IsYBRICT, u"YBR_ICT", false)
QUILLON_PHOTOMETRIC(IsPaletteColor, u"PALETTE COLOR", uint16_t(m_samplesPerPixel) < 2 && m_blueLut != nullptr)
QUILLON_PHOTOMETRIC(IsMonochrome1, u"MONOCHROME1", false)
#undef QUILLON_PHOTOMETRIC

bool CDicomHeader::IsMonochrome2() const {
    bool present = false;
    const std::u16string text = VocabularyText(0x0028, 0x0004, &present);
    if (present) return text == u"MONOCHROME2";
    if (m_bitsAllocated == 0) return false;
    if (m_bitsAllocated > 8) return true;
    return m_samplesPerPixel < 2 && m_blueLut == nullptr;
}

bool CDicomHeader::IsMonochrome() const { return IsMonochrome1() || IsMonochrome2(); }
