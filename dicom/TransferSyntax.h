#pragma once
// The transfer syntaxes this viewer knows: their compression names and the
// encoding the loader reads their data sets in. One table, in TransferSyntax.cpp.
#include <string>
#include <string_view>

// Compression name of a Transfer Syntax UID ("NONE", "JPEG", ..., "UNKNOWN");
// white space around the UID and letter case do not matter.
std::string CompressionNameForUID(const std::u16string& uid);

// The encoding in which the loader reads the data set after the file meta
// information.
struct DataSetEncoding {
    bool explicitVR;
    bool littleEndian;
};

// The encoding of the data set of a file whose (0002,0010) holds `uid`,
// compared byte for byte: a listed UID gives its own encoding; any other UID
// gives explicit VR little endian when it contains the DICOM root
// "1.2.840.10008", else implicit VR little endian.
DataSetEncoding EncodingForTransferSyntax(std::string_view uid);
