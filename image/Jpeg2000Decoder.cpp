// JPEG 2000 frames through OpenJPEG 2: a J2K codestream, else a JP2 file
// (OpenJPEG 2 has no JPT decoder). Read from memory, messages discarded,
// truncated streams decoded as far as they go.
#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "image/AbortGuard.h"
#include "image/FrameCodecs.h"

using quillon::AllocBlock;
using quillon::HeapPtr;

namespace {

// Beyond these the frame is not decoded.
constexpr uint64_t kMaxTiles = 4096;
constexpr unsigned kMaxComponents = 16;

struct MemoryStream {
    const uint8_t* bytes;
    uint64_t length;
    uint64_t position;
};

OPJ_SIZE_T Read(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    if (s->position >= s->length) return OPJ_SIZE_T(-1);
    const uint64_t n = std::min<uint64_t>(count, s->length - s->position);
    std::memcpy(buffer, s->bytes + s->position, n);
    s->position += n;
    return OPJ_SIZE_T(n);
}

OPJ_OFF_T Skip(OPJ_OFF_T count, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    if (count < 0 || s->position >= s->length) return OPJ_OFF_T(-1);
    const uint64_t ahead = std::min<uint64_t>(uint64_t(count), s->length - s->position);
    s->position += ahead;
    return OPJ_OFF_T(ahead);
}

OPJ_BOOL Seek(OPJ_OFF_T to, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    if (to < 0 || uint64_t(to) > s->length) return OPJ_FALSE;
    s->position = uint64_t(to);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

uint32_t ReadBE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Where the codestream starts: at 0 for a bare J2K codestream, else the
// payload of the first `jp2c` box of a JP2 file, found by walking the boxes
// from the signature box on (a codestream header elsewhere, inside an XML
// or UUID box, is no codestream). Null when neither is there; `limit` is
// the codestream's end.
const uint8_t* FindCodestream(const uint8_t* bytes, uint64_t length, uint64_t& limit) {
    static const uint8_t kSignature[] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    limit = length;
    if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0x4F) return bytes;
    if (length < sizeof kSignature || std::memcmp(bytes, kSignature, sizeof kSignature) != 0) return nullptr;
    uint64_t at = 0;
    while (length - at >= 8) {
        uint64_t boxLength = ReadBE32(bytes + at);
        uint64_t header = 8;
        if (boxLength == 1) {
            if (length - at < 16) return nullptr;
            boxLength = uint64_t(ReadBE32(bytes + at + 8)) << 32 | ReadBE32(bytes + at + 12);
            header = 16;
        } else if (boxLength == 0) {
            boxLength = length - at;  // the last box runs to the end
        }
        if (boxLength < header) return nullptr;
        if (std::memcmp(bytes + at + 4, "jp2c", 4) == 0) {
            // A codestream box cut short keeps the bytes that are there.
            limit = at + std::min(boxLength, length - at);
            return bytes + at + header;
        }
        if (boxLength > length - at) return nullptr;
        at += boxLength;
    }
    return nullptr;
}

// Checks the image and tile header (SIZ) of the codestream, bare or in the
// codestream box of a JP2 file, before the library sees it: the library
// sizes its per-tile and per-component state from it while reading the
// header (gigabytes for a small stream that claims tens of thousands of
// tiles), and the output from the file. Both must agree. Success, or why
// the stream is not decoded.
quillon::Status PlausibleImageHeader(const uint8_t* bytes, uint64_t length, const FrameDescription& d) {
    using quillon::Reason;
    uint64_t limit = 0;
    const uint8_t* start = FindCodestream(bytes, length, limit);
    const uint8_t* end = bytes + limit;
    if (!start || end - start < 4 || start[0] != 0xFF || start[1] != 0x4F || start[2] != 0xFF || start[3] != 0x51)
        return FrameFailure(Reason::CodecRefused, "The stream holds no JPEG 2000 codestream header.");
    if (end - start < 4 + 40)
        return FrameFailure(Reason::StreamEndsEarly, "The stream ends early at byte %llu, inside the image header.",
                            static_cast<unsigned long long>(limit));
    const uint8_t* p = start + 4 + 4;  // past Lsiz and Rsiz
    const uint64_t width = ReadBE32(p), height = ReadBE32(p + 4);
    const uint64_t x0 = ReadBE32(p + 8), y0 = ReadBE32(p + 12);
    const uint64_t tileWidth = ReadBE32(p + 16), tileHeight = ReadBE32(p + 20);
    const uint64_t tileX0 = ReadBE32(p + 24), tileY0 = ReadBE32(p + 28);
    const unsigned components = unsigned(p[32]) << 8 | p[33];
    if (width <= x0 || height <= y0 || tileWidth == 0 || tileHeight == 0 || tileX0 > x0 || tileY0 > y0)
        return FrameFailure(Reason::CodecRefused, "The JPEG 2000 image header gives an empty image or tile grid.");
    if (width - x0 != d.pixel.columns || height - y0 != d.pixel.rows)
        return DimensionsDiffer(width - x0, height - y0, d);
    const uint64_t across = (width - tileX0 + tileWidth - 1) / tileWidth;
    const uint64_t down = (height - tileY0 + tileHeight - 1) / tileHeight;
    const uint64_t tiles = across * down;
    if (tiles > kMaxTiles)
        return FrameFailure(Reason::OverBudget, "The stream claims %llu tiles; more than %llu are not decoded.",
                            static_cast<unsigned long long>(tiles), static_cast<unsigned long long>(kMaxTiles));
    if (components < 1 || components > kMaxComponents)
        return FrameFailure(Reason::CodecRefused, "The stream claims %u components; 1 to %u are decoded.", components,
                            kMaxComponents);
    if (components > std::max(DecodedSamples(d), 1u))
        return FrameFailure(Reason::DimensionsDiffer,
                            "The stream's image header gives %u components; the file says %u samples per pixel.",
                            components, d.Samples());
    return {};
}

// The fewest decomposition levels the main header's coding style segments
// (COD, COC) give any component: how far the stream can be decoded at a
// lower resolution. 0 without a COD before the first tile.
unsigned MainHeaderLevels(const uint8_t* bytes, uint64_t length) {
    uint64_t limit = 0;
    const uint8_t* start = FindCodestream(bytes, length, limit);
    if (!start) return 0;
    const uint8_t* end = bytes + limit;
    const uint8_t* p = start + 2;  // past SOC
    unsigned levels = 0;
    bool coded = false;
    while (end - p >= 4 && p[0] == 0xFF) {
        const uint8_t marker = p[1];
        if (marker == 0x90 || marker == 0x93 || marker == 0xD9) break;  // SOT, SOD, EOC
        const uint64_t segment = uint64_t(p[2]) << 8 | p[3];
        if (segment < 2 || uint64_t(end - p) < 2 + segment) break;
        if (marker == 0x52 && segment >= 10) {
            levels = coded ? std::min<unsigned>(levels, p[9]) : p[9];
            coded = true;
        } else if (marker == 0x53 && segment >= 5) {
            // Ccoc takes one byte where there are fewer than 257 components.
            const unsigned own = p[6];
            levels = coded ? std::min(levels, own) : own;
        }
        p += 2 + segment;
    }
    return coded ? std::min(levels, 32u) : 0;
}

// Whether the stream's components are signed as the file's pixel
// representation says. Where they are not, the samples are read the file's
// way and wrap around; averaged at a lower resolution they would wrap
// elsewhere than the full-size samples do, so such frames are not reduced.
bool SignAsFileSays(const uint8_t* bytes, uint64_t length, const FrameDescription& d) {
    uint64_t limit = 0;
    const uint8_t* start = FindCodestream(bytes, length, limit);
    // SOC, then SIZ: marker, Lsiz, Rsiz, eight 32-bit sizes, Csiz, then each
    // component's Ssiz (bit 7 the sign).
    if (!start || uint64_t(start - bytes) + 43 > limit || start[2] != 0xFF || start[3] != 0x51) return false;
    const unsigned components = unsigned(start[40]) << 8 | start[41];
    for (unsigned c = 0; c < components && uint64_t(start - bytes) + 43 + 3 * c <= limit; ++c)
        if (((start[42 + 3 * c] & 0x80) != 0) != (d.pixel.pixelRepresentation != 0)) return false;
    return true;
}

// The library's objects of one attempt, released together.
struct Attempt {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    // The library aborted inside a call of this attempt.
    bool aborted = false;
    ~Attempt() {
        if (image) opj_image_destroy(image);
        if (stream) opj_stream_destroy(stream);
        if (codec) opj_destroy_codec(codec);
    }
};

bool ReadHeader(void* attempt) {
    auto& a = *static_cast<Attempt*>(attempt);
    return opj_read_header(a.stream, a.codec, &a.image);
}

bool DecodeImage(void* attempt) {
    auto& a = *static_cast<Attempt*>(attempt);
    if (!opj_decode(a.codec, a.stream, a.image)) return false;
    opj_end_decompress(a.codec, a.stream);
    return true;
}

// The library stopped on one of its own checks: the attempt fails.
bool AbortedIn(Attempt& a) {
    a.aborted = true;
    return false;
}

// Decodes with one codec format; the image, or none.
bool DecodeAs(OPJ_CODEC_FORMAT format, MemoryStream& memory, uint64_t framePixels, unsigned reduce, Attempt& a) {
    memory.position = 0;
    a.codec = opj_create_decompress(format);
    if (!a.codec) return false;
    opj_set_info_handler(a.codec, Quiet, nullptr);
    opj_set_warning_handler(a.codec, Quiet, nullptr);
    opj_set_error_handler(a.codec, Quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(a.codec, &parameters)) return false;
    opj_decoder_set_strict_mode(a.codec, OPJ_FALSE);

    a.stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE);
    if (!a.stream) return false;
    opj_stream_set_user_data(a.stream, &memory, nullptr);
    opj_stream_set_user_data_length(a.stream, memory.length);
    opj_stream_set_read_function(a.stream, Read);
    opj_stream_set_skip_function(a.stream, Skip);
    opj_stream_set_seek_function(a.stream, Seek);

    // OpenJPEG keeps its assertions (its HT block decoder has some a stream
    // can reach): the calls that read the stream run under the abort guard.
    bool read = false;
    if (!quillon::CallSurvivingAbort(ReadHeader, &a, read)) return AbortedIn(a);
    if (!read || !a.image) return false;
    // An image far larger than the frame would only cost memory and time.
    const uint64_t width = a.image->x1 > a.image->x0 ? a.image->x1 - a.image->x0 : 0;
    const uint64_t height = a.image->y1 > a.image->y0 ? a.image->y1 - a.image->y0 : 0;
    if (width == 0 || height == 0 || width * height > 4 * std::max<uint64_t>(framePixels, 1u << 16)) return false;
    if (a.image->numcomps == 0 || a.image->numcomps > kMaxComponents) return false;
    if (reduce && !opj_set_decoded_resolution_factor(a.codec, reduce)) return false;
    bool decoded = false;
    if (!quillon::CallSurvivingAbort(DecodeImage, &a, decoded)) return AbortedIn(a);
    return decoded;
}

// Copies the decoded components into the frame's layout: pixels in image
// order, `samples` per pixel, each `sampleBytes` little endian; components
// the image lacks and pixels it does not cover stay zero.
void CopyImage(const opj_image_t& image, unsigned samples, unsigned sampleBytes, uint8_t* out, uint64_t size) {
    const opj_image_comp_t& first = image.comps[0];
    const uint64_t width = first.w, height = first.h;
    const unsigned kept = std::min(samples, image.numcomps);
    for (unsigned c = 0; c < kept; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        if (!comp.data || comp.w == 0 || comp.h == 0) continue;
        for (uint64_t y = 0; y < height; ++y) {
            // A subsampled component covers its pixels' neighbours too.
            const uint64_t cy = std::min<uint64_t>(y * comp.h / height, comp.h - 1);
            for (uint64_t x = 0; x < width; ++x) {
                const uint64_t at = ((y * width + x) * samples + c) * sampleBytes;
                if (at + sampleBytes > size) return;
                const uint64_t cx = std::min<uint64_t>(x * comp.w / width, comp.w - 1);
                const uint32_t value = uint32_t(comp.data[cy * comp.w + cx]);
                for (unsigned b = 0; b < sampleBytes; ++b) out[at + b] = uint8_t(value >> (8 * b));
            }
        }
    }
}

// Returns in `patched` a copy of the stream in which every tile-part length
// that runs past the data is cut to the bytes present; empty when none does.
// The library allocates a tile-part's claimed length before reading it (a
// 200-byte stream asked for 4 GiB); a truncated stream decodes the same
// either way. Start-of-tile markers (FF 90, length 10) are looked for
// everywhere, as the library itself skips unknown marker segments by
// scanning; entropy-coded data never holds FF 90.
// The first start-of-tile marker segment header (FF 90 00 0A) at or after
// `from`, or `end`: found through memchr's scan for FF, many bytes a step,
// as this runs over every byte of every frame.
const uint8_t* FindStartOfTile(const uint8_t* from, const uint8_t* end) {
    while (end - from >= 4) {
        const auto* ff = static_cast<const uint8_t*>(std::memchr(from, 0xFF, std::size_t(end - from - 3)));
        if (!ff) return end;
        if (ff[1] == 0x90 && ff[2] == 0x00 && ff[3] == 0x0A) return ff;
        from = ff + 1;
    }
    return end;
}

bool CutTileParts(const uint8_t* bytes, uint64_t length, std::vector<uint8_t>& patched) {
    const uint8_t* end = bytes + length;
    for (const uint8_t* sot = FindStartOfTile(bytes, end); end - sot >= 10; sot = FindStartOfTile(sot + 1, end)) {
        const uint64_t at = uint64_t(sot - bytes);
        if (ReadBE32(sot + 6) <= length - at) continue;
        if (patched.empty()) {
            try {
                patched.assign(bytes, end);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        const uint32_t present = uint32_t(std::min<uint64_t>(length - at, UINT32_MAX));
        for (int k = 0; k < 4; ++k) patched[at + 6 + k] = uint8_t(present >> (24 - 8 * k));
    }
    return true;
}

}  // namespace

// The image header check, for decoders that hand J2K codestreams on to this one.
quillon::Status PlausibleJpeg2000Header(const uint8_t* bytes, uint64_t length, const FrameDescription& d) {
    return PlausibleImageHeader(bytes, length, d);
}

quillon::Status DecodeJpeg2000Frame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                    DecodedFrame& out) {
    return DecodeJpeg2000Reduced(d, bytes, length, out, DecodeOptions{});
}

quillon::Status DecodeJpeg2000Reduced(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                      DecodedFrame& out, const DecodeOptions& options) {
    using quillon::Reason;
    out = DecodedFrame{};
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    if (quillon::Status status = PlausibleImageHeader(bytes, length, d); !status) return status;
    const unsigned reduce = options.reduce && SignAsFileSays(bytes, length, d)
                                ? std::min(options.reduce, MainHeaderLevels(bytes, length))
                                : 0;
    const FrameDescription reducedFrame = reduce ? ReducedDescription(d, reduce) : FrameDescription{};
    const FrameDescription& target = reduce ? reducedFrame : d;
    if (quillon::Status status = CheckDecodedSize(target, options.budget); !status) return status;
    const uint64_t size = ExpectedDecodedSize(target);
    auto noMemory = [size] {
        return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                            static_cast<unsigned long long>(size));
    };
    std::vector<uint8_t> patched;
    if (!CutTileParts(bytes, length, patched)) return noMemory();
    MemoryStream memory{patched.empty() ? bytes : patched.data(), length, 0};
    bool aborted = false;
    for (OPJ_CODEC_FORMAT format : {OPJ_CODEC_J2K, OPJ_CODEC_JP2}) {
        Attempt attempt;
        if (!DecodeAs(format, memory, d.Pixels(), reduce, attempt)) {
            aborted = aborted || attempt.aborted;
            continue;
        }
        HeapPtr<uint8_t> output(static_cast<uint8_t*>(AllocBlock(size)));
        if (!output) return noMemory();
        std::memset(output.get(), 0, size);
        const unsigned sampleBytes = d.pixel.bitsAllocated <= 8 ? 1 : d.pixel.bitsAllocated <= 16 ? 2 : 4;
        CopyImage(*attempt.image, DecodedSamples(d), sampleBytes, output.get(), size);
        out.data = std::move(output);
        out.size = size;
        out.reduced = reduce;
        return {};
    }
    if (aborted)
        return FrameFailure(Reason::CodecRefused,
                            "The JPEG 2000 decoder stopped on one of its internal checks: the stream is corrupt.");
    return FrameFailure(Reason::CodecRefused, "The JPEG 2000 decoder refused the stream.");
}
