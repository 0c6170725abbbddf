// The transfer syntax table; transfer syntax families and photometric
// interpretation of a data set. Every predicate reads the first top-level
// element each time it is called; nothing is cached.
#include <iterator>
#include <optional>
#include <string_view>

#include "dicom/TransferSyntax.h"

#include "dicom/DataSet.h"
#include "dicom/DicomFile.h"

namespace {

constexpr DataSetEncoding kImplicitLittle{false, true};
constexpr DataSetEncoding kExplicitLittle{true, true};
constexpr DataSetEncoding kExplicitBig{true, false};
constexpr DataSetEncoding kDeflatedExplicitLittle{true, true, true};

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
    // Deflated: the data set is inflated and then read as explicit VR little endian.
    {u"1.2.840.10008.1.2.1.99", "Deflated Explicit VR Little Endian", Compression::None, kDeflatedExplicitLittle},
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
    {u"1.2.840.10008.1.2.4.201", "High-Throughput JPEG 2000 Image Compression (Lossless Only)",
     Compression::HTJ2KLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.202", "High-Throughput JPEG 2000 with RPCL Options Image Compression (Lossless Only)",
     Compression::HTJ2KLosslessRPCL, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.203", "High-Throughput JPEG 2000 Image Compression", Compression::HTJ2K,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.110", "JPEG XL Lossless", Compression::JPEGXLLossless, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.111", "JPEG XL JPEG Recompression", Compression::JPEGXLRecompression, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.112", "JPEG XL", Compression::JPEGXL, kExplicitLittle},
    {u"1.2.840.10008.1.2.1.98", "Encapsulated Uncompressed Explicit VR Little Endian",
     Compression::EncapsulatedUncompressed, kExplicitLittle},
    {u"1.2.840.10008.1.2.8.1", "Deflated Image Frame Compression", Compression::DeflatedFrames, kExplicitLittle},
    // MPEG-2 at main level keeps the compression of an unlisted UID, as the
    // viewer has always shown it ("UNKNOWN"; its stream is still listed as
    // fragments, since its pixel data has an undefined length).
    {u"1.2.840.10008.1.2.4.100", "MPEG2 Main Profile / Main Level", Compression::Unknown, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.101", "MPEG2 Main Profile / High Level", Compression::MPEG2, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.102", "MPEG-4 AVC/H.264 High Profile / Level 4.1", Compression::H264, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.103", "MPEG-4 AVC/H.264 BD-compatible High Profile / Level 4.1", Compression::H264,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.104", "MPEG-4 AVC/H.264 High Profile / Level 4.2 For 2D Video", Compression::H264,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.105", "MPEG-4 AVC/H.264 High Profile / Level 4.2 For 3D Video", Compression::H264,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.106", "MPEG-4 AVC/H.264 Stereo High Profile / Level 4.2", Compression::H264,
     kExplicitLittle},
    {u"1.2.840.10008.1.2.4.107", "HEVC/H.265 Main Profile / Level 5.1", Compression::HEVC, kExplicitLittle},
    {u"1.2.840.10008.1.2.4.108", "HEVC/H.265 Main 10 Profile / Level 5.1", Compression::HEVC, kExplicitLittle},
};

// The names shown for each compression, in the order of the enumeration.
constexpr std::string_view kCompressionNames[] = {
    "NONE", "UNKNOWN", "JPEG", "JPEG Lossless", "JPEG-LS Lossless", "JPEG-LS Lossy",
    "JPEG2000 Lossless", "JPEG2000 Lossy", "RLE", "HTJ2K Lossless", "HTJ2K Lossless RPCL", "HTJ2K",
    "JPEG XL Lossless", "JPEG XL JPEG Recompression", "JPEG XL",
    "Deflated Frames", "Encapsulated Uncompressed", "MPEG-2", "H.264", "HEVC",
};
static_assert(std::size(kCompressionNames) == std::size_t(Compression::HEVC) + 1);

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
std::optional<std::u16string> TopLevelText(const quillon::DataSet& dataSet, quillon::Tag tag) {
    const CDicomTag* element = dataSet.Find(tag);
    if (!element) return std::nullopt;
    return std::u16string(Trim(element->GetValueText(u"")));
}

}  // namespace

std::optional<Compression> quillon::TransferSyntaxFamily(const DataSet& dataSet) {
    const std::optional<std::u16string> uid = TopLevelText(dataSet, tags::kTransferSyntaxUID);
    if (!uid || uid->empty()) return std::nullopt;
    return CompressionOf(*uid);
}

std::optional<bool> quillon::PhotometricIs(const DataSet& dataSet, std::u16string_view term) {
    const std::optional<std::u16string> text = TopLevelText(dataSet, tags::kPhotometricInterpretation);
    if (!text) return std::nullopt;
    return *text == term;
}

// Big-endian data sets are always read natively. Otherwise every compressed
// family is encapsulated; an unknown UID is read as native data.
bool quillon::IsUncompressed(const DataSet& dataSet, bool littleEndian) {
    if (!dataSet.Find(tags::kTransferSyntaxUID) || !littleEndian) return true;
    const std::optional<Compression> family = TransferSyntaxFamily(dataSet);
    return !family || *family == Compression::None || *family == Compression::Unknown;
}

std::string_view quillon::CompressionName(Compression compression) {
    const std::size_t i = std::size_t(compression);
    return i < std::size(kCompressionNames) ? kCompressionNames[i]
                                            : kCompressionNames[std::size_t(Compression::Unknown)];
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

using quillon::PhotometricIs;
using quillon::TransferSyntaxFamily;

bool CDicomFile::IsRLE() const { return m_pixel.IsRLE(); }
bool CDicomFile::IsJPEG() const { return m_pixel.IsJPEG(); }
bool CDicomFile::IsJPEGLossless() const { return m_pixel.IsJPEGLossless(); }
bool CDicomFile::IsJPEGLSLossless() const { return m_pixel.IsJPEGLSLossless(); }
bool CDicomFile::IsJPEGLSLossy() const { return m_pixel.IsJPEGLSLossy(); }
bool CDicomFile::IsJPEG2000Lossless() const { return m_pixel.IsJPEG2000Lossless(); }
bool CDicomFile::IsJPEG2000Lossy() const { return m_pixel.IsJPEG2000Lossy(); }
bool CDicomFile::IsUncompressed() const { return m_pixel.IsUncompressed(m_encoding.littleEndian); }

bool CDicomFile::IsRGB() const { return m_pixel.IsRGB(); }
bool CDicomFile::IsCMYK() const { return m_pixel.IsCMYK(); }
bool CDicomFile::IsARGB() const { return m_pixel.IsARGB(); }
bool CDicomFile::IsYBRFull() const { return m_pixel.IsYBRFull(); }
bool CDicomFile::IsYBRFull422() const { return m_pixel.IsYBRFull422(); }
bool CDicomFile::IsYBRPartial422() const { return m_pixel.IsYBRPartial422(); }
bool CDicomFile::IsYBRICT() const { return m_pixel.IsYBRICT(); }
bool CDicomFile::IsPaletteColor() const { return m_pixel.IsPaletteColor(); }
bool CDicomFile::IsMonochrome1() const { return m_pixel.IsMonochrome1(); }
bool CDicomFile::IsMonochrome2() const { return m_pixel.IsMonochrome2(); }
bool CDicomFile::IsMonochrome() const { return m_pixel.IsMonochrome(); }
