// Transfer syntax families and photometric interpretation of the loaded data
// set. Every predicate reads the first top-level element each time it is
// called; nothing is cached.
#include <optional>
#include <string_view>

#include "dicom/TransferSyntax.h"

#include "dicom/DicomHeader.h"

namespace {

constexpr std::string_view kNone = "NONE";
constexpr std::string_view kUnknown = "UNKNOWN";
constexpr std::string_view kJPEG = "JPEG";
constexpr std::string_view kJPEGLossless = "JPEG Lossless";
constexpr std::string_view kJPEGLSLossless = "JPEG-LS Lossless";
constexpr std::string_view kJPEGLSLossy = "JPEG-LS Lossy";
constexpr std::string_view kJPEG2000Lossless = "JPEG2000 Lossless";
constexpr std::string_view kJPEG2000Lossy = "JPEG2000 Lossy";
constexpr std::string_view kRLE = "RLE";

constexpr DataSetEncoding kImplicitLittle{false, true};
constexpr DataSetEncoding kExplicitLittle{true, true};
constexpr DataSetEncoding kExplicitBig{true, false};

struct KnownSyntax {
    std::u16string_view uid;
    std::string_view compression;
    DataSetEncoding encoding;  // encapsulated pixel data is read as explicit VR little endian
};

// Every transfer syntax this viewer knows; its family is its compression name.
constexpr KnownSyntax kKnownSyntaxes[] = {
    {u"1.2.840.10008.1.2", kNone, kImplicitLittle},
    {u"1.2.840.10008.1.2.1", kNone, kExplicitLittle},
    {u"1.2.840.10008.1.2.1.99", kNone, kExplicitLittle},  // deflated: not inflated
    {u"1.2.840.10008.1.2.2", kNone, kExplicitBig},
    {u"1.2.840.10008.1.20", kNone, kImplicitLittle},
    {u"1.2.840.10008.1.2.4.50", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.51", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.52", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.53", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.54", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.55", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.56", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.60", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.61", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.62", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.63", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.64", kJPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.57", kJPEGLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.58", kJPEGLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.59", kJPEGLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.65", kJPEGLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.66", kJPEGLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.70", kJPEGLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.80", kJPEGLSLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.81", kJPEGLSLossy, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.90", kJPEG2000Lossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.91", kJPEG2000Lossy, kExplicitLittle},
    {u"1.2.840.10008.1.2.5", kRLE, kExplicitLittle},
};

// The UIDs of the table are ASCII: a byte-for-byte comparison with them.
bool SameBytes(std::string_view bytes, std::u16string_view uid) {
    if (bytes.size() != uid.size()) return false;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (char16_t(uint8_t(bytes[i])) != uid[i]) return false;
    return true;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

// UIDs are ASCII; letter case does not matter.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// The compression name of a trimmed UID; "UNKNOWN" for an empty or unlisted one.
std::string_view CompressionOf(std::u16string_view uid) {
    for (const KnownSyntax& known : kKnownSyntaxes)
        if (EqualsNoCase(uid, known.uid)) return known.compression;
    return kUnknown;
}

// The trimmed value text of the first top-level element with the tag; none when there is no such element.
std::optional<std::u16string> TopLevelText(const CTagArray& tags, uint16_t group, uint16_t element) {
    const CDicomTag* tag = tags.Find(group, element);
    if (!tag) return std::nullopt;
    return std::u16string(Trim(tag->GetValueText(u"")));
}

// The family of the data set's transfer syntax: its compression name, or
// empty when (0002,0010) is absent or holds no text.
std::string_view TransferSyntaxFamily(const CTagArray& tags) {
    const std::optional<std::u16string> uid = TopLevelText(tags, 0x0002, 0x0010);
    if (!uid || uid->empty()) return {};
    return CompressionOf(*uid);
}

// Whether (0028,0004) holds exactly the term (case-sensitive); none when it is absent.
std::optional<bool> PhotometricIs(const CTagArray& tags, std::u16string_view term) {
    const std::optional<std::u16string> text = TopLevelText(tags, 0x0028, 0x0004);
    if (!text) return std::nullopt;
    return *text == term;
}

}  // namespace

std::string CompressionNameForUID(const std::u16string& uid) { return std::string(CompressionOf(Trim(uid))); }

DataSetEncoding EncodingForTransferSyntax(std::string_view uid) {
    for (const KnownSyntax& known : kKnownSyntaxes)
        if (SameBytes(uid, known.uid)) return known.encoding;
    return uid.find("1.2.840.10008") != std::string_view::npos ? kExplicitLittle : kImplicitLittle;
}

std::u16string CDicomHeader::VocabularyText(uint16_t group, uint16_t element, bool* present) const {
    std::optional<std::u16string> text = TopLevelText(*this, group, element);
    *present = text.has_value();
    return text ? std::move(*text) : std::u16string();
}

bool CDicomHeader::IsRLE() const { return TransferSyntaxFamily(*this) == kRLE; }
bool CDicomHeader::IsJPEG() const { return TransferSyntaxFamily(*this) == kJPEG; }
bool CDicomHeader::IsJPEGLossless() const { return TransferSyntaxFamily(*this) == kJPEGLossless; }
bool CDicomHeader::IsJPEGLSLossless() const { return TransferSyntaxFamily(*this) == kJPEGLSLossless; }
bool CDicomHeader::IsJPEGLSLossy() const { return TransferSyntaxFamily(*this) == kJPEGLSLossy; }
bool CDicomHeader::IsJPEG2000Lossless() const { return TransferSyntaxFamily(*this) == kJPEG2000Lossless; }
bool CDicomHeader::IsJPEG2000Lossy() const { return TransferSyntaxFamily(*this) == kJPEG2000Lossy; }

// Big-endian data sets are always read natively. Otherwise only the seven
// compressed families are encapsulated; an unknown UID is read as native data.
bool CDicomHeader::IsUncompressed() const {
    if (!Find(0x0002, 0x0010) || !m_littleEndian) return true;
    const std::string_view family = TransferSyntaxFamily(*this);
    return family.empty() || family == kNone || family == kUnknown;
}

// Photometric interpretation: exact comparison of the trimmed text, or a
// default from the pixel description when (0028,0004) is absent.
bool CDicomHeader::IsRGB() const { return PhotometricIs(*this, u"RGB").value_or(m_samplesPerPixel == 3); }
bool CDicomHeader::IsCMYK() const { return PhotometricIs(*this, u"CMYK").value_or(false); }
bool CDicomHeader::IsARGB() const { return PhotometricIs(*this, u"ARGB").value_or(m_samplesPerPixel == 4); }
bool CDicomHeader::IsYBRFull() const { return PhotometricIs(*this, u"YBR_FULL").value_or(false); }
bool CDicomHeader::IsYBRFull422() const { return PhotometricIs(*this, u"YBR_FULL_422").value_or(false); }
bool CDicomHeader::IsYBRPartial422() const { return PhotometricIs(*this, u"YBR_PARTIAL_422").value_or(false); }
bool CDicomHeader::IsYBRICT() const { return PhotometricIs(*this, u"YBR_ICT").value_or(false); }
bool CDicomHeader::IsMonochrome1() const { return PhotometricIs(*this, u"MONOCHROME1").value_or(false); }

bool CDicomHeader::IsPaletteColor() const {
    return PhotometricIs(*this, u"PALETTE COLOR").value_or(uint16_t(m_samplesPerPixel) < 2 && m_blueLut != nullptr);
}

bool CDicomHeader::IsMonochrome2() const {
    if (const std::optional<bool> is = PhotometricIs(*this, u"MONOCHROME2")) return *is;
    if (m_bitsAllocated == 0) return false;
    if (m_bitsAllocated > 8) return true;
    return m_samplesPerPixel < 2 && m_blueLut == nullptr;
}

bool CDicomHeader::IsMonochrome() const { return IsMonochrome1() || IsMonochrome2(); }
