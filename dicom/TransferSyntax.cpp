// Transfer syntax families and photometric interpretation of the loaded data
// set. Every predicate reads the first top-level element each time it is
// called; nothing is cached.
#include <iterator>
#include <optional>
#include <string_view>

#include "dicom/TransferSyntax.h"

#include "dicom/DicomHeader.h"

namespace {

constexpr DataSetEncoding kImplicitLittle{false, true};
constexpr DataSetEncoding kExplicitLittle{true, true};
constexpr DataSetEncoding kExplicitBig{true, false};

using quillon::Compression;

struct KnownSyntax {
    std::u16string_view uid;
    std::string_view name;
    Compression compression;   // also the key of the frames' decoder
    DataSetEncoding encoding;  // encapsulated pixel data is read as explicit VR little endian
};

// Every transfer syntax this viewer knows; its family is its compression.
constexpr KnownSyntax kKnownSyntaxes[] = {
    {u"1.2.840.10008.1.2", "Implicit VR Little Endian", Compression::None, kImplicitLittle},
    {u"1.2.840.10008.1.2.1", "Explicit VR Little Endian", Compression::None, kExplicitLittle},
    // Deflated: the data set is not inflated, and is read as it lies.
    {u"1.2.840.10008.1.2.1.99", "Deflated Explicit VR Little Endian", Compression::None, kExplicitLittle},
    {u"1.2.840.10008.1.2.2", "Explicit VR Big Endian", Compression::None, kExplicitBig},
    {u"1.2.840.10008.1.20", "Papyrus 3 Implicit VR Little Endian", Compression::None, kImplicitLittle},
    {u"1.2.840.10008.1.2.4.50", "JPEG Baseline (Process 1)", Compression::JPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.51", "JPEG Extended (Process 2 and 4)", Compression::JPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.52", "JPEG Extended (Process 3 and 5)", Compression::JPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.53", "JPEG Spectral Selection, Non-Hierarchical (Process 6 and 8)", Compression::JPEG,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.54", "JPEG Spectral Selection, Non-Hierarchical (Process 7 and 9)", Compression::JPEG,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.55", "JPEG Full Progression, Non-Hierarchical (Process 10 and 12)", Compression::JPEG,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.56", "JPEG Full Progression, Non-Hierarchical (Process 11 and 13)", Compression::JPEG,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.60", "JPEG Extended, Hierarchical (Process 17 and 19)", Compression::JPEG,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.61", "JPEG Spectral Selection, Hierarchical (Process 20 and 22)", Compression::JPEG,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.62", "JPEG Spectral Selection, Hierarchical (Process 21 and 23)", Compression::JPEG,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.63", "JPEG Full Progression, Hierarchical (Process 24 and 26)", Compression::JPEG,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.64", "JPEG Full Progression, Hierarchical (Process 25 and 27)", Compression::JPEG, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.57", "JPEG Lossless, Non-Hierarchical (Process 14)", Compression::JPEGLossless,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.58", "JPEG Lossless, Non-Hierarchical (Process 15)", Compression::JPEGLossless,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.59", "JPEG Extended, Hierarchical (Process 16 and 18)", Compression::JPEGLossless,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.65", "JPEG Lossless, Hierarchical (Process 28)", Compression::JPEGLossless,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.66", "JPEG Lossless, Hierarchical (Process 29)", Compression::JPEGLossless,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.70", "JPEG Lossless, Non-Hierarchical, First-Order Prediction (Process 14 [Selection Value 1])",
     Compression::JPEGLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.80", "JPEG-LS Lossless Image Compression", Compression::JPEGLSLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.81", "JPEG-LS Lossy (Near-Lossless) Image Compression", Compression::JPEGLSLossy, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.90", "JPEG 2000 Image Compression (Lossless Only)", Compression::JPEG2000Lossless,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.91", "JPEG 2000 Image Compression", Compression::JPEG2000Lossy, kExplicitLittle},
    {u"1.2.840.10008.1.2.5", "RLE Lossless", Compression::RLE, kExplicitLittle},
};

// The names shown for each compression, in the order of the enumeration.
constexpr std::string_view kCompressionNames[] = {
    "NONE", "UNKNOWN", "JPEG", "JPEG Lossless", "JPEG-LS Lossless", "JPEG-LS Lossy",
    "JPEG2000 Lossless", "JPEG2000 Lossy", "RLE",
};
static_assert(std::size(kCompressionNames) == std::size_t(Compression::RLE) + 1);

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

// The row of a trimmed UID, or null for an empty or unlisted one.
const KnownSyntax* RowOf(std::u16string_view uid) {
    for (const KnownSyntax& known : kKnownSyntaxes)
        if (EqualsNoCase(uid, known.uid)) return &known;
    return nullptr;
}

Compression CompressionOf(std::u16string_view uid) {
    const KnownSyntax* row = RowOf(uid);
    return row ? row->compression : Compression::Unknown;
}

// The trimmed value text of the first top-level element with the tag; none when there is no such element.
std::optional<std::u16string> TopLevelText(const CTagArray& tags, uint16_t group, uint16_t element) {
    const CDicomTag* tag = tags.Find(group, element);
    if (!tag) return std::nullopt;
    return std::u16string(Trim(tag->GetValueText(u"")));
}

// The family of the data set's transfer syntax: its compression, or none
// when (0002,0010) is absent or holds no text.
std::optional<Compression> TransferSyntaxFamily(const CTagArray& tags) {
    const std::optional<std::u16string> uid = TopLevelText(tags, 0x0002, 0x0010);
    if (!uid || uid->empty()) return std::nullopt;
    return CompressionOf(*uid);
}

// Whether (0028,0004) holds exactly the term (case-sensitive); none when it is absent.
std::optional<bool> PhotometricIs(const CTagArray& tags, std::u16string_view term) {
    const std::optional<std::u16string> text = TopLevelText(tags, 0x0028, 0x0004);
    if (!text) return std::nullopt;
    return *text == term;
}

}  // namespace

std::string_view quillon::CompressionName(Compression compression) {
    const std::size_t i = std::size_t(compression);
    return i < std::size(kCompressionNames) ? kCompressionNames[i] : kCompressionNames[std::size_t(Compression::Unknown)];
}

Compression quillon::CompressionForUID(std::u16string_view uid) { return CompressionOf(Trim(uid)); }

std::string_view quillon::TransferSyntaxName(std::u16string_view uid) {
    const KnownSyntax* row = RowOf(Trim(uid));
    return row ? row->name : std::string_view();
}

std::string CompressionNameForUID(const std::u16string& uid) {
    return std::string(quillon::CompressionName(CompressionOf(Trim(uid))));
}

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

bool CDicomHeader::IsRLE() const { return TransferSyntaxFamily(*this) == Compression::RLE; }
bool CDicomHeader::IsJPEG() const { return TransferSyntaxFamily(*this) == Compression::JPEG; }
bool CDicomHeader::IsJPEGLossless() const { return TransferSyntaxFamily(*this) == Compression::JPEGLossless; }
bool CDicomHeader::IsJPEGLSLossless() const { return TransferSyntaxFamily(*this) == Compression::JPEGLSLossless; }
bool CDicomHeader::IsJPEGLSLossy() const { return TransferSyntaxFamily(*this) == Compression::JPEGLSLossy; }
bool CDicomHeader::IsJPEG2000Lossless() const { return TransferSyntaxFamily(*this) == Compression::JPEG2000Lossless; }
bool CDicomHeader::IsJPEG2000Lossy() const { return TransferSyntaxFamily(*this) == Compression::JPEG2000Lossy; }

// Big-endian data sets are always read natively. Otherwise only the seven
// compressed families are encapsulated; an unknown UID is read as native data.
bool CDicomHeader::IsUncompressed() const {
    if (!Find(0x0002, 0x0010) || !m_littleEndian) return true;
    const std::optional<Compression> family = TransferSyntaxFamily(*this);
    return !family || *family == Compression::None || *family == Compression::Unknown;
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
