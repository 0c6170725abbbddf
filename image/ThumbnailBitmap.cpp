#include "image/ThumbnailBitmap.h"

#include <cstring>
#include <memory>

#include "image/MCImage.h"

namespace {

constexpr uint32_t kSide = MCImage::kThumbnailSize;
constexpr uint32_t kPixels = kSide * kSide;
constexpr size_t kClearedBytes = 65536;

// Fits a copy to 128 x 128 pixels of 24 bits; false when a step fails.
bool FitTo24Bit(MCImage& copy, bool given24Bit) {
    if (copy.GetWidth() != kSide || copy.GetHeight() != kSide) {
        if (copy.GetWidth() == copy.GetHeight()) {
            if (!copy.Resample(kSide, kSide, MCImage::kNearest)) return false;
        } else {
            const ThumbnailSize size = ThumbnailFitSize(copy.GetWidth(), copy.GetHeight());
            if (!copy.Resample(size.width, size.height, MCImage::kNearest) || !copy.CenterOnCanvas()) return false;
        }
        if (copy.ConvertTo24Bit() == 0) return false;
    }
    if (!given24Bit && copy.ConvertTo24Bit() == 0) return false;
    // Only 16384 RGB pixels are read below.
    return copy.GetBitsPerPixel() == 24 && copy.GetWidth() == kSide && copy.GetHeight() == kSide;
}

// 8-bit screens: the grey level in 15 steps, 0 and 14 mapped to the ends of the
// system palette, the steps between to 234..246.
uint8_t GreyIndex(uint8_t r, uint8_t g, uint8_t b) {
    const auto v = int((0.12 * b + 0.59 * g + 0.29 * r + 0.5) * 0.054901960784313725);
    if (v == 0) return 0;
    if (v == 14) return 255;
    return uint8_t(v + 233);
}

}  // namespace

ThumbnailSize ThumbnailFitSize(uint32_t width, uint32_t height) {
    if (height == 0) return {};
    const double x = double(width) / double(height);
    if (x > 1) return {kSide, uint32_t(kSide / x + 0.5)};
    return {uint32_t(x * kSide + 0.5), kSide};
}

bool MakeThumbnailBitmapBits(const MCImage* image, int screenDepth, std::vector<uint8_t>& bits) {
    bits.assign(kClearedBytes, 0);
    if (!image) return false;
    MCImage copy(*image);
    if (!copy.HasBlock() || copy.GetHeight() == 0) return false;
    if (!FitTo24Bit(copy, image->GetBitsPerPixel() == 24)) return false;
    const uint8_t* rgb = copy.GetBits();
    if (!rgb) return false;

    switch (screenDepth) {
        case 32:
        case 24: {
            // Blue, green, red; the fourth byte of a 32-bit pixel stays 0.
            const uint32_t step = uint32_t(screenDepth) / 8;
            bits.assign(kPixels * step, 0);
            for (uint32_t i = 0; i < kPixels; ++i) {
                bits[step * i] = rgb[3 * i + 2];
                bits[step * i + 1] = rgb[3 * i + 1];
                bits[step * i + 2] = rgb[3 * i];
            }
            return true;
        }
        case 16:
            bits.resize(kPixels * 2);
            for (uint32_t i = 0; i < kPixels; ++i) {
                const auto word = uint16_t((rgb[3 * i] / 8) * 2048 + (rgb[3 * i + 1] / 8) * 64 + rgb[3 * i + 2] / 8);
                bits[2 * i] = uint8_t(word);
                bits[2 * i + 1] = uint8_t(word >> 8);
            }
            return true;
        case 8:
            bits.resize(kPixels);
            for (uint32_t i = 0; i < kPixels; ++i) bits[i] = GreyIndex(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
            return true;
        default: bits.clear(); return true;
    }
}
