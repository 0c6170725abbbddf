// Frames of every form get a picture: native bytes in fragments (as they are
// and deflated) decode to what the native file gives; 1-bit grey, 16- and
// 32-bit colour and 32-bit grey are shown; the deflate decoder's faults;
// video streams say why they are not decoded.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "image/CodecTable.h"
#include "image/FrameCodecs.h"
#include "image/FrameDecoder.h"
#include "tests/support/DicomWriter.h"

namespace {

using testdicom::Bytes;
using testdicom::Pad;
using quillon::Reason;

constexpr const char* kDeflatedFrames = "1.2.840.10008.1.2.8.1";
constexpr const char* kEncapsulatedUncompressed = "1.2.840.10008.1.2.1.98";

// A raw deflate stream (RFC 1951) of `data`.
Bytes Deflate(const Bytes& data, int level = 6) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Layout {
    const char* name;
    const char* photometric;
    uint16_t samples, bits, stored;
    bool isSigned;
    uint16_t planar;
    uint16_t rows, columns;
    int frames;
    // Bytes of frame k, as a native file holds them.
    std::function<Bytes(int k, const Layout&)> frame;
};

// Bytes of one frame whose every byte is a function of frame and position.
Bytes Pattern(int k, const Layout& l) {
    const uint64_t size = (uint64_t(l.rows) * l.columns * l.samples * l.bits + 7) / 8;
    Bytes b(size);
    for (uint64_t i = 0; i < size; ++i) b[i] = uint8_t((i * 37 + k * 101 + (i >> 5) * 13) ^ (i >> 3));
    return b;
}

Bytes PixelElements(testdicom::Writer& w, const Layout& l) {
    testdicom::StudyElements(w);
    w.us(0x0028, 0x0002, l.samples);
    w.text(0x0028, 0x0004, "CS", Pad(l.photometric));
    if (l.samples > 1) w.us(0x0028, 0x0006, l.planar);
    w.text(0x0028, 0x0008, "IS", Pad(std::to_string(l.frames)));
    w.us(0x0028, 0x0010, l.rows);
    w.us(0x0028, 0x0011, l.columns);
    w.us(0x0028, 0x0100, l.bits);
    w.us(0x0028, 0x0101, l.stored);
    w.us(0x0028, 0x0102, uint16_t(l.stored - 1));
    w.us(0x0028, 0x0103, l.isSigned ? 1 : 0);
    return w.bytes();
}

Bytes NativeFile(const Layout& l) {
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    PixelElements(w, l);
    Bytes pixels;
    for (int k = 0; k < l.frames; ++k) {
        const Bytes f = l.frame(k, l);
        pixels.insert(pixels.end(), f.begin(), f.end());
    }
    if (pixels.size() % 2) pixels.push_back(0);
    w.element(0x7FE0, 0x0010, l.bits == 8 || l.bits == 1 ? "OB" : "OW", pixels);
    return w.bytes();
}

// Each frame in two fragments (its stream split in the middle), a basic
// offset table naming each frame's first.
Bytes EncapsulatedFile(const Layout& l, const char* syntax, bool deflated) {
    testdicom::Writer w = testdicom::Part10(syntax);
    PixelElements(w, l);
    std::vector<Bytes> fragments;
    std::vector<uint32_t> offsets;
    uint32_t at = 0;
    for (int k = 0; k < l.frames; ++k) {
        Bytes stream = l.frame(k, l);
        if (deflated) stream = Deflate(stream);
        offsets.push_back(at);
        const std::size_t half = stream.size() / 2;
        for (Bytes part : {Bytes(stream.begin(), stream.begin() + half), Bytes(stream.begin() + half, stream.end())}) {
            if (part.size() % 2) part.push_back(0);
            at += 8 + uint32_t(part.size());
            fragments.push_back(part);
        }
    }
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(uint32_t(4 * offsets.size()));
    for (uint32_t o : offsets) w.u32(o);
    for (const Bytes& f : fragments) w.item(uint32_t(f.size())).raw(f);
    w.seqEnd();
    return w.bytes();
}

Bytes Block(const MCImage* image) {
    return image && image->HasBlock() ? Bytes(image->GetBlock(), image->GetBlock() + image->GetBlockSize()) : Bytes{};
}

uint8_t Grey(const MCImage& t, uint32_t x, uint32_t y) { return t.GetBits()[(y * t.GetWidth() + x) * 3]; }

// A frame of 32-bit samples (or 16-bit ones) from values.
template <class T>
Bytes Samples(const std::vector<T>& values) {
    Bytes b(values.size() * sizeof(T));
    std::memcpy(b.data(), values.data(), b.size());
    return b;
}

}  // namespace

// Fragments that hold a frame's native bytes, as they are or deflated, give
// the native frame's samples and the native file's pictures, in every
// layout; a frame split over two fragments included.
TEST(NativeFragments, DecodeToWhatTheNativeFileGives) {
    const Layout layouts[] = {
        {"8-bit grey, 3 frames", "MONOCHROME2", 1, 8, 8, false, 0, 24, 20, 3, Pattern},
        {"16-bit signed grey, 12 stored", "MONOCHROME2", 1, 16, 12, true, 0, 16, 16, 2, Pattern},
        {"8-bit RGB, planar", "RGB", 3, 8, 8, false, 1, 10, 14, 2, Pattern},
        {"8-bit RGB, interleaved", "RGB", 3, 8, 8, false, 0, 10, 14, 1, Pattern},
        {"1-bit MONOCHROME1, 2 frames", "MONOCHROME1", 1, 1, 1, false, 0, 16, 32, 2, Pattern},
        {"32-bit unsigned grey", "MONOCHROME2", 1, 32, 32, false, 0, 12, 12, 2, Pattern},
        {"16-bit RGB", "RGB", 3, 16, 16, false, 0, 8, 8, 1, Pattern},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.name);
        const Bytes nativeBytes = NativeFile(l);
        CDicomFile native;
        ASSERT_TRUE(native.LoadMemory(nativeBytes.data(), nativeBytes.size()));
        quillon::FrameDecoder nativeFrames(native);
        for (const auto& [syntax, deflated] : {std::pair{kEncapsulatedUncompressed, false}, {kDeflatedFrames, true}}) {
            SCOPED_TRACE(syntax);
            const Bytes bytes = EncapsulatedFile(l, syntax, deflated);
            CDicomFile file;
            ASSERT_TRUE(file.LoadMemory(bytes.data(), bytes.size()));
            EXPECT_FALSE(file.IsUncompressed());
            quillon::FrameDecoder frames(file);
            for (int k = 0; k < l.frames; ++k) {
                SCOPED_TRACE(k);
                std::vector<uint8_t> samples;
                ASSERT_TRUE(frames.GetFrameSamples(k, samples)) << frames.GetFrameSamples(k, samples).Text();
                EXPECT_EQ(samples, l.frame(k, l));
                const auto thumbnail = frames.GetFrameThumbnail(k);
                ASSERT_NE(thumbnail, nullptr) << frames.FrameStatus(k).Text();
                EXPECT_EQ(Block(thumbnail.get()), Block(nativeFrames.GetFrameThumbnail(k).get()));
                EXPECT_EQ(Block(frames.GetFrameImage(k).get()), Block(nativeFrames.GetFrameImage(k).get()));
            }
        }
    }
}

// What the deflate decoder makes of streams that do not give the frame: each
// fault is a reason, and a stream that would inflate far beyond the frame
// stops at it.
TEST(NativeFragments, DeflateStreamFaults) {
    FrameDescription d;
    d.pixel.numberOfFrames = 1;
    d.pixel.rows = d.pixel.columns = 16;
    d.pixel.bitsAllocated = d.pixel.bitsStored = 8;
    d.pixel.samplesPerPixel = 1;
    d.pixel.photometric = quillon::Photometric::Monochrome2;
    d.pixel.compression = d.pixel.syntaxFamily = quillon::Compression::DeflatedFrames;
    Bytes frame(256);
    for (int i = 0; i < 256; ++i) frame[i] = uint8_t(i * 7);
    const Bytes good = Deflate(frame);
    const Bytes bomb = Deflate(Bytes(64 << 20, 0x5A), 9);  // 64 MiB in a few KiB
    Bytes corrupt = good;
    corrupt[0] |= 0x06;  // block type 3, which does not exist
    const Bytes cut(good.begin(), good.begin() + good.size() / 2);
    const Bytes shortStream = Deflate(Bytes(100, 1));
    struct Case {
        const char* name;
        quillon::DecodeFn decode;
        Bytes stream;
        Reason reason;
        std::string text;  // the sentence's start
        Bytes output;      // when decoded
    };
    const Case cases[] = {
        {"whole stream", DecodeDeflatedFrame, good, Reason::None, "", frame},
        {"a bomb stops at the frame's size", DecodeDeflatedFrame, bomb, Reason::None, "", Bytes(256, 0x5A)},
        {"invalid block type", DecodeDeflatedFrame, corrupt, Reason::CodecRefused,
         "The deflate stream is corrupt at byte 1 (invalid block type).", {}},
        {"cut in half", DecodeDeflatedFrame, cut, Reason::StreamEndsEarly,
         "The deflate stream ends early at byte " + std::to_string(cut.size()) + ", after ", {}},
        {"a stream of fewer bytes than the frame", DecodeDeflatedFrame, shortStream, Reason::DimensionsDiffer,
         "The deflate stream ends after 100 bytes; the frame the file describes has 256.", {}},
        {"no bytes", DecodeDeflatedFrame, {}, Reason::NoBytes, "The frame has no bytes.", {}},
        {"uncompressed fragment short of the frame", DecodeEncapsulatedNativeFrame, Bytes(200, 3),
         Reason::StreamEndsEarly, "The frame's fragments end at byte 200 of its 256 bytes.", {}},
        {"uncompressed fragment with its padding byte", DecodeEncapsulatedNativeFrame, Bytes(258, 4), Reason::None, "",
         Bytes(256, 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedFrame out;
        const quillon::Status status = c.decode(d, c.stream.data(), c.stream.size(), out);
        EXPECT_EQ(status.Code(), c.reason) << status.Text();
        EXPECT_EQ(status.Text().substr(0, c.text.size()), c.text);
        EXPECT_EQ(out.data ? Bytes(out.data.get(), out.data.get() + out.size) : Bytes{}, c.output);
    }
    // A frame over the budget is refused before anything is inflated.
    d.pixel.rows = d.pixel.columns = 16384;
    d.pixel.bitsAllocated = 16;
    DecodedFrame out;
    EXPECT_EQ(DecodeDeflatedFrame(d, bomb.data(), bomb.size(), out).Code(), Reason::OverBudget);
}

// 1-bit frames: bit k of the frame (least significant first) is pixel k, 0
// black and 1 white; MONOCHROME1 is inverted where every grey image is.
TEST(FrameForms, OneBitFramesArePackedLeastSignificantFirst) {
    for (const char* photometric : {"MONOCHROME2", "MONOCHROME1"}) {
        SCOPED_TRACE(photometric);
        // 128 x 128: the thumbnail is the image itself. Row y has its first
        // y pixels white.
        Layout l{"", photometric, 1, 1, 1, false, 0, 128, 128, 1, [](int, const Layout&) {
                     Bytes b(128 * 16, 0);
                     for (int y = 0; y < 128; ++y)
                         for (int x = 0; x < y; ++x) b[(y * 128 + x) / 8] |= uint8_t(1 << (x % 8));
                     return b;
                 }};
        const Bytes bytes = NativeFile(l);
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(bytes.data(), bytes.size()));
        quillon::FrameDecoder frames(file);
        const auto image = frames.GetFrameImage(0);
        ASSERT_NE(image, nullptr) << frames.FrameStatus(0).Text();
        EXPECT_EQ(image->GetBitsPerPixel(), 8);
        const auto thumbnail = frames.GetFrameThumbnail(0);
        ASSERT_NE(thumbnail, nullptr);
        const bool inverted = std::string(photometric) == "MONOCHROME1";
        for (uint32_t y : {0u, 1u, 9u, 64u, 127u})
            for (uint32_t x : {0u, 1u, 7u, 8u, 63u, 126u}) {
                const uint8_t white = x < y ? 255 : 0;
                EXPECT_EQ(image->GetBits()[y * 128 + x], white) << x << "," << y;
                EXPECT_EQ(Grey(*thumbnail, x, y), inverted ? 255 - white : white) << x << "," << y;
            }
    }
}

// 1-bit frames follow one another bit by bit: frame k starts at bit
// k x Rows x Columns of the value, inside a byte when that is no multiple of
// 8. Each frame's bytes are those that hold its bits (a byte shared with the
// next frame counted in both), its samples are its own bits moved to bit 0
// (the rest of the last byte 0), and its picture and thumbnail are its own.
TEST(FrameForms, OneBitFramesFollowBitByBit) {
    // Three distinct 5 x 5 patterns (row-major, 1 white): a diagonal, an
    // anti-diagonal with the middle row, an L.
    // clang-format off
    const std::vector<std::string> patterns = {
        "10000" "01000" "00100" "00010" "00001",
        "00001" "00010" "11111" "01000" "10000",
        "01000" "01000" "01000" "01000" "11111",
    };
    // clang-format on
    struct Case {
        const char* name;
        uint16_t side;
        testdicom::Syntax syntax;
        std::vector<uint64_t> offsets, sizes;  // of each frame, from the value's first byte
        uint64_t frameSize;
    };
    const Case cases[] = {
        {"5 x 5, 25 bits a frame", 5, testdicom::Syntax::ExplicitLittle, {0, 3, 6}, {4, 4, 4}, 4},
        {"5 x 5, implicit VR", 5, testdicom::Syntax::ImplicitLittle, {0, 3, 6}, {4, 4, 4}, 4},
        {"3 x 3, 9 bits a frame", 3, testdicom::Syntax::ExplicitLittle, {0, 1, 2}, {2, 2, 2}, 2},
        {"4 x 4, whole bytes", 4, testdicom::Syntax::ExplicitLittle, {0, 2, 4}, {2, 2, 2}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t n = uint32_t(c.side) * c.side;
        // Pixel (x, y) of frame k, white or not: the pattern's cell, cut to the side.
        auto white = [&](int k, uint32_t x, uint32_t y) { return patterns[std::size_t(k)][y * 5 + x] == '1'; };
        Bytes value((3 * n + 7) / 8, 0);
        for (int k = 0; k < 3; ++k)
            for (uint32_t i = 0; i < n; ++i)
                if (white(k, i % c.side, i / c.side)) value[(k * n + i) / 8] |= uint8_t(1 << ((k * n + i) % 8));
        if (value.size() % 2) value.push_back(0);
        testdicom::Writer w = testdicom::Part10(c.syntax == testdicom::Syntax::ImplicitLittle ? testdicom::kImplicitLE
                                                                                              : testdicom::kExplicitLE);
        Layout l{"", "MONOCHROME2", 1, 1, 1, false, 0, c.side, c.side, 3, nullptr};
        PixelElements(w, l);
        w.element(0x7FE0, 0x0010, "OB", value);
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(w.bytes().data(), w.bytes().size()));
        const CDicomTag7FE0* pixels = file.PixelData();
        ASSERT_NE(pixels, nullptr);
        ASSERT_EQ(pixels->FrameCount(), 3u);
        EXPECT_EQ(pixels->FrameSize(), c.frameSize);
        for (const SLoadProblem& p : file.Problems().All()) EXPECT_NE(p.code, ProblemCode::PixelDataLength) << p.text;
        quillon::FrameDecoder frames(file);
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE("frame " + std::to_string(k + 1));
            EXPECT_EQ(pixels->FrameOffset(std::size_t(k)) - pixels->m_dataOffset, c.offsets[std::size_t(k)]);
            EXPECT_EQ(pixels->FrameBytes(std::size_t(k)), c.sizes[std::size_t(k)]);
            Bytes expected(c.frameSize, 0);
            for (uint32_t i = 0; i < n; ++i)
                if (white(k, i % c.side, i / c.side)) expected[i / 8] |= uint8_t(1 << (i % 8));
            std::vector<uint8_t> samples;
            ASSERT_TRUE(frames.GetFrameSamples(std::size_t(k), samples));
            EXPECT_EQ(Bytes(samples.begin(), samples.end()), expected);
            const auto image = frames.GetFrameImage(std::size_t(k));
            ASSERT_NE(image, nullptr) << frames.FrameStatus(std::size_t(k)).Text();
            const auto thumbnail = frames.GetFrameThumbnail(std::size_t(k));
            ASSERT_NE(thumbnail, nullptr);
            for (uint32_t y = 0; y < c.side; ++y)
                for (uint32_t x = 0; x < c.side; ++x) {
                    const uint8_t shade = white(k, x, y) ? 255 : 0;
                    EXPECT_EQ(image->GetBits()[y * image->GetWidth() + x], shade) << x << "," << y;
                    // The thumbnail's first pixel whose source position is
                    // in the cell (the scaling blends towards the next one).
                    const uint32_t tx = (x * 128 + c.side - 1) / c.side, ty = (y * 128 + c.side - 1) / c.side;
                    EXPECT_NEAR(Grey(*thumbnail, tx, ty), shade, 40) << x << "," << y;
                }
        }
    }
}

// Float (7FE0,0008) and Double Float (7FE0,0009) Pixel Data are native
// frames of IEEE samples, in any syntax: their samples as stored (in machine
// order), a picture windowed over their range or by the file's window as
// written (not made integers), NaN shown black, +Inf white, -Inf black, and
// none of them moving the range.
TEST(FrameForms, FloatPixelDataFramesAreWindowedGrey) {
    struct Case {
        const char* name;
        uint16_t element;  // 0x0008 OF, 0x0009 OD
        const char* syntax;
        std::string window;  // "centre\\width" or none
    };
    const Case cases[] = {
        {"float, explicit VR", 0x0008, testdicom::kExplicitLE, ""},
        {"float, implicit VR", 0x0008, testdicom::kImplicitLE, ""},
        {"float, big endian", 0x0008, testdicom::kExplicitBE, ""},
        {"double, explicit VR", 0x0009, testdicom::kExplicitLE, ""},
        {"double, big endian", 0x0009, testdicom::kExplicitBE, ""},
        {"float, a window under 1 wide", 0x0008, testdicom::kExplicitLE, "0.25\\0.5"},
        {"double, a window under 1 wide", 0x0009, testdicom::kExplicitLE, "0.25\\0.5"},
    };
    constexpr uint16_t kRows = 4, kColumns = 64;
    // Frame k: a ramp from 0 to 1 along each row, shifted by k; frame 1
    // starts its first row with NaN, +Inf and -Inf.
    auto value = [](int k, uint32_t x, uint32_t y) -> double {
        if (k == 1 && y == 0 && x < 3) return x == 0 ? std::nan("") : x == 1 ? HUGE_VAL : -HUGE_VAL;
        return k + x / 63.0;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool isDouble = c.element == 0x0009;
        const unsigned size = isDouble ? 8 : 4;
        testdicom::Writer w = testdicom::Part10(c.syntax, true);
        Layout l{"", "MONOCHROME2", 1, uint16_t(8 * size), uint16_t(8 * size), false, 0, kRows, kColumns, 2, nullptr};
        testdicom::StudyElements(w);
        w.us(0x0028, 0x0002, 1);
        w.text(0x0028, 0x0004, "CS", Pad(l.photometric));
        w.text(0x0028, 0x0008, "IS", Pad("2"));
        w.us(0x0028, 0x0010, kRows);
        w.us(0x0028, 0x0011, kColumns);
        w.us(0x0028, 0x0100, l.bits);
        if (!c.window.empty()) {
            w.text(0x0028, 0x1050, "DS", Pad(c.window.substr(0, c.window.find('\\'))));
            w.text(0x0028, 0x1051, "DS", Pad(c.window.substr(c.window.find('\\') + 1)));
        }
        Bytes little[2], value8;
        for (int k = 0; k < 2; ++k)
            for (uint32_t i = 0; i < uint32_t(kRows) * kColumns; ++i) {
                const double v = value(k, i % kColumns, i / kColumns);
                uint8_t bytes[8];
                if (isDouble) {
                    std::memcpy(bytes, &v, 8);
                } else {
                    const float f = float(v);
                    std::memcpy(bytes, &f, 4);
                }
                little[k].insert(little[k].end(), bytes, bytes + size);
                // The file holds each number in its own byte order.
                const bool big = std::string(c.syntax) == testdicom::kExplicitBE;
                for (unsigned b = 0; b < size; ++b) value8.push_back(bytes[big ? size - 1 - b : b]);
            }
        w.element(0x7FE0, c.element, isDouble ? "OD" : "OF", value8);
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(w.bytes().data(), w.bytes().size()));
        const CDicomTag7FE0* pixels = file.PixelData();
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(pixels->m_element, c.element);
        EXPECT_EQ(pixels->m_vr.GetVR(), isDouble ? u"OD" : u"OF");
        EXPECT_EQ(pixels->GetDescription(), isDouble ? u"Double Float Pixel Data" : u"Float Pixel Data");
        ASSERT_EQ(pixels->FrameCount(), 2u);
        EXPECT_EQ(pixels->FrameSize(), uint64_t(kRows) * kColumns * size);
        for (const SLoadProblem& p : file.Problems().All()) ADD_FAILURE() << p.text;
        quillon::FrameDecoder frames(file);
        for (int k = 0; k < 2; ++k) {
            SCOPED_TRACE("frame " + std::to_string(k + 1));
            std::vector<uint8_t> samples;
            ASSERT_TRUE(frames.GetFrameSamples(std::size_t(k), samples));
            EXPECT_EQ(Bytes(samples.begin(), samples.end()), little[k]);
            const auto image = frames.GetFrameImage(std::size_t(k));
            ASSERT_NE(image, nullptr) << frames.FrameStatus(std::size_t(k)).Text();
            MCImage shown(*image);
            shown.ConvertTo24Bit();
            auto grey = [&](uint32_t x, uint32_t y) { return int(shown.GetBits()[(y * kColumns + x) * 3]); };
            for (uint32_t x = 3; x < kColumns; ++x) {
                // Over the range: black to white along the row; the window
                // [0, 0.5] of frame 0: white from the middle on.
                const double t = c.window.empty() ? x / 63.0 : std::min(1.0, (k + x / 63.0) / 0.5);
                EXPECT_NEAR(grey(x, 1), 255 * t, 3) << x;
                EXPECT_EQ(grey(x, 0), grey(x, 1)) << x;
            }
            if (k == 1) {
                // NaN and -Inf as the lowest sample, +Inf as the highest.
                EXPECT_EQ(grey(0, 0), grey(0, 1));
                EXPECT_EQ(grey(1, 0), grey(63, 1));
                EXPECT_EQ(grey(2, 0), grey(0, 1));
                if (c.window.empty()) {
                    EXPECT_EQ(grey(0, 1), 0);
                    EXPECT_EQ(grey(63, 1), 255);
                }
            }
            const auto thumbnail = frames.GetFrameThumbnail(std::size_t(k));
            ASSERT_NE(thumbnail, nullptr);
            // The ramp across the thumbnail's width, dark to light.
            const uint32_t middle = thumbnail->GetHeight() / 2;
            if (c.window.empty()) {
                EXPECT_LT(Grey(*thumbnail, 2, middle), 16);
            }
            EXPECT_GT(Grey(*thumbnail, 125, middle), 239);
            for (uint32_t x = 8; x < 128; x += 8)
                EXPECT_LE(Grey(*thumbnail, x - 8, middle), Grey(*thumbnail, x, middle));
        }
    }
}

// 32-bit grey goes through the display conversion of 16-bit grey: the same
// values stored in 32 bits look as they do in 16 (within a grey level), with
// and without the file's window; values past 16 bits use the whole scale.
TEST(FrameForms, ThirtyTwoBitGreyIsWindowedLikeSixteen) {
    struct Case {
        const char* name;
        bool isSigned;
        std::string window;  // "centre\\width", or none
        int64_t low, high;   // the ramp's ends
    };
    const Case cases[] = {
        {"unsigned ramp", false, "", 100, 3000},
        {"signed ramp", true, "", -1000, 1200},
        {"file window inside the range", false, "1000\\400", 0, 4000},
        {"signed, file window", true, "-200\\600", -1000, 1000},
    };
    auto file = [](const Case& c, uint16_t bits) {
        testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
        Layout l{"", "MONOCHROME2", 1, bits, bits, c.isSigned, 0, 64, 64, 1, nullptr};
        PixelElements(w, l);
        if (!c.window.empty()) {
            const std::string centre = c.window.substr(0, c.window.find('\\'));
            w.text(0x0028, 0x1050, "DS", Pad(centre));
            w.text(0x0028, 0x1051, "DS", Pad(c.window.substr(c.window.find('\\') + 1)));
        }
        std::vector<int32_t> values;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) values.push_back(int32_t(c.low + (c.high - c.low) * (y * 64 + x) / 4095));
        Bytes pixels;
        for (int32_t v : values) {
            pixels.push_back(uint8_t(v));
            pixels.push_back(uint8_t(v >> 8));
            if (bits == 32) pixels.push_back(uint8_t(v >> 16)), pixels.push_back(uint8_t(v >> 24));
        }
        w.element(0x7FE0, 0x0010, "OW", pixels);
        return w.bytes();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes wide = file(c, 32), narrow = file(c, 16);
        CDicomFile wideFile, narrowFile;
        ASSERT_TRUE(wideFile.LoadMemory(wide.data(), wide.size()));
        ASSERT_TRUE(narrowFile.LoadMemory(narrow.data(), narrow.size()));
        quillon::FrameDecoder wideFrames(wideFile), narrowFrames(narrowFile);
        const auto a = wideFrames.GetFrameThumbnail(0), b = narrowFrames.GetFrameThumbnail(0);
        ASSERT_NE(a, nullptr) << wideFrames.FrameStatus(0).Text();
        ASSERT_NE(b, nullptr);
        int worst = 0;
        for (uint32_t i = 0; i < a->GetDataSize(); ++i) worst = std::max(worst, std::abs(a->GetBits()[i] - b->GetBits()[i]));
        EXPECT_LE(worst, 1);
    }

    // Unsigned values beyond what 16 or 31 bits hold: black to white.
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    Layout l{"", "MONOCHROME2", 1, 32, 32, false, 0, 2, 2, 1, nullptr};
    PixelElements(w, l);
    w.element(0x7FE0, 0x0010, "OW", Samples(std::vector<uint32_t>{100000, 2000000000u, 3000000000u, 4000000000u}));
    CDicomFile big;
    ASSERT_TRUE(big.LoadMemory(w.bytes().data(), w.bytes().size()));
    quillon::FrameDecoder frames(big);
    const auto image = frames.GetFrameImage(0);
    ASSERT_NE(image, nullptr);
    std::vector<uint8_t> samples;
    ASSERT_TRUE(frames.GetFrameSamples(0, samples));
    EXPECT_EQ(samples.size(), 16u);
    MCImage shown(*image);
    shown.ConvertTo24Bit();
    EXPECT_EQ(shown.GetBits()[0], 0);
    EXPECT_NEAR(shown.GetBits()[3], 255 * (2000000000.0 - 100000) / (4000000000.0 - 100000), 1);
    EXPECT_NEAR(shown.GetBits()[6], 255 * (3000000000.0 - 100000) / (4000000000.0 - 100000), 1);
    EXPECT_EQ(shown.GetBits()[9], 255);
}

// 16- and 32-bit colour is shown by its top 8 stored bits.
TEST(FrameForms, WideColourShowsItsTopBits) {
    for (uint16_t bits : {16, 32}) {
        for (uint16_t planar : {0, 1}) {
            SCOPED_TRACE(std::to_string(bits) + (planar ? " planar" : " interleaved"));
            // Two pixels: (R, G, B) = (0x12.., 0x34.., 0x56..) and (0xFF.., 0, 0x80..).
            const uint32_t shift = bits - 8;
            const std::vector<uint32_t> rgb = {0x12, 0x34, 0x56, 0xFF, 0x00, 0x80};
            std::vector<uint32_t> stored;
            for (int i = 0; i < 6; ++i) {
                const int pixel = planar ? i % 2 : i / 3, sample = planar ? i / 2 : i % 3;
                stored.push_back(rgb[pixel * 3 + sample] << shift | 0x7F);
            }
            Bytes pixels;
            for (uint32_t v : stored)
                for (int b = 0; b < bits / 8; ++b) pixels.push_back(uint8_t(v >> (8 * b)));
            testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
            Layout l{"", "RGB", 3, bits, bits, false, planar, 1, 2, 1, nullptr};
            PixelElements(w, l);
            w.element(0x7FE0, 0x0010, "OW", pixels);
            CDicomFile file;
            ASSERT_TRUE(file.LoadMemory(w.bytes().data(), w.bytes().size()));
            quillon::FrameDecoder frames(file);
            const auto image = frames.GetFrameImage(0);
            ASSERT_NE(image, nullptr) << frames.FrameStatus(0).Text();
            EXPECT_EQ(image->GetBitsPerPixel(), 24);
            EXPECT_EQ(Bytes(image->GetBits(), image->GetBits() + 6), Bytes({0x12, 0x34, 0x56, 0xFF, 0x00, 0x80}));
        }
    }
}

// Video streams are listed as their fragments and say why they show nothing.
TEST(FrameForms, VideoStreamsSayTheyAreNotDecoded) {
    struct Case {
        const char* uid;
        const char* name;
    };
    for (const Case& c : {Case{"1.2.840.10008.1.2.4.101", "MPEG-2"}, Case{"1.2.840.10008.1.2.4.102", "H.264"},
                          Case{"1.2.840.10008.1.2.4.106", "H.264"}, Case{"1.2.840.10008.1.2.4.107", "HEVC"},
                          Case{"1.2.840.10008.1.2.4.108", "HEVC"}}) {
        SCOPED_TRACE(c.uid);
        testdicom::Writer w = testdicom::Part10(c.uid);
        Layout l{"", "YBR_PARTIAL_420", 3, 8, 8, false, 0, 16, 16, 1, nullptr};
        PixelElements(w, l);
        w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0);
        w.item(8).raw(Bytes{0, 0, 0, 1, 0x09, 0xF0, 0, 0}).item(4).raw(Bytes{0, 0, 1, 0xB3}).seqEnd();
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(w.bytes().data(), w.bytes().size()));
        EXPECT_EQ(quillon::CompressionName(file.Pixel().compression), c.name);
        EXPECT_FALSE(file.IsUncompressed());
        EXPECT_EQ(file.PixelData()->ChildCount(), 3u);  // the offset table and two fragments
        quillon::FrameDecoder frames(file);
        EXPECT_EQ(frames.FrameStatus(0).Code(), Reason::NoDecoder);
        EXPECT_EQ(frames.FrameStatus(0).Text(),
                  std::string("No decoder for ") + c.name + ": video streams are shown as their fragments.");
    }
}
