// JPEG-LS, HTJ2K and JPEG XL frames: streams made here by the libraries' own
// encoders from known samples (2 to 16 bits, signed, grey and RGB, the
// JPEG-LS interleave modes and near-lossless, both JPEG XL forms) decoded
// back to them; stream headers that disagree with the frame, cut and
// foreign streams; files of several frames over several fragments whose
// frames are found by the streams' start markers.
#include <gtest/gtest.h>

#include <charls/charls.h>
#include <jxl/encode.h>
#include <openjph/ojph_arch.h>
#include <openjph/ojph_codestream.h>
#include <openjph/ojph_file.h>
#include <openjph/ojph_mem.h>
#include <openjph/ojph_params.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "dicom/DicomFile.h"
#include "image/CodecTable.h"
#include "image/FrameCodecs.h"
#include "image/FrameDecoder.h"
#include "tests/support/DicomWriter.h"

using namespace testdicom;
using quillon::Compression;
using quillon::Reason;

namespace {

// Known samples of one frame, pixels interleaved; signed ones as values.
struct Source {
    uint32_t rows = 0, columns = 0;
    int bits = 8;
    int samples = 1;
    bool isSigned = false;
    std::vector<int32_t> values;

    int32_t Low() const { return isSigned ? -(1 << (bits - 1)) : 0; }
    int32_t High() const { return isSigned ? (1 << (bits - 1)) - 1 : (1 << bits) - 1; }
    // The stored bit pattern of sample k: Bits Stored bits, two's complement.
    uint32_t Stored(std::size_t k) const { return uint32_t(values[k]) & ((1u << bits) - 1); }
    int Allocated() const { return bits <= 8 ? 8 : 16; }
};

// A smooth picture with noise, its first samples at the extremes of the range.
Source Make(uint32_t rows, uint32_t columns, int bits, int samples, bool isSigned = false, unsigned seed = 1) {
    Source s{rows, columns, bits, samples, isSigned, {}};
    s.values.resize(std::size_t(rows) * columns * samples);
    const int64_t span = int64_t(s.High()) - s.Low();
    for (std::size_t k = 0; k < s.values.size(); ++k) {
        seed = seed * 1103515245u + 12345u;
        const uint64_t pixel = k / samples;
        const int64_t ramp = int64_t((pixel % columns + pixel / columns + (k % samples) * 7) * span / (rows + columns + 21));
        const int64_t noise = int64_t(seed >> 16) % std::max<int64_t>(1, span / 16 + 1);
        s.values[k] = int32_t(s.Low() + std::clamp<int64_t>(ramp + noise, 0, span));
    }
    if (s.values.size() >= 2) {
        s.values[0] = s.Low();
        s.values[1] = s.High();
    }
    return s;
}

FrameDescription Describe(const Source& s, Compression compression, uint32_t frames = 1) {
    FrameDescription d;
    quillon::PixelDescription& p = d.pixel;
    p.numberOfFrames = frames;
    p.rows = s.rows;
    p.columns = s.columns;
    p.bitsAllocated = int16_t(s.Allocated());
    p.bitsStored = int16_t(s.bits);
    p.samplesPerPixel = int16_t(s.samples);
    p.pixelRepresentation = s.isSigned ? 1 : 0;
    p.photometric = s.samples == 3 ? quillon::Photometric::RGB : quillon::Photometric::Monochrome2;
    p.compression = p.syntaxFamily = compression;
    return d;
}

// --- encoders ---

Bytes EncodeJls(const Source& s, charls::interleave_mode mode = charls::interleave_mode::sample, int nearLossless = 0) {
    // CharLS takes unsigned samples (the stored bit patterns), planes one
    // after the other without interleaving.
    const std::size_t n = s.values.size();
    std::vector<uint8_t> input(n * (s.bits <= 8 ? 1 : 2));
    const uint64_t pixels = uint64_t(s.rows) * s.columns;
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t at = mode == charls::interleave_mode::none ? (k % s.samples) * pixels + k / s.samples : k;
        if (s.bits <= 8)
            input[at] = uint8_t(s.Stored(k));
        else {
            input[2 * at] = uint8_t(s.Stored(k));
            input[2 * at + 1] = uint8_t(s.Stored(k) >> 8);
        }
    }
    charls::jpegls_encoder encoder;
    encoder.frame_info({s.columns, s.rows, s.bits, s.samples}).near_lossless(nearLossless);
    if (s.samples > 1) encoder.interleave_mode(mode);
    Bytes out(encoder.estimated_destination_size());
    encoder.destination(out);
    out.resize(encoder.encode(input));
    return out;
}

Bytes EncodeHtj2k(const Source& s, const char* order = "RPCL") {
    ojph::codestream stream;
    ojph::param_siz siz = stream.access_siz();
    siz.set_image_extent(ojph::point(s.columns, s.rows));
    siz.set_num_components(s.samples);
    for (int c = 0; c < s.samples; ++c) siz.set_component(c, ojph::point(1, 1), s.bits, s.isSigned);
    siz.set_image_offset(ojph::point(0, 0));
    siz.set_tile_size(ojph::size(s.columns, s.rows));
    siz.set_tile_offset(ojph::point(0, 0));
    ojph::param_cod cod = stream.access_cod();
    cod.set_num_decomposition(3);
    cod.set_block_dims(64, 64);
    cod.set_progression_order(order);
    cod.set_color_transform(s.samples == 3);
    cod.set_reversible(true);
    stream.set_planar(false);
    ojph::mem_outfile file;
    file.open();
    stream.write_headers(&file);
    ojph::ui32 component = 0;
    ojph::line_buf* line = stream.exchange(nullptr, component);
    for (uint32_t y = 0; y < s.rows; ++y)
        for (int c = 0; c < s.samples; ++c) {
            for (uint32_t x = 0; x < s.columns; ++x)
                line->i32[x] = s.values[(std::size_t(y) * s.columns + x) * s.samples + component];
            line = stream.exchange(line, component);
        }
    stream.flush();
    Bytes out(file.get_data(), file.get_data() + file.tell());
    stream.close();
    return out;
}

Bytes EncodeJxl(const Source& s, bool container = false) {
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = s.columns;
    info.ysize = s.rows;
    info.bits_per_sample = uint32_t(s.bits);
    info.num_color_channels = uint32_t(s.samples);
    info.uses_original_profile = JXL_TRUE;
    EXPECT_EQ(JxlEncoderUseContainer(encoder, container ? JXL_TRUE : JXL_FALSE), JXL_ENC_SUCCESS);
    EXPECT_EQ(JxlEncoderSetBasicInfo(encoder, &info), JXL_ENC_SUCCESS);
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, s.samples == 1 ? JXL_TRUE : JXL_FALSE);
    EXPECT_EQ(JxlEncoderSetColorEncoding(encoder, &colour), JXL_ENC_SUCCESS);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    EXPECT_EQ(JxlEncoderSetFrameLossless(settings, JXL_TRUE), JXL_ENC_SUCCESS);
    // libjxl takes integer samples scaled to the full range of their type.
    const bool wide = s.bits > 8;
    const uint32_t full = wide ? 0xFFFF : 0xFF, top = (1u << s.bits) - 1;
    std::vector<uint8_t> input(s.values.size() * (wide ? 2 : 1));
    for (std::size_t k = 0; k < s.values.size(); ++k) {
        const uint32_t v = (s.Stored(k) * full + top / 2) / top;
        if (wide) {
            input[2 * k] = uint8_t(v);
            input[2 * k + 1] = uint8_t(v >> 8);
        } else {
            input[k] = uint8_t(v);
        }
    }
    const JxlPixelFormat format{uint32_t(s.samples), wide ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8, JXL_LITTLE_ENDIAN, 0};
    EXPECT_EQ(JxlEncoderAddImageFrame(settings, &format, input.data(), input.size()), JXL_ENC_SUCCESS);
    JxlEncoderCloseInput(encoder);
    Bytes out(4096);
    uint8_t* next = out.data();
    std::size_t avail = out.size();
    JxlEncoderStatus status;
    while ((status = JxlEncoderProcessOutput(encoder, &next, &avail)) == JXL_ENC_NEED_MORE_OUTPUT) {
        const std::size_t used = std::size_t(next - out.data());
        out.resize(out.size() * 2);
        next = out.data() + used;
        avail = out.size() - used;
    }
    EXPECT_EQ(status, JXL_ENC_SUCCESS);
    out.resize(std::size_t(next - out.data()));
    JxlEncoderDestroy(encoder);
    return out;
}

// The decoded samples as stored bit patterns, pixels interleaved.
std::vector<uint32_t> StoredSamples(const uint8_t* data, uint64_t size, const Source& s, bool planar) {
    const bool wide = s.Allocated() == 16;
    const std::size_t n = s.values.size();
    std::vector<uint32_t> out;
    if (size != n * (wide ? 2 : 1)) return out;
    const uint64_t pixels = uint64_t(s.rows) * s.columns;
    out.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t at = planar ? (k % s.samples) * pixels + k / s.samples : k;
        const uint32_t v = wide ? uint32_t(data[2 * at] | data[2 * at + 1] << 8) : data[at];
        out[k] = v & ((1u << s.bits) - 1);
    }
    return out;
}

std::vector<uint32_t> StoredSamples(const Source& s) {
    std::vector<uint32_t> out(s.values.size());
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = s.Stored(k);
    return out;
}

// The largest difference between decoded and source values (as values:
// signed samples sign-extended from their stored bits).
int64_t WorstDifference(const std::vector<uint32_t>& decoded, const Source& s) {
    int64_t worst = 0;
    for (std::size_t k = 0; k < decoded.size(); ++k) {
        int64_t v = decoded[k];
        if (s.isSigned && (v >> (s.bits - 1))) v -= int64_t(1) << s.bits;
        worst = std::max(worst, std::abs(v - s.values[k]));
    }
    return worst;
}

struct RoundTrip {
    const char* name;
    Compression compression;
    Source source;
    Bytes stream;
    int levels = 0;  // near-lossless: at most this far from the source
};

void ExpectDecodesToSource(const RoundTrip& c) {
    SCOPED_TRACE(c.name);
    const FrameDescription d = Describe(c.source, c.compression);
    DecodedFrame out;
    const quillon::Status status = DecodeCompressedFrame(d, c.stream.data(), c.stream.size(), out);
    ASSERT_TRUE(status) << status.Text();
    ASSERT_EQ(out.size, ExpectedDecodedSize(d));
    EXPECT_FALSE(out.planar);
    const std::vector<uint32_t> decoded = StoredSamples(out.data.get(), out.size, c.source, out.planar);
    ASSERT_EQ(decoded.size(), c.source.values.size());
    if (c.levels == 0)
        EXPECT_EQ(decoded, StoredSamples(c.source));
    else
        EXPECT_LE(WorstDifference(decoded, c.source), c.levels);
}

}  // namespace

TEST(JpegLsDecoder, DecodesEveryDepthLayoutAndInterleave) {
    using charls::interleave_mode;
    const Source rgb8 = Make(21, 34, 8, 3), rgb16 = Make(9, 13, 16, 3, false, 5), grey12 = Make(40, 33, 12, 1);
    const RoundTrip cases[] = {
        {"2-bit grey", Compression::JPEGLSLossless, Make(17, 19, 2, 1), {}},
        {"8-bit grey", Compression::JPEGLSLossless, Make(64, 48, 8, 1), {}},
        {"12-bit grey", Compression::JPEGLSLossless, grey12, {}},
        {"16-bit grey", Compression::JPEGLSLossless, Make(31, 29, 16, 1), {}},
        {"signed 12-bit grey", Compression::JPEGLSLossless, Make(30, 20, 12, 1, true), {}},
        {"signed 16-bit grey", Compression::JPEGLSLossless, Make(30, 20, 16, 1, true), {}},
        {"RGB, sample interleave", Compression::JPEGLSLossless, rgb8, EncodeJls(rgb8, interleave_mode::sample)},
        {"RGB, line interleave", Compression::JPEGLSLossless, rgb8, EncodeJls(rgb8, interleave_mode::line)},
        {"RGB, no interleave (planes)", Compression::JPEGLSLossless, rgb8, EncodeJls(rgb8, interleave_mode::none)},
        {"16-bit RGB, line interleave", Compression::JPEGLSLossless, rgb16, EncodeJls(rgb16, interleave_mode::line)},
        {"near-lossless 12-bit grey", Compression::JPEGLSLossy, grey12, EncodeJls(grey12, interleave_mode::none, 3),
         3},
        {"near-lossless RGB, no interleave", Compression::JPEGLSLossy, rgb8,
         EncodeJls(rgb8, interleave_mode::none, 2), 2},
    };
    for (RoundTrip c : cases) {
        if (c.stream.empty()) c.stream = EncodeJls(c.source);
        ExpectDecodesToSource(c);
    }
}

TEST(Htj2kDecoder, DecodesReversibleStreamsExactly) {
    const RoundTrip cases[] = {
        {"8-bit grey", Compression::HTJ2KLossless, Make(64, 48, 8, 1), {}},
        {"12-bit grey", Compression::HTJ2KLossless, Make(70, 33, 12, 1), {}},
        {"16-bit grey", Compression::HTJ2KLossless, Make(31, 29, 16, 1), {}},
        {"signed 12-bit grey", Compression::HTJ2KLosslessRPCL, Make(30, 20, 12, 1, true), {}},
        {"signed 16-bit grey", Compression::HTJ2KLosslessRPCL, Make(30, 20, 16, 1, true), {}},
        {"RGB with the colour transform", Compression::HTJ2KLossless, Make(21, 34, 8, 3), {}},
        {"16-bit RGB", Compression::HTJ2K, Make(9, 13, 16, 3, false, 5), {}},
    };
    for (RoundTrip c : cases) {
        c.stream = EncodeHtj2k(c.source, c.compression == Compression::HTJ2KLosslessRPCL ? "RPCL" : "LRCP");
        ExpectDecodesToSource(c);
    }
}

TEST(JpegXlDecoder, DecodesLosslessStreamsOfEveryDepth) {
    const RoundTrip cases[] = {
        {"8-bit grey", Compression::JPEGXLLossless, Make(64, 48, 8, 1), {}},
        {"7-bit grey in 8 bits", Compression::JPEGXLLossless, Make(20, 24, 7, 1), {}},
        {"11-bit grey", Compression::JPEGXLLossless, Make(33, 40, 11, 1), {}},
        {"12-bit grey", Compression::JPEGXLLossless, Make(70, 33, 12, 1), {}},
        {"16-bit grey", Compression::JPEGXLLossless, Make(31, 29, 16, 1), {}},
        {"signed 12-bit grey (stored bits)", Compression::JPEGXLLossless, Make(30, 20, 12, 1, true), {}},
        {"RGB", Compression::JPEGXL, Make(21, 34, 8, 3), {}},
        {"16-bit RGB", Compression::JPEGXL, Make(9, 13, 16, 3, false, 5), {}},
    };
    int codestreams = 0;
    for (RoundTrip c : cases) {
        // libjxl wraps streams that need more than the basic level (16-bit
        // samples) in the container either way.
        for (bool container : {false, true}) {
            SCOPED_TRACE(container ? "container asked for" : "codestream asked for");
            c.stream = EncodeJxl(c.source, container);
            ASSERT_GT(c.stream.size(), 2u);
            if (c.stream[0] == 0xFF && c.stream[1] == 0x0A) ++codestreams;
            ExpectDecodesToSource(c);
        }
    }
    EXPECT_GE(codestreams, 5);
}

// A JPEG XL stream cut short anywhere past its signature is a stream that
// ends early, and says so only through its reason: libjxl, built as Debian
// builds it, prints a line on stderr for each failure it meets, and a cut
// stream must meet none.
TEST(JpegXlDecoder, CutStreamsEndEarlyQuietly) {
    const Source grey = Make(40, 36, 12, 1), rgb = Make(24, 20, 8, 3);
    for (const Source& s : {grey, rgb}) {
        for (bool container : {false, true}) {
            const Bytes stream = EncodeJxl(s, container);
            const FrameDescription d = Describe(s, Compression::JPEGXLLossless);
            for (std::size_t cut :
                 {std::size_t(12), std::size_t(40), stream.size() / 3, stream.size() / 2, stream.size() - 1}) {
                SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(stream.size()) +
                             (container ? ", container" : ""));
                DecodedFrame out;
                testing::internal::CaptureStderr();
                const quillon::Status status = DecodeCompressedFrame(d, stream.data(), cut, out);
                const std::string printed = testing::internal::GetCapturedStderr();
                EXPECT_EQ(status.Code(), Reason::StreamEndsEarly) << status.Text();
                EXPECT_FALSE(out.data);
                EXPECT_EQ(printed, "");
            }
        }
    }
}

// Each decoder reads the stream's own header and refuses, before it holds
// the frame, a stream whose image is not the frame the file describes; cut
// and foreign streams fail with a reason, never with samples.
TEST(ModernCodecs, RefuseStreamsThatDisagreeWithTheFrame) {
    const Source grey = Make(24, 16, 12, 1), rgb = Make(24, 16, 8, 3);
    struct Codec {
        const char* name;
        Compression compression;
        Bytes grey, rgb;
    };
    const Codec codecs[] = {
        {"JPEG-LS", Compression::JPEGLSLossless, EncodeJls(grey), EncodeJls(rgb)},
        {"HTJ2K", Compression::HTJ2KLossless, EncodeHtj2k(grey), EncodeHtj2k(rgb)},
        {"JPEG XL", Compression::JPEGXLLossless, EncodeJxl(grey), EncodeJxl(rgb)},
    };
    for (const Codec& codec : codecs) {
        SCOPED_TRACE(codec.name);
        struct Case {
            const char* name;
            FrameDescription d;
            const Bytes* stream;
            Reason reason;
        };
        FrameDescription taller = Describe(grey, codec.compression);
        taller.pixel.rows = 25;
        FrameDescription narrow = Describe(grey, codec.compression);
        narrow.pixel.bitsAllocated = narrow.pixel.bitsStored = 8;  // 12-bit samples in 8 bits
        const FrameDescription greyFrame = Describe(grey, codec.compression);
        const FrameDescription rgbFrame = Describe(rgb, codec.compression);
        const Bytes cut(codec.grey.begin(), codec.grey.begin() + codec.grey.size() / 2);
        const Bytes headOnly(codec.grey.begin(), codec.grey.begin() + 6);
        Bytes foreign = codec.grey;
        for (std::size_t k = 40; k < foreign.size(); k += 3) foreign[k] ^= 0x5A;
        const Case cases[] = {
            {"other dimensions", taller, &codec.grey, Reason::DimensionsDiffer},
            {"grey stream, RGB frame", rgbFrame, &codec.grey, Reason::DimensionsDiffer},
            {"RGB stream, grey frame", greyFrame, &codec.rgb, Reason::DimensionsDiffer},
            {"more bits than allocated", narrow, &codec.grey, Reason::DimensionsDiffer},
            {"cut in half", greyFrame, &cut, Reason::None},
            {"cut inside the header", greyFrame, &headOnly, Reason::None},
            {"scrambled", greyFrame, &foreign, Reason::None},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            DecodedFrame out;
            const quillon::Status status = DecodeCompressedFrame(c.d, c.stream->data(), c.stream->size(), out);
            if (c.reason != Reason::None) {
                EXPECT_EQ(status.Code(), c.reason) << status.Text();
                EXPECT_FALSE(out.data);
            } else if (status) {
                // A damaged stream may still decode (HTJ2K and JPEG XL
                // are resilient); then its output is the frame's size.
                EXPECT_EQ(out.size, ExpectedDecodedSize(c.d));
            } else {
                EXPECT_FALSE(out.data);
                EXPECT_FALSE(status.Text().empty());
            }
        }
    }
}

namespace {

// A file of these frames, each split into `pieces` fragments of about equal
// size, with an empty Basic Offset Table: the frames are found by their
// start markers.
Bytes EncapsulatedFile(const char* syntax, const Source& s, const std::vector<Bytes>& frames, std::size_t pieces) {
    Writer w = Part10(syntax);
    StudyElements(w);
    w.us(0x0028, 0x0002, uint16_t(s.samples));
    w.text(0x0028, 0x0004, "CS", Pad(s.samples == 3 ? "RGB" : "MONOCHROME2"));
    if (s.samples == 3) w.us(0x0028, 0x0006, 0);
    w.text(0x0028, 0x0008, "IS", Pad(std::to_string(frames.size())));
    w.us(0x0028, 0x0010, uint16_t(s.rows));
    w.us(0x0028, 0x0011, uint16_t(s.columns));
    w.us(0x0028, 0x0100, uint16_t(s.Allocated()));
    w.us(0x0028, 0x0101, uint16_t(s.bits));
    w.us(0x0028, 0x0102, uint16_t(s.bits - 1));
    w.us(0x0028, 0x0103, s.isSigned ? 1 : 0);
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0);
    for (const Bytes& frame : frames) {
        Bytes padded = frame;
        if (padded.size() % 2) padded.push_back(0);
        const std::size_t step = ((padded.size() + pieces - 1) / pieces + 1) & ~std::size_t(1);
        for (std::size_t at = 0; at < padded.size(); at += step) {
            const std::size_t n = std::min(step, padded.size() - at);
            w.item(uint32_t(n)).raw(Bytes(padded.begin() + at, padded.begin() + at + n));
        }
    }
    w.seqEnd();
    return w.bytes();
}

}  // namespace

TEST(ModernCodecs, FramesOverSeveralFragmentsDecodeThroughTheFile) {
    struct Case {
        const char* name;
        const char* syntax;
        Source source;
        Bytes (*encode)(const Source&);
    };
    const Case cases[] = {
        {"JPEG-LS", "1.2.840.10008.1.2.4.80", Make(40, 36, 16, 1), [](const Source& s) { return EncodeJls(s); }},
        {"JPEG-LS colour", "1.2.840.10008.1.2.4.80", Make(40, 36, 8, 3),
         [](const Source& s) { return EncodeJls(s, charls::interleave_mode::none); }},
        {"HTJ2K", "1.2.840.10008.1.2.4.201", Make(40, 36, 12, 1, true),
         [](const Source& s) { return EncodeHtj2k(s); }},
        {"JPEG XL codestream", "1.2.840.10008.1.2.4.110", Make(40, 36, 12, 1),
         [](const Source& s) { return EncodeJxl(s); }},
        {"JPEG XL container", "1.2.840.10008.1.2.4.110", Make(40, 36, 8, 3),
         [](const Source& s) { return EncodeJxl(s, true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Source> sources;
        std::vector<Bytes> streams;
        for (unsigned f = 0; f < 3; ++f) {
            Source s = c.source;
            // Each frame its own picture.
            for (int32_t& v : s.values) v = std::clamp(v + int32_t(f * 3) - 3, s.Low(), s.High());
            sources.push_back(s);
            streams.push_back(c.encode(s));
        }
        if (std::string(c.name) == "JPEG XL codestream") {
            ASSERT_EQ(streams[0][1], 0x0A);
        }
        const Bytes bytes = EncapsulatedFile(c.syntax, c.source, streams, 3);
        CDicomFile file;
        ASSERT_TRUE(file.LoadMemory(bytes.data(), bytes.size()));
        ASSERT_EQ(file.Fragments().FragmentCount(), 9u);
        ASSERT_FALSE(file.Fragments().Unresolved());
        quillon::FrameDecoder frames(file);
        ASSERT_EQ(frames.FrameCount(), 3u);
        for (std::size_t f = 0; f < 3; ++f) {
            SCOPED_TRACE(f);
            EXPECT_EQ(file.Fragments().Range(f).first, 3 * f);
            std::vector<uint8_t> samples;
            const quillon::Status status = frames.GetFrameSamples(f, samples);
            ASSERT_TRUE(status) << status.Text();
            // Colour comes interleaved per pixel, whatever the stream's interleave.
            EXPECT_EQ(StoredSamples(samples.data(), samples.size(), sources[f], false), StoredSamples(sources[f]));
            EXPECT_NE(frames.GetFrameThumbnail(f), nullptr);
        }
    }
}

// A fragment counts as a frame's start only with a marker of the first
// fragment's kind: JPEG 2000 packet data may begin a continuation fragment
// with FF 0A, the JPEG XL codestream signature.
TEST(ModernCodecs, StartMarkersOfAnotherKindStartNoFrame) {
    const Source s = Make(16, 16, 8, 1);
    const Bytes htj2k = EncodeHtj2k(s);
    const Bytes lookAlike = {0xFF, 0x0A, 0x12, 0x34, 0x56, 0x78};
    // Two frames: the first split so that its second fragment begins FF 0A.
    Bytes first = htj2k;
    first.insert(first.begin() + std::ptrdiff_t(htj2k.size() / 2 & ~std::size_t(1)), lookAlike.begin(),
                 lookAlike.end());
    Writer w = Part10("1.2.840.10008.1.2.4.201");
    StudyElements(w);
    w.us(0x0028, 0x0002, 1);
    w.text(0x0028, 0x0004, "CS", Pad("MONOCHROME2"));
    w.text(0x0028, 0x0008, "IS", Pad("2"));
    w.us(0x0028, 0x0010, 16);
    w.us(0x0028, 0x0011, 16);
    w.us(0x0028, 0x0100, 8);
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF).item(0);
    const std::size_t half = htj2k.size() / 2 & ~std::size_t(1);
    Bytes head(first.begin(), first.begin() + std::ptrdiff_t(half));
    Bytes tail(first.begin() + std::ptrdiff_t(half), first.end());
    if (tail.size() % 2) tail.push_back(0);
    Bytes second = htj2k;
    if (second.size() % 2) second.push_back(0);
    w.item(uint32_t(head.size())).raw(head).item(uint32_t(tail.size())).raw(tail);
    w.item(uint32_t(second.size())).raw(second).seqEnd();
    CDicomFile file;
    ASSERT_TRUE(file.LoadMemory(w.bytes().data(), w.bytes().size()));
    ASSERT_EQ(file.Fragments().FragmentCount(), 3u);
    EXPECT_FALSE(file.Fragments().Unresolved());
    EXPECT_EQ(file.Fragments().Range(0).last, 2u);
    EXPECT_EQ(file.Fragments().Range(1).first, 2u);
    // The second frame is whole and decodes.
    quillon::FrameDecoder frames(file);
    std::vector<uint8_t> samples;
    ASSERT_TRUE(frames.GetFrameSamples(1, samples));
    Source one = s;
    EXPECT_EQ(StoredSamples(samples.data(), samples.size(), one, false), StoredSamples(s));
}

// An HTJ2K codestream whose code-block data trips an assertion inside
// OpenJPEG's HT block decoder (Debian builds it with assertions kept): the
// frame fails with a reason, and the process goes on. Found by the HTJ2K
// fuzzer; the first six bytes describe the frame as the fuzzer's input does.
TEST(ModernCodecs, AStreamThatTripsTheLibrarysAssertionFailsTheFrameOnly) {
    static const uint8_t kInput[] = {
    0x7F, 0x7F, 0x00, 0x00, 0x01, 0x10, 0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x29,
    0x40, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00,
    0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
    0x0F, 0x01, 0x01, 0xFF, 0x52, 0x00, 0x0C, 0x00, 0x02, 0x00, 0x01, 0x00,
    0x05, 0x04, 0x04, 0x40, 0x00, 0xFF, 0x5C, 0x00, 0x23, 0x22, 0x61, 0xA9,
    0x61, 0x8B, 0x61, 0x8B, 0x61, 0x6E, 0x59, 0x99, 0x59, 0x16, 0x00, 0x01,
    0x4F, 0x70, 0x65, 0x6E, 0x4A, 0x50, 0x48, 0x20, 0x56, 0x65, 0x72, 0x20,
    0x30, 0x2E, 0xC7, 0xCB, 0x30, 0x2E, 0xFF, 0x90, 0x00, 0x0A, 0x00, 0x00,
    0x00, 0x00, 0x00, 0xC7, 0x00, 0x01, 0xFF, 0x93, 0xC0, 0x05, 0xBE, 0x1F,
    0x4D, 0xE7, 0xFF, 0xC6, 0xB6, 0x00, 0x00, 0x39, 0xCD, 0x82, 0x96, 0x33,
    0x9A, 0x00, 0x55, 0xC0, 0x05, 0x48, 0x8A, 0xB3, 0xA8, 0xB6, 0x20, 0xF0,
    0x03, 0xE7, 0xFF, 0xC6, 0xB6, 0x00
    };
    FrameDescription d;
    d.pixel.numberOfFrames = 1;
    d.pixel.rows = 1 + kInput[0];
    d.pixel.columns = 1 + kInput[1];
    d.pixel.samplesPerPixel = 1;
    d.pixel.bitsAllocated = 16;
    d.pixel.bitsStored = 16;
    d.pixel.photometric = quillon::Photometric::Monochrome2;
    const uint8_t* stream = kInput + 6;
    const uint64_t length = sizeof(kInput) - 6;
    struct Case {
        const char* name;
        quillon::Compression compression;
        quillon::DecodeFn decode;
    };
    for (const Case& c : {Case{"HTJ2K", quillon::Compression::HTJ2KLossless, DecodeHtj2kFrame},
                          Case{"JPEG 2000", quillon::Compression::JPEG2000Lossless, DecodeJpeg2000Frame}}) {
        SCOPED_TRACE(c.name);
        d.pixel.compression = c.compression;
        DecodedFrame out;
        // Twice: the guard must be ready again after it caught one.
        for (int round = 0; round < 2; ++round) {
            const quillon::Status status = c.decode(d, stream, length, out);
            EXPECT_FALSE(status.Ok());
            EXPECT_NE(status.Text().find("internal checks"), std::string::npos) << status.Text();
        }
    }
}
