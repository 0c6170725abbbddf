// Thumbnails of frames over the decode budget: decoded at a reduced size by
// the codec or a band of rows at a time, they look like the thumbnail of the
// full-size frame, and the decode never holds more than the budget. The
// compressed fixtures are encoded here, small, and the budget lowered to
// put them over it.
#include <gtest/gtest.h>
#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <gdcmjpeg/8/jpeglib.h>
}

#include "dicom/DicomFile.h"
#include "image/FrameDecoder.h"
#include "tests/support/DicomWriter.h"

namespace {

using testdicom::Bytes;
using testdicom::Pad;

// A frame's samples: `samples` values of `bits` bits per pixel, interleaved.
struct Picture {
    uint16_t columns = 512, rows = 256;
    unsigned samples = 1;
    unsigned bits = 8;
    std::function<uint16_t(int x, int y, unsigned s)> value;
    // The pixel module's 16-bit extras: Bits Stored below Bits Allocated,
    // Pixel Representation 1, Pixel Padding Value, Smallest/Largest Image
    // Pixel Value.
    unsigned stored = 0;
    bool isSigned = false;
    std::optional<uint16_t> padding, smallest, largest;
};

// Smooth content, so that a reduced decode and the full-size decode scaled
// down differ by rounding only.
uint16_t Smooth(int x, int y, unsigned s, unsigned max) {
    const double v = 0.5 + 0.35 * std::sin(x / 37.0 + s) * std::cos(y / 29.0) + 0.1 * std::sin((x + y) / 90.0);
    return uint16_t(std::lround(v * max));
}

// ---- Encoders -----------------------------------------------------------

struct JpegSink {
    jpeg_destination_mgr pub;
    Bytes* out;
    JOCTET buffer[4096];
};

void JpegInit(j_compress_ptr cinfo) {
    auto* s = reinterpret_cast<JpegSink*>(cinfo->dest);
    s->pub.next_output_byte = s->buffer;
    s->pub.free_in_buffer = sizeof s->buffer;
}
boolean JpegEmpty(j_compress_ptr cinfo) {
    auto* s = reinterpret_cast<JpegSink*>(cinfo->dest);
    s->out->insert(s->out->end(), s->buffer, s->buffer + sizeof s->buffer);
    s->pub.next_output_byte = s->buffer;
    s->pub.free_in_buffer = sizeof s->buffer;
    return TRUE;
}
void JpegTerm(j_compress_ptr cinfo) {
    auto* s = reinterpret_cast<JpegSink*>(cinfo->dest);
    s->out->insert(s->out->end(), s->buffer, s->buffer + (sizeof s->buffer - s->pub.free_in_buffer));
}

// Baseline (YCbCr for colour) or lossless (first predictor) 8-bit stream.
Bytes EncodeJpeg(const Picture& p, bool lossless) {
    Bytes out;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    JpegSink sink;
    sink.out = &out;
    sink.pub.init_destination = JpegInit;
    sink.pub.empty_output_buffer = JpegEmpty;
    sink.pub.term_destination = JpegTerm;
    cinfo.dest = &sink.pub;
    cinfo.image_width = p.columns;
    cinfo.image_height = p.rows;
    cinfo.input_components = int(p.samples);
    cinfo.in_color_space = p.samples == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    if (lossless) jpeg_simple_lossless(&cinfo, 1, 0);
    else jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(p.columns) * p.samples);
    for (int y = 0; y < p.rows; ++y) {
        for (int x = 0; x < p.columns; ++x)
            for (unsigned s = 0; s < p.samples; ++s) row[std::size_t(x) * p.samples + s] = JSAMPLE(p.value(x, y, s));
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return out;
}

struct J2kOut {
    Bytes bytes;
    uint64_t at = 0;
};
OPJ_SIZE_T J2kWrite(void* buffer, OPJ_SIZE_T n, void* user) {
    auto* o = static_cast<J2kOut*>(user);
    if (o->bytes.size() < o->at + n) o->bytes.resize(o->at + n);
    std::memcpy(o->bytes.data() + o->at, buffer, n);
    o->at += n;
    return n;
}
OPJ_OFF_T J2kSkip(OPJ_OFF_T n, void* user) {
    auto* o = static_cast<J2kOut*>(user);
    o->at += uint64_t(n);
    if (o->bytes.size() < o->at) o->bytes.resize(o->at);
    return n;
}
OPJ_BOOL J2kSeek(OPJ_OFF_T to, void* user) {
    static_cast<J2kOut*>(user)->at = uint64_t(to);
    return OPJ_TRUE;
}

// A lossless J2K codestream with `levels` decomposition levels.
Bytes EncodeJ2k(const Picture& p, int levels) {
    std::vector<opj_image_cmptparm_t> parameters(p.samples);
    for (auto& c : parameters) {
        std::memset(&c, 0, sizeof c);
        c.dx = c.dy = 1;
        c.w = p.columns;
        c.h = p.rows;
        c.prec = p.bits;
        c.sgnd = 0;
    }
    opj_image_t* image =
        opj_image_create(p.samples, parameters.data(), p.samples == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    image->x0 = image->y0 = 0;
    image->x1 = p.columns;
    image->y1 = p.rows;
    for (unsigned s = 0; s < p.samples; ++s)
        for (int y = 0; y < p.rows; ++y)
            for (int x = 0; x < p.columns; ++x) image->comps[s].data[y * p.columns + x] = p.value(x, y, s);
    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.numresolution = levels + 1;
    cp.tcp_numlayers = 1;
    cp.tcp_rates[0] = 0;
    cp.cp_disto_alloc = 1;
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_setup_encoder(codec, &cp, image);
    J2kOut out;
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &out, nullptr);
    opj_stream_set_write_function(stream, J2kWrite);
    opj_stream_set_skip_function(stream, J2kSkip);
    opj_stream_set_seek_function(stream, J2kSeek);
    const bool ok = opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                    opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    EXPECT_TRUE(ok);
    return out.bytes;
}

// RLE: one segment per byte of each sample (most significant first), in
// literal runs of up to 128 bytes.
Bytes EncodeRle(const Picture& p) {
    const unsigned bytesPerSample = p.bits / 8;
    const unsigned segments = p.samples * bytesPerSample;
    std::vector<Bytes> planes(segments);
    for (unsigned s = 0; s < p.samples; ++s)
        for (unsigned b = 0; b < bytesPerSample; ++b) {
            Bytes& plane = planes[s * bytesPerSample + b];
            Bytes row;
            for (int y = 0; y < p.rows; ++y) {
                for (int x = 0; x < p.columns; ++x)
                    row.push_back(uint8_t(p.value(x, y, s) >> (8 * (bytesPerSample - 1 - b))));
                for (std::size_t at = 0; at < row.size(); at += 128) {
                    const std::size_t n = std::min<std::size_t>(128, row.size() - at);
                    plane.push_back(uint8_t(n - 1));
                    plane.insert(plane.end(), row.begin() + long(at), row.begin() + long(at + n));
                }
                row.clear();
            }
            if (plane.size() % 2) plane.push_back(0x80);
        }
    Bytes out(64, 0);
    auto put = [&out](std::size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) out[at + k] = uint8_t(v >> (8 * k));
    };
    put(0, segments);
    for (unsigned s = 0; s < segments; ++s) {
        put(4 + 4 * s, uint32_t(out.size()));
        out.insert(out.end(), planes[s].begin(), planes[s].end());
    }
    return out;
}

// ---- Files ----------------------------------------------------------------

void PixelModule(testdicom::Writer& w, const Picture& p, const std::string& photometric, int frames, int planar) {
    w.us(0x0028, 0x0002, uint16_t(p.samples));
    w.text(0x0028, 0x0004, "CS", Pad(photometric));
    if (p.samples > 1) w.us(0x0028, 0x0006, uint16_t(planar));
    w.text(0x0028, 0x0008, "IS", Pad(std::to_string(frames)));
    w.us(0x0028, 0x0010, p.rows).us(0x0028, 0x0011, p.columns);
    const unsigned stored = p.stored ? p.stored : p.bits;
    w.us(0x0028, 0x0100, uint16_t(p.bits)).us(0x0028, 0x0101, uint16_t(stored));
    w.us(0x0028, 0x0102, uint16_t(stored - 1)).us(0x0028, 0x0103, p.isSigned ? 1 : 0);
    if (p.smallest) w.us(0x0028, 0x0106, *p.smallest);
    if (p.largest) w.us(0x0028, 0x0107, *p.largest);
    if (p.padding) w.us(0x0028, 0x0120, *p.padding);
}

Bytes NativeFile(const Picture& p, const std::string& photometric, int frames = 1, int planar = 0) {
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    testdicom::StudyElements(w);
    PixelModule(w, p, photometric, frames, planar);
    Bytes pixels;
    for (int k = 0; k < frames; ++k) {
        auto put = [&](uint16_t v) {
            pixels.push_back(uint8_t(v));
            if (p.bits == 16) pixels.push_back(uint8_t(v >> 8));
        };
        if (planar)
            for (unsigned s = 0; s < p.samples; ++s)
                for (int y = 0; y < p.rows; ++y)
                    for (int x = 0; x < p.columns; ++x) put(p.value(x, y, s));
        else
            for (int y = 0; y < p.rows; ++y)
                for (int x = 0; x < p.columns; ++x)
                    for (unsigned s = 0; s < p.samples; ++s) put(p.value(x, y, s));
    }
    w.element(0x7FE0, 0x0010, p.bits == 16 ? "OW" : "OB", pixels);
    return w.bytes();
}

Bytes EncapsulatedFile(const Picture& p, const std::string& photometric, const std::string& syntax,
                       Bytes fragment) {
    testdicom::Writer w = testdicom::Part10(syntax);
    testdicom::StudyElements(w);
    PixelModule(w, p, photometric, 1, 0);
    if (fragment.size() % 2) fragment.push_back(0);
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF);
    w.tag(0xFFFE, 0xE000).u32(0);
    w.tag(0xFFFE, 0xE000).u32(uint32_t(fragment.size())).raw(fragment);
    w.tag(0xFFFE, 0xE0DD).u32(0);
    return w.bytes();
}

struct Loaded {
    CDicomFile file;
    explicit Loaded(const Bytes& bytes) { EXPECT_TRUE(file.LoadMemory(bytes.data(), bytes.size())); }
};

// The largest difference of two 24-bit thumbnails' samples, but for those
// within 2 pixels of (skipX, skipY).
int LargestDifference(const MCImage& a, const MCImage& b, int skipX = -9, int skipY = -9) {
    if (a.GetDataSize() != b.GetDataSize() || a.GetWidth() != b.GetWidth()) return 256;
    int largest = 0;
    for (uint32_t k = 0; k < a.GetDataSize(); ++k) {
        const int x = int(k / 3 % a.GetWidth()), y = int(k / 3 / a.GetWidth());
        if (std::abs(x - skipX) <= 2 && std::abs(y - skipY) <= 2) continue;
        largest = std::max(largest, std::abs(int(a.GetBits()[k]) - int(b.GetBits()[k])));
    }
    return largest;
}

// Under this budget the fixtures' full-size decodes do not fit (each takes
// well over 1 MB); their halves do.
constexpr uint64_t kSmallBudget = 400 << 10;

}  // namespace

// Every route a frame over the budget takes to its thumbnail: the codec's
// reduction (JPEG 2000 levels, JPEG's scaled DCT) or bands averaged down
// (native, RLE, lossless JPEG). Each thumbnail matches the one made from the
// full-size frame within a few grey levels, was made reduced, and the decode
// held no more than the budget.
TEST(ReducedThumbnail, EveryRouteLooksLikeTheFullSizeThumbnail) {
    Picture grey8;
    grey8.value = [](int x, int y, unsigned s) { return Smooth(x, y, s, 255); };
    Picture grey16 = grey8;
    grey16.bits = 16;
    // One hot pixel sets the range of the whole frame, and with it the window
    // of the full-size image: the reduced one must keep that window. Only
    // around the pixel itself (75, 57 in the thumbnail) may they differ: the
    // full-size thumbnail samples it, the reduced one averages it.
    grey16.value = [](int x, int y, unsigned s) { return x == 300 && y == 100 ? uint16_t(4000) : Smooth(x, y, s, 1000); };
    Picture grey12 = grey8;
    grey12.bits = 16;
    grey12.value = [](int x, int y, unsigned s) { return Smooth(x, y, s, 4000); };
    // The hot pixel is the padding value: left out of the range, as the
    // full-size image leaves it out.
    Picture padded = grey16;
    padded.padding = 4000;
    // Smallest and largest pixel values clamp the samples, the hot pixel too.
    Picture clamped = grey16;
    clamped.smallest = 100;
    clamped.largest = 900;
    // Signed 12 bits stored in 16, the bits above them set to garbage: the
    // sign comes from bit 11 alone.
    Picture signed12 = grey16;
    signed12.stored = 12;
    signed12.isSigned = true;
    signed12.value = [](int x, int y, unsigned s) {
        return uint16_t(((int(Smooth(x, y, s, 2000)) - 1000) & 0x0FFF) | ((x + y) % 3 ? 0xA000 : 0x5000));
    };
    Picture rgb = grey8;
    rgb.samples = 3;
    rgb.columns = 602;  // quartered, the columns round up
    // Smoother across: reduced 4 times, the picture's samples sit up to two
    // pixels from where the full-size thumbnail samples it.
    rgb.value = [](int x, int y, unsigned s) { return Smooth(x / 2, y, s, 255); };

    const struct {
        const char* name;
        Bytes file;
        unsigned reduced;  // how far the thumbnail's frame is reduced
    } cases[] = {
        {"native grey 8", NativeFile(grey8, "MONOCHROME2"), 1},
        {"native grey 16, hot pixel", NativeFile(grey16, "MONOCHROME2"), 1},
        {"native MONOCHROME1", NativeFile(grey8, "MONOCHROME1"), 1},
        // Halved, the colour frame with its band still takes over 500 KiB.
        {"native RGB in planes", NativeFile(rgb, "RGB", 1, 1), 2},
        // Codecs whose thumbnails come from bands or from the codec's own
        // reduction go straight to the size shown.
        {"RLE grey 8", EncapsulatedFile(grey8, "MONOCHROME2", "1.2.840.10008.1.2.5", EncodeRle(grey8)), 2},
        {"RLE grey 16, hot pixel", EncapsulatedFile(grey16, "MONOCHROME2", "1.2.840.10008.1.2.5", EncodeRle(grey16)), 2},
        {"RLE grey 16, padding value", EncapsulatedFile(padded, "MONOCHROME2", "1.2.840.10008.1.2.5", EncodeRle(padded)), 2},
        {"RLE grey 16, clamped", EncapsulatedFile(clamped, "MONOCHROME2", "1.2.840.10008.1.2.5", EncodeRle(clamped)), 2},
        {"RLE signed 12 in 16", EncapsulatedFile(signed12, "MONOCHROME2", "1.2.840.10008.1.2.5", EncodeRle(signed12)), 2},
        {"native signed 12 in 16", NativeFile(signed12, "MONOCHROME2"), 1},
        {"RLE RGB", EncapsulatedFile(rgb, "RGB", "1.2.840.10008.1.2.5", EncodeRle(rgb)), 2},
        {"JPEG lossless grey", EncapsulatedFile(grey8, "MONOCHROME2", "1.2.840.10008.1.2.4.70", EncodeJpeg(grey8, true)), 2},
        {"JPEG baseline grey", EncapsulatedFile(grey8, "MONOCHROME2", "1.2.840.10008.1.2.4.50", EncodeJpeg(grey8, false)), 2},
        {"JPEG baseline YCbCr", EncapsulatedFile(rgb, "YBR_FULL_422", "1.2.840.10008.1.2.4.50", EncodeJpeg(rgb, false)), 2},
        {"J2K grey 8", EncapsulatedFile(grey8, "MONOCHROME2", "1.2.840.10008.1.2.4.90", EncodeJ2k(grey8, 5)), 2},
        {"J2K grey 16", EncapsulatedFile(grey12, "MONOCHROME2", "1.2.840.10008.1.2.4.90", EncodeJ2k([&] {
             Picture p = grey12;
             p.bits = 12;
             return p;
         }(), 5)), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded loaded(c.file);
        quillon::FrameDecoder full(loaded.file);
        full.SetThumbnailsAtShownSize(false);
        const auto expected = full.GetFrameThumbnail(0);
        ASSERT_NE(expected, nullptr) << full.FrameStatus(0).Text();
        EXPECT_EQ(full.ThumbnailReduction(0), 0u);

        quillon::FrameDecoder small(loaded.file, DefaultImageCacheBudget(), kSmallBudget);
        const auto reduced = small.GetFrameThumbnail(0);
        ASSERT_NE(reduced, nullptr) << small.FrameStatus(0).Text();
        EXPECT_EQ(small.ThumbnailReduction(0), c.reduced);
        // A reduced pixel stands for a square whose centre lies half a square
        // from the corner the scaling samples: a few levels on slopes.
        EXPECT_LE(LargestDifference(*expected, *reduced, 75, 57), 8);
        EXPECT_GT(small.BudgetHighWater(), 0u);
        EXPECT_LE(small.BudgetHighWater(), kSmallBudget);
        // The full-size image is still refused, for the budget.
        EXPECT_EQ(small.GetFrameImage(0), nullptr);
        EXPECT_EQ(small.FrameStatus(0).Code(), quillon::Reason::OverBudget);
    }
}

// Frames reduced on several threads share the budget as full-size ones do,
// and each gets the thumbnail it gets alone.
TEST(ReducedThumbnail, ThreadsShareTheBudget) {
    Picture p;
    p.value = [](int x, int y, unsigned s) { return Smooth(x, y, s, 255); };
    Loaded loaded(NativeFile(p, "MONOCHROME2", 4));
    quillon::FrameDecoder decoder(loaded.file, DefaultImageCacheBudget(), kSmallBudget);
    const auto thumbnails = decoder.MakeThumbnails(4, {}, 2);
    quillon::FrameDecoder alone(loaded.file, DefaultImageCacheBudget(), kSmallBudget);
    const auto one = alone.GetFrameThumbnail(3);
    ASSERT_NE(one, nullptr);
    for (const auto& t : thumbnails) {
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(LargestDifference(*t, *one), 0);
    }
    EXPECT_LE(decoder.BudgetHighWater(), kSmallBudget);
}

// Where even the most reduced decode does not fit, or the codec cannot
// reduce and has no bands, the frame is refused for the budget and says so.
TEST(ReducedThumbnail, RefusedWhenNoReductionFits) {
    Picture p;
    p.value = [](int x, int y, unsigned s) { return Smooth(x, y, s, 255); };
    const std::string nor = " Nor can it be decoded at a reduced size within it.";
    const struct {
        const char* name;
        Bytes file;
        uint64_t budget;
    } cases[] = {
        // Halved and quartered the frame still takes more than 10 KiB.
        {"native, tiny budget", NativeFile(p, "MONOCHROME2"), 10 << 10},
        // A codestream of one resolution level cannot be decoded smaller.
        {"J2K without levels", EncapsulatedFile(p, "MONOCHROME2", "1.2.840.10008.1.2.4.90", EncodeJ2k(p, 0)),
         kSmallBudget},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded loaded(c.file);
        quillon::FrameDecoder decoder(loaded.file, DefaultImageCacheBudget(), c.budget);
        EXPECT_EQ(decoder.GetFrameThumbnail(0), nullptr);
        const quillon::Status status = decoder.FrameStatus(0);
        EXPECT_EQ(status.Code(), quillon::Reason::OverBudget);
        EXPECT_EQ(status.Text().substr(0, 31), "Decoding the frame (512 x 256, ");
        ASSERT_GE(status.Text().size(), nor.size());
        EXPECT_EQ(status.Text().substr(status.Text().size() - nor.size()), nor);
        EXPECT_LE(decoder.BudgetHighWater(), c.budget);
    }
}

namespace {

// How two 24-bit thumbnails differ, over every sample: the largest absolute
// difference, the mean and the 99th percentile.
struct Differences {
    int largest = 256;
    double mean = 256;
    int p99 = 256;
};
Differences Compare(const MCImage& a, const MCImage& b) {
    Differences d;
    if (a.GetDataSize() != b.GetDataSize() || a.GetWidth() != b.GetWidth() || a.GetDataSize() == 0) return d;
    std::vector<uint64_t> histogram(256, 0);
    uint64_t sum = 0;
    for (uint32_t k = 0; k < a.GetDataSize(); ++k) {
        const int v = std::abs(int(a.GetBits()[k]) - int(b.GetBits()[k]));
        ++histogram[std::size_t(v)];
        sum += uint64_t(v);
    }
    const uint64_t n = a.GetDataSize();
    d.mean = double(sum) / double(n);
    uint64_t seen = 0;
    d.p99 = -1;
    for (int v = 0; v < 256; ++v) {
        seen += histogram[std::size_t(v)];
        if (histogram[std::size_t(v)]) d.largest = v;
        if (d.p99 < 0 && seen * 100 >= n * 99) d.p99 = v;
    }
    return d;
}

// The spread of a thumbnail's grey (first channel) inside its 8-pixel border.
int Spread(const MCImage& t) {
    int low = 255, high = 0;
    for (uint32_t y = 8; y + 8 < t.GetHeight(); ++y)
        for (uint32_t x = 8; x + 8 < t.GetWidth(); ++x) {
            const int v = t.GetBits()[(uint64_t(y) * t.GetWidth() + x) * 3];
            low = std::min(low, v);
            high = std::max(high, v);
        }
    return high - low;
}

// A second frame for a file of one fragment a frame.
Bytes TwoFrameFile(const Picture& p, const std::string& photometric, const std::string& syntax, Bytes first,
                   Bytes second) {
    testdicom::Writer w = testdicom::Part10(syntax);
    testdicom::StudyElements(w);
    PixelModule(w, p, photometric, 2, 0);
    w.header(0x7FE0, 0x0010, "OB", 0xFFFFFFFF);
    w.tag(0xFFFE, 0xE000).u32(0);
    for (Bytes* fragment : {&first, &second}) {
        if (fragment->size() % 2) fragment->push_back(0);
        w.tag(0xFFFE, 0xE000).u32(uint32_t(fragment->size())).raw(*fragment);
    }
    w.tag(0xFFFE, 0xE0DD).u32(0);
    return w.bytes();
}

}  // namespace

// Frames within the budget are decoded at the size shown where the codec
// reduces as it decodes (JPEG 2000 and HTJ2K resolution levels, JPEG's
// scaled DCT): every thumbnail stays within a few grey levels of the one
// made from the full-size frame, and the full-size samples stay exact.
// RLE and lossless JPEG frames are decoded a band of rows at a time and
// averaged down; frames too small to reduce are decoded in full.
TEST(ReducedThumbnail, ThumbnailsAtTheSizeShownMatchFullSizeOnes) {
    Picture grey8;
    grey8.value = [](int x, int y, unsigned s) { return Smooth(x, y, s, 255); };
    Picture grey12 = grey8;
    grey12.bits = 12;
    grey12.value = [](int x, int y, unsigned s) { return Smooth(x, y, s, 4000); };
    Picture grey16 = grey12;
    grey16.bits = 16;
    Picture rgb = grey8;
    rgb.samples = 3;
    Picture small = grey8;
    small.columns = small.rows = 200;
    const std::string j2k = "1.2.840.10008.1.2.4.90", htj2k = "1.2.840.10008.1.2.4.201",
                      baseline = "1.2.840.10008.1.2.4.50";
    const std::filesystem::path corpus = std::filesystem::path(QUILLON_PYDICOM_DATA) / "test_files";

    // The bounds are on the differences from the full-size thumbnail, which
    // samples the frame at the corner of each reduced pixel's square (a
    // reduced pixel is its square's average: on slopes a few levels apart)
    // and aliases hard edges and noise (where the two differ most).
    const struct {
        const char* name;
        Bytes file;  // or a file of the corpus
        const char* corpusFile;
        unsigned reduced;
        double mean;  // mean absolute difference, at most
        int p99;      // 99th percentile, at most
    } cases[] = {
        // OpenJPEG decodes a Part 1 codestream labelled HTJ2K as well.
        {"J2K grey 16", EncapsulatedFile(grey16, "MONOCHROME2", j2k, EncodeJ2k(grey12, 5)), nullptr, 2, 1.5, 3},
        {"HTJ2K grey 16, two frames", TwoFrameFile(grey16, "MONOCHROME2", htj2k, EncodeJ2k(grey12, 5),
                                                   EncodeJ2k(grey12, 5)), nullptr, 2, 1.5, 3},
        // The codec reduces less than asked.
        {"J2K grey 8, one level", EncapsulatedFile(grey8, "MONOCHROME2", j2k, EncodeJ2k(grey8, 1)), nullptr, 1, 1, 3},
        {"JPEG baseline grey", EncapsulatedFile(grey8, "MONOCHROME2", baseline, EncodeJpeg(grey8, false)), nullptr, 2,
         4, 8},
        {"JPEG baseline YCbCr", EncapsulatedFile(rgb, "YBR_FULL_422", baseline, EncodeJpeg(rgb, false)), nullptr, 2,
         4, 8},
        // No reduction in the codec: bands averaged over 4 x 4 squares, as
        // the scaled DCT does, so within the JPEG baseline's bounds.
        {"JPEG lossless grey 8, bands", EncapsulatedFile(grey8, "MONOCHROME2", "1.2.840.10008.1.2.4.70",
                                                         EncodeJpeg(grey8, true)), nullptr, 2, 4, 8},
        {"RLE grey 8, bands", EncapsulatedFile(grey8, "MONOCHROME2", "1.2.840.10008.1.2.5", EncodeRle(grey8)),
         nullptr, 2, 4, 8},
        // Windowed after the average rather than before: a few hundredths
        // of a level more on the mean.
        {"RLE grey 16, bands", EncapsulatedFile(grey16, "MONOCHROME2", "1.2.840.10008.1.2.5", EncodeRle(grey16)),
         nullptr, 2, 4.1, 8},
        {"RLE RGB, bands", EncapsulatedFile(rgb, "RGB", "1.2.840.10008.1.2.5", EncodeRle(rgb)), nullptr, 2, 4, 8},
        {"J2K under 256 pixels", EncapsulatedFile(small, "MONOCHROME2", j2k, EncodeJ2k(small, 5)), nullptr, 0, 0, 0},
        // Real pictures: CT in a narrow window, 12-bit JPEG, a JP2 file of
        // text on colour, RGB without colour transform.
        {"corpus JPEG2000.dcm", {}, "JPEG2000.dcm", 3, 0.2, 3},
        {"corpus 693_J2KI.dcm", {}, "693_J2KI.dcm", 2, 0.1, 1},
        {"corpus JPEG-lossy.dcm", {}, "JPEG-lossy.dcm", 3, 2, 16},
        {"corpus GDCMJ2K_TextGBR.dcm", {}, "GDCMJ2K_TextGBR.dcm", 1, 1, 22},
        {"corpus SC_jpeg_no_color_transform.dcm", {}, "SC_jpeg_no_color_transform.dcm", 1, 0.1, 1},
        // The stream's samples are unsigned, the file's signed: they wrap
        // around, and would wrap elsewhere averaged. Decoded in full.
        {"corpus J2K_pixelrep_mismatch.dcm", {}, "J2K_pixelrep_mismatch.dcm", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CDicomFile file;
        if (c.corpusFile)
            ASSERT_TRUE(file.Load(corpus / c.corpusFile));
        else
            ASSERT_TRUE(file.LoadMemory(c.file.data(), c.file.size()));
        quillon::FrameDecoder full(file), shown(file);
        full.SetThumbnailsAtShownSize(false);
        for (std::size_t frame = 0; frame < full.FrameCount(); ++frame) {
            const auto expected = full.GetFrameThumbnail(frame);
            const auto reduced = shown.GetFrameThumbnail(frame);
            ASSERT_NE(expected, nullptr) << full.FrameStatus(frame).Text();
            ASSERT_NE(reduced, nullptr) << shown.FrameStatus(frame).Text();
            EXPECT_EQ(full.ThumbnailReduction(frame), 0u);
            EXPECT_EQ(shown.ThumbnailReduction(frame), c.reduced);
            const Differences d = Compare(*expected, *reduced);
            EXPECT_LE(d.mean, c.mean);
            EXPECT_LE(d.p99, c.p99);
            // The frame's samples are the full-size ones all the same.
            std::vector<uint8_t> fromShown, fromFull;
            ASSERT_TRUE(shown.GetFrameSamples(frame, fromShown));
            ASSERT_TRUE(full.GetFrameSamples(frame, fromFull));
            EXPECT_EQ(fromShown, fromFull);
            EXPECT_TRUE(shown.FrameStatus(frame)) << shown.FrameStatus(frame).Text();
        }
    }
}

// Detail finer than a thumbnail's pixel is averaged away by a reduced decode;
// scaled down from the full size it would alias into coarse stripes. The
// reduced thumbnail is never the more aliased.
TEST(ReducedThumbnail, FineDetailIsFilteredNotAliased) {
    Picture stripes;
    stripes.columns = stripes.rows = 512;
    stripes.value = [](int x, int, unsigned) { return uint16_t(x % 5 < 2 ? 220 : 30); };
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"J2K", EncapsulatedFile(stripes, "MONOCHROME2", "1.2.840.10008.1.2.4.90", EncodeJ2k(stripes, 5))},
        {"JPEG baseline", EncapsulatedFile(stripes, "MONOCHROME2", "1.2.840.10008.1.2.4.50", EncodeJpeg(stripes, false))},
        {"RLE, bands", EncapsulatedFile(stripes, "MONOCHROME2", "1.2.840.10008.1.2.5", EncodeRle(stripes))},
        {"JPEG lossless, bands",
         EncapsulatedFile(stripes, "MONOCHROME2", "1.2.840.10008.1.2.4.70", EncodeJpeg(stripes, true))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded loaded(c.file);
        quillon::FrameDecoder full(loaded.file), shown(loaded.file);
        full.SetThumbnailsAtShownSize(false);
        const auto aliased = full.GetFrameThumbnail(0);
        const auto filtered = shown.GetFrameThumbnail(0);
        ASSERT_NE(aliased, nullptr);
        ASSERT_NE(filtered, nullptr);
        EXPECT_EQ(shown.ThumbnailReduction(0), 2u);
        EXPECT_LT(Spread(*filtered), Spread(*aliased));
    }
}

// A decoder abandoned by its owner (a document closing while its thumbnails
// are being made) starts nothing more: no thumbnail, no decode, no share of
// the budget, and no full-size decode in place of the reduced one.
TEST(ReducedThumbnail, AnAbandonedDecoderStartsNothing) {
    Picture grey16;
    grey16.bits = 16;
    grey16.value = [](int x, int y, unsigned s) { return Smooth(x, y, s, 1000); };
    const struct {
        const char* name;
        Bytes file;
        uint64_t budget;
    } cases[] = {
        {"native, in bands over the budget", NativeFile(grey16, "MONOCHROME2"), kSmallBudget},
        {"RLE, in bands", EncapsulatedFile(grey16, "MONOCHROME2", "1.2.840.10008.1.2.5", EncodeRle(grey16)),
         uint64_t(256) << 20},
        {"J2K, reduced by the codec",
         EncapsulatedFile(grey16, "MONOCHROME2", "1.2.840.10008.1.2.4.90", EncodeJ2k(grey16, 5)), uint64_t(256) << 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded loaded(c.file);
        quillon::FrameDecoder frames(loaded.file, DefaultImageCacheBudget(), c.budget);
        ASSERT_NE(frames.GetFrameThumbnail(0), nullptr) << frames.FrameStatus(0).Text();
        quillon::FrameDecoder abandoned(loaded.file, DefaultImageCacheBudget(), c.budget);
        abandoned.Abandon();
        EXPECT_EQ(abandoned.GetFrameThumbnail(0), nullptr);
        EXPECT_EQ(abandoned.DecodeCount(), 0u);
        EXPECT_EQ(abandoned.BudgetHighWater(), 0u);
    }
}
