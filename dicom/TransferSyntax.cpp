// The transfer syntax vocabulary, and the transfer syntax families and
// photometric interpretation of the loaded data set, as its pixel description
// holds them.
#include <iterator>
#include <optional>
#include <string_view>

#include "dicom/TransferSyntax.h"

#include "dicom/DicomHeader.h"
#include "dicom/TextUtil.h"

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

using quillon::TrimSpace;

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
    return std::u16string(TrimSpace(tag->GetValueText(u"")));
}

}  // namespace

std::string_view quillon::CompressionName(Compression compression) {
    const std::size_t i = std::size_t(compression);
    return i < std::size(kCompressionNames) ? kCompressionNames[i] : kCompressionNames[std::size_t(Compression::Unknown)];
}

Compression quillon::CompressionForUID(std::u16string_view uid) { return CompressionOf(TrimSpace(uid)); }

std::string_view quillon::TransferSyntaxName(std::u16string_view uid) {
    const KnownSyntax* row = RowOf(TrimSpace(uid));
    return row ? row->name : std::string_view();
}

std::string CompressionNameForUID(const std::u16string& uid) {
    return std::string(quillon::CompressionName(CompressionOf(TrimSpace(uid))));
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

bool CDicomHeader::IsRLE() const { return m_pixel.IsRLE(); }
bool CDicomHeader::IsJPEG() const { return m_pixel.IsJPEG(); }
bool CDicomHeader::IsJPEGLossless() const { return m_pixel.IsJPEGLossless(); }
bool CDicomHeader::IsJPEGLSLossless() const { return m_pixel.IsJPEGLSLossless(); }
bool CDicomHeader::IsJPEGLSLossy() const { return m_pixel.IsJPEGLSLossy(); }
bool CDicomHeader::IsJPEG2000Lossless() const { return m_pixel.IsJPEG2000Lossless(); }
bool CDicomHeader::IsJPEG2000Lossy() const { return m_pixel.IsJPEG2000Lossy(); }
bool CDicomHeader::IsUncompressed() const { return m_pixel.IsUncompressed(m_littleEndian); }

bool CDicomHeader::IsRGB() const { return m_pixel.IsRGB(); }
bool CDicomHeader::IsCMYK() const { return m_pixel.IsCMYK(); }
bool CDicomHeader::IsARGB() const { return m_pixel.IsARGB(); }
bool CDicomHeader::IsYBRFull() const { return m_pixel.IsYBRFull(); }
bool CDicomHeader::IsYBRFull422() const { return m_pixel.IsYBRFull422(); }
bool CDicomHeader::IsYBRPartial422() const { return m_pixel.IsYBRPartial422(); }
bool CDicomHeader::IsYBRICT() const { return m_pixel.IsYBRICT(); }
bool CDicomHeader::IsPaletteColor() const { return m_pixel.IsPaletteColor(); }
bool CDicomHeader::IsMonochrome1() const { return m_pixel.IsMonochrome1(); }
bool CDicomHeader::IsMonochrome2() const { return m_pixel.IsMonochrome2(); }
bool CDicomHeader::IsMonochrome() const { return m_pixel.IsMonochrome(); }
