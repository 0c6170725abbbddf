// RLE Lossless frames: a 64-byte header of segment offsets, then PackBits
// segments, one per byte of each sample (a sample's most significant byte
// first). 8-, 16- and 32-bit samples are decoded, grey and colour.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image/FrameCodecs.h"

using quillon::AllocBlock;
using quillon::HeapPtr;

namespace {

constexpr uint64_t kHeaderSize = 64;
constexpr unsigned kMaxSegments = 15;
// Bytes of a frame its segments may leave to zero filling, whatever they give.
constexpr uint64_t kRleMissingAllowance = uint64_t(1) << 20;

uint32_t ReadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Decodes PackBits runs from bytes[begin, limit) into out[0, outSize) until
// `target` bytes were produced or the input ends. Returns the bytes produced,
// including those of a last run that fall past the output (not written).
uint64_t DecodeRuns(const uint8_t* bytes, uint64_t begin, uint64_t limit, uint8_t* out, uint64_t outSize,
                    uint64_t target) {
    uint64_t in = begin, produced = 0;
    while (produced < target && in < limit) {
        const int n = int8_t(bytes[in]);
        if (n >= 0) {
            const uint64_t count = uint64_t(n) + 1;
            if (in + count >= limit) break;
            if (produced < outSize) std::memcpy(out + produced, bytes + in + 1, std::min(count, outSize - produced));
            produced += count;
            in += count + 1;
        } else if (n != -128) {
            const uint64_t count = uint64_t(1 - n);
            if (in + 1 >= limit) break;
            if (produced < outSize) std::memset(out + produced, bytes[in + 1], std::min(count, outSize - produced));
            produced += count;
            in += 2;
        } else {
            in += 1;
        }
    }
    return produced;
}

struct Header {
    uint32_t segments = 0;
    uint32_t offsets[kMaxSegments + 1] = {};
};

// Input range of segment s (0-based): from its offset to the next segment's
// offset when that lies further on, else to the end of the fragment. Empty
// when the offset does not lie inside the fragment past the header.
void SegmentRange(const Header& h, unsigned s, uint64_t length, uint64_t& begin, uint64_t& limit) {
    begin = h.offsets[s];
    limit = length;
    if (begin < kHeaderSize || begin >= length) {
        begin = limit = 0;
        return;
    }
    if (s + 1 < h.segments && s + 1 < kMaxSegments && h.offsets[s + 1] > begin && h.offsets[s + 1] <= length)
        limit = h.offsets[s + 1];
}

// Interleaves `samples` planes of `pixels` bytes each, in place through a copy.
bool InterleavePlanes(uint8_t* data, uint64_t pixels, unsigned samples) {
    HeapPtr<uint8_t> planes(static_cast<uint8_t*>(AllocBlock(pixels * samples)));
    if (!planes) return false;
    std::memcpy(planes.get(), data, pixels * samples);
    for (uint64_t k = 0; k < pixels; ++k)
        for (unsigned s = 0; s < samples; ++s) data[k * samples + s] = planes.get()[s * pixels + k];
    return true;
}

// A segment's runs decoded a piece at a time: where the input is and what
// is left of the run it is in. Bytes past the segment's end come as 0.
class RunCursor {
public:
    RunCursor(const uint8_t* bytes, uint64_t begin, uint64_t limit) : m_bytes(bytes), m_in(begin), m_limit(limit) {}
    // Writes the next n bytes of the segment.
    void Next(uint8_t* out, uint64_t n) {
        while (n > 0) {
            if (m_left == 0 && !Start()) {
                std::memset(out, 0, n);
                return;
            }
            const uint64_t k = std::min(m_left, n);
            if (m_repeat) {
                std::memset(out, m_value, k);
            } else {
                std::memcpy(out, m_bytes + m_literal, k);
                m_literal += k;
            }
            out += k;
            n -= k;
            m_left -= k;
        }
    }

private:
    // Reads the next run's header as DecodeRuns does; false at the end.
    bool Start() {
        while (m_in < m_limit) {
            const int n = int8_t(m_bytes[m_in]);
            if (n >= 0) {
                const uint64_t count = uint64_t(n) + 1;
                if (m_in + count >= m_limit) return false;
                m_repeat = false;
                m_literal = m_in + 1;
                m_left = count;
                m_in += count + 1;
                return true;
            }
            if (n != -128) {
                if (m_in + 1 >= m_limit) return false;
                m_repeat = true;
                m_value = m_bytes[m_in + 1];
                m_left = uint64_t(1 - n);
                m_in += 2;
                return true;
            }
            m_in += 1;
        }
        return false;
    }

    const uint8_t* m_bytes;
    uint64_t m_in, m_limit;
    uint64_t m_left = 0;
    bool m_repeat = false;
    uint8_t m_value = 0;
    uint64_t m_literal = 0;
};

}  // namespace

quillon::Status DecodeRleBands(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                               const DecodeOptions& options, FrameRowSink& sink) {
    using quillon::Reason;
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    if (length < kHeaderSize)
        return FrameFailure(Reason::StreamEndsEarly,
                            "The stream ends early at byte %llu, inside the 64-byte RLE header.",
                            static_cast<unsigned long long>(length));
    Header h;
    h.segments = ReadLE32(bytes);
    for (unsigned s = 0; s < kMaxSegments; ++s) h.offsets[s] = ReadLE32(bytes + 4 + 4 * s);
    const unsigned samples = d.Samples();
    const unsigned bytesPerSample = d.pixel.bitsAllocated == 16 ? 2 : 1;
    // One segment per byte of each sample: 8-bit samples, or 16-bit grey.
    const unsigned segments = samples * bytesPerSample;
    const bool layout = (d.pixel.bitsAllocated == 8 || (d.pixel.bitsAllocated == 16 && samples == 1)) &&
                        DecodedSamples(d) == samples &&
                        h.segments == segments && segments <= kMaxSegments;
    if (!layout)
        return FrameFailure(Reason::CodecRefused,
                            "The RLE header gives %u segments; frames this large are decoded in bands only from one "
                            "segment per byte of each sample.",
                            h.segments);
    const uint32_t columns = d.pixel.columns, rows = d.pixel.rows;
    // As for a whole frame: segments that cannot fill the frame are not
    // decoded past what they give, however large the frame claims to be.
    const uint64_t pixels = d.Pixels(), size = pixels * segments;
    uint64_t producible = 0;
    for (unsigned s = 0; s < segments; ++s) {
        uint64_t begin, limit;
        SegmentRange(h, s, length, begin, limit);
        if (segments == 1 && limit != 0) limit = length;
        producible += std::min(DecodeRuns(bytes, begin, limit, nullptr, 0, pixels), pixels);
    }
    if (producible < size && size - producible > std::max(producible, kRleMissingAllowance))
        return FrameFailure(Reason::StreamEndsEarly, "The RLE segments give %llu bytes of the frame's %llu.",
                            static_cast<unsigned long long>(producible), static_cast<unsigned long long>(size));
    const uint32_t bandRows = std::max<uint32_t>(1, std::min(options.bandRows ? options.bandRows : 16u, rows));
    const uint64_t bandBytes = uint64_t(bandRows) * columns * segments;
    if (bandBytes == 0 || bandBytes > options.budget / 2)
        return FrameFailure(Reason::OverBudget, "A band of %u rows of the frame would take %llu bytes.", bandRows,
                            static_cast<unsigned long long>(2 * bandBytes));
    HeapPtr<uint8_t> planes(static_cast<uint8_t*>(AllocBlock(bandBytes)));
    HeapPtr<uint8_t> band(static_cast<uint8_t*>(AllocBlock(bandBytes)));
    if (!planes || !band)
        return FrameFailure(Reason::OverBudget, "There is no memory for the band's %llu bytes.",
                            static_cast<unsigned long long>(2 * bandBytes));
    std::vector<RunCursor> cursors;
    for (unsigned s = 0; s < segments; ++s) {
        uint64_t begin, limit;
        SegmentRange(h, s, length, begin, limit);
        cursors.emplace_back(bytes, begin, limit);
    }
    if (!sink.Begin(columns, rows, false)) return {};
    for (uint32_t first = 0; first < rows; first += bandRows) {
        const uint32_t count = std::min(bandRows, rows - first);
        const uint64_t bandPixels = uint64_t(count) * columns;
        for (unsigned s = 0; s < segments; ++s) cursors[s].Next(planes.get() + s * bandPixels, bandPixels);
        uint8_t* out = band.get();
        if (bytesPerSample == 2) {
            // Most significant bytes first, stored little endian.
            for (uint64_t k = 0; k < bandPixels; ++k) {
                out[2 * k] = planes.get()[bandPixels + k];
                out[2 * k + 1] = planes.get()[k];
            }
        } else {
            for (uint64_t k = 0; k < bandPixels; ++k)
                for (unsigned s = 0; s < samples; ++s) out[k * samples + s] = planes.get()[s * bandPixels + k];
        }
        if (!sink.Band(out, first, count)) break;
    }
    return {};
}

quillon::Status DecodeRleFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out) {
    using quillon::Reason;
    out = DecodedFrame{};
    const uint64_t size = ExpectedDecodedSize(d);
    const uint64_t pixels = d.Pixels();
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    if (length < kHeaderSize)
        return FrameFailure(Reason::StreamEndsEarly,
                            "The stream ends early at byte %llu, inside the 64-byte RLE header.",
                            static_cast<unsigned long long>(length));
    if (d.pixel.bitsAllocated != 8 && d.pixel.bitsAllocated != 16 && d.pixel.bitsAllocated != 32)
        return FrameFailure(Reason::CodecRefused, "The RLE decoder takes 8-, 16- and 32-bit samples, not %d-bit ones.",
                            int(d.pixel.bitsAllocated));
    // Wider samples come in one segment per byte of each sample.
    const unsigned sampleBytes = unsigned(d.pixel.bitsAllocated / 8);
    const unsigned wideSegments = sampleBytes * d.Samples();

    // A frame too large to hold at all is refused before its segments are read.
    if (size == UINT64_MAX || size > SIZE_MAX) return CheckDecodedSize(d);

    Header h;
    h.segments = ReadLE32(bytes);
    for (unsigned s = 0; s < kMaxSegments; ++s) h.offsets[s] = ReadLE32(bytes + 4 + 4 * s);
    const bool validHeader = h.segments >= 1 && h.segments <= kMaxSegments;

    if (sampleBytes > 1 && (h.segments != wideSegments || wideSegments > kMaxSegments))
        return FrameFailure(Reason::CodecRefused,
                            "The RLE header gives %u segments; samples of %d bits, %u per pixel, come in %u.",
                            h.segments, int(d.pixel.bitsAllocated), d.Samples(), wideSegments);
    // What the segments can give, counted before anything is allocated: a
    // few hundred bytes of runs cannot fill gigabytes, whatever the data set
    // claims. A frame they cannot fill is decoded (the rest stays zero, as
    // in a stream cut short) only while the missing part is no larger than
    // what they give or kRleMissingAllowance.
    uint64_t producible = 0;
    if (sampleBytes > 1) {
        for (unsigned s = 0; s < wideSegments; ++s) {
            uint64_t begin, limit;
            SegmentRange(h, s, length, begin, limit);
            producible += std::min(DecodeRuns(bytes, begin, limit, nullptr, 0, pixels), pixels);
        }
    } else if (!validHeader) {
        producible = std::min(DecodeRuns(bytes, 0, length, nullptr, 0, size), size);
    } else {
        const unsigned samples = d.Samples();
        if (samples == 1 || (samples == 3 && (h.offsets[1] == 0 || h.offsets[2] == 0))) {
            uint64_t begin, limit;
            SegmentRange(h, 0, length, begin, limit);
            if (limit != 0) limit = length;
            producible = std::min(DecodeRuns(bytes, begin, limit, nullptr, 0, size), size);
        } else {
            for (unsigned s = 0; s < samples && s < kMaxSegments; ++s) {
                uint64_t begin, limit;
                SegmentRange(h, s, length, begin, limit);
                producible += std::min(DecodeRuns(bytes, begin, limit, nullptr, 0, pixels), pixels);
            }
        }
    }
    if (producible < size && size - producible > std::max(producible, kRleMissingAllowance))
        return FrameFailure(Reason::StreamEndsEarly, "The RLE segments give %llu bytes of the frame's %llu.",
                            static_cast<unsigned long long>(producible), static_cast<unsigned long long>(size));
    if (quillon::Status status = CheckDecodedSize(d); !status) return status;

    auto noMemory = [size] {
        return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                            static_cast<unsigned long long>(size));
    };
    HeapPtr<uint8_t> output(static_cast<uint8_t*>(AllocBlock(size)));
    if (!output) return noMemory();
    // Each run sequence writes its output from the start; only what it
    // leaves is zeroed, so that a frame is not written twice.
    auto zeroRest = [](uint8_t* region, uint64_t regionSize, uint64_t written) {
        if (written < regionSize) std::memset(region + written, 0, regionSize - written);
    };
    uint64_t produced = 0;

    if (sampleBytes > 1) {
        // Segment s * sampleBytes + b holds byte b of sample s, most
        // significant first; samples are written little endian, interleaved
        // per pixel unless the file keeps planes.
        const unsigned samples = d.Samples();
        if (size < uint64_t(wideSegments) * pixels)
            return FrameFailure(Reason::CodecRefused, "The RLE decoder takes one segment per byte of each sample only.");
        HeapPtr<uint8_t> planes(static_cast<uint8_t*>(AllocBlock(wideSegments * pixels)));
        if (!planes) return noMemory();
        for (unsigned s = 0; s < wideSegments; ++s) {
            uint64_t begin, limit;
            SegmentRange(h, s, length, begin, limit);
            const uint64_t n = DecodeRuns(bytes, begin, limit, planes.get() + s * pixels, pixels, pixels);
            zeroRest(planes.get() + s * pixels, pixels, n);
            produced += n;
        }
        const bool keepPlanes = samples > 1 && d.pixel.planarConfiguration == 1;
        uint8_t* o = output.get();
        zeroRest(o, size, uint64_t(wideSegments) * pixels);
        if (samples == 1 && sampleBytes == 2) {
            // 16-bit grey, the common case: high byte plane, low byte plane.
            const uint8_t* high = planes.get();
            const uint8_t* low = planes.get() + pixels;
            for (uint64_t k = 0; k < pixels; ++k) {
                o[2 * k] = low[k];
                o[2 * k + 1] = high[k];
            }
        } else {
            for (unsigned s = 0; s < samples; ++s) {
                for (unsigned b = 0; b < sampleBytes; ++b) {
                    const uint8_t* plane =
                        planes.get() + (uint64_t(s) * sampleBytes + (sampleBytes - 1 - b)) * pixels;
                    for (uint64_t k = 0; k < pixels; ++k) {
                        const uint64_t sample = keepPlanes ? uint64_t(s) * pixels + k : k * samples + s;
                        o[sample * sampleBytes + b] = plane[k];
                    }
                }
            }
        }
        out.planar = keepPlanes;
    } else if (!validHeader) {
        // No RLE header: the whole fragment as one run sequence.
        produced = DecodeRuns(bytes, 0, length, output.get(), size, size);
        zeroRest(output.get(), size, produced);
    } else {
        const unsigned samples = d.Samples();
        const bool oneSegment = samples == 1 || (samples == 3 && (h.offsets[1] == 0 || h.offsets[2] == 0));
        if (oneSegment) {
            uint64_t begin, limit;
            SegmentRange(h, 0, length, begin, limit);
            if (limit != 0) limit = length;  // the samples may run on through later segments
            produced = DecodeRuns(bytes, begin, limit, output.get(), size, size);
            zeroRest(output.get(), size, produced);
        } else {
            if (samples > kMaxSegments)
                return FrameFailure(Reason::CodecRefused,
                                    "Frames of %u samples per pixel need more segments than an RLE header holds.",
                                    samples);
            if (size < samples * pixels)
                return FrameFailure(Reason::CodecRefused, "The RLE decoder takes one segment per sample only.");
            for (unsigned s = 0; s < samples; ++s) {
                uint64_t begin, limit;
                SegmentRange(h, s, length, begin, limit);
                const uint64_t n = DecodeRuns(bytes, begin, limit, output.get() + s * pixels, pixels, pixels);
                zeroRest(output.get() + s * pixels, pixels, n);
                produced += n;
            }
            zeroRest(output.get(), size, uint64_t(samples) * pixels);
            // Planes as they would be stored natively.
            if (d.pixel.planarConfiguration != 1 && !InterleavePlanes(output.get(), pixels, samples)) return noMemory();
        }
        out.planar = samples > 1 && d.pixel.planarConfiguration == 1;
    }
    if (produced == 0) {
        out.planar = false;
        return FrameFailure(Reason::CodecRefused, "No sample could be decoded from the RLE segments.");
    }
    out.data = std::move(output);
    out.size = size;
    return {};
}
