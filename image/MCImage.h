#pragma once
// The in-memory bitmap image: a decoded frame, a thumbnail or a step of the
// scaling in between. The whole image is one heap block that describes itself,
// all numbers little endian, without gaps:
//
//   offset  width  field
//        0      4  width (pixels per row)
//        4      4  height (rows)
//        8      1  bits per pixel: 8, 16, 24 or 32
//        9      1  MONOCHROME1 mark (carried along, never consulted)
//       10      1  signed (16-bit samples)
//       11      1  reserved, 0
//       12      4  kind (MCImage::Kind)
//       16      2  reserved, 0
//       18      4  data size: width x height x bits per pixel / 8
//       22      4  window centre (signed)
//       26      4  window width (signed)
//       30      4  min (signed)
//       34      4  max (signed)
//       38      4  palette count (16-bit images; 8-bit images always have 256)
//       42      8  reserved, 0
//       50         palette: 256 entries (8-bit), palette-count entries (16-bit),
//                  none otherwise; 4 bytes each: red, green, blue, reserved
//                  then the pixel rows from the top, without row padding.
//
// Block size = pixel offset + data size; every size is checked in 64 bits and an
// image that would not fit the 32-bit fields gets no block. An image without a
// block answers every operation with failure or none.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "dicom/HeapBlock.h"

namespace quillon {

// A bare image block and its size in bytes; no data when it could not be made.
struct ImageBlock {
    quillon::HeapPtr<uint8_t> data;
    uint32_t size = 0;

    explicit operator bool() const { return data != nullptr; }
};

}  // namespace quillon

class MCImage {
public:
    static constexpr uint32_t kHeaderSize = 50;
    static constexpr uint32_t kThumbnailSize = 128;

    enum Kind : uint32_t {
        kKindPalette8 = 0,   // 8-bit palette indices (also any unsupported depth, without palette)
        kKindGrey16 = 2,     // 16-bit grey samples
        kKindPalette16 = 3,  // 16-bit samples with a colour palette
        kKindRgb24 = 4,      // red, green, blue
        kKindRgb32 = 5,      // red, green, blue and a fourth byte
    };

    enum ResampleMode : int { kNearest = 0, kBilinear = 1 };

    static constexpr std::size_t kWholeBuffer = std::numeric_limits<std::size_t>::max();

    // Image from a sample buffer holding width x height x bitsPerPixel / 8 bytes
    // (null: all pixels 0). `dataBytes` is how much the buffer really holds when
    // that may be less; pixels beyond it are 0.
    MCImage(const void* data, uint32_t width, uint32_t height, uint8_t bitsPerPixel, bool isSigned, int32_t min,
            int32_t max, int32_t center, int32_t windowWidth, std::size_t dataBytes = kWholeBuffer);
    // 16-bit image with a colour palette of `paletteCount` entries; red, green and
    // blue hold that many bytes each (a null table reads as 0). `sampleCount` as
    // `dataBytes` above, in samples.
    MCImage(const uint16_t* samples, uint32_t width, uint32_t height, uint32_t paletteCount, const uint8_t* red,
            const uint8_t* green, const uint8_t* blue, std::size_t sampleCount = kWholeBuffer);
    // Independent copy of the block (none when it cannot be allocated).
    MCImage(const MCImage& other);
    MCImage(MCImage&& other) noexcept;
    MCImage& operator=(const MCImage&) = delete;
    MCImage& operator=(MCImage&&) = delete;
    virtual ~MCImage();

    // Blank blocks: all pixels 0, signed 0, mark 0; an 8-bit block has the grey
    // palette (i, i, i, 0), C 128, W 256, min 0, max 255; a 16-bit block kind 2,
    // no palette and C = W = min = max = 0; 24- and 32-bit blocks kinds 4 and 5,
    // C 128, W 256, min 0, max 255. No data for another depth or a size that does
    // not fit.
    static quillon::ImageBlock MakeBlankBlock(uint8_t bitsPerPixel, uint32_t width, uint32_t height);
    static quillon::ImageBlock MakeBlankBlock8(uint32_t width, uint32_t height) { return MakeBlankBlock(8, width, height); }
    static quillon::ImageBlock MakeBlankBlock16(uint32_t width, uint32_t height) { return MakeBlankBlock(16, width, height); }
    static quillon::ImageBlock MakeBlankBlock24(uint32_t width, uint32_t height) { return MakeBlankBlock(24, width, height); }
    static quillon::ImageBlock MakeBlankBlock32(uint32_t width, uint32_t height) { return MakeBlankBlock(32, width, height); }

    // trunc(0.299 R + 0.587 G + 0.114 B + 0.5) in double, clamped to 0..255.
    static uint8_t Luma(uint8_t red, uint8_t green, uint8_t blue);

    // First pixel, or null without a block.
    uint8_t* GetBits();
    const uint8_t* GetBits() const;
    // Palette entries (4 bytes each) of an 8-bit or 16-bit palette image, else null.
    const uint8_t* GetPalette() const;
    // 8-bit: some palette entry is not grey; 16-bit: kind 3; other depths: true.
    bool IsColor() const;
    // Writes 256 entries of 4 bytes over the palette of an 8-bit image.
    bool SetPalette(const uint8_t entries[1024]);
    // Recomputes min and max from the samples (16-bit grey) or sets 0 and 255.
    void UpdateRange();
    // Inverts the image for MONOCHROME1 display.
    void Invert();
    // Replaces the block by a 24-bit RGB one; the new block size, 0 on failure
    // (the old block stays).
    uint32_t ConvertTo24Bit();
    // Scales to dstW x dstH, nearest neighbour or bilinear; false (image unchanged)
    // without a block, for another depth or mode, or when the new block cannot be made.
    bool Resample(uint32_t dstW, uint32_t dstH, int mode);
    // Replaces the image by a 128 x 128 one with the old image centred on it (cropped
    // when larger), the rest in the colour of its bottom-right pixel.
    bool CenterOnCanvas();

    bool HasBlock() const { return m_block != nullptr; }
    const uint8_t* GetBlock() const { return m_block.get(); }
    uint32_t GetBlockSize() const { return m_blockSize; }

    uint32_t GetWidth() const;
    uint32_t GetHeight() const;
    uint8_t GetBitsPerPixel() const;
    uint32_t GetKind() const;
    bool IsSigned() const;
    bool IsMonochrome1() const;
    void SetMonochrome1(bool mark);
    int32_t GetWindowCenter() const;
    int32_t GetWindowWidth() const;
    void SetWindow(int32_t center, int32_t width);
    int32_t GetMin() const;
    int32_t GetMax() const;
    uint32_t GetPaletteCount() const;
    uint32_t GetDataSize() const;

private:
    void ReplaceBlock(quillon::ImageBlock block);
    bool ResampleNearest(uint32_t dstW, uint32_t dstH);
    bool ResampleBilinear(uint32_t dstW, uint32_t dstH);

    quillon::HeapPtr<uint8_t> m_block;
    uint32_t m_blockSize = 0;
};
