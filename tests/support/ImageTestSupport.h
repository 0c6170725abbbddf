#pragma once
// Reading MCImage pixels back in tests, and making small 16-bit images.
#include <cstdint>
#include <vector>

#include "image/MCImage.h"

namespace imagetest {

using Bytes = std::vector<uint8_t>;

// The pixel bytes of an image (empty without a block).
inline Bytes Pixels(const MCImage& image) {
    const uint8_t* bits = image.GetBits();
    return bits ? Bytes(bits, bits + image.GetDataSize()) : Bytes();
}

// The 16-bit samples, signed or not by the image's flag.
inline std::vector<int32_t> Samples16(const MCImage& image) {
    std::vector<int32_t> out;
    const uint8_t* bits = image.GetBits();
    for (uint32_t i = 0; bits && i < image.GetDataSize() / 2; ++i) {
        const auto raw = uint16_t(bits[2 * i] | bits[2 * i + 1] << 8);
        out.push_back(image.IsSigned() ? int32_t(int16_t(raw)) : int32_t(raw));
    }
    return out;
}

inline MCImage Grey16(const std::vector<uint16_t>& samples, uint32_t w, uint32_t h, bool isSigned, int32_t min,
                      int32_t max, int32_t center = 0, int32_t width = 0) {
    return MCImage(samples.data(), w, h, 16, isSigned, min, max, center, width);
}

}  // namespace imagetest
