#pragma once
// The transfer syntaxes this viewer knows: their compression names and the
// encoding the loader reads their data sets in. One table, in TransferSyntax.cpp.
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

class DataSet;

// How the pixel data of a transfer syntax is stored: the key by which frames
// are routed to their decoder. None: native pixel data; Unknown: a UID this
// viewer does not list (read as native data).
enum class Compression {
    None,
    Unknown,
    JPEG,
    JPEGLossless,
    JPEGLSLossless,
    JPEGLSLossy,
    JPEG2000Lossless,
    JPEG2000Lossy,
    RLE,
    HTJ2KLossless,
    HTJ2KLosslessRPCL,
    HTJ2K,
    JPEGXLLossless,
    JPEGXLRecompression,
    JPEGXL,
    // Frames held as their native bytes in fragments, each one deflated
    // (RFC 1951) or as it is: decoded to the native layout.
    DeflatedFrames,
    EncapsulatedUncompressed,
    // Video streams: listed as their fragments, never decoded.
    MPEG2,
    H264,
    HEVC,
};

// The compression name shown for it: "NONE", "JPEG", "JPEG Lossless",
// "JPEG-LS Lossless", "JPEG-LS Lossy", "JPEG2000 Lossless", "JPEG2000 Lossy",
// "RLE", "HTJ2K Lossless", "HTJ2K Lossless RPCL", "HTJ2K", "JPEG XL Lossless",
// "JPEG XL JPEG Recompression", "JPEG XL", "Deflated Frames", "Encapsulated
// Uncompressed", "MPEG-2", "H.264", "HEVC", "UNKNOWN".
std::string_view CompressionName(Compression compression);

// The compression of a Transfer Syntax UID; white space around the UID and
// letter case do not matter; Unknown for an empty or unlisted UID.
Compression CompressionForUID(std::u16string_view uid);

// The standard's name of a listed Transfer Syntax UID (compared as
// CompressionForUID does), or empty.
std::string_view TransferSyntaxName(std::u16string_view uid);

// --- the vocabulary of a data set: its first top-level elements, read each
// time, nothing cached ---
// The compression of its transfer syntax (0002,0010); none when the element
// is absent or holds no text.
std::optional<Compression> TransferSyntaxFamily(const DataSet& dataSet);
// Whether its photometric interpretation (0028,0004) is exactly `term`
// (trimmed, case-sensitive); none when the element is absent.
std::optional<bool> PhotometricIs(const DataSet& dataSet, std::u16string_view term);
// Whether its pixel data is native: always in a big-endian data set and
// without a transfer syntax; otherwise unless a compressed family (any
// listed one but the native syntaxes) names it (an unknown UID is read as
// native data).
bool IsUncompressed(const DataSet& dataSet, bool littleEndian);

}  // namespace quillon

// Compression name of a Transfer Syntax UID ("NONE", "JPEG", ..., "UNKNOWN");
// white space around the UID and letter case do not matter.
std::string CompressionNameForUID(const std::u16string& uid);

// The encoding in which the loader reads the data set after the file meta
// information.
struct DataSetEncoding {
    bool explicitVR;
    bool littleEndian;
    // The data set after the file meta information is a deflate stream
    // (raw, RFC 1951) of the data set in this encoding.
    bool deflated = false;
};

// The encoding of the data set of a file whose (0002,0010) holds `uid`,
// compared byte for byte: a listed UID gives its own encoding; any other UID
// gives explicit VR little endian when it contains the DICOM root
// "1.2.840.10008", else implicit VR little endian.
DataSetEncoding EncodingForTransferSyntax(std::string_view uid);
