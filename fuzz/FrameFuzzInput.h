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
    d.numberOfFrames = 1;
    d.rows = 1 + (data[0] | (data[2] & 0x01) << 8);
    d.columns = 1 + (data[1] | (data[2] & 0x02) << 7);
    d.planarConfiguration = (data[2] & 0x04) ? 1 : 0;
    switch (data[2] >> 4) {
        case 0: d.isMonochrome2 = true; break;
        case 1: d.isMonochrome1 = true; break;
        case 2: d.isPaletteColor = true; break;
        case 3: d.isRGB = true; break;
        case 4: d.isYBRFull = true; break;
        case 5: d.isYBRFull422 = true; break;
        default: break;
    }
    d.samplesPerPixel = kSamples[data[3] % 6];
    d.bitsAllocated = kBits[data[4] % 6];
    d.bitsStored = data[5];
    d.compression = compression;
    d.compressionName = std::string(quillon::CompressionName(compression));
    return true;
}
