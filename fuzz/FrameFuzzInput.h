#pragma once
// The frame description of a codec fuzz input: its first six bytes choose
// the matrix, samples, bits, planar configuration and photometric
// interpretation; the rest is the frame's compressed bytes.
//   0, 1: rows and columns, low 8 bits
//   2: bit 0 and bit 1 the 9th bit of rows and columns (1..512 each),
//      bit 2 planar configuration 1, bits 4..7 photometric interpretation
//   3: samples per pixel, 4: bits allocated, 5: bits stored
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/FrameDescription.h"

constexpr std::size_t kFrameFuzzHeader = 6;

inline bool DescribeFuzzFrame(const uint8_t* data, std::size_t size, quillon::Compression compression,
                              FrameDescription& d) {
    if (size < kFrameFuzzHeader) return false;
    static const int16_t kSamples[] = {1, 3, 0, 4, 2, 16};
    static const int16_t kBits[] = {8, 16, 12, 32, 1, 24};
    d = FrameDescription{};
    using quillon::Photometric;
    static const Photometric kPhotometric[] = {Photometric::Monochrome2,  Photometric::Monochrome1,
                                               Photometric::PaletteColor, Photometric::RGB,
                                               Photometric::YBRFull,      Photometric::YBRFull422};
    quillon::PixelDescription& p = d.pixel;
    p.numberOfFrames = 1;
    p.rows = 1 + (data[0] | (data[2] & 0x01) << 8);
    p.columns = 1 + (data[1] | (data[2] & 0x02) << 7);
    p.planarConfiguration = (data[2] & 0x04) ? 1 : 0;
    // Values past the list name no photometric interpretation the decoders know.
    const unsigned photometric = data[2] >> 4;
    p.photometric = photometric < 6 ? kPhotometric[photometric] : Photometric::Other;
    p.samplesPerPixel = kSamples[data[3] % 6];
    p.bitsAllocated = kBits[data[4] % 6];
    p.bitsStored = data[5];
    p.compression = compression;
    return true;
}
