// Compressed frame decoders: RLE from hand-made fragments, JPEG build choice,
// truncated and undecodable JPEG streams, JPEG 2000 bounds, and the frame
// bytes taken from fragments and the basic offset table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "image/CodecTable.h"
#include "image/FrameCodecs.h"
#include "image/FrameDescription.h"
#include "tests/support/DicomWriter.h"

using namespace testdicom;
using quillon::Compression;
using quillon::Reason;

namespace {

using quillon::Compression;
using Photo = quillon::Photometric;

FrameDescription Frame(uint32_t rows, uint32_t columns, int16_t bits, int16_t samples, Photo photo = Photo::Monochrome2,
                       Compression compression = Compression::RLE) {
    FrameDescription d;
    d.pixel.numberOfFrames = 1;
    d.pixel.rows = rows;
    d.pixel.columns = columns;
    d.pixel.bitsAllocated = bits;
    d.pixel.bitsStored = bits;
    d.pixel.samplesPerPixel = samples;
    d.pixel.compression = d.pixel.syntaxFamily = compression;
    d.pixel.photometric = photo;
    return d;
}

// An RLE fragment: the 64-byte header with these segment offsets, then `body`.
Bytes Rle(std::initializer_list<uint32_t> offsets, const Bytes& body, int segments = -1) {
    Bytes out(64, 0);
    const uint32_t count = segments >= 0 ? uint32_t(segments) : uint32_t(offsets.size());
    std::memcpy(out.data(), &count, 4);
    int k = 1;
    for (uint32_t o : offsets) std::memcpy(out.data() + 4 * k++, &o, 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Output(const DecodedFrame& f) { return f.data ? Bytes(f.data.get(), f.data.get() + f.size) : Bytes{}; }

TEST(FrameCodecs, ExpectedDecodedSize) {
    struct Case {
        const char* name;
        FrameDescription d;
        uint64_t size;
    };
    FrameDescription noSamplesRgb = Frame(4, 5, 8, 0, Photo::RGB);
    FrameDescription palette = Frame(4, 5, 8, 1, Photo::RGB);
    palette.pixel.photometric = Photo::PaletteColor;
    FrameDescription noBits = Frame(4, 5, 0, 1);
    const Case cases[] = {
        {"grey 8-bit", Frame(4, 5, 8, 1), 20},
        {"grey 16-bit, samples 0", Frame(4, 5, 16, 0), 40},
        {"RGB", Frame(4, 5, 8, 3, Photo::RGB), 60},
        {"single-sample colour counts 3", noSamplesRgb, 60},
        {"palette keeps 1", palette, 20},
        {"no bits", noBits, 0},
        {"past 32 bits", Frame(65535, 65535, 16, 3, Photo::RGB), 65535ull * 65535 * 6},
        {"saturates", Frame(0xFFFFFFFF, 0xFFFFFFFF, 32767, 16, Photo::RGB), UINT64_MAX},
    };
    for (const Case& c : cases) EXPECT_EQ(ExpectedDecodedSize(c.d), c.size) << c.name;
}

// ---- RLE -------------------------------------------------------------------

struct RleCase {
    const char* name;
    FrameDescription d;
    Bytes fragment;
    bool ok;
    Bytes expected;  // whole output when ok
};

TEST(RleDecoder, HandMadeFragments) {
    FrameDescription planarRgb = Frame(1, 2, 8, 3, Photo::RGB);
    planarRgb.pixel.planarConfiguration = 1;
    FrameDescription planarRgb16 = Frame(1, 2, 16, 3, Photo::RGB);
    planarRgb16.pixel.planarConfiguration = 1;
    const RleCase cases[] = {
        {"8-bit, one segment: literal and replicate runs",
         Frame(2, 3, 8, 1),
         Rle({64}, {0x01, 7, 8, 0xFD, 9}),
         true,
         {7, 8, 9, 9, 9, 9}},
        {"RGB, three segments, interleaved",
         Frame(1, 2, 8, 3, Photo::RGB),
         Rle({64, 67, 70}, {0xFF, 10, 0, 0x01, 20, 21, 0x00, 30, 0}),
         true,
         {10, 20, 30, 10, 21, 0}},
        {"RGB, three segments, planar kept",
         planarRgb,
         Rle({64, 67, 70}, {0xFF, 10, 0, 0x01, 20, 21, 0x00, 30, 0}),
         true,
         {10, 10, 20, 21, 30, 0}},
        {"16-bit, two segments, high bytes from segment 1",
         Frame(1, 2, 16, 1),
         Rle({64, 67}, {0x01, 0x12, 0x34, 0x01, 0x56, 0x78}),
         true,
         {0x56, 0x12, 0x78, 0x34}},
        {"literal run ending past the fragment stops",
         Frame(1, 4, 8, 1),
         Rle({64}, {0x00, 5, 0x03, 1, 2, 3}),
         true,
         {5, 0, 0, 0}},
        {"literal run ending on the last byte is taken",
         Frame(1, 4, 8, 1),
         Rle({64}, {0x00, 5, 0x02, 1, 2, 3}),
         true,
         {5, 1, 2, 3}},
        {"replicate run past the output stops at its end", Frame(1, 3, 8, 1), Rle({64}, {0x81, 4}), true, {4, 4, 4}},
        {"count -128 produces nothing, costs one byte",
         Frame(1, 3, 8, 1),
         Rle({64}, {0x80, 0x80, 0x01, 1, 2, 0xFF, 3}),
         true,
         {1, 2, 3}},
        {"replicate byte past the fragment stops", Frame(1, 3, 8, 1), Rle({64}, {0x00, 6, 0xFE}), true, {6, 0, 0}},
        {"more segments than samples: the extra one is not read",
         Frame(1, 2, 8, 3, Photo::RGB),
         Rle({64, 66, 68, 70}, {0xFF, 1, 0xFF, 2, 0xFF, 3, 0xFF, 4}),
         true,
         {1, 2, 3, 1, 2, 3}},
        {"a segment offset past the fragment leaves its plane zero",
         Frame(1, 2, 8, 3, Photo::RGB),
         Rle({64, 900, 66}, {0xFF, 1, 0xFF, 3}),
         true,
         {1, 0, 3, 1, 0, 3}},
        {"a segment offset inside the header leaves its plane zero",
         Frame(1, 2, 8, 3, Photo::RGB),
         Rle({64, 4, 66}, {0xFF, 1, 0xFF, 3}),
         true,
         {1, 0, 3, 1, 0, 3}},
        {"no RLE header: the whole fragment is runs",
         Frame(1, 2, 8, 1),
         Cat({Bytes{0x01, 1, 2}, Bytes(61, 0)}),
         true,
         {1, 2}},
        {"fragment shorter than the header", Frame(1, 1, 8, 1), Bytes(63, 0), false, {}},
        {"every offset past the fragment", Frame(1, 2, 8, 1), Rle({200}, {0x01, 1, 2}), false, {}},
        {"16-bit with one segment", Frame(1, 2, 16, 1), Rle({64}, {0x03, 1, 2, 3, 4}), false, {}},
        {"16-bit colour: six segments, a sample's high byte first, interleaved",
         Frame(1, 1, 16, 3, Photo::RGB),
         Rle({64, 66, 68, 70, 72, 74}, {0, 0x12, 0, 0x34, 0, 0x56, 0, 0x78, 0, 0x9A, 0, 0xBC}),
         true,
         {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}},
        {"16-bit colour, planar kept",
         planarRgb16,
         Rle({64, 66, 68, 70, 72, 74}, {0xFF, 1, 0xFF, 2, 0xFF, 3, 0xFF, 4, 0xFF, 5, 0xFF, 6}),
         true,
         {2, 1, 2, 1, 4, 3, 4, 3, 6, 5, 6, 5}},
        {"32-bit grey: four segments", Frame(1, 1, 32, 1), Rle({64, 66, 68, 70}, {0, 1, 0, 2, 0, 3, 0, 4}), true,
         {4, 3, 2, 1}},
        {"32-bit colour: twelve segments",
         Frame(1, 1, 32, 3, Photo::RGB),
         Rle({64, 66, 68, 70, 72, 74, 76, 78, 80, 82, 84, 86},
             {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0, 10, 0, 11, 0, 12}),
         true,
         {4, 3, 2, 1, 8, 7, 6, 5, 12, 11, 10, 9}},
        {"32-bit grey in three segments", Frame(1, 1, 32, 1), Rle({64, 66, 68}, {0, 1, 0, 2, 0, 3}), false, {}},
        {"16-bit colour in two segments", Frame(1, 1, 16, 3, Photo::RGB), Rle({64, 66}, {0, 1, 0, 2}), false, {}},
        {"32-bit four-sample colour would need 16 segments", Frame(1, 1, 32, 4, Photo::ARGB),
         Rle({64, 66, 68, 70, 72, 74, 76, 78, 80, 82, 84, 86, 88, 90, 92}, Bytes(30, 0), 16), false, {}},
        {"16-bit segment offsets reversed",
         Frame(1, 2, 16, 1),
         Rle({67, 64}, {0x01, 0x12, 0x34, 0x01, 0x56, 0x78}),
         true,
         {0x12, 0x56, 0x34, 0x78}},
    };
    for (const RleCase& c : cases) {
        DecodedFrame out;
        const bool ok = DecodeRleFrame(c.d, c.fragment.data(), c.fragment.size(), out).Ok();
        EXPECT_EQ(ok, c.ok) << c.name;
        if (!ok || !c.ok) {
            EXPECT_FALSE(out.data) << c.name;
            continue;
        }
        EXPECT_EQ(out.size, ExpectedDecodedSize(c.d)) << c.name;
        EXPECT_EQ(Output(out), c.expected) << c.name;
        EXPECT_EQ(out.planar, c.d.pixel.planarConfiguration == 1 && c.d.pixel.samplesPerPixel > 1) << c.name;
    }
}

// A fragment decoded from every shorter prefix and with every byte changed
// never reads past its end (the sanitizer builds notice) and stays within E.
TEST(RleDecoder, CutAndCorruptedFragmentsStayInBounds) {
    const FrameDescription d = Frame(2, 3, 8, 3, Photo::RGB);
    const Bytes good = Rle({64, 67, 70}, {0xFB, 10, 0xFB, 20, 0xFB, 30});
    for (size_t n = 0; n <= good.size(); ++n) {
        std::vector<uint8_t> prefix(good.begin(), good.begin() + n);  // exact size: overreads are caught
        DecodedFrame out;
        if (DecodeRleFrame(d, prefix.data(), prefix.size(), out)) {
            EXPECT_EQ(out.size, 18u);
        }
    }
    for (size_t i = 0; i < good.size(); ++i) {
        for (uint8_t v : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0x80), uint8_t(0xFF)}) {
            Bytes bad = good;
            bad[i] = v;
            DecodedFrame out;
            if (DecodeRleFrame(d, bad.data(), bad.size(), out)) {
                EXPECT_EQ(out.size, 18u);
            }
        }
    }
}

// ---- JPEG ------------------------------------------------------------------

// Made with dcmcjpeg: +e1 of an 8 x 6 16-bit frame whose sample k is k x 1361;
// +eb of an 8 x 32 8-bit frame whose row y is all y x 8; +ee of an 8 x 8 frame
// of 11 bits stored whose sample k is k x 32 (the encoder stretches it to k x 64
// in 12 bits).
const uint8_t kLossless16[] = {
    0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01,
    0x00, 0x00, 0xFF, 0xC3, 0x00, 0x0B, 0x10, 0x00, 0x06, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xC4, 0x00,
    0x16, 0x00, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x0B, 0x0E, 0x10, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0xCA, 0xA2, 0xAA, 0x2A, 0xA2,
    0xAA, 0x2A, 0xA2, 0xAA, 0x2A, 0xA3, 0x55, 0x10, 0xAA, 0x2A, 0xA2, 0xAA, 0x2A, 0xA2, 0xAA, 0x2A, 0xA2, 0xAA,
    0x35, 0x51, 0x0A, 0xA2, 0xAA, 0x2A, 0xA2, 0xAA, 0x2A, 0xA2, 0xAA, 0x2A, 0xA3, 0x55, 0x10, 0xAA, 0x2A, 0xA2,
    0xAA, 0x2A, 0xA2, 0xAA, 0x2A, 0xA2, 0xAA, 0x35, 0x51, 0x0A, 0xA2, 0xAA, 0x2A, 0xA2, 0xAA, 0x2A, 0xA2, 0xAA,
    0x2A, 0xA3, 0x55, 0x10, 0xAA, 0x2A, 0xA2, 0xAA, 0x2A, 0xA2, 0xAA, 0x2A, 0xA2, 0xAA, 0x3F, 0xFF, 0xFF, 0xD9,
};
const uint8_t kBaseline8[] = {
    0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01,
    0x00, 0x00, 0xFF, 0xDB, 0x00, 0x43, 0x00, 0x03, 0x02, 0x02, 0x03, 0x02, 0x02, 0x03, 0x03, 0x03, 0x03, 0x04,
    0x03, 0x03, 0x04, 0x05, 0x08, 0x05, 0x05, 0x04, 0x04, 0x05, 0x0A, 0x07, 0x07, 0x06, 0x08, 0x0C, 0x0A, 0x0C,
    0x0C, 0x0B, 0x0A, 0x0B, 0x0B, 0x0D, 0x0E, 0x12, 0x10, 0x0D, 0x0E, 0x11, 0x0E, 0x0B, 0x0B, 0x10, 0x16, 0x10,
    0x11, 0x13, 0x14, 0x15, 0x15, 0x15, 0x0C, 0x0F, 0x17, 0x18, 0x16, 0x14, 0x18, 0x12, 0x14, 0x15, 0x14, 0xFF,
    0xC0, 0x00, 0x0B, 0x08, 0x00, 0x20, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xC4, 0x00, 0x15, 0x00, 0x01,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x09, 0xFF,
    0xC4, 0x00, 0x17, 0x10, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x17, 0x63, 0xA1, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0x9E, 0x8B,
    0x69, 0x60, 0xAB, 0x5B, 0x4B, 0x05, 0x5A, 0xDA, 0x58, 0x2A, 0x96, 0xD2, 0xC3, 0xFF, 0xFF, 0xD9,
};
const uint8_t kExtended12[] = {
    0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01,
    0x00, 0x00, 0xFF, 0xDB, 0x00, 0x43, 0x00, 0x03, 0x02, 0x02, 0x03, 0x02, 0x02, 0x03, 0x03, 0x03, 0x03, 0x04,
    0x03, 0x03, 0x04, 0x05, 0x08, 0x05, 0x05, 0x04, 0x04, 0x05, 0x0A, 0x07, 0x07, 0x06, 0x08, 0x0C, 0x0A, 0x0C,
    0x0C, 0x0B, 0x0A, 0x0B, 0x0B, 0x0D, 0x0E, 0x12, 0x10, 0x0D, 0x0E, 0x11, 0x0E, 0x0B, 0x0B, 0x10, 0x16, 0x10,
    0x11, 0x13, 0x14, 0x15, 0x15, 0x15, 0x0C, 0x0F, 0x17, 0x18, 0x16, 0x14, 0x18, 0x12, 0x14, 0x15, 0x14, 0xFF,
    0xC1, 0x00, 0x0B, 0x0C, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0xFF, 0xC4,
    0x00, 0x1C, 0x10, 0x00, 0x00, 0x06, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x0A, 0x0D, 0x29, 0x36, 0x46, 0x53, 0x63, 0x71, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00,
    0x3F, 0x00, 0x2A, 0x2D, 0xC2, 0x6E, 0x34, 0x59, 0xAE, 0xB1, 0x51, 0x79, 0xA8, 0x7F, 0xFF, 0xD9,
};

// A 12-bit lossy YCbCr stream with corrupt tables (found by fuzzing): the
// library's colour converter read far outside its tables on it.
const uint8_t kCorrupt12BitColour[] = {
    0xFF, 0xD8, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0xFF, 0xDB, 0x00, 0x43, 0x00,
    0x03, 0x02, 0x02, 0x03, 0x02, 0x02, 0x03, 0x0B, 0x0B, 0xFF, 0xDB, 0x00, 0x43, 0x01, 0x14, 0x15, 0x15, 0x15, 0x0C,
    0x0F, 0x17, 0x18, 0x16, 0x14, 0x18, 0x12, 0x14, 0x15, 0x14, 0xFF, 0xDB, 0x00, 0x43, 0x01, 0x03, 0x04, 0x5F, 0x05,
    0x04, 0x05, 0x09, 0x05, 0x05, 0x09, 0x14, 0x0D, 0x0B, 0x0D, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14,
    0x14, 0x2C, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x17, 0x37, 0x16, 0x14, 0x18, 0x12, 0x14, 0x15, 0x14, 0xFF, 0xDB, 0x00, 0x43,
    0x01, 0x03, 0x04, 0x04, 0x05, 0x04, 0x05, 0x09, 0x05, 0x05, 0x09, 0x14, 0x0D, 0x0B, 0x0D, 0x14, 0x14, 0x14, 0x14,
    0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14,
    0x14, 0x14, 0x04, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14,
    0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0x14, 0xFF, 0xC0, 0x00, 0x11, 0x0C, 0x00, 0x64, 0x00, 0x64, 0x03, 0x01,
    0x21, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xFF, 0xC4, 0x00, 0x19, 0x00, 0x01, 0x00, 0x03, 0x01, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x07, 0x08, 0x09, 0x04, 0xFF, 0xC4, 0x00,
    0x28, 0x10, 0x00, 0x01, 0x02, 0x04, 0x01, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x03, 0x06, 0x17, 0x55, 0xA4, 0xD2, 0x04, 0x07, 0x15, 0x18, 0x19, 0x56, 0x63, 0x66, 0xA2, 0xA3, 0xA5,
    0xDD, 0xE1, 0xE3, 0xFF, 0xC4, 0x00, 0x1A, 0x01, 0x01, 0x01, 0x00, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x07, 0x05, 0x08, 0x09, 0x06, 0x04, 0xFF, 0xC4, 0x00, 0x2B, 0x11, 0x00, 0x01,
    0x00, 0x06, 0x06, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x05, 0x16, 0x27,
    0x53, 0xA2, 0xD1, 0x01, 0x14, 0x64, 0xA1, 0xD2, 0x37, 0x16, 0x14, 0x18, 0x12, 0x14, 0x15, 0x14, 0xFF, 0xDB, 0x00,
    0x43, 0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x01, 0x11, 0x00, 0x3F, 0x00, 0xCE, 0x80, 0x64, 0x49,
    0x2A, 0xD7, 0xBC, 0x40, 0x45, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x33,
    0x00, 0x00, 0x00, 0x00, 0x00, 0xD7, 0xBC, 0x40, 0xC6, 0x44, 0x92, 0x73, 0xB3, 0xB5, 0xD8, 0x9F, 0x20, 0xD1, 0xBB,
    0x27, 0x79, 0x45, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x34, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x8C, 0xE2, 0x2F, 0xEB, 0xA2, 0xEE, 0x14, 0x00, 0x00, 0x01, 0x0C, 0xFF, 0xD8, 0xFF, 0xE0, 0x00,
    0x3F, 0x00, 0xCE, 0x80, 0x86, 0x1D, 0x0C, 0x64, 0x49, 0x2A, 0xD7, 0xBC, 0x9B, 0x54, 0x75, 0x7E, 0x9B, 0xE9, 0x98,
    0x6A,
};

Bytes Fixture(const uint8_t* bytes, size_t size) { return Bytes(bytes, bytes + size); }
#define FIXTURE(name) Fixture(name, sizeof name)

uint16_t Word(const DecodedFrame& f, uint64_t k) {
    return uint16_t(f.data.get()[2 * k] | f.data.get()[2 * k + 1] << 8);
}

TEST(JpegDecoder, PrecisionFromTheFrameHeader) {
    struct Case {
        const char* name;
        Bytes stream;
        bool found;
        int precision;
        bool lossless;
    };
    Bytes noFrameHeader = FIXTURE(kBaseline8);
    noFrameHeader.resize(20);  // cut inside the tables, before the frame header
    const Case cases[] = {
        {"16-bit lossless", FIXTURE(kLossless16), true, 16, true},
        {"8-bit baseline", FIXTURE(kBaseline8), true, 8, false},
        {"12-bit extended", FIXTURE(kExtended12), true, 12, false},
        {"no start of image", {0x00, 0xFF, 0xC0, 0x00, 0x0B, 0x08}, false, 0, false},
        {"cut before the frame header", noFrameHeader, false, 0, false},
        {"scan before any frame header", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 0x01}, false, 0, false},
        {"fill bytes and a restart marker are skipped",
         {0xFF, 0xD8, 0xFF, 0xFF, 0xD0, 0xFF, 0xC7, 0x00, 0x0B, 0x0C},
         true,
         12,
         true},
    };
    for (const Case& c : cases) {
        int precision = 0;
        bool lossless = false;
        EXPECT_EQ(ReadJpegPrecision(c.stream.data(), c.stream.size(), precision, lossless), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(precision, c.precision) << c.name;
            EXPECT_EQ(lossless, c.lossless) << c.name;
        }
    }
}

// Bits Stored does not choose the library build: a 16-bit lossless stream
// decodes exactly whatever the data set says (the 8- and 12-bit builds would
// return truncated samples, 11 bits would decode nothing).
TEST(JpegDecoder, BuildFollowsTheStreamNotBitsStored) {
    const Bytes stream = FIXTURE(kLossless16);
    for (int16_t bitsStored : {8, 10, 11, 12, 16}) {
        FrameDescription d = Frame(6, 8, 16, 1, Photo::Monochrome2, Compression::JPEGLossless);
        d.pixel.bitsStored = bitsStored;
        DecodedFrame out;
        ASSERT_TRUE(DecodeJpegFrame(d, stream.data(), stream.size(), out)) << bitsStored;
        ASSERT_EQ(out.size, 96u);
        for (uint64_t k = 0; k < 48; ++k) ASSERT_EQ(Word(out, k), uint16_t(k * 1361)) << bitsStored << " sample " << k;
    }
    const Bytes extended = FIXTURE(kExtended12);
    FrameDescription d = Frame(8, 8, 16, 1, Photo::Monochrome2, Compression::JPEG);
    d.pixel.bitsStored = 11;
    DecodedFrame out;
    ASSERT_TRUE(DecodeJpegFrame(d, extended.data(), extended.size(), out));
    for (uint64_t k = 0; k < 64; ++k) EXPECT_NEAR(Word(out, k), k * 64, 3) << k;
}

// A stream cut short keeps the rows decoded before its end exactly, the rest
// stay zero; a stream of which no row decodes is a failure.
TEST(JpegDecoder, TruncatedStreamKeepsDecodedRows) {
    struct Stream {
        const char* name;
        Bytes bytes;
        FrameDescription d;
    };
    const Stream streams[] = {
        {"16-bit lossless", FIXTURE(kLossless16), Frame(6, 8, 16, 1, Photo::Monochrome2, Compression::JPEGLossless)},
        {"8-bit baseline", FIXTURE(kBaseline8), Frame(32, 8, 8, 1, Photo::Monochrome2, Compression::JPEG)},
    };
    for (const Stream& s : streams) {
        DecodedFrame whole;
        ASSERT_TRUE(DecodeJpegFrame(s.d, s.bytes.data(), s.bytes.size(), whole)) << s.name;
        const Bytes full = Output(whole);
        const uint64_t rowBytes = full.size() / s.d.pixel.rows;
        bool sawPartial = false;
        for (size_t n = 1; n < s.bytes.size(); ++n) {
            std::vector<uint8_t> cut(s.bytes.begin(), s.bytes.begin() + n);
            std::vector<uint8_t> out(full.size(), 0);
            JpegBufferResult result;
            const bool ok = DecodeJpegBuffer(cut.data(), cut.size(), s.d, out.data(), out.size(), result).Ok();
            EXPECT_EQ(ok, result.rowsDecoded > 0) << s.name << " cut at " << n;
            const uint64_t kept = result.rowsDecoded * rowBytes;
            ASSERT_LE(kept, full.size());
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + kept, full.begin())) << s.name << " cut at " << n;
            EXPECT_TRUE(std::all_of(out.begin() + kept, out.end(), [](uint8_t b) { return b == 0; }))
                << s.name << " cut at " << n;
            if (result.rowsDecoded > 0 && result.rowsDecoded < s.d.pixel.rows) sawPartial = true;
            DecodedFrame frame;
            EXPECT_EQ(DecodeJpegFrame(s.d, cut.data(), cut.size(), frame).Ok(), ok) << s.name << " cut at " << n;
        }
        EXPECT_TRUE(sawPartial) << s.name;
    }
}

TEST(JpegDecoder, FailsWhenNothingDecodes) {
    Bytes tenBit = FIXTURE(kExtended12);
    int precision = 0;
    bool lossless = false;
    ASSERT_TRUE(ReadJpegPrecision(tenBit.data(), tenBit.size(), precision, lossless));
    for (size_t i = 0; i + 4 < tenBit.size(); ++i)
        if (tenBit[i] == 0xFF && tenBit[i + 1] == 0xC1) tenBit[i + 4] = 10;  // lossy 10-bit: no build
    Bytes garbage = {0xFF, 0xD8};
    for (int i = 0; i < 200; ++i) garbage.push_back(uint8_t(i * 37 + 11));
    const FrameDescription d = Frame(8, 8, 16, 1, Photo::Monochrome2, Compression::JPEG);
    for (const Bytes& stream : {tenBit, garbage, Bytes{0xFF, 0xD8, 0xFF, 0xD9}}) {
        DecodedFrame out;
        EXPECT_FALSE(DecodeJpegFrame(d, stream.data(), stream.size(), out));
        EXPECT_FALSE(out.data);
    }
}

TEST(JpegDecoder, CorruptTwelveBitColourStream) {
    const Bytes stream = FIXTURE(kCorrupt12BitColour);
    int precision = 0;
    bool lossless = true;
    ASSERT_TRUE(ReadJpegPrecision(stream.data(), stream.size(), precision, lossless));
    ASSERT_EQ(precision, 12);
    for (Photo photo : {Photo::RGB, Photo::YBRFull}) {
        DecodedFrame out;
        if (DecodeJpegFrame(Frame(100, 100, 16, 3, photo, Compression::JPEG), stream.data(), stream.size(), out)) {
            EXPECT_EQ(out.size, 60000u);
            EXPECT_TRUE(out.colourConverted);
        }
    }
}

// A stream larger than the buffer fills the buffer's bytes and no more; as
// a frame, a stream whose image is not the file's is refused before any
// output is sized.
TEST(JpegDecoder, OutputBoundedByTheFrame) {
    const Bytes stream = FIXTURE(kBaseline8);  // 8 x 32
    const FrameDescription d = Frame(4, 8, 8, 1, Photo::Monochrome2, Compression::JPEG);
    Bytes buffer(32, 0);
    JpegBufferResult result;
    ASSERT_TRUE(DecodeJpegBuffer(stream.data(), stream.size(), d, buffer.data(), buffer.size(), result));
    for (uint64_t k = 0; k < 32; ++k) EXPECT_NEAR(buffer[k], k / 8 * 8, 2) << k;

    DecodedFrame out;
    const quillon::Status status = DecodeJpegFrame(d, stream.data(), stream.size(), out);
    EXPECT_EQ(status.Code(), Reason::DimensionsDiffer);
    EXPECT_EQ(status.Text(), "The stream's image is 8 x 32, the file says 8 x 4.");
    EXPECT_FALSE(out.data);
}

// ---- Files of pydicom's corpus ----------------------------------------------

const std::filesystem::path kData = std::filesystem::path(QUILLON_PYDICOM_DATA) / "test_files";

struct LoadedFrame {
    CDicomFile file;
    FrameDescription d;
    quillon::HeapPtr<uint8_t> stored;
    ByteSpan bytes;
};

void LoadFrame(const char* name, LoadedFrame& f) {
    ASSERT_TRUE(f.file.Load(kData / name)) << name;
    f.d = DescribeFrames(f.file);
    ASSERT_TRUE(CompressedFrameBytes(f.file, 0, f.stored, f.bytes)) << name;
}

TEST(JpegDecoder, ColourConvertedOnlyForLossyYCbCr) {
    struct Case {
        const char* name;
        bool converted;
    };
    const Case cases[] = {
        {"SC_rgb_dcmtk_+eb+cy+s2.dcm", true},      // YBR_FULL_422, YCbCr stream
        {"SC_rgb_jpeg_lossy_gdcm.dcm", true},      // says RGB, subsampled YCbCr stream
        {"SC_jpeg_no_color_transform.dcm", true},  // RGB stored as is: delivered as RGB, not converted again
        {"SC_rgb_jpeg_gdcm.dcm", false},           // lossless RGB: samples as stored
    };
    for (const Case& c : cases) {
        LoadedFrame f;
        LoadFrame(c.name, f);
        DecodedFrame out;
        ASSERT_TRUE(DecodeCompressedFrame(f.d, f.bytes.data, f.bytes.size, out)) << c.name;
        EXPECT_EQ(out.colourConverted, c.converted) << c.name;
        EXPECT_FALSE(out.planar) << c.name;
    }
}

// SC_jpeg_no_color_transform holds RGB without any marker saying so; the
// library alone would take it for YCbCr. Its first pixel as dcmdjpeg gives it.
TEST(JpegDecoder, RgbStreamWithoutMarkersIsNotConverted) {
    LoadedFrame f;
    LoadFrame("SC_jpeg_no_color_transform.dcm", f);
    DecodedFrame out;
    ASSERT_TRUE(DecodeJpegFrame(f.d, f.bytes.data, f.bytes.size, out));
    DecodedFrame converted;
    FrameDescription ybr = f.d;
    ybr.pixel.photometric = Photo::YBRFull;
    ASSERT_TRUE(DecodeJpegFrame(ybr, f.bytes.data, f.bytes.size, converted));
    EXPECT_NE(Output(out), Output(converted));
}

TEST(Jpeg2000Decoder, LosslessEqualsNativeAndStaysInBounds) {
    CDicomFile native;
    ASSERT_TRUE(native.Load(kData / "MR_small.dcm"));
    quillon::HeapPtr<uint8_t> frame;
    const ByteSpan reference = NativeFrameBytes(native, 0, frame);
    ASSERT_EQ(reference.size, 64u * 64 * 2);
    LoadedFrame f;
    LoadFrame("MR_small_jp2klossless.dcm", f);

    DecodedFrame out;
    ASSERT_TRUE(DecodeJpeg2000Frame(f.d, f.bytes.data, f.bytes.size, out));
    ASSERT_EQ(out.size, reference.size);
    EXPECT_EQ(std::memcmp(out.data.get(), reference.data, reference.size), 0);

    // The image is not the frame's: refused before any output is sized.
    FrameDescription half = f.d;
    half.pixel.rows = 32;
    const quillon::Status other = DecodeJpeg2000Frame(half, f.bytes.data, f.bytes.size, out);
    EXPECT_EQ(other.Code(), Reason::DimensionsDiffer);
    EXPECT_EQ(other.Text(), "The stream's image is 64 x 64, the file says 64 x 32.");
    EXPECT_FALSE(out.data);

    // Fewer components than the frame expects: the missing samples are zero.
    FrameDescription rgb = f.d;
    rgb.pixel.samplesPerPixel = 3;
    ASSERT_TRUE(DecodeJpeg2000Frame(rgb, f.bytes.data, f.bytes.size, out));
    ASSERT_EQ(out.size, reference.size * 3);
    for (uint64_t k = 0; k < 64 * 64; ++k) {
        ASSERT_EQ(std::memcmp(out.data.get() + 6 * k, reference.data + 2 * k, 2), 0) << k;
        ASSERT_EQ(Word(out, 3 * k + 1) | Word(out, 3 * k + 2), 0) << k;
    }
}

TEST(Jpeg2000Decoder, Jp2FileTruncatedAndBrokenStreams) {
    LoadedFrame jp2;
    LoadFrame("GDCMJ2K_TextGBR.dcm", jp2);  // a JP2 file, not a bare codestream
    DecodedFrame out;
    EXPECT_TRUE(DecodeJpeg2000Frame(jp2.d, jp2.bytes.data, jp2.bytes.size, out));

    LoadedFrame f;
    LoadFrame("MR_small_jp2klossless.dcm", f);
    // Cut in the tile data: decoded as far as it goes, the frame keeps its size.
    std::vector<uint8_t> cut(f.bytes.data, f.bytes.data + f.bytes.size * 3 / 4);
    ASSERT_TRUE(DecodeJpeg2000Frame(f.d, cut.data(), cut.size(), out));
    EXPECT_EQ(out.size, 64u * 64 * 2);
    // Cut inside the main header, or not JPEG 2000 at all.
    std::vector<uint8_t> header(f.bytes.data, f.bytes.data + 20);
    EXPECT_FALSE(DecodeJpeg2000Frame(f.d, header.data(), header.size(), out));
    const Bytes jpeg = FIXTURE(kBaseline8);
    EXPECT_FALSE(DecodeJpeg2000Frame(f.d, jpeg.data(), jpeg.size(), out));
    EXPECT_FALSE(out.data);
}

// Every compression goes to its own row of the codec table, and frames are
// routed by it: an RLE stream decodes as RLE only, the JPEG and JPEG 2000
// rows and those of JPEG-LS, HTJ2K and JPEG XL hand it to their own decoders,
// which refuse it; native and unknown frames have no decoder and say so.
TEST(CodecTable, EveryCompressionRoutesToItsRow) {
    const Bytes rle = Rle({64}, {0x01, 7, 8});
    struct Case {
        Compression compression;
        quillon::DecodeFn decoder;  // null: no row
        Reason reason;              // of decoding the RLE stream as this compression
        const char* text;
        Bytes output = {7, 8};      // when decoded
    };
    const Case cases[] = {
        {Compression::RLE, DecodeRleFrame, Reason::None, ""},
        {Compression::JPEG, DecodeJpegFrame, Reason::CodecRefused,
         "The stream does not start with a JPEG start-of-image marker."},
        {Compression::JPEGLossless, DecodeJpegFrame, Reason::CodecRefused,
         "The stream does not start with a JPEG start-of-image marker."},
        {Compression::JPEG2000Lossless, DecodeJpeg2000Frame, Reason::CodecRefused,
         "The stream holds no JPEG 2000 codestream header."},
        {Compression::JPEG2000Lossy, DecodeJpeg2000Frame, Reason::CodecRefused,
         "The stream holds no JPEG 2000 codestream header."},
        {Compression::JPEGLSLossless, DecodeJpegLsFrame, Reason::CodecRefused,
         "The stream does not start with a JPEG start-of-image marker."},
        {Compression::JPEGLSLossy, DecodeJpegLsFrame, Reason::CodecRefused,
         "The stream does not start with a JPEG start-of-image marker."},
        {Compression::HTJ2KLossless, DecodeHtj2kFrame, Reason::CodecRefused,
         "The stream does not start with a JPEG 2000 codestream marker."},
        {Compression::HTJ2KLosslessRPCL, DecodeHtj2kFrame, Reason::CodecRefused,
         "The stream does not start with a JPEG 2000 codestream marker."},
        {Compression::HTJ2K, DecodeHtj2kFrame, Reason::CodecRefused,
         "The stream does not start with a JPEG 2000 codestream marker."},
        {Compression::JPEGXLLossless, DecodeJpegXlFrame, Reason::CodecRefused,
         "The stream is no JPEG XL codestream or container."},
        {Compression::JPEGXLRecompression, DecodeJpegXlFrame, Reason::CodecRefused,
         "The stream is no JPEG XL codestream or container."},
        {Compression::JPEGXL, DecodeJpegXlFrame, Reason::CodecRefused, "The stream is no JPEG XL codestream or container."},
        {Compression::None, nullptr, Reason::NoDecoder, "No decoder for NONE."},
        {Compression::Unknown, nullptr, Reason::NoDecoder, "No decoder for UNKNOWN."},
        // The stream's first bytes are the frame's native bytes.
        {Compression::EncapsulatedUncompressed, DecodeEncapsulatedNativeFrame, Reason::None, "", {1, 0}},
        {Compression::DeflatedFrames, DecodeDeflatedFrame, Reason::CodecRefused,
         "The deflate stream is corrupt at byte 5 (invalid stored block lengths)."},
        {Compression::MPEG2, nullptr, Reason::NoDecoder,
         "No decoder for MPEG-2: video streams are shown as their fragments."},
        {Compression::H264, nullptr, Reason::NoDecoder,
         "No decoder for H.264: video streams are shown as their fragments."},
        {Compression::HEVC, nullptr, Reason::NoDecoder,
         "No decoder for HEVC: video streams are shown as their fragments."},
    };
    ASSERT_EQ(std::size(cases), std::size_t(Compression::HEVC) + 1) << "a compression without a case";
    for (const Case& c : cases) {
        SCOPED_TRACE(quillon::CompressionName(c.compression));
        const quillon::CodecRow* row = quillon::FindCodec(c.compression);
        EXPECT_EQ(HasFrameCodec(c.compression), c.decoder != nullptr);
        if (c.decoder) {
            ASSERT_NE(row, nullptr);
            EXPECT_EQ(row->compression, c.compression);
            EXPECT_EQ(row->decode, c.decoder);
        } else {
            EXPECT_EQ(row, nullptr);
        }
        DecodedFrame out;
        const quillon::Status status =
            DecodeCompressedFrame(Frame(1, 2, 8, 1, Photo::Monochrome2, c.compression), rle.data(), rle.size(), out);
        EXPECT_EQ(status.Code(), c.reason);
        EXPECT_EQ(status.Text(), c.text);
        EXPECT_EQ(Output(out), c.reason == Reason::None ? c.output : Bytes());
    }
    // One row per compression.
    for (const quillon::CodecRow& row : quillon::CodecRows())
        EXPECT_EQ(quillon::FindCodec(row.compression), &row) << quillon::CompressionName(row.compression);

    // A layout the codec does not take is refused before any byte is read.
    DecodedFrame out;
    const quillon::Status twelve = DecodeCompressedFrame(Frame(1, 2, 12, 1), rle.data(), rle.size(), out);
    EXPECT_EQ(twelve.Code(), Reason::CodecRefused);
    EXPECT_EQ(twelve.Text(), "The RLE decoder does not take frames of 12 bits allocated.");
}

// The start of a JPEG 2000 codestream: SOC and an image header (SIZ) of one
// 8-bit component, width x height in square tiles of `tile`.
Bytes J2kHeader(uint32_t width, uint32_t height, uint32_t tile) {
    Bytes b = {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x29, 0x00, 0x00};
    for (uint32_t v : {width, height, 0u, 0u, tile, tile, 0u, 0u})
        for (int k = 3; k >= 0; --k) b.push_back(uint8_t(v >> (8 * k)));
    const Bytes components = {0x00, 0x01, 0x07, 0x01, 0x01};  // Csiz, then Ssiz, XRsiz, YRsiz
    b.insert(b.end(), components.begin(), components.end());
    return b;
}

// Small broken streams: each decoder says why it gives no samples, in the
// reason's code and a sentence with the numbers that show it.
TEST(FrameCodecs, DecodersSayWhyTheyGiveNoSamples) {
    Bytes noFrameHeader = FIXTURE(kBaseline8);
    noFrameHeader.resize(20);  // inside the quantisation table
    Bytes tenBit = FIXTURE(kExtended12);
    Bytes huge = FIXTURE(kBaseline8);
    Bytes cutInScan = FIXTURE(kBaseline8);
    for (size_t i = 0; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0x04, huge[i + 6] = 0x00, huge[i + 7] = 0x04, huge[i + 8] = 0x00;  // 1024 x 1024
        }
        if (tenBit[i] == 0xFF && tenBit[i + 1] == 0xC1) tenBit[i + 4] = 10;
        if (cutInScan[i] == 0xFF && cutInScan[i + 1] == 0xDA) cutInScan.resize(i + 10);  // the scan header and no data
    }
    Bytes cutJ2k = J2kHeader(64, 64, 64);
    cutJ2k.resize(30);
    const Bytes jpeg = FIXTURE(kBaseline8);
    const FrameDescription grey8 = Frame(64, 64, 8, 1);
    const FrameDescription jpeg8 = Frame(32, 8, 8, 1, Photo::Monochrome2, Compression::JPEG);
    const FrameDescription j2k8 = Frame(64, 64, 8, 1, Photo::Monochrome2, Compression::JPEG2000Lossless);
    struct Case {
        const char* name;
        quillon::DecodeFn decode;
        FrameDescription d;
        Bytes stream;
        Reason reason;
        std::string text;
    };
    const Case cases[] = {
        {"RLE header cut short", DecodeRleFrame, grey8, Bytes(40, 0), Reason::StreamEndsEarly,
         "The stream ends early at byte 40, inside the 64-byte RLE header."},
        {"RLE of 12-bit samples", DecodeRleFrame, Frame(1, 2, 12, 1), Rle({64}, {0x01, 7, 8}), Reason::CodecRefused,
         "The RLE decoder takes 8-, 16- and 32-bit samples, not 12-bit ones."},
        {"RLE of 16-bit samples in three segments", DecodeRleFrame, Frame(1, 1, 16, 1), Rle({64, 66, 68}, {0, 1, 0, 2}),
         Reason::CodecRefused,
         "The RLE header gives 3 segments; samples of 16 bits, 1 per pixel, come in 2."},
        {"RLE segment past the stream", DecodeRleFrame, Frame(1, 2, 8, 1), Rle({200}, {0x01, 1, 2}),
         Reason::CodecRefused, "No sample could be decoded from the RLE segments."},
        {"RLE of no bytes", DecodeRleFrame, grey8, Bytes(), Reason::NoBytes, "The frame has no bytes."},
        {"RLE of a frame too large to hold", DecodeRleFrame, Frame(0xFFFFFFFF, 0xFFFFFFFF, 16, 3), Bytes(64, 0),
         Reason::OverBudget, "The frame the file describes (4294967295 x 4294967295) is too large to hold."},
        {"JPEG with no frame header",
         DecodeJpegFrame,
         jpeg8,
         {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08, 0x01},
         Reason::CodecRefused,
         "The JPEG stream has no frame header before its first scan."},
        {"JPEG cut before its frame header", DecodeJpegFrame, jpeg8, noFrameHeader, Reason::StreamEndsEarly,
         "The stream ends early at byte 20, before a JPEG frame header."},
        {"JPEG cut before its first row", DecodeJpegFrame, jpeg8, cutInScan, Reason::StreamEndsEarly,
         "The stream ends early at byte " + std::to_string(cutInScan.size()) + ", before its first row."},
        {"JPEG of 10-bit lossy precision", DecodeJpegFrame, Frame(8, 8, 16, 1, Photo::Monochrome2, Compression::JPEG),
         tenBit, Reason::CodecRefused, "No JPEG decoder here takes lossy streams of 10-bit precision."},
        {"JPEG image far larger than the frame", DecodeJpegFrame, jpeg8, huge, Reason::DimensionsDiffer,
         "The stream's image is 1024 x 1024, the file says 8 x 32."},
        {"J2K image far larger than the frame", DecodeJpeg2000Frame, j2k8, J2kHeader(1024, 1024, 1024),
         Reason::DimensionsDiffer, "The stream's image is 1024 x 1024, the file says 64 x 64."},
        {"J2K of too many tiles", DecodeJpeg2000Frame, Frame(512, 512, 8, 1), J2kHeader(512, 512, 1),
         Reason::OverBudget, "The stream claims 262144 tiles; more than 4096 are not decoded."},
        {"J2K header cut short", DecodeJpeg2000Frame, j2k8, cutJ2k, Reason::StreamEndsEarly,
         "The stream ends early at byte 30, inside the image header."},
        {"J2K given a JPEG stream", DecodeJpeg2000Frame, j2k8, jpeg, Reason::CodecRefused,
         "The stream holds no JPEG 2000 codestream header."},
        {"J2K header without tiles", DecodeJpeg2000Frame, j2k8, J2kHeader(64, 64, 64), Reason::CodecRefused,
         "The JPEG 2000 decoder refused the stream."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedFrame out;
        const quillon::Status status = c.decode(c.d, c.stream.data(), c.stream.size(), out);
        EXPECT_EQ(status.Code(), c.reason);
        EXPECT_EQ(status.Text(), c.text);
        EXPECT_FALSE(out.data);
    }
}

// ---- Small streams that claim huge images -----------------------------------

// A JP2 file: the signature and file type boxes, a header box, `boxes`
// (anything a file may hold before its codestream), then the codestream box.
Bytes Jp2(const Bytes& boxes, const Bytes& codestream) {
    auto box = [](const char* type, const Bytes& payload) {
        const uint32_t length = uint32_t(8 + payload.size());
        Bytes b = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)};
        for (int k = 0; k < 4; ++k) b.push_back(uint8_t(type[k]));
        b.insert(b.end(), payload.begin(), payload.end());
        return b;
    };
    return Cat({box("jP  ", {0x0D, 0x0A, 0x87, 0x0A}),
                box("ftyp", {'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' '}),
                box("jp2h", box("ihdr", Bytes(14, 0))), boxes, box("jp2c", codestream)});
}

Bytes XmlBox(const Bytes& payload) {
    const uint32_t length = uint32_t(8 + payload.size());
    return Cat(
        {{uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), 'x', 'm', 'l', ' '},
         payload});
}

// The SIZ header of J2kHeader with `components` components.
Bytes WithComponents(Bytes header, uint16_t components) {
    header[4] = 0, header[5] = uint8_t(38 + 3 * components);
    header[40] = uint8_t(components >> 8), header[41] = uint8_t(components);
    header.resize(42);
    for (uint16_t c = 0; c < components; ++c) header.insert(header.end(), {0x07, 0x01, 0x01});
    return header;
}

// Each stream's own header is read before anything is sized from the data
// set: a file claiming a huge image over a small stream, a stream claiming
// far more than the file, or a frame over the decode budget is refused with
// its reason and no output, whatever the data set says.
TEST(FrameCodecs, SmallStreamsCannotClaimHugeImages) {
    const uint32_t huge = 65535;
    // Two segments of 64 runs of 2 bytes each: 8 KiB a segment at most.
    Bytes runs;
    for (int k = 0; k < 64; ++k) runs.insert(runs.end(), {0x81, 0x00});
    const Bytes rleHuge = Rle({64, uint32_t(64 + runs.size())}, Cat({runs, runs}));
    // A 16 x 16 frame of 8 bits, 64 bytes short of the 256: zero-filled.
    const Bytes rleShort = Rle({64}, {0xC1, 0x05, 0xC1, 0x05, 0xC1, 0x05});  // 3 x 64 = 192 bytes
    Bytes extended12InEight = FIXTURE(kExtended12);
    Bytes threeComponents = FIXTURE(kBaseline8);  // 8 x 32, one component
    for (size_t i = 0; i + 9 < threeComponents.size(); ++i)
        if (threeComponents[i] == 0xFF && threeComponents[i + 1] == 0xC0) threeComponents[i + 9] = 3;
    const Bytes decoy = J2kHeader(16, 16, 16);
    const Bytes realManyTiles = WithComponents(J2kHeader(255, 257, 1), 16);
    struct Case {
        const char* name;
        FrameDescription d;
        Bytes stream;
        Reason reason;
        std::string text;  // the sentence's start
    };
    const Case cases[] = {
        {"RLE of 256 bytes claiming 65535 x 65535 x 16 bits", Frame(huge, huge, 16, 1), rleHuge,
         Reason::StreamEndsEarly, "The RLE segments give 16384 bytes of the frame's 8589672450."},
        {"RLE a quarter short of a small frame", Frame(16, 16, 8, 1), rleShort, Reason::None, ""},
        {"JPEG baseline under a 65535 x 65535 data set", Frame(huge, huge, 8, 1, Photo::Monochrome2, Compression::JPEG),
         FIXTURE(kBaseline8), Reason::DimensionsDiffer, "The stream's image is 8 x 32, the file says 65535 x 65535."},
        {"JPEG lossless under a 65535 x 65535 data set",
         Frame(huge, huge, 16, 1, Photo::Monochrome2, Compression::JPEGLossless), FIXTURE(kLossless16),
         Reason::DimensionsDiffer, "The stream's image is "},
        {"JPEG of three components in a grey frame", Frame(32, 8, 8, 1, Photo::Monochrome2, Compression::JPEG),
         threeComponents, Reason::DimensionsDiffer,
         "The stream's frame header gives 3 components; the file says 1 samples per pixel."},
        {"JPEG of 12-bit samples in 8 bits allocated", Frame(8, 8, 8, 1, Photo::Monochrome2, Compression::JPEG),
         extended12InEight, Reason::DimensionsDiffer,
         "The stream's samples have 12 bits of precision, the file allocates 8."},
        {"J2K under a 65535 x 65535 data set",
         Frame(huge, huge, 8, 1, Photo::Monochrome2, Compression::JPEG2000Lossless), J2kHeader(16, 16, 16),
         Reason::DimensionsDiffer, "The stream's image is 16 x 16, the file says 65535 x 65535."},
        {"JP2 with a harmless decoy header before a codestream of 65535 tiles",
         Frame(257, 255, 8, 1, Photo::Monochrome2, Compression::JPEG2000Lossless), Jp2(XmlBox(decoy), realManyTiles),
         Reason::OverBudget, "The stream claims 65535 tiles; more than 4096 are not decoded."},
        {"JP2 of 16 components in a grey frame", Frame(64, 64, 8, 1, Photo::Monochrome2, Compression::JPEG2000Lossless),
         Jp2({}, WithComponents(J2kHeader(64, 64, 64), 16)), Reason::DimensionsDiffer,
         "The stream's image header gives 16 components; the file says 1 samples per pixel."},
        {"JP2 whose only codestream header is inside an XML box",
         Frame(16, 16, 8, 1, Photo::Monochrome2, Compression::JPEG2000Lossless), Jp2(XmlBox(decoy), {}),
         Reason::CodecRefused, "The stream holds no JPEG 2000 codestream header."},
        {"J2K agreeing with a frame over the budget",
         Frame(16384, 16384, 16, 1, Photo::Monochrome2, Compression::JPEG2000Lossless), J2kHeader(16384, 16384, 4096),
         Reason::OverBudget,
         "Decoding the frame (16384 x 16384, 1 sample of 16 bits) would take 2560 MiB; frames over the 256 MiB budget "
         "are not decoded."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedFrame out;
        const quillon::Status status = DecodeCompressedFrame(c.d, c.stream.data(), c.stream.size(), out);
        EXPECT_EQ(status.Code(), c.reason) << status.Text();
        EXPECT_EQ(status.Text().substr(0, c.text.size()), c.text);
        if (c.reason == Reason::None) {
            // What the segments gave, then zeros: the output is the frame's, no more.
            ASSERT_EQ(out.size, ExpectedDecodedSize(c.d));
            EXPECT_EQ(Output(out), Cat({Bytes(192, 5), Bytes(64, 0)}));
        } else {
            EXPECT_FALSE(out.data);
        }
    }
}

// The budget counts every stage of a frame's decode for display.
TEST(FrameCodecs, DecodeBudgetCountsEveryStage) {
    const FrameDescription grey16 = Frame(512, 512, 16, 1, Photo::Monochrome2, Compression::JPEG2000Lossless);
    // Decoded samples, OpenJPEG's 32-bit components, the 16-bit display
    // image and the thumbnail's copy of it.
    EXPECT_EQ(FrameDecodePeak(grey16, FrameCodecWorkingBytes(grey16)), 512u * 512 * (2 + 4 + 2 + 2));
    const FrameDescription rgb8 = Frame(512, 512, 8, 3, Photo::RGB, Compression::JPEG);
    EXPECT_EQ(FrameDecodePeak(rgb8, FrameCodecWorkingBytes(rgb8)), 512u * 512 * (3 + 0 + 4 + 4));
    EXPECT_TRUE(CheckFrameBudget(grey16, kFrameDecodeBudget));
    EXPECT_EQ(CheckFrameBudget(grey16, kFrameDecodeBudget + 1).Code(), Reason::OverBudget);
    const FrameDescription endless = Frame(0xFFFFFFFF, 0xFFFFFFFF, 16, 4);
    EXPECT_EQ(FrameDecodePeak(endless, FrameCodecWorkingBytes(endless)), UINT64_MAX);
}

// ---- Frame bytes from fragments ----------------------------------------------

// A JPEG Baseline file with `frames` frames, an offset table of these offsets
// and these fragments.
Bytes EncapsulatedFile(int frames, std::initializer_list<uint32_t> table, std::initializer_list<Bytes> fragments) {
    Writer w = Part10("1.2.840.10008.1.2.4.50");
    StudyElements(w);
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0008, "IS", Pad(std::to_string(frames)));
    w.us(0x0028, 0x0010, 2).us(0x0028, 0x0011, 2).us(0x0028, 0x0100, 8);
    w.header(0x7FE0, 0x0010, "OB", kUndefinedLength);
    w.item(uint32_t(table.size() * 4));
    for (uint32_t o : table) w.le32(o);
    for (const Bytes& f : fragments) w.item(uint32_t(f.size())).raw(f);
    w.seqEnd();
    return w.bytes();
}

TEST(CompressedFrameBytes, FragmentsOfEachFrame) {
    const Bytes a = {1, 2}, b = {3, 4, 5, 6}, c = {7, 8}, d = {9, 10};
    struct Case {
        const char* name;
        Bytes file;
        std::vector<Bytes> frames;  // empty entry: no bytes for that frame
    };
    const Case cases[] = {
        {"one frame per fragment, empty table", EncapsulatedFile(3, {}, {a, b, c}), {a, b, c}},
        {"one frame, several fragments: joined", EncapsulatedFile(1, {}, {a, b, c}), {{1, 2, 3, 4, 5, 6, 7, 8}}},
        {"offset table names each frame's first fragment",
         EncapsulatedFile(2, {0, 22}, {a, b, c, d}),
         {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10}}},
        {"offset table off an item tag: one fragment per frame", EncapsulatedFile(2, {0, 12}, {a, b, c, d}), {a, b}},
        {"offsets descending: one fragment per frame", EncapsulatedFile(2, {10, 0}, {a, b, c}), {a, b}},
        {"first offset not 0: one fragment per frame", EncapsulatedFile(2, {10, 22}, {a, b, c, d}), {a, b}},
        {"offset past the fragments: one fragment per frame", EncapsulatedFile(2, {0, 80}, {a, b}), {a, b}},
        {"table with more entries than frames: one fragment per frame",
         EncapsulatedFile(2, {0, 10, 22}, {a, b, c}),
         {a, b}},
        {"fewer fragments than frames", EncapsulatedFile(3, {}, {a, b}), {a, b, {}}},
    };
    for (const Case& k : cases) {
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(k.file.data(), k.file.size())) << k.name;
        for (size_t i = 0; i < k.frames.size(); ++i) {
            quillon::HeapPtr<uint8_t> stored;
            ByteSpan bytes;
            const bool ok = CompressedFrameBytes(file, i, stored, bytes).Ok();
            EXPECT_EQ(ok, !k.frames[i].empty()) << k.name << " frame " << i;
            if (!ok) continue;
            EXPECT_EQ(Bytes(bytes.data, bytes.data + bytes.size), k.frames[i]) << k.name << " frame " << i;
        }
        quillon::HeapPtr<uint8_t> stored;
        ByteSpan bytes;
        EXPECT_FALSE(CompressedFrameBytes(file, file.Pixel().numberOfFrames, stored, bytes)) << k.name;
    }
}

}  // namespace
