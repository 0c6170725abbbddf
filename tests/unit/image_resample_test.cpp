// Scaling, the 128 x 128 thumbnail canvas and the bytes of the picture
// button's bitmap at each screen depth.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "image/MCImage.h"
#include "image/ThumbnailBitmap.h"
#include "tests/support/ImageTestSupport.h"

namespace {

using imagetest::Bytes;
using imagetest::Grey16;
using imagetest::Pixels;
using imagetest::Samples16;

MCImage Image8(const Bytes& pixels, uint32_t w, uint32_t h) {
    return MCImage(pixels.data(), w, h, 8, false, 0, 255, 0, 0);
}

// A w x h image of the given depth whose pixel (x, y) has the value f(x, y)
// (every byte of it for 24 and 32 bits, the sample for 16 bits).
MCImage Pattern(uint8_t bits, uint32_t w, uint32_t h, const std::function<uint32_t(uint32_t, uint32_t)>& f) {
    const uint32_t n = bits / 8;
    Bytes bytes(size_t(w) * h * n);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t v = f(x, y);
            uint8_t* p = &bytes[(size_t(y) * w + x) * n];
            if (bits == 16) {
                p[0] = uint8_t(v);
                p[1] = uint8_t(v >> 8);
            } else {
                for (uint32_t k = 0; k < n; ++k) p[k] = uint8_t(v);
            }
        }
    return MCImage(bytes.data(), w, h, bits, false, 0, bits == 16 ? 65535 : 255, 0, 0);
}

// The value of pixel (x, y): its first byte, or its sample for 16 bits.
uint32_t At(const MCImage& image, uint32_t x, uint32_t y) {
    const uint32_t n = image.GetBitsPerPixel() / 8;
    const uint8_t* p = image.GetBits() + (size_t(y) * image.GetWidth() + x) * n;
    return n == 2 ? uint32_t(p[0] | p[1] << 8) : p[0];
}

}  // namespace

// ---------------------------------------------------------------------------
// Nearest neighbour

TEST(MCImageResample, NearestReadsRoundedPositions) {
    // sx = 1.5: columns trunc(0 + 0.5) = 0 and trunc(1.5 + 0.5) = 2.
    MCImage image = Image8({10, 20, 30, 40, 50, 60}, 3, 2);
    ASSERT_TRUE(image.Resample(2, 2, MCImage::kNearest));
    EXPECT_EQ(image.GetWidth(), 2u);
    EXPECT_EQ(image.GetHeight(), 2u);
    EXPECT_EQ(Pixels(image), (Bytes{10, 30, 40, 60}));

    // Scaling up repeats pixels; positions are limited to the last column.
    MCImage up = Image8({1, 2}, 2, 1);
    ASSERT_TRUE(up.Resample(5, 1, MCImage::kNearest));
    EXPECT_EQ(Pixels(up), (Bytes{1, 1, 2, 2, 2}));  // 0.4 x j + 0.5: 0.5 0.9 1.3 1.7 2.1 -> 1

    for (uint8_t bits : {16, 24, 32}) {
        SCOPED_TRACE(int(bits));
        MCImage wide = Pattern(bits, 3, 1, [](uint32_t x, uint32_t) { return 100 + x; });
        ASSERT_TRUE(wide.Resample(2, 1, MCImage::kNearest));
        EXPECT_EQ(At(wide, 0, 0), 100u);
        EXPECT_EQ(At(wide, 1, 0), 102u);
        EXPECT_EQ(wide.GetDataSize(), 2u * bits / 8);
    }
}

TEST(MCImageResample, NearestKeepsPaletteAndHeader) {
    const uint8_t red[3] = {1, 2, 3}, green[3] = {4, 5, 6}, blue[3] = {7, 8, 9};
    const std::vector<uint16_t> samples = {0, 1, 2, 2};
    MCImage palette(samples.data(), 2, 2, 3, red, green, blue);
    palette.SetMonochrome1(true);
    // Bilinear scaling cannot mix palette colours: it falls back to nearest neighbour.
    ASSERT_TRUE(palette.Resample(4, 4, MCImage::kBilinear));
    EXPECT_EQ(palette.GetKind(), 3u);
    EXPECT_EQ(palette.GetPaletteCount(), 3u);
    EXPECT_TRUE(palette.IsMonochrome1());
    EXPECT_EQ(palette.GetBits(), palette.GetBlock() + 62);
    EXPECT_EQ(std::vector<uint8_t>(palette.GetPalette(), palette.GetPalette() + 12),
              (Bytes{1, 4, 7, 0, 2, 5, 8, 0, 3, 6, 9, 0}));
    // sx = 0.5: positions trunc(0.5 j + 0.5) = 0, 1, 1, 1 (2 limited to 1).
    EXPECT_EQ(Samples16(palette), (std::vector<int32_t>{0, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(palette.GetWindowCenter(), 128);
    EXPECT_EQ(palette.GetMin(), 0);
    EXPECT_EQ(palette.GetMax(), 255);

    // 8-bit colour palette: copied, indices picked by nearest neighbour.
    MCImage colour = Image8({0, 1, 2, 3}, 2, 2);
    Bytes entries(1024, 0);
    entries[4] = 255;
    colour.SetPalette(entries.data());
    ASSERT_TRUE(colour.Resample(1, 1, MCImage::kBilinear));
    EXPECT_EQ(Pixels(colour), (Bytes{0}));
    EXPECT_EQ(colour.GetPalette()[4], 255);
}

// ---------------------------------------------------------------------------
// Bilinear

TEST(MCImageResample, BilinearSixteenBit) {
    // 4 x 4 -> 2 x 2: sx = sy = 2, fx = fy = 0: the samples at even positions.
    MCImage down = Pattern(16, 4, 4, [](uint32_t x, uint32_t y) { return 1000 + 10 * y + x; });
    ASSERT_TRUE(down.Resample(2, 2, MCImage::kBilinear));
    EXPECT_EQ(Samples16(down), (std::vector<int32_t>{1000, 1002, 1020, 1022}));

    // 2 x 2 -> 4 x 4: sx = sy = 0.5; the last row and column repeat (G and M clamp to 1).
    MCImage up = Grey16({0, 100, 200, 300}, 2, 2, false, 0, 300, 150, 301);
    up.SetMonochrome1(true);
    ASSERT_TRUE(up.Resample(4, 4, MCImage::kBilinear));
    EXPECT_EQ(Samples16(up), (std::vector<int32_t>{0, 50, 100, 100,     //
                                                   100, 150, 200, 200,  //
                                                   200, 250, 300, 300,  //
                                                   200, 250, 300, 300}));
    EXPECT_EQ(up.GetKind(), 2u);
    EXPECT_TRUE(up.IsMonochrome1());
    EXPECT_EQ(up.GetWindowCenter(), 150);
    EXPECT_EQ(up.GetWindowWidth(), 301);
    EXPECT_EQ(up.GetMin(), 0);  // UpdateRange: 0..300, max raised to at least 255
    EXPECT_EQ(up.GetMax(), 300);

    // Signed samples, truncated toward zero: -1.5 -> -1 (not -2).
    MCImage signedImage = Grey16({uint16_t(-1), uint16_t(-2)}, 2, 1, true, -2, -1);
    ASSERT_TRUE(signedImage.Resample(4, 1, MCImage::kBilinear));
    EXPECT_TRUE(signedImage.IsSigned());
    EXPECT_EQ(Samples16(signedImage), (std::vector<int32_t>{-1, -1, -2, -2}));
    EXPECT_EQ(signedImage.GetMin(), -2);
    EXPECT_EQ(signedImage.GetMax(), -1);

    // Results are clamped to the source header's range, also where no weights mix.
    MCImage clamped = Grey16({1000, 0}, 2, 1, false, 0, 255, 128, 256);
    ASSERT_TRUE(clamped.Resample(4, 1, MCImage::kBilinear));
    EXPECT_EQ(Samples16(clamped), (std::vector<int32_t>{255, 255, 0, 0}));
    MCImage narrow = Grey16({uint16_t(-5), 1, 1000, 1, 0, 0, 0, 0}, 4, 2, true, -3, 500);
    ASSERT_TRUE(narrow.Resample(2, 1, MCImage::kBilinear));
    EXPECT_EQ(Samples16(narrow), (std::vector<int32_t>{-3, 500}));
}

TEST(MCImageResample, BilinearRgb) {
    MCImage rgb(Bytes{0, 10, 255, 100, 30, 0}.data(), 2, 1, 24, false, 0, 255, 0, 0);
    ASSERT_TRUE(rgb.Resample(4, 1, MCImage::kBilinear));
    EXPECT_EQ(Pixels(rgb), (Bytes{0, 10, 255, 50, 20, 127, 100, 30, 0, 100, 30, 0}));
    EXPECT_EQ(rgb.GetKind(), 4u);

    MCImage rgbx(Bytes{0, 10, 255, 8, 100, 30, 0, 4}.data(), 2, 1, 32, false, 0, 255, 0, 0);
    ASSERT_TRUE(rgbx.Resample(4, 1, MCImage::kBilinear));
    EXPECT_EQ(Pixels(rgbx), (Bytes{0, 10, 255, 8, 50, 20, 127, 6, 100, 30, 0, 4, 100, 30, 0, 4}));
    EXPECT_EQ(rgbx.GetKind(), 5u);
}

TEST(MCImageResample, BilinearGreyEightBitStaysGrey) {
    MCImage grey = Image8({0, 255}, 2, 1);
    grey.SetMonochrome1(true);
    ASSERT_TRUE(grey.Resample(4, 1, MCImage::kBilinear));
    EXPECT_EQ(Pixels(grey), (Bytes{0, 127, 255, 255}));
    EXPECT_FALSE(grey.IsColor());
    EXPECT_EQ(grey.GetBitsPerPixel(), 8);
    EXPECT_EQ(grey.GetMin(), 0);
    EXPECT_EQ(grey.GetMax(), 255);

    // The pixels go through the palette; the result has the plain grey palette.
    MCImage reversed = Image8({0, 255}, 2, 1);
    Bytes entries(1024);
    for (int i = 0; i < 256; ++i) entries[4 * i] = entries[4 * i + 1] = entries[4 * i + 2] = uint8_t(255 - i);
    reversed.SetPalette(entries.data());
    MCImage halved(reversed);
    ASSERT_TRUE(reversed.Resample(4, 1, MCImage::kBilinear));
    EXPECT_EQ(Pixels(reversed), (Bytes{255, 127, 0, 0}));
    EXPECT_EQ(reversed.GetPalette()[4 * 200], 200);
    ASSERT_TRUE(halved.Resample(1, 1, MCImage::kBilinear));
    EXPECT_EQ(Pixels(halved), (Bytes{255}));

    // Every grey level survives an identity-sized scaling.
    Bytes ramp(256);
    for (int i = 0; i < 256; ++i) ramp[i] = uint8_t(i);
    MCImage all = Image8(ramp, 16, 16);
    ASSERT_TRUE(all.Resample(16, 16, MCImage::kBilinear));
    EXPECT_EQ(Pixels(all), ramp);
}

TEST(MCImageResample, EmptySizesAndFailures) {
    // To and from zero widths and heights, every depth and mode: no crash.
    for (uint8_t bits : {8, 16, 24, 32})
        for (int mode : {MCImage::kNearest, MCImage::kBilinear}) {
            SCOPED_TRACE(int(bits) * 10 + mode);
            MCImage toEmpty = Pattern(bits, 3, 3, [](uint32_t x, uint32_t) { return x + 1; });
            ASSERT_TRUE(toEmpty.Resample(0, 5, mode));
            EXPECT_EQ(toEmpty.GetWidth(), 0u);
            EXPECT_EQ(toEmpty.GetHeight(), 5u);
            EXPECT_EQ(toEmpty.GetDataSize(), 0u);
            ASSERT_TRUE(toEmpty.Resample(4, 2, mode));
            EXPECT_EQ(Pixels(toEmpty), Bytes(8 * bits / 8, 0));
            MCImage noRows(nullptr, 7, 0, bits, false, 0, 255, 0, 0);
            ASSERT_TRUE(noRows.Resample(2, 2, mode));
            EXPECT_EQ(noRows.GetHeight(), 2u);
        }

    // Unsupported depth and mode, and sizes beyond 32 bits: false, image unchanged.
    MCImage other(nullptr, 2, 2, 12, false, 0, 255, 0, 0);
    EXPECT_FALSE(other.Resample(4, 4, MCImage::kNearest));
    EXPECT_EQ(other.GetWidth(), 2u);
    MCImage image = Image8({1, 2, 3, 4}, 2, 2);
    EXPECT_FALSE(image.Resample(4, 4, 2));
    EXPECT_FALSE(image.Resample(70000, 70000, MCImage::kNearest));
    EXPECT_FALSE(image.Resample(0xFFFFFFFF, 1, MCImage::kBilinear));
    EXPECT_EQ(image.GetWidth(), 2u);
    EXPECT_EQ(Pixels(image), (Bytes{1, 2, 3, 4}));
}

// ---------------------------------------------------------------------------
// Canvas

TEST(MCImageCanvas, NarrowImageIsCentred) {
    // 64 x 128: 32 columns of background on each side; the background is the
    // bottom-right pixel's colour.
    MCImage image = Pattern(8, 64, 128, [](uint32_t x, uint32_t y) { return (x + y) % 200 + 1; });
    image.GetBits()[64 * 128 - 1] = 222;
    ASSERT_TRUE(image.CenterOnCanvas());
    ASSERT_EQ(image.GetWidth(), 128u);
    ASSERT_EQ(image.GetHeight(), 128u);
    for (uint32_t y = 0; y < 128; ++y)
        for (uint32_t x = 0; x < 128; ++x) {
            const uint32_t want = x < 32 || x >= 96 ? 222 : x == 95 && y == 127 ? 222 : (x - 32 + y) % 200 + 1;
            ASSERT_EQ(At(image, x, y), want) << x << "," << y;
        }
}

TEST(MCImageCanvas, LargeImageIsCropped) {
    // 200 x 100: cropped by 36 columns on each side, placed 14 rows down.
    MCImage image = Pattern(16, 200, 100, [](uint32_t x, uint32_t y) { return y * 200 + x; });
    image.SetMonochrome1(true);
    image.SetWindow(5000, 9000);
    ASSERT_TRUE(image.CenterOnCanvas());
    ASSERT_EQ(image.GetWidth(), 128u);
    for (uint32_t y = 0; y < 128; ++y)
        for (uint32_t x = 0; x < 128; ++x) {
            const uint32_t want = y < 14 || y >= 114 ? 19999 : (y - 14) * 200 + x + 36;
            ASSERT_EQ(At(image, x, y), want) << x << "," << y;
        }
    EXPECT_TRUE(image.IsMonochrome1());
    EXPECT_EQ(image.GetWindowCenter(), 5000);
    EXPECT_EQ(image.GetWindowWidth(), 9000);
    EXPECT_EQ(image.GetMin(), 36);  // the first copied sample
    EXPECT_EQ(image.GetMax(), 19999);
}

TEST(MCImageCanvas, BackgroundOfEachDepth) {
    MCImage rgb(Bytes{1, 2, 3, 200, 100, 50}.data(), 2, 1, 24, false, 0, 255, 0, 0);
    ASSERT_TRUE(rgb.CenterOnCanvas());
    const uint8_t* p = rgb.GetBits();
    EXPECT_EQ(Bytes(p, p + 3), (Bytes{200, 100, 50}));
    p += (63 * 128 + 63) * 3;
    EXPECT_EQ(Bytes(p, p + 6), (Bytes{1, 2, 3, 200, 100, 50}));

    MCImage rgbx(Bytes{1, 2, 3, 4, 200, 100, 50, 9}.data(), 2, 1, 32, false, 0, 255, 0, 0);
    ASSERT_TRUE(rgbx.CenterOnCanvas());
    p = rgbx.GetBits();
    EXPECT_EQ(Bytes(p, p + 4), (Bytes{200, 100, 50, 0}));
    p += (63 * 128 + 63) * 4;
    EXPECT_EQ(Bytes(p, p + 8), (Bytes{1, 2, 3, 4, 200, 100, 50, 9}));

    // 8-bit: the palette comes along.
    MCImage colour = Image8({5, 1}, 2, 1);
    Bytes entries(1024, 7);
    colour.SetPalette(entries.data());
    ASSERT_TRUE(colour.CenterOnCanvas());
    EXPECT_EQ(At(colour, 0, 0), 1u);
    EXPECT_EQ(colour.GetPalette()[0], 7);

    // 16-bit palette image: header and palette copied, signed flag kept.
    const uint8_t red[2] = {9, 8};
    const std::vector<uint16_t> samples = {0, 1};
    MCImage palette(samples.data(), 2, 1, 2, red, red, red);
    ASSERT_TRUE(palette.CenterOnCanvas());
    EXPECT_EQ(palette.GetKind(), 3u);
    EXPECT_EQ(palette.GetPaletteCount(), 2u);
    EXPECT_EQ(palette.GetPalette()[4], 8);
    EXPECT_EQ(At(palette, 0, 0), 1u);

    // No pixels: a plain canvas.
    MCImage empty(nullptr, 0, 9, 24, false, 0, 255, 0, 0);
    ASSERT_TRUE(empty.CenterOnCanvas());
    EXPECT_EQ(Pixels(empty), Bytes(128 * 128 * 3, 0));
    MCImage other(nullptr, 2, 2, 12, false, 0, 255, 0, 0);
    EXPECT_FALSE(other.CenterOnCanvas());
}

// ---------------------------------------------------------------------------
// Thumbnail bitmap

TEST(ThumbnailBitmap, FitSize) {
    struct Case {
        uint32_t w, h, wantW, wantH;
    };
    const Case cases[] = {
        {512, 256, 128, 64}, {256, 512, 64, 128}, {100, 100, 128, 128}, {3, 1, 128, 43},
        {1, 3, 43, 128},     {1000, 1, 128, 0},   {0, 5, 0, 128},       {5, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const ThumbnailSize size = ThumbnailFitSize(c.w, c.h);
        EXPECT_EQ(size.width, c.wantW) << c.w << "x" << c.h;
        EXPECT_EQ(size.height, c.wantH) << c.w << "x" << c.h;
    }
}

TEST(ThumbnailBitmap, ScreenDepths) {
    // Pixels 0..3: white, black, (200, 100, 50), grey 128; the rest (1, 2, 3).
    Bytes rgb(128 * 128 * 3);
    for (size_t i = 0; i < 128 * 128; ++i) rgb[3 * i] = 1, rgb[3 * i + 1] = 2, rgb[3 * i + 2] = 3;
    const Bytes first = {255, 255, 255, 0, 0, 0, 200, 100, 50, 128, 128, 128};
    std::copy(first.begin(), first.end(), rgb.begin());
    MCImage image(rgb.data(), 128, 128, 24, false, 0, 255, 0, 0);

    struct Case {
        int depth;
        size_t size;
        Bytes head;  // the bytes of the first four pixels
        Bytes last;  // the bytes of the last pixel
    };
    const Case cases[] = {
        {32, 65536, {255, 255, 255, 0, 0, 0, 0, 0, 50, 100, 200, 0, 128, 128, 128, 0}, {3, 2, 1, 0}},
        {24, 49152, {255, 255, 255, 0, 0, 0, 50, 100, 200, 128, 128, 128}, {3, 2, 1}},
        // (R / 8) x 2048 + (G / 8) x 64 + B / 8: white 0xFFDF, (200, 100, 50) 0xCB06, grey 128 0x8410.
        {16, 32768, {0xDF, 0xFF, 0x00, 0x00, 0x06, 0xCB, 0x10, 0x84}, {0x00, 0x00}},
        // v = trunc((0.12 B + 0.59 G + 0.29 R + 0.5) x 14 / 255): white 14 -> 255, black 0,
        // (200, 100, 50) 123.5 -> 6 -> 239, grey 128 -> 7 -> 240, (1, 2, 3) -> 0.
        {8, 16384, {255, 0, 239, 240}, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.depth);
        std::vector<uint8_t> bits(5, 0xAA);
        ASSERT_TRUE(MakeThumbnailBitmapBits(&image, c.depth, bits));
        ASSERT_EQ(bits.size(), c.size);
        EXPECT_EQ(Bytes(bits.begin(), bits.begin() + c.head.size()), c.head);
        EXPECT_EQ(Bytes(bits.end() - c.last.size(), bits.end()), c.last);
    }
    // The 8-bit grey levels: 0, 234..246, 255.
    std::vector<int> levels;
    for (int g = 0; g < 256; ++g) {
        Bytes one(128 * 128 * 3, uint8_t(g));
        MCImage grey(one.data(), 128, 128, 24, false, 0, 255, 0, 0);
        std::vector<uint8_t> bits;
        ASSERT_TRUE(MakeThumbnailBitmapBits(&grey, 8, bits));
        if (levels.empty() || levels.back() != bits[0]) levels.push_back(bits[0]);
    }
    EXPECT_EQ(levels, (std::vector<int>{0, 234, 235, 236, 237, 238, 239, 240, 241, 242, 243, 244, 245, 246, 255}));

    // Another depth: nothing to draw, but no failure.
    for (int depth : {0, 1, 4, 15, 64}) {
        std::vector<uint8_t> bits(3, 1);
        EXPECT_TRUE(MakeThumbnailBitmapBits(&image, depth, bits)) << depth;
        EXPECT_TRUE(bits.empty()) << depth;
    }
}

TEST(ThumbnailBitmap, FitsImagesOfOtherSizes) {
    // 256 x 128, 8-bit with a colour palette: nearest to 128 x 64, canvas, 24 bits.
    MCImage wide = Pattern(8, 256, 128, [](uint32_t x, uint32_t) { return x < 128 ? 1 : 2; });
    Bytes entries(1024, 0);
    entries[4] = 255;      // index 1: red
    entries[8 + 2] = 255;  // index 2: blue
    wide.SetPalette(entries.data());
    std::vector<uint8_t> bits;
    ASSERT_TRUE(MakeThumbnailBitmapBits(&wide, 24, bits));
    ASSERT_EQ(bits.size(), 49152u);
    auto pixel = [&](uint32_t x, uint32_t y) {
        const size_t i = (size_t(y) * 128 + x) * 3;
        return Bytes{bits[i], bits[i + 1], bits[i + 2]};  // B, G, R
    };
    EXPECT_EQ(pixel(0, 0), (Bytes{255, 0, 0}));     // background: the bottom-right pixel, blue
    EXPECT_EQ(pixel(0, 32), (Bytes{0, 0, 255}));    // first copied row, left half red
    EXPECT_EQ(pixel(127, 95), (Bytes{255, 0, 0}));  // last copied row, right half blue
    EXPECT_EQ(pixel(0, 96), (Bytes{255, 0, 0}));
    EXPECT_EQ(pixel(63, 50), (Bytes{0, 0, 255}));
    EXPECT_EQ(pixel(64, 50), (Bytes{255, 0, 0}));
    // The given image is not touched.
    EXPECT_EQ(wide.GetWidth(), 256u);

    // A square 16-bit image: nearest to 128 x 128 (column 63 reads trunc(31.5 + 0.5) = 32)
    // and through its window (low 1501, high 2500).
    MCImage square = Pattern(16, 64, 64, [](uint32_t x, uint32_t) { return x < 32 ? 1000 : 3000; });
    square.SetWindow(2000, 1000);
    ASSERT_TRUE(MakeThumbnailBitmapBits(&square, 32, bits));
    ASSERT_EQ(bits.size(), 65536u);
    EXPECT_EQ(bits[0], 0);
    EXPECT_EQ(bits[4 * 62], 0);
    EXPECT_EQ(bits[4 * 63], 255);
    EXPECT_EQ(bits[4 * (127 * 128 + 127)], 255);
}

TEST(ThumbnailBitmap, UnusableImagesClearThePicture) {
    const Bytes cleared(65536, 0);
    std::vector<uint8_t> bits(7, 1);
    EXPECT_FALSE(MakeThumbnailBitmapBits(nullptr, 32, bits));
    EXPECT_EQ(bits, cleared);

    MCImage noRows(nullptr, 5, 0, 24, false, 0, 255, 0, 0);
    bits.assign(3, 1);
    EXPECT_FALSE(MakeThumbnailBitmapBits(&noRows, 32, bits));
    EXPECT_EQ(bits, cleared);

    MCImage noBlock(nullptr, 65536, 65536, 8, false, 0, 255, 0, 0);
    EXPECT_FALSE(MakeThumbnailBitmapBits(&noBlock, 32, bits));
    EXPECT_EQ(bits, cleared);

    // A 128 x 128 image of an unsupported depth holds one byte per pixel, not
    // three: it cannot be read as RGB.
    MCImage other(nullptr, 128, 128, 12, false, 0, 255, 0, 0);
    EXPECT_FALSE(MakeThumbnailBitmapBits(&other, 32, bits));
    EXPECT_EQ(bits, cleared);
    MCImage otherFit(nullptr, 20, 10, 12, false, 0, 255, 0, 0);
    EXPECT_FALSE(MakeThumbnailBitmapBits(&otherFit, 32, bits));

    // No columns: an empty strip centred on a plain canvas.
    MCImage noColumns(nullptr, 0, 10, 8, false, 0, 255, 0, 0);
    EXPECT_TRUE(MakeThumbnailBitmapBits(&noColumns, 32, bits));
    EXPECT_EQ(bits, cleared);
}
