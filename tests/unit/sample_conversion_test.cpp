// Sample conversions for display: colour models to bytes, 16-bit samples,
// the range scan, the display window and the display depth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "image/FrameDescription.h"
#include "image/SampleConversion.h"
#include "tests/support/DicomWriter.h"

using namespace testdicom;

namespace {

enum class Photo { Mono1, Mono2, Palette, Rgb, Argb, Cmyk, YbrFull, YbrFull422, YbrPartial422, YbrIct, Other };
enum class Codec { Native, Jpeg, JpegLossless, Jpeg2000, Jpeg2000Lossy };

FrameDescription Frame(uint32_t rows, uint32_t columns, Photo photo = Photo::Mono2, Codec codec = Codec::Native,
                       int8_t planar = 0, int16_t bits = 8) {
    using quillon::Compression;
    using quillon::Photometric;
    static constexpr Photometric kPhotometric[] = {
        Photometric::Monochrome1,   Photometric::Monochrome2, Photometric::PaletteColor, Photometric::RGB,
        Photometric::ARGB,          Photometric::CMYK,        Photometric::YBRFull,      Photometric::YBRFull422,
        Photometric::YBRPartial422, Photometric::YBRICT,      Photometric::Other};
    static constexpr Compression kCompression[] = {Compression::None, Compression::JPEG, Compression::JPEGLossless,
                                                   Compression::JPEG2000Lossless, Compression::JPEG2000Lossy};
    static_assert(std::size(kPhotometric) == std::size_t(Photo::Other) + 1);
    static_assert(std::size(kCompression) == std::size_t(Codec::Jpeg2000Lossy) + 1);
    FrameDescription d;
    quillon::PixelDescription& p = d.pixel;
    p.numberOfFrames = 1;
    p.rows = rows;
    p.columns = columns;
    p.bitsAllocated = p.bitsStored = bits;
    p.planarConfiguration = planar;
    p.compression = p.syntaxFamily = kCompression[int(codec)];
    p.photometric = kPhotometric[int(photo)];
    p.samplesPerPixel = photo == Photo::Mono1 || photo == Photo::Mono2 || photo == Photo::Palette ? 1
                        : photo == Photo::Argb || photo == Photo::Cmyk                            ? 4
                                                                                                  : 3;
    return d;
}

// The description of codec output whose YCbCr the codec turned into RGB.
FrameDescription Converted(FrameDescription d) {
    d.colourConverted = true;
    return d;
}

using Bytes8 = std::vector<uint8_t>;

// Converts a source held in a block of exactly its own size, so that the
// sanitizer build reports any read past it.
Bytes8 To8(const FrameDescription& d, const Bytes8& src, bool* ok = nullptr) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[src.size() ? src.size() : 1]);
    if (!src.empty()) std::memcpy(exact.get(), src.data(), src.size());
    uint64_t size = 12345;
    quillon::HeapPtr<uint8_t> out = ConvertFrameTo8Bit(d, exact.get(), src.size(), size);
    if (ok) *ok = bool(out);
    if (!out) {
        EXPECT_EQ(size, 0u);
        return {};
    }
    return Bytes8(out.get(), out.get() + size);
}

std::vector<uint16_t> To16(const FrameDescription& d, const Bytes8& src, bool* ok = nullptr) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[src.size() ? src.size() : 1]);
    if (!src.empty()) std::memcpy(exact.get(), src.data(), src.size());
    uint64_t size = 12345;
    quillon::HeapPtr<uint16_t> out = ConvertFrameTo16Bit(d, exact.get(), src.size(), size);
    if (ok) *ok = bool(out);
    if (!out) {
        EXPECT_EQ(size, 0u);
        return {};
    }
    EXPECT_EQ(size, 2 * d.Pixels());
    return std::vector<uint16_t>(out.get(), out.get() + size / 2);
}

struct ByteCase {
    const char* name;
    FrameDescription d;
    Bytes8 in;
    Bytes8 out;
};

TEST(ConvertFrameTo8Bit, ColourModelsGiveTheirBytes) {
    const ByteCase cases[] = {
        {"grey copies P bytes", Frame(1, 3), {7, 8, 9, 10, 11}, {7, 8, 9}},
        {"palette copies P bytes", Frame(1, 2, Photo::Palette), {200, 1}, {200, 1}},
        {"rgb interleaved copied", Frame(1, 2, Photo::Rgb), {1, 2, 3, 4, 5, 6, 7}, {1, 2, 3, 4, 5, 6}},
        {"rgb planar interleaved", Frame(1, 2, Photo::Rgb, Codec::Native, 1), {1, 2, 3, 4, 5, 6}, {1, 3, 5, 2, 4, 6}},
        {"argb interleaved to r,g,b,a", Frame(1, 2, Photo::Argb), {9, 1, 2, 3, 8, 4, 5, 6}, {1, 2, 3, 9, 4, 5, 6, 8}},
        {"argb planar a,r,g,b planes",
         Frame(1, 2, Photo::Argb, Codec::Native, 1),
         {9, 8, 1, 4, 2, 5, 3, 6},
         {1, 2, 3, 9, 4, 5, 6, 8}},
        {"ybr full interleaved",
         Frame(1, 2, Photo::YbrFull),
         {128, 128, 128, 255, 128, 255},
         {128, 128, 128, 255, 164, 255}},
        {"ybr full planar",
         Frame(1, 2, Photo::YbrFull, Codec::Native, 1),
         {128, 255, 128, 128, 128, 255},
         {128, 128, 128, 255, 164, 255}},
        {"ybr full 422 pairs", Frame(1, 2, Photo::YbrFull422), {100, 200, 100, 160}, {144, 86, 50, 244, 186, 150}},
        {"ybr full 422 two rows",
         Frame(2, 2, Photo::YbrFull422),
         {100, 200, 100, 160, 128, 128, 128, 128},
         {144, 86, 50, 244, 186, 150, 128, 128, 128, 128, 128, 128}},
        {"ybr full 422 odd columns",
         Frame(1, 3, Photo::YbrFull422),
         {100, 200, 100, 160, 128, 0, 128, 128},
         {144, 86, 50, 244, 186, 150, 128, 128, 128}},
        {"ybr full 422 planar: Y plane, then Cb and Cr per pair",
         Frame(1, 2, Photo::YbrFull422, Codec::Native, 1),
         {100, 200, 100, 160},
         {144, 86, 50, 244, 186, 150}},
        {"ybr partial 422 takes Y - 16",
         Frame(1, 2, Photo::YbrPartial422),
         {100, 200, 100, 160},
         {128, 70, 34, 228, 170, 134}},
        {"ybr ict interleaved unsigned",
         Frame(1, 2, Photo::YbrIct),
         {100, 10, 20, 100, 246, 236},
         {128, 82, 117, 255, 0, 255}},
        {"ybr ict planar signed",
         Frame(1, 2, Photo::YbrIct, Codec::Native, 1),
         {100, 100, 10, 246, 20, 236},
         {128, 82, 117, 71, 117, 82}},
        {"cmyk interleaved modulo 256",
         Frame(1, 2, Photo::Cmyk),
         {0, 0, 0, 0, 200, 0, 0, 100},
         {255, 255, 255, 0, 211, 155, 155, 0}},
        {"cmyk planar",
         Frame(1, 2, Photo::Cmyk, Codec::Native, 1),
         {0, 200, 0, 0, 0, 0, 0, 100},
         {255, 255, 255, 0, 211, 155, 155, 0}},
        // JPEG: the decoder's samples; 4:2:2 arrives upsampled, YBR_FULL as triples.
        {"jpeg grey", Frame(1, 2, Photo::Mono1, Codec::Jpeg), {5, 6, 7}, {5, 6}},
        {"jpeg ybr 422 copied", Frame(1, 2, Photo::YbrFull422, Codec::Jpeg), {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {"jpeg rgb planar", Frame(1, 2, Photo::Rgb, Codec::JpegLossless, 1), {1, 2, 3, 4, 5, 6}, {1, 3, 5, 2, 4, 6}},
        {"jpeg ybr full ignores planar",
         Frame(1, 2, Photo::YbrFull, Codec::Jpeg, 1),
         {128, 128, 128, 255, 128, 255},
         {128, 128, 128, 255, 164, 255}},
        // Samples the codec turned into RGB are copied as RGB; grey stays grey.
        {"jpeg ybr full converted by the codec",
         Converted(Frame(1, 2, Photo::YbrFull, Codec::Jpeg)),
         {128, 128, 128, 255, 128, 255},
         {128, 128, 128, 255, 128, 255}},
        {"jpeg grey converted by the codec", Converted(Frame(1, 2, Photo::Mono2, Codec::Jpeg)), {5, 6, 7}, {5, 6}},
        // JPEG 2000: grey or three bytes, whatever the colour model.
        {"j2k grey", Frame(1, 2, Photo::Palette, Codec::Jpeg2000), {5, 6}, {5, 6}},
        {"j2k ybr full copied",
         Frame(1, 2, Photo::YbrFull, Codec::Jpeg2000Lossy),
         {128, 128, 128, 1, 2, 3},
         {128, 128, 128, 1, 2, 3}},
        {"j2k unknown model planar",
         Frame(1, 2, Photo::Other, Codec::Jpeg2000, 1),
         {1, 2, 3, 4, 5, 6},
         {1, 3, 5, 2, 4, 6}},
    };
    for (const ByteCase& c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = false;
        EXPECT_EQ(To8(c.d, c.in, &ok), c.out);
        EXPECT_TRUE(ok);
    }
}

TEST(ConvertFrameTo8Bit, RefusesWhatItCannotShow) {
    const uint32_t huge = std::numeric_limits<uint32_t>::max();
    struct Case {
        const char* name;
        FrameDescription d;
    } cases[] = {
        {"hsv", Frame(1, 1, Photo::Other)},
        {"argb in jpeg", Frame(1, 1, Photo::Argb, Codec::Jpeg)},
        {"cmyk in jpeg lossless", Frame(1, 1, Photo::Cmyk, Codec::JpegLossless)},
        {"16 bits allocated", Frame(1, 1, Photo::Mono2, Codec::Native, 0, 16)},
        {"no rows", Frame(0, 4)},
        {"no columns", Frame(4, 0)},
        // 4 x Rows x Columns does not fit in 64 bits: 2^31 x 2^31 x 4 wraps to 0.
        {"matrix too large", Frame(huge, huge, Photo::Cmyk)},
        {"output size wraps to 0", Frame(1u << 31, 1u << 31, Photo::Cmyk)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = true;
        EXPECT_TRUE(To8(c.d, Bytes8(16, 1), &ok).empty());
        EXPECT_FALSE(ok);
    }
    uint64_t size = 7;
    EXPECT_FALSE(ConvertFrameTo8Bit(Frame(1, 1), nullptr, 1, size));
    EXPECT_EQ(size, 0u);
}

// A short frame converts as if its missing bytes were 0, at full output size.
TEST(ConvertFrameTo8Bit, ShortFrameReadsMissingBytesAsZero) {
    EXPECT_EQ(To8(Frame(2, 2), {1, 2, 3}), (Bytes8{1, 2, 3, 0}));
    EXPECT_EQ(To8(Frame(1, 2, Photo::Rgb, Codec::Native, 1), {1, 2, 3}), (Bytes8{1, 3, 0, 2, 0, 0}));
    EXPECT_EQ(To8(Frame(1, 2, Photo::Cmyk), {0, 0, 0, 0, 200}), (Bytes8{255, 255, 255, 0, 55, 255, 255, 0}));

    const struct {
        const char* name;
        FrameDescription d;
        uint64_t full;
    } layouts[] = {
        {"grey", Frame(3, 5), 15},
        {"rgb", Frame(3, 5, Photo::Rgb), 45},
        {"rgb planar", Frame(3, 5, Photo::Rgb, Codec::Native, 1), 45},
        {"argb", Frame(3, 5, Photo::Argb), 60},
        {"argb planar", Frame(3, 5, Photo::Argb, Codec::Native, 1), 60},
        {"ybr full", Frame(3, 5, Photo::YbrFull), 45},
        {"ybr full planar", Frame(3, 5, Photo::YbrFull, Codec::Native, 1), 45},
        {"ybr 422 odd columns", Frame(3, 5, Photo::YbrFull422), 32},
        {"ybr 422 planar", Frame(3, 4, Photo::YbrPartial422, Codec::Native, 1), 24},
        {"ybr ict", Frame(3, 5, Photo::YbrIct), 45},
        {"ybr ict planar", Frame(3, 5, Photo::YbrIct, Codec::Native, 1), 45},
        {"cmyk", Frame(3, 5, Photo::Cmyk), 60},
        {"cmyk planar", Frame(3, 5, Photo::Cmyk, Codec::Native, 1), 60},
        {"jpeg ybr full", Frame(3, 5, Photo::YbrFull, Codec::Jpeg, 1), 45},
    };
    for (const auto& c : layouts) {
        Bytes8 whole(c.full);
        for (size_t i = 0; i < whole.size(); ++i) whole[i] = uint8_t(37 * i + 11);
        const Bytes8 expected = To8(c.d, whole);
        for (uint64_t kept : {uint64_t(0), uint64_t(1), c.full / 2, c.full - 1}) {
            SCOPED_TRACE(std::string(c.name) + ", bytes kept " + std::to_string(kept));
            Bytes8 zeroed = whole;
            std::fill(zeroed.begin() + kept, zeroed.end(), 0);
            const Bytes8 full = To8(c.d, zeroed);
            ASSERT_EQ(full.size(), expected.size());
            EXPECT_EQ(To8(c.d, Bytes8(whole.begin(), whole.begin() + kept)), full);
        }
    }
}

TEST(ConvertFrameTo16Bit, WordsFromEachDepth) {
    // 8 bits: zero-extended; a frame of several samples gives its first Rows x Columns.
    EXPECT_EQ(To16(Frame(1, 3), {0, 128, 255, 9}), (std::vector<uint16_t>{0, 128, 255}));
    EXPECT_EQ(To16(Frame(1, 2, Photo::Rgb), {1, 2, 3, 4, 5, 6}), (std::vector<uint16_t>{1, 2}));
    // 12 bits packed: b0 + low nibble of b1, high nibble of b1 + b2.
    EXPECT_EQ(To16(Frame(1, 2, Photo::Mono2, Codec::Native, 0, 12), {0x21, 0x43, 0x65}),
              (std::vector<uint16_t>{0x321, 0x654}));
    EXPECT_EQ(To16(Frame(1, 3, Photo::Mono2, Codec::Native, 0, 12), {0xFF, 0xFF, 0xFF, 0xBA, 0x7C}),
              (std::vector<uint16_t>{0xFFF, 0xFFF, 0xCBA}));
    // 16 bits: little-endian words, sign bits untouched.
    EXPECT_EQ(To16(Frame(1, 2, Photo::Mono2, Codec::Native, 0, 16), {0x30, 0xF8, 0x34, 0x12, 0xEE}),
              (std::vector<uint16_t>{0xF830, 0x1234}));
}

// Signed samples narrower than their word take their sign from bit
// (Bits Stored - 1), whatever the bits above it hold; unsigned ones keep them.
TEST(ConvertFrameTo16Bit, SignedSamplesExtendFromTheirHighBit) {
    struct Case {
        const char* name;
        int16_t allocated, stored;
        int8_t representation;
        Bytes8 src;
        std::vector<uint16_t> words;
    };
    const Case cases[] = {
        {"12 of 16, top bits zero: negative", 16, 12, 1, {0x30, 0x08, 0xFF, 0x07}, {0xF830, 0x07FF}},
        {"12 of 16, top bits set on a positive", 16, 12, 1, {0x01, 0xF0, 0x00, 0x98}, {0x0001, 0xF800}},
        {"13 of 16, codec's unsigned output", 16, 13, 1, {0x30, 0x18, 0x00, 0x00}, {0xF830, 0x0000}},
        {"15 of 16", 16, 15, 1, {0x00, 0x40, 0xFF, 0xBF}, {0xC000, 0x3FFF}},
        {"12 of 12 packed", 12, 12, 1, {0xFF, 0x0F, 0x80}, {0xFFFF, 0xF800}},
        {"16 of 16 untouched", 16, 16, 1, {0x30, 0x08, 0x00, 0x98}, {0x0830, 0x9800}},
        {"unsigned 12 of 16 keeps its bits", 16, 12, 0, {0x30, 0x08, 0x00, 0xF8}, {0x0830, 0xF800}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameDescription d = Frame(1, 2, Photo::Mono2, Codec::Native, 0, c.allocated);
        d.pixel.bitsStored = c.stored;
        d.pixel.pixelRepresentation = c.representation;
        EXPECT_EQ(To16(d, c.src), c.words);
    }
}

TEST(ConvertFrameTo16Bit, ShortFramesAndRefusals) {
    const auto d8 = Frame(1, 3), d12 = Frame(1, 3, Photo::Mono2, Codec::Native, 0, 12),
               d16 = Frame(1, 3, Photo::Mono2, Codec::Native, 0, 16);
    EXPECT_EQ(To16(d8, {5}), (std::vector<uint16_t>{5, 0, 0}));
    EXPECT_EQ(To16(d12, {0x21, 0x43, 0x65, 0xBA}), (std::vector<uint16_t>{0x321, 0x654, 0x0BA}));
    EXPECT_EQ(To16(d12, {0x21}), (std::vector<uint16_t>{0x021, 0, 0}));
    EXPECT_EQ(To16(d16, {0x34, 0x12, 0x78}), (std::vector<uint16_t>{0x1234, 0x0078, 0}));
    EXPECT_EQ(To16(d16, {}), (std::vector<uint16_t>{0, 0, 0}));

    const uint32_t huge = std::numeric_limits<uint32_t>::max();
    for (const FrameDescription& d :
         {Frame(1, 1, Photo::Mono2, Codec::Native, 0, 32), Frame(1, 1, Photo::Mono2, Codec::Native, 0, 0), Frame(0, 1),
          Frame(1, 0), Frame(huge, huge, Photo::Mono2, Codec::Native, 0, 16)}) {
        bool ok = true;
        EXPECT_TRUE(To16(d, Bytes8(8, 1), &ok).empty());
        EXPECT_FALSE(ok);
    }
    uint64_t size = 7;
    EXPECT_FALSE(ConvertFrameTo16Bit(d16, nullptr, 6, size));
    EXPECT_EQ(size, 0u);
}

struct RangeCase {
    const char* name;
    bool isSigned;
    std::optional<int32_t> padding, smallest, largest;
    std::vector<int32_t> samples;  // stored as their low 16 bits
    int32_t min, max;
    std::vector<int32_t> after;  // the samples after the scan; empty: unchanged
};

TEST(ScanSampleRange16, RangeAndInPlaceClamping) {
    const std::optional<int32_t> none;
    const RangeCase cases[] = {
        {"small unsigned values widen to 0..255", false, none, none, none, {0, 100, 200}, 0, 255, {}},
        {"unsigned 1000..3000 kept", false, none, none, none, {3000, 1000, 2000}, 1000, 3000, {}},
        {"unsigned max 255 starts at 0", false, none, none, none, {100, 255}, 0, 255, {}},
        {"unsigned above 32767", false, none, none, none, {40000, 65535}, 40000, 65535, {}},
        {"signed", true, none, none, none, {-1000, 5, 300}, -1000, 300, {}},
        {"signed small values stay", true, none, none, none, {1, 2}, 1, 2, {}},
        {"padding left out, kept in data", true, -2000, none, none, {-2000, -1000, 500, -2000}, -1000, 500, {}},
        {"padding by its low 16 bits", false, -1, none, none, {65535, 300, 1000}, 300, 1000, {}},
        {"padding wins over smallest/largest", false, 0, 100, 900, {0, 50, 1000}, 50, 1000, {}},
        {"smallest/largest clamp in place", false, none, 100, 900, {50, 500, 1000}, 100, 900, {100, 500, 900}},
        {"signed clamp", true, none, -100, 100, {-200, 0, 200}, -100, 100, {-100, 0, 100}},
        {"both 0: no clamping", false, none, 0, 0, {300, 1000}, 300, 1000, {}},
        {"only one bound: no clamping", false, none, 100, none, {50, 1000}, 50, 1000, {}},
        {"unsigned negative bounds read as 16 bits",
         false,
         none,
         -32768,
         -1,
         {100, 40000},
         32768,
         40000,
         {32768, 40000}},
        {"bounds beyond a signed sample", true, none, -100000, 100000, {-32768, 32767}, -32768, 32767, {}},
        {"unsigned bounds beyond 65535", false, none, 70000, 80000, {1, 2}, 65535, 65535, {65535, 65535}},
        {"nothing left unsigned", false, 7, none, none, {7, 7}, 0, 255, {}},
        {"no samples unsigned", false, none, none, none, {}, 0, 255, {}},
        {"nothing left signed", true, 7, none, none, {7}, 268435455, -268435455, {}},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        FrameDescription d = Frame(1, uint32_t(c.samples.size()), Photo::Mono2, Codec::Native, 0, 16);
        d.pixel.pixelRepresentation = c.isSigned ? 1 : 0;
        d.pixelPaddingValue = c.padding;
        d.smallestPixelValue = c.smallest;
        d.largestPixelValue = c.largest;
        std::vector<uint16_t> words;
        for (int32_t v : c.samples) words.push_back(uint16_t(v));
        std::unique_ptr<uint16_t[]> exact(new uint16_t[words.size() + 1]);
        std::copy(words.begin(), words.end(), exact.get());
        const SampleRange r = ScanSampleRange16(d, exact.get(), 2 * words.size());
        EXPECT_EQ(r.min, c.min);
        EXPECT_EQ(r.max, c.max);
        EXPECT_EQ(r.isSigned, c.isSigned);
        std::vector<uint16_t> expected = words;
        if (!c.after.empty()) {
            expected.clear();
            for (int32_t v : c.after) expected.push_back(uint16_t(v));
        }
        EXPECT_EQ(std::vector<uint16_t>(exact.get(), exact.get() + words.size()), expected);
    }
}

struct WindowCase {
    const char* name;
    bool hasWindow, hasRescale;
    int32_t center, width;
    double intercept, slope;
    int32_t max, min;
    int32_t wantCenter, wantWidth;
};

TEST(ComputeDisplayWindow, WindowRulesAndExtremes) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const int32_t top = std::numeric_limits<int32_t>::max(), bottom = std::numeric_limits<int32_t>::min();
    const WindowCase cases[] = {
        {"rescaled window", true, true, 40, 400, -1024, 1, 3071, -1024, 1064, 400},
        {"slope divides, width by |slope|", true, true, 40, 400, -1024, -2, 3071, -1024, -532, 200},
        {"slope 0 counts as 1", true, true, 40, 400, -1024, 0, 3071, -1024, 1064, 400},
        {"window as read", true, false, 40, 400, -1024, 1, 3071, -1024, 40, 400},
        {"no window: midpoint and range", false, false, 40, 400, 0, 1, 3071, -1024, 1023, 4096},
        {"byte range", false, false, 0, 0, 0, 1, 255, 0, 127, 256},
        {"small range widens to bytes", true, false, 300, 100, 0, 1, 200, 10, 300, 100},
        {"centre above max + R/2", true, false, 400, 100, 0, 1, 255, 0, 127, 100},
        {"centre at max + R/2 kept", true, false, 383, 100, 0, 1, 255, 0, 383, 100},
        {"centre below min - R/2", true, false, -129, 100, 0, 1, 255, 0, 127, 100},
        {"width over twice the range", true, false, 100, 513, 0, 1, 255, 0, 100, 256},
        {"width of twice the range kept", true, false, 100, 512, 0, 1, 255, 0, 100, 512},
        {"huge slope", true, true, 40, 400, -1024, 1e300, 3071, -1024, 0, 0},
        {"infinite slope", true, true, 40, 400, -1024, inf, 3071, -1024, 0, 0},
        {"infinite intercept", true, true, 40, 400, -inf, 1, 3071, -1024, 1023, 400},
        {"tiny slope", true, true, 40, 400, 0, 1e-300, 3071, -1024, 1023, 4096},
        {"NaN slope", true, true, 40, 400, 0, nan, 3071, -1024, 1023, 4096},
        {"NaN intercept", true, true, 40, 400, nan, 1, 3071, -1024, 1023, 400},
        {"negative infinite width", true, true, 40, -400, 0, 1e-300, 3071, -1024, 1023, bottom},
        {"widest range, no window", false, false, 0, 0, 0, 1, top, bottom, -1, top},
        {"widest range, window", true, false, bottom, top, 0, 1, top, bottom, bottom, top},
        {"range of a frame that is all padding", false, false, 0, 0, 0, 1, -268435455, 268435455, 127, 256},
    };
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(c.name);
        FrameDescription d = Frame(1, 1, Photo::Mono2, Codec::Native, 0, 16);
        d.pixel.hasWindow = c.hasWindow;
        d.pixel.hasRescale = c.hasRescale;
        d.pixel.windowCenter = c.center;
        d.pixel.windowWidth = c.width;
        d.pixel.rescaleIntercept = c.intercept;
        d.pixel.rescaleSlope = c.slope;
        const DisplayWindow w = ComputeDisplayWindow(d, c.max, c.min);
        EXPECT_EQ(w.center, c.wantCenter);
        EXPECT_EQ(w.width, c.wantWidth);
    }
}

TEST(DisplayDepth, ByBitsAllocatedAndPhotometric) {
    const struct {
        int16_t bits;
        Photo photo;
        int depth;
    } cases[] = {
        {12, Photo::Rgb, 16},      {8, Photo::Mono1, 8},     {8, Photo::Mono2, 8},   {8, Photo::Palette, 8},
        {8, Photo::Argb, 32},      {8, Photo::Cmyk, 32},     {8, Photo::Rgb, 24},    {8, Photo::YbrFull422, 24},
        {8, Photo::Other, 24},     {16, Photo::Mono2, 16},   {32, Photo::Mono2, 32}, {0x108, Photo::Mono2, 8},
        {0x110, Photo::Mono2, 16}, {0x100, Photo::Mono2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits));
        EXPECT_EQ(DisplayDepth(Frame(1, 1, c.photo, Codec::Native, 0, c.bits)), c.depth);
    }
}

// Through a loaded file: the lookups by VR and the 16-bit path end to end.

Bytes Le16(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    return out;
}

Writer Image16(bool isSigned, const std::function<void(Writer&)>& pixelValues) {
    Writer w = Part10(kExplicitLE);
    StudyElements(w);
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0004, "CS", "MONOCHROME2 ");
    w.us(0x0028, 0x0010, 1);
    w.us(0x0028, 0x0011, 4);
    w.us(0x0028, 0x0100, 16);
    w.us(0x0028, 0x0101, 16);
    w.us(0x0028, 0x0103, isSigned ? 1 : 0);
    pixelValues(w);
    return w;
}

TEST(DescribeFramesLookups, PixelValuesByVR) {
    const std::optional<int32_t> none;
    const struct {
        const char* name;
        bool isSigned;
        std::function<void(Writer&)> elements;
        std::optional<int32_t> padding, smallest, largest;
    } cases[] = {
        {"SS padding sign-extends", true, [](Writer& w) { w.element(0x0028, 0x0120, "SS", Le16({-2000})); }, -2000,
         none, none},
        {"US values zero-extend", false,
         [](Writer& w) {
             w.element(0x0028, 0x0106, "US", Le16({0xFFF0}));
             w.element(0x0028, 0x0107, "US", Le16({0xFFFF}));
             w.element(0x0028, 0x0120, "US", Le16({0xF830}));
         },
         0xF830, 0xFFF0, 0xFFFF},
        {"US smallest of a signed image read as SS", true,
         [](Writer& w) {
             w.element(0x0028, 0x0106, "US", Le16({0xFF9C}));
             w.element(0x0028, 0x0107, "US", Le16({900}));
         },
         none, -100, 900},
        // A signed image keeps another VR: 2 bytes sign-extend for the smallest,
        // zero-extend for the largest and the padding; 4 bytes are taken as they are.
        {"other VR, 2 bytes", true,
         [](Writer& w) {
             w.element(0x0028, 0x0106, "OW", Le16({0xFF9C}));
             w.element(0x0028, 0x0107, "OW", Le16({0xFFFF}));
             w.element(0x0028, 0x0120, "OW", Le16({0xF830}));
         },
         0xF830, -100, 0xFFFF},
        {"other VR, 4 bytes", true,
         [](Writer& w) {
             w.element(0x0028, 0x0106, "SL", Le16({0xFFFE, 0xFFFF}));
             w.element(0x0028, 0x0107, "SL", Le16({0x86A0, 0x0001}));
             w.element(0x0028, 0x0120, "SL", Le16({0xF830, 0xFFFF}));
         },
         -2000, -2, 100000},
        {"other VR, 6 bytes unusable", true,
         [](Writer& w) {
             w.element(0x0028, 0x0106, "OB", {1, 2, 3, 4, 5, 6});
             w.element(0x0028, 0x0120, "OB", {1, 2, 3, 4, 5, 6});
         },
         none, none, none},
        {"image values before the series values", false,
         [](Writer& w) {
             w.element(0x0028, 0x0104, "US", Le16({10}));
             w.element(0x0028, 0x0105, "US", Le16({20}));
             w.element(0x0028, 0x0106, "US", Le16({30}));
         },
         none, 30, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Writer w = Image16(c.isSigned, c.elements);
        w.element(0x7FE0, 0x0010, "OW", Le16({1, 2, 3, 4}));
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(w.bytes().data(), w.size()));
        const FrameDescription d = DescribeFrames(file);
        EXPECT_EQ(d.pixelPaddingValue, c.padding);
        EXPECT_EQ(d.smallestPixelValue, c.smallest);
        EXPECT_EQ(d.largestPixelValue, c.largest);
    }
}

TEST(DescribeFramesLookups, SignedFrameWithPaddingAndHugeSlope) {
    Writer w = Image16(true, [](Writer& w) {
        w.element(0x0028, 0x0120, "SS", Le16({-2000}));
        w.text(0x0028, 0x1050, "DS", "40");
        w.text(0x0028, 0x1051, "DS", "400 ");
        w.text(0x0028, 0x1052, "DS", "1e999 ");
        w.text(0x0028, 0x1053, "DS", "1e999 ");
    });
    w.element(0x7FE0, 0x0010, "OW", Le16({-2000, -1000, 3000, -2000}));
    CDicomFile file;
    ASSERT_TRUE(file.LoadMemory(w.bytes().data(), w.size()));
    const FrameDescription d = DescribeFrames(file);
    quillon::HeapPtr<uint8_t> stored;
    const ByteSpan frame = NativeFrameBytes(file, 0, stored);
    ASSERT_EQ(frame.size, 8u);

    uint64_t size = 0;
    quillon::HeapPtr<uint16_t> words = ConvertFrameTo16Bit(d, frame.data, frame.size, size);
    ASSERT_TRUE(words);
    const SampleRange range = ScanSampleRange16(d, words.get(), size);
    EXPECT_TRUE(range.isSigned);
    EXPECT_EQ(range.min, -1000);
    EXPECT_EQ(range.max, 3000);
    EXPECT_EQ(int16_t(words.get()[0]), -2000);

    // (40 - inf) / inf is NaN: the centre falls back to the midpoint, the width
    // 400 / inf = 0 stays.
    ASSERT_TRUE(d.pixel.hasRescale && d.pixel.hasWindow);
    const DisplayWindow window = ComputeDisplayWindow(d, range.max, range.min);
    EXPECT_EQ(window.center, 1000);
    EXPECT_EQ(window.width, 0);
}

}  // namespace
