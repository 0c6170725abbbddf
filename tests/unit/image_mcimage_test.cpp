// The image block: layout, construction rules, sizes that do not fit, palette,
// range, inversion, copies and the conversion to 24 bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "image/MCImage.h"
#include "tests/support/ImageTestSupport.h"

namespace {

using imagetest::Bytes;
using imagetest::Grey16;
using imagetest::Pixels;
using imagetest::Samples16;

uint32_t U32(const uint8_t* b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

Bytes BlockBytes(const MCImage& image) {
    return image.HasBlock() ? Bytes(image.GetBlock(), image.GetBlock() + image.GetBlockSize()) : Bytes();
}

MCImage Rgb(const Bytes& bytes, uint32_t w, uint32_t h, uint8_t bits) {
    return MCImage(bytes.data(), w, h, bits, false, 0, 255, 0, 0);
}

// 256 palette entries: grey except entry 1 = (200, 100, 50).
Bytes ColourPalette() {
    Bytes p(1024);
    for (int i = 0; i < 256; ++i) {
        p[4 * i] = p[4 * i + 1] = p[4 * i + 2] = uint8_t(i);
        p[4 * i + 3] = 0;
    }
    p[4] = 200, p[5] = 100, p[6] = 50;
    return p;
}

}  // namespace

// ---------------------------------------------------------------------------
// Layout

TEST(MCImageLayout, SixteenBitBlockByteForByte) {
    const std::vector<uint16_t> samples = {0x1234, 0xFFFE};
    MCImage image = Grey16(samples, 2, 1, true, -5, 100, 1064, 400);
    image.SetMonochrome1(true);
    const Bytes expected = {
        2,    0,    0,    0,                 // width
        1,    0,    0,    0,                 // height
        16,                                  // bits per pixel
        1,                                   // MONOCHROME1 mark
        1,                                   // signed
        0,                                   // reserved
        2,    0,    0,    0,                 // kind: 16-bit grey
        0,    0,                             // reserved
        4,    0,    0,    0,                 // data size
        0x28, 0x04, 0,    0,                 // centre 1064
        0x90, 0x01, 0,    0,                 // width 400
        0xFB, 0xFF, 0xFF, 0xFF,              // min -5
        100,  0,    0,    0,                 // max
        0,    0,    0,    0,                 // palette count
        0,    0,    0,    0,    0, 0, 0, 0,  // reserved
        0x34, 0x12, 0xFE, 0xFF,              // samples
    };
    EXPECT_EQ(BlockBytes(image), expected);
    EXPECT_EQ(image.GetBits(), image.GetBlock() + 50);
}

TEST(MCImageLayout, PaletteAndPixelOffsetsByDepth) {
    const uint8_t red[3] = {1, 2, 3}, green[3] = {4, 5, 6}, blue[3] = {7, 8, 9};
    const uint16_t samples[6] = {0, 1, 2, 2, 1, 0};
    struct Case {
        const char* name;
        MCImage image;
        uint32_t kind, pixelOffset, dataSize, paletteCount;
    };
    Case cases[] = {
        {"8-bit: 256 entries", MCImage(nullptr, 2, 3, 8, false, 0, 255, 0, 0), 0, 1074, 6, 256},
        {"16-bit grey: no palette", MCImage(nullptr, 2, 3, 16, false, 0, 255, 0, 0), 2, 50, 12, 0},
        {"16-bit with 3 palette entries", MCImage(samples, 2, 3, 3, red, green, blue), 3, 62, 12, 3},
        {"24-bit", MCImage(nullptr, 2, 3, 24, false, 0, 255, 0, 0), 4, 50, 18, 0},
        {"32-bit", MCImage(nullptr, 2, 3, 32, false, 0, 255, 0, 0), 5, 50, 24, 0},
        {"another depth: kind 0, no palette", MCImage(nullptr, 2, 3, 12, false, 0, 255, 0, 0), 0, 50, 6, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint8_t* b = c.image.GetBlock();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(U32(b, 12), c.kind);
        EXPECT_EQ(U32(b, 18), c.dataSize);
        EXPECT_EQ(U32(b, 38), c.paletteCount);
        EXPECT_EQ(c.image.GetBits(), b + c.pixelOffset);
        EXPECT_EQ(c.image.GetBlockSize(), c.pixelOffset + c.dataSize);
        for (size_t i = 42; i < 50; ++i) EXPECT_EQ(b[i], 0) << i;
    }
    // The palettes themselves: grey ramp for 8 bits, the given tables for 16.
    const uint8_t* p8 = cases[0].image.GetBlock() + 50;
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(p8[4 * i], i);
        ASSERT_EQ(p8[4 * i + 1], i);
        ASSERT_EQ(p8[4 * i + 2], i);
        ASSERT_EQ(p8[4 * i + 3], 0);
    }
    const uint8_t* p16 = cases[2].image.GetBlock() + 50;
    EXPECT_EQ(Bytes(p16, p16 + 3), (Bytes{1, 4, 7}));
    EXPECT_EQ(Bytes(p16 + 8, p16 + 11), (Bytes{3, 6, 9}));
    EXPECT_EQ(Samples16(cases[2].image), (std::vector<int32_t>{0, 1, 2, 2, 1, 0}));
}

TEST(MCImageLayout, BlankBlocks) {
    struct Case {
        uint8_t bits;
        uint32_t kind;
        int32_t center, width, min, max;
        uint32_t paletteCount, pixelOffset;
    };
    const Case cases[] = {
        {8, 0, 128, 256, 0, 255, 256, 1074},
        {16, 2, 0, 0, 0, 0, 0, 50},
        {24, 4, 128, 256, 0, 255, 0, 50},
        {32, 5, 128, 256, 0, 255, 0, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.bits));
        const quillon::ImageBlock block = MCImage::MakeBlankBlock(c.bits, 3, 2);
        ASSERT_TRUE(block);
        const uint8_t* b = block.data.get();
        const uint32_t dataSize = 3 * 2 * c.bits / 8;
        EXPECT_EQ(block.size, c.pixelOffset + dataSize);
        EXPECT_EQ(U32(b, 0), 3u);
        EXPECT_EQ(U32(b, 4), 2u);
        EXPECT_EQ(b[8], c.bits);
        EXPECT_EQ(b[9], 0);
        EXPECT_EQ(b[10], 0);
        EXPECT_EQ(U32(b, 12), c.kind);
        EXPECT_EQ(U32(b, 18), dataSize);
        EXPECT_EQ(int32_t(U32(b, 22)), c.center);
        EXPECT_EQ(int32_t(U32(b, 26)), c.width);
        EXPECT_EQ(int32_t(U32(b, 30)), c.min);
        EXPECT_EQ(int32_t(U32(b, 34)), c.max);
        EXPECT_EQ(U32(b, 38), c.paletteCount);
        for (uint32_t i = 0; i < dataSize; ++i) EXPECT_EQ(b[c.pixelOffset + i], 0);
        if (c.bits == 8) {
            EXPECT_EQ(b[50 + 4 * 77 + 1], 77);
        }
    }
    EXPECT_FALSE(MCImage::MakeBlankBlock(12, 3, 2));
    EXPECT_TRUE(MCImage::MakeBlankBlock24(0, 0));
    EXPECT_EQ(MCImage::MakeBlankBlock32(0, 7).size, 50u);
}

// ---------------------------------------------------------------------------
// Construction

TEST(MCImageConstruction, RangeAndWindowRules) {
    struct Case {
        const char* name;
        uint8_t bits;
        bool isSigned;
        int32_t min, max, center, width;
        int32_t wantMin, wantMax, wantCenter, wantWidth;
    };
    const int32_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
    const Case cases[] = {
        {"16 unsigned, max below 255: 0..255", 16, false, 0, 100, 0, 0, 0, 255, 128, 256},
        {"16 unsigned, min above 0, max below 255", 16, false, 20, 100, 0, 0, 0, 255, 128, 256},
        {"16 unsigned wide range kept", 16, false, 1000, 3000, 0, 0, 1000, 3000, 2001, 2001},
        {"16 unsigned max 255: min 0", 16, false, 100, 255, 0, 0, 0, 255, 128, 256},
        {"16 unsigned min above max: min 0", 16, false, 500, 400, 0, 0, 0, 400, 201, 401},
        {"16 signed range kept", 16, true, -100, 50, 0, 0, -100, 50, -24, 151},
        {"16 signed odd span divides toward zero", 16, true, -101, 50, 0, 0, -101, 50, -25, 152},
        {"16 given window kept", 16, false, 0, 4095, 1064, 400, 0, 4095, 1064, 400},
        {"16 only a centre given: kept", 16, false, 0, 4095, 7, 0, 0, 4095, 7, 0},
        {"16 full 32-bit span saturates", 16, true, lo, hi, 0, 0, lo, hi, 0, hi},
        {"8-bit: 0..255, 128/256", 8, false, 7, 9, 0, 0, 0, 255, 128, 256},
        {"8-bit given window kept", 8, false, 7, 9, 40, 400, 0, 255, 40, 400},
        {"24-bit", 24, true, -4, 4000, 0, 0, 0, 255, 128, 256},
        {"32-bit", 32, false, 0, 0, 0, 0, 0, 255, 128, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MCImage image(nullptr, 2, 2, c.bits, c.isSigned, c.min, c.max, c.center, c.width);
        ASSERT_TRUE(image.HasBlock());
        EXPECT_EQ(image.GetMin(), c.wantMin);
        EXPECT_EQ(image.GetMax(), c.wantMax);
        EXPECT_EQ(image.GetWindowCenter(), c.wantCenter);
        EXPECT_EQ(image.GetWindowWidth(), c.wantWidth);
        EXPECT_EQ(image.IsSigned(), c.isSigned);
        EXPECT_FALSE(image.IsMonochrome1());
        EXPECT_EQ(Pixels(image), Bytes(4 * c.bits / 8, 0));
    }
}

TEST(MCImageConstruction, PaletteImage) {
    const uint8_t red[2] = {10, 20}, green[2] = {30, 40}, blue[2] = {50, 60};
    const std::vector<uint16_t> samples = {1, 0, 1, 5};
    MCImage colour(samples.data(), 2, 2, 2, red, green, blue);
    EXPECT_EQ(colour.GetKind(), 3u);
    EXPECT_EQ(colour.GetPaletteCount(), 2u);
    EXPECT_EQ(colour.GetWindowCenter(), 128);
    EXPECT_EQ(colour.GetWindowWidth(), 256);
    EXPECT_EQ(colour.GetMin(), 0);
    EXPECT_EQ(colour.GetMax(), 0);
    EXPECT_FALSE(colour.IsSigned());
    EXPECT_TRUE(colour.IsColor());
    EXPECT_EQ(Bytes(colour.GetPalette() + 4, colour.GetPalette() + 7), (Bytes{20, 40, 60}));

    // Without palette entries the range comes from the samples.
    struct Case {
        std::vector<uint16_t> samples;
        int32_t min, max, center, width;
    };
    const Case cases[] = {
        {{300, 1000, 500, 700}, 300, 1000, 651, 701},
        {{0, 100, 7, 7}, 0, 255, 128, 256},
        {{10, 255, 10, 10}, 0, 255, 128, 256},
        {{40000, 65535, 50000, 50000}, 40000, 65535, 52768, 25536},
    };
    for (const Case& c : cases) {
        MCImage grey(c.samples.data(), 2, 2, 0, nullptr, nullptr, nullptr);
        EXPECT_EQ(grey.GetKind(), 2u);
        EXPECT_EQ(grey.GetMin(), c.min);
        EXPECT_EQ(grey.GetMax(), c.max);
        EXPECT_EQ(grey.GetWindowCenter(), c.center);
        EXPECT_EQ(grey.GetWindowWidth(), c.width);
        EXPECT_FALSE(grey.IsColor());
    }

    // Missing colour tables read as 0.
    MCImage noTables(samples.data(), 2, 2, 2, red, nullptr, nullptr);
    EXPECT_EQ(Bytes(noTables.GetPalette(), noTables.GetPalette() + 3), (Bytes{10, 0, 0}));
}

TEST(MCImageConstruction, ShortBuffersAreNotReadPastTheirEnd) {
    // Heap copies of exactly the given length, so that AddressSanitizer sees any over-read.
    std::vector<uint8_t> bytes = {1, 2, 3};
    MCImage image(bytes.data(), 2, 2, 8, false, 0, 255, 0, 0, bytes.size());
    EXPECT_EQ(Pixels(image), (Bytes{1, 2, 3, 0}));
    std::vector<uint16_t> samples = {300, 400};
    MCImage words(samples.data(), 2, 2, 0, nullptr, nullptr, nullptr, samples.size());
    EXPECT_EQ(Samples16(words), (std::vector<int32_t>{300, 400, 0, 0}));
    EXPECT_EQ(words.GetMin(), 0);
    EXPECT_EQ(words.GetMax(), 400);
}

// Every size is computed in 64 bits: a block that would not fit its 32-bit
// fields is not made (no wrapped, too small block).
TEST(MCImageConstruction, SizesBeyondThirtyTwoBitsGiveNoBlock) {
    struct Case {
        const char* name;
        uint32_t w, h;
        uint8_t bits;
    };
    const uint32_t maxU = std::numeric_limits<uint32_t>::max();
    const Case cases[] = {
        {"8-bit, exactly 4 GiB of pixels", 65536, 65536, 8},
        {"16-bit, 8 GiB", 65536, 65536, 16},
        {"32-bit, width x height x 4 beyond 64 bits", maxU, maxU, 32},
        {"24-bit, data size fits, block size wraps", 0x55555555, 1, 24},
        {"8-bit, data size fits, palette and header wrap", maxU, 1, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MCImage image(nullptr, c.w, c.h, c.bits, false, 0, 255, 0, 0);
        EXPECT_FALSE(image.HasBlock());
        EXPECT_EQ(image.GetBlockSize(), 0u);
        EXPECT_FALSE(MCImage::MakeBlankBlock(c.bits, c.w, c.h));
    }
    // The palette adds its own bytes to the 16-bit block.
    EXPECT_FALSE(MCImage(nullptr, 1, 1, 0x40000000, nullptr, nullptr, nullptr).HasBlock());
    EXPECT_FALSE(MCImage(nullptr, 1, 1, 0x3FFFFFFF, nullptr, nullptr, nullptr).HasBlock());
    EXPECT_FALSE(MCImage(nullptr, 0x7FFFFFFF, 2, 0, nullptr, nullptr, nullptr).HasBlock());
}

TEST(MCImageConstruction, AnImageWithoutBlockFailsEveryOperation) {
    MCImage image(nullptr, 65536, 65536, 16, false, 0, 255, 0, 0);
    ASSERT_FALSE(image.HasBlock());
    EXPECT_EQ(image.GetBits(), nullptr);
    EXPECT_EQ(image.GetPalette(), nullptr);
    EXPECT_FALSE(image.IsColor());
    EXPECT_EQ(image.ConvertTo24Bit(), 0u);
    EXPECT_FALSE(image.Resample(4, 4, MCImage::kBilinear));
    EXPECT_FALSE(image.Resample(4, 4, MCImage::kNearest));
    EXPECT_FALSE(image.CenterOnCanvas());
    EXPECT_FALSE(image.SetPalette(ColourPalette().data()));
    image.Invert();
    image.UpdateRange();
    image.SetMonochrome1(true);
    EXPECT_EQ(image.GetWidth(), 0u);
    EXPECT_FALSE(MCImage(image).HasBlock());
}

TEST(MCImageConstruction, CopyIsIndependent) {
    const Bytes pixels = {1, 2, 3, 4};
    MCImage source(pixels.data(), 2, 2, 8, false, 0, 255, 0, 0);
    source.SetMonochrome1(true);
    const Bytes before = BlockBytes(source);
    MCImage copy(source);
    ASSERT_TRUE(copy.HasBlock());
    EXPECT_NE(copy.GetBlock(), source.GetBlock());
    EXPECT_EQ(BlockBytes(copy), before);

    copy.GetBits()[0] = 99;
    copy.Invert();
    copy.SetPalette(ColourPalette().data());
    copy.SetMonochrome1(false);
    ASSERT_TRUE(copy.Resample(3, 3, MCImage::kNearest));
    EXPECT_EQ(BlockBytes(source), before);

    MCImage moved(std::move(copy));
    EXPECT_EQ(moved.GetWidth(), 3u);
}

// ---------------------------------------------------------------------------
// Luma

TEST(MCImageLuma, EveryColourMatchesTheFormula) {
    EXPECT_EQ(MCImage::Luma(255, 255, 255), 255);
    EXPECT_EQ(MCImage::Luma(0, 0, 0), 0);
    EXPECT_EQ(MCImage::Luma(255, 0, 0), 76);   // 76.245 + 0.5
    EXPECT_EQ(MCImage::Luma(0, 255, 0), 150);  // 149.685 + 0.5
    EXPECT_EQ(MCImage::Luma(0, 0, 255), 29);   // 29.07 + 0.5
    for (uint32_t rgb = 0; rgb < (1u << 24); ++rgb) {
        const uint8_t r = uint8_t(rgb >> 16), g = uint8_t(rgb >> 8), b = uint8_t(rgb);
        const double y = std::trunc(0.299 * r + 0.587 * g + 0.114 * b + 0.5);
        const auto want = uint8_t(y < 0 ? 0 : y > 255 ? 255 : y);
        if (MCImage::Luma(r, g, b) != want) {
            ADD_FAILURE() << "luma of " << int(r) << "," << int(g) << "," << int(b);
            break;
        }
    }
    for (int v = 0; v < 256; ++v) EXPECT_EQ(MCImage::Luma(uint8_t(v), uint8_t(v), uint8_t(v)), v);
}

// ---------------------------------------------------------------------------
// Palette, range and inversion

TEST(MCImagePalette, IsColorAndSetPalette) {
    MCImage grey8(nullptr, 2, 2, 8, false, 0, 255, 0, 0);
    EXPECT_FALSE(grey8.IsColor());
    const Bytes palette = ColourPalette();
    EXPECT_TRUE(grey8.SetPalette(palette.data()));
    EXPECT_TRUE(grey8.IsColor());
    EXPECT_EQ(Bytes(grey8.GetPalette(), grey8.GetPalette() + 1024), palette);

    MCImage grey16(nullptr, 2, 2, 16, false, 0, 255, 0, 0);
    EXPECT_FALSE(grey16.IsColor());
    EXPECT_FALSE(grey16.SetPalette(palette.data()));
    EXPECT_TRUE(MCImage(nullptr, 2, 2, 24, false, 0, 255, 0, 0).IsColor());
    EXPECT_TRUE(MCImage(nullptr, 2, 2, 32, false, 0, 255, 0, 0).IsColor());
}

TEST(MCImagePalette, UpdateRange) {
    struct Case {
        const char* name;
        std::vector<uint16_t> samples;
        bool isSigned;
        int32_t min, max;
    };
    const Case cases[] = {
        {"unsigned wide", {300, 5000, 700, 300}, false, 300, 5000},
        {"unsigned below 255", {10, 200, 10, 10}, false, 0, 255},
        {"unsigned max 255", {100, 255, 100, 100}, false, 0, 255},
        {"unsigned above 32767", {40000, 65535, 40000, 40000}, false, 40000, 65535},
        {"signed", {uint16_t(-5), 3, 0, 0}, true, -5, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MCImage image = Grey16(c.samples, 2, 2, c.isSigned, 0, 0, 1, 1);
        image.UpdateRange();
        EXPECT_EQ(image.GetMin(), c.min);
        EXPECT_EQ(image.GetMax(), c.max);
    }
    const uint8_t red[1] = {1};
    const std::vector<uint16_t> samples = {1000, 2000};
    MCImage palette(samples.data(), 2, 1, 1, red, red, red);
    palette.UpdateRange();
    EXPECT_EQ(palette.GetMin(), 0);
    EXPECT_EQ(palette.GetMax(), 255);
    MCImage empty(nullptr, 0, 4, 16, true, -3, 3, 0, 0);
    empty.UpdateRange();
    EXPECT_EQ(empty.GetMin(), 0);
    EXPECT_EQ(empty.GetMax(), 0);
}

TEST(MCImageInvert, EightBit) {
    const Bytes pixels = {10, 0, 255, 1};
    MCImage grey(pixels.data(), 2, 2, 8, false, 0, 255, 0, 0);
    grey.Invert();
    EXPECT_EQ(Pixels(grey), (Bytes{245, 255, 0, 254}));
    EXPECT_EQ(grey.GetPalette()[4 * 10], 10);

    // A colour palette: the palette changes, the indices do not.
    MCImage colour(pixels.data(), 2, 2, 8, false, 0, 255, 0, 0);
    Bytes palette = ColourPalette();
    palette[7] = 9;
    colour.SetPalette(palette.data());
    colour.Invert();
    EXPECT_EQ(Pixels(colour), pixels);
    EXPECT_EQ(Bytes(colour.GetPalette() + 4, colour.GetPalette() + 8), (Bytes{55, 155, 205, 9}));
    EXPECT_EQ(colour.GetPalette()[4 * 10], 245);
}

TEST(MCImageInvert, SixteenBitIsMaxMinusTheClampedSample) {
    struct Case {
        const char* name;
        bool isSigned;
        int32_t min, max;
        std::vector<uint16_t> samples;
        std::vector<int32_t> inverted;
    };
    const Case cases[] = {
        {"unsigned", false, 1000, 4000, {1000, 4000, 2500, 500, 5000, 1000}, {3000, 0, 1500, 3000, 0, 3000}},
        // Unsigned samples above 32767 are large values, not negative ones.
        {"unsigned above 32767", false, 0, 60000, {40000, 60000, 0, 65535, 0, 0}, {20000, 0, 60000, 0, 60000, 60000}},
        {"signed", true, -100, 100, {uint16_t(-100), 100, 0, uint16_t(-200), 200, 0}, {200, 0, 100, 200, 0, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MCImage image = Grey16(c.samples, 3, 2, c.isSigned, c.min, c.max);
        ASSERT_EQ(image.GetMin(), c.min);
        ASSERT_EQ(image.GetMax(), c.max);
        image.Invert();
        EXPECT_EQ(Samples16(image), c.inverted);
    }
}

TEST(MCImageInvert, RgbKeepsTheFourthByte) {
    MCImage rgb = Rgb({10, 20, 30, 0, 0, 255}, 2, 1, 24);
    rgb.Invert();
    EXPECT_EQ(Pixels(rgb), (Bytes{245, 235, 225, 255, 255, 0}));
    MCImage rgbx = Rgb({10, 20, 30, 40, 1, 2, 3, 4}, 2, 1, 32);
    rgbx.Invert();
    EXPECT_EQ(Pixels(rgbx), (Bytes{245, 235, 225, 40, 254, 253, 252, 4}));
    MCImage other(nullptr, 2, 1, 12, false, 0, 255, 0, 0);
    other.Invert();
    EXPECT_EQ(Pixels(other), (Bytes{0, 0}));
}

// ---------------------------------------------------------------------------
// Conversion to 24 bits

TEST(MCImageConvert, SixteenBitGreyThroughTheWindow) {
    struct Case {
        const char* name;
        bool isSigned;
        int32_t min, max, center, width;
        std::vector<uint16_t> samples;
        Bytes grey;
    };
    const Case cases[] = {
        // low = 1064 - 200 + 1 = 865, high = 1264.
        {"C 1064 W 400", false, 0, 4095, 1064, 400, {865, 1264, 864, 4000, 1064, 1065}, {0, 255, 0, 255, 127, 128}},
        // low = -99, high = 100.
        {"signed",
         true,
         -1000,
         1000,
         0,
         200,
         {uint16_t(-100), 100, 0, uint16_t(-1000), 1000, 1},
         {0, 255, 127, 0, 255, 128}},
        // C 0 / W 0: the header's min and max.
        {"no window: min and max",
         false,
         1000,
         3000,
         0,
         0,
         {1000, 3000, 2000, 0, 65535, 1500},
         {0, 255, 128, 0, 255, 64}},
        {"no window, min = max: one step", true, 7, 7, 0, 0, {7, 8, 6, 7, 7, 7}, {0, 255, 0, 0, 0, 0}},
        // A width of 0 or below cannot be a window either.
        {"negative width: min and max",
         false,
         1000,
         3000,
         2000,
         -2,
         {1000, 3000, 2000, 0, 0, 0},
         {0, 255, 128, 0, 0, 0}},
        // A width of 1 is a threshold, dark below the centre and bright above.
        {"width 1", false, 0, 4095, 100, 1, {99, 102, 0, 4095, 0, 0}, {0, 255, 0, 255, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MCImage image = Grey16(c.samples, 3, 2, c.isSigned, c.min, c.max);
        image.SetWindow(c.center, c.width);
        ASSERT_EQ(image.GetMin(), c.min);
        ASSERT_EQ(image.GetMax(), c.max);
        ASSERT_EQ(image.ConvertTo24Bit(), 50u + 18);
        Bytes want;
        for (uint8_t g : c.grey) want.insert(want.end(), {g, g, g});
        EXPECT_EQ(Pixels(image), want);
    }
}

// Every 16-bit value through a window, against the mapping written out:
// f = (s - low) / (high - low) x 255 in single precision, g = trunc(f + 0.5) in
// double, clamped. Narrow windows on large images go through a table of all
// values, wide ones through the arithmetic per pixel; both must agree with it.
TEST(MCImageConvert, EveryValueThroughTheWindow) {
    struct Case {
        const char* name;
        bool isSigned;
        int32_t center, width;
    };
    const Case cases[] = {
        {"unsigned", false, 1000, 3001},
        {"signed", true, 1000, 3001},
        {"window starts below the signed values", true, -32760, 20},
        {"window ends above the unsigned values", false, 65530, 100},
        {"whole unsigned domain", false, 32768, 65536},
        {"wider than the signed domain", true, 0, 2000000000},
    };
    std::vector<uint16_t> all(65536 + 4);
    for (uint32_t i = 0; i < all.size(); ++i) all[i] = uint16_t(i);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MCImage image = Grey16(all, uint32_t(all.size()), 1, c.isSigned, 0, 0, c.center, c.width);
        ASSERT_EQ(image.GetWindowCenter(), c.center);
        ASSERT_NE(image.ConvertTo24Bit(), 0u);
        const uint8_t* rgb = image.GetBits();
        const int64_t low = int64_t(c.center) - c.width / 2 + 1, high = int64_t(c.center) + c.width / 2;
        for (uint32_t raw = 0; raw < 65536; ++raw) {
            const int64_t s = c.isSigned ? int64_t(int16_t(raw)) : int64_t(raw);
            const float f = float(s - low) / float(high - low) * 255.0f;
            const double g = std::trunc(double(f) + 0.5);
            const auto want = uint8_t(g < 0 ? 0 : g > 255 ? 255 : g);
            if (rgb[3 * raw] != want || rgb[3 * raw + 1] != want || rgb[3 * raw + 2] != want) {
                ADD_FAILURE() << "sample " << s << ": " << int(rgb[3 * raw]) << ", want " << int(want);
                break;
            }
        }
    }
}

TEST(MCImageConvert, OtherDepths) {
    // 8-bit through the palette.
    const Bytes indices = {0, 1, 255, 1};
    MCImage eight(indices.data(), 2, 2, 8, false, 0, 255, 0, 0);
    eight.SetPalette(ColourPalette().data());
    eight.SetMonochrome1(true);
    ASSERT_EQ(eight.ConvertTo24Bit(), 50u + 12);
    EXPECT_EQ(Pixels(eight), (Bytes{0, 0, 0, 200, 100, 50, 255, 255, 255, 200, 100, 50}));
    EXPECT_EQ(eight.GetBitsPerPixel(), 24);
    EXPECT_EQ(eight.GetKind(), 4u);
    EXPECT_EQ(eight.GetWindowCenter(), 128);
    EXPECT_EQ(eight.GetWindowWidth(), 256);
    EXPECT_EQ(eight.GetMin(), 0);
    EXPECT_EQ(eight.GetMax(), 255);
    EXPECT_EQ(eight.GetPaletteCount(), 0u);
    EXPECT_TRUE(eight.IsMonochrome1());

    // 16-bit palette: samples beyond the palette never read past it.
    const uint8_t red[2] = {10, 20}, green[2] = {30, 40}, blue[2] = {50, 60};
    const std::vector<uint16_t> samples = {1, 0, 2, 65535};
    MCImage palette(samples.data(), 2, 2, 2, red, green, blue);
    ASSERT_NE(palette.ConvertTo24Bit(), 0u);
    const Bytes got = Pixels(palette);
    ASSERT_EQ(got.size(), 12u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 6), (Bytes{20, 40, 60, 10, 30, 50}));

    // 32 bits: bytes 0 to 2 of each pixel.
    MCImage rgbx = Rgb({1, 2, 3, 4, 5, 6, 7, 8}, 2, 1, 32);
    ASSERT_EQ(rgbx.ConvertTo24Bit(), 56u);
    EXPECT_EQ(Pixels(rgbx), (Bytes{1, 2, 3, 5, 6, 7}));

    // 24 bits: unchanged, same block.
    MCImage rgb = Rgb({1, 2, 3}, 1, 1, 24);
    const uint8_t* block = rgb.GetBlock();
    EXPECT_EQ(rgb.ConvertTo24Bit(), 53u);
    EXPECT_EQ(rgb.GetBlock(), block);

    // Another depth: 0, block kept.
    MCImage other(nullptr, 2, 1, 12, false, 0, 255, 0, 0);
    const Bytes before = BlockBytes(other);
    EXPECT_EQ(other.ConvertTo24Bit(), 0u);
    EXPECT_EQ(BlockBytes(other), before);

    // Empty images convert to empty 24-bit ones.
    for (uint8_t bits : {8, 16, 32}) {
        MCImage empty(nullptr, 0, 3, bits, false, 0, 255, 0, 0);
        EXPECT_EQ(empty.ConvertTo24Bit(), 50u);
        EXPECT_EQ(empty.GetBitsPerPixel(), 24);
    }
}
