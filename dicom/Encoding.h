#pragma once
// How the bytes of a data set are encoded.
namespace quillon {

struct Encoding {
    // The file starts with a 128-byte preamble and "DICM".
    bool hasPreamble = false;
    bool explicitVR = true;
    bool littleEndian = true;
};

}  // namespace quillon
