// JPEG frames: the library build is chosen by the precision in the stream's
// own frame header, never by the data set's Bits Stored.
#include <algorithm>
#include <cstring>

#include "image/FrameCodecs.h"
#include "image/JpegBuilds.h"

using quillon::AllocBlock;
using quillon::HeapPtr;
using quillon::Reason;

namespace {

enum class HeaderScan { Found, NotJpeg, NoFrameHeader, Malformed, EndsEarly };

// What a SOFn frame header says of the image; rows 0: given later (DNL).
struct FrameHeader {
    int precision = 0;
    bool lossless = false;
    uint32_t rows = 0;
    uint32_t columns = 0;
    unsigned components = 0;
    bool complete = false;  // rows, columns and components were read
};

// Looks for the first SOFn frame header before a scan or the end of the
// image; `at` is where the scan stopped.
HeaderScan ScanFrameHeader(const uint8_t* bytes, uint64_t length, FrameHeader& header, uint64_t& at) {
    at = 0;
    if (!bytes || length < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) return HeaderScan::NotJpeg;
    at = length;
    if (length < 4) return HeaderScan::EndsEarly;
    at = 2;
    while (at < length) {
        if (bytes[at] != 0xFF) {
            ++at;
            continue;
        }
        while (at < length && bytes[at] == 0xFF) ++at;
        if (at >= length) return HeaderScan::EndsEarly;
        const uint8_t marker = bytes[at++];
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        // No frame header before the image ends or a scan starts.
        if (marker == 0xD9 || marker == 0xDA) return HeaderScan::NoFrameHeader;
        if (at + 2 > length) {
            at = length;
            return HeaderScan::EndsEarly;
        }
        const uint32_t segment = uint32_t(bytes[at]) << 8 | bytes[at + 1];
        if (segment < 2) return HeaderScan::Malformed;
        const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader) {
            if (at + 2 >= length) {
                at = length;
                return HeaderScan::EndsEarly;
            }
            if (segment < 3) return HeaderScan::Malformed;
            header.precision = bytes[at + 2];
            header.lossless = (marker & 0x03) == 0x03;
            if (segment >= 8 && at + 8 <= length) {
                header.rows = uint32_t(bytes[at + 3]) << 8 | bytes[at + 4];
                header.columns = uint32_t(bytes[at + 5]) << 8 | bytes[at + 6];
                header.components = bytes[at + 7];
                header.complete = true;
            }
            return HeaderScan::Found;
        }
        at += segment;
    }
    at = length;
    return HeaderScan::EndsEarly;
}

}  // namespace

bool ReadJpegPrecision(const uint8_t* bytes, uint64_t length, int& precision, bool& lossless) {
    uint64_t at = 0;
    FrameHeader header;
    if (ScanFrameHeader(bytes, length, header, at) != HeaderScan::Found) return false;
    precision = header.precision;
    lossless = header.lossless;
    return true;
}

// Whether the stream's frame header agrees with the file before anything is
// sized from either: the same columns and rows (rows may come later, in a
// DNL segment), no more components than the frame's samples, and no more
// bits than are allocated. Success when there is no complete frame header to
// compare: the decode says why then.
static quillon::Status CheckJpegHeader(const uint8_t* bytes, uint64_t length, const FrameDescription& d) {
    uint64_t at = 0;
    FrameHeader header;
    if (ScanFrameHeader(bytes, length, header, at) != HeaderScan::Found || !header.complete) return {};
    if (header.columns != d.pixel.columns || (header.rows != 0 && header.rows != d.pixel.rows))
        return DimensionsDiffer(header.columns, header.rows, d);
    if (header.components == 0 || header.components > std::max(DecodedSamples(d), 1u))
        return FrameFailure(Reason::DimensionsDiffer,
                            "The stream's frame header gives %u components; the file says %u samples per pixel.",
                            header.components, d.Samples());
    if (header.precision > d.pixel.bitsAllocated)
        return FrameFailure(Reason::DimensionsDiffer,
                            "The stream's samples have %d bits of precision, the file allocates %d.", header.precision,
                            int(d.pixel.bitsAllocated));
    return {};
}

quillon::Status DecodeJpegBuffer(const uint8_t* bytes, uint64_t length, const FrameDescription& d, uint8_t* out,
                                 uint64_t outSize, JpegBufferResult& result) {
    return DecodeJpegScaled(bytes, length, d, out, outSize, 0, nullptr, 0, result);
}

quillon::Status DecodeJpegScaled(const uint8_t* bytes, uint64_t length, const FrameDescription& d, uint8_t* out,
                                 uint64_t outSize, unsigned scaleShift, FrameRowSink* sink, uint32_t bandRows,
                                 JpegBufferResult& result) {
    result = JpegBufferResult{};
    if (!out || outSize == 0) return FrameFailure(Reason::NoBytes, "The frame has no room for samples.");
    FrameHeader header;
    uint64_t at = 0;
    switch (ScanFrameHeader(bytes, length, header, at)) {
        case HeaderScan::Found: break;
        case HeaderScan::NotJpeg:
            return FrameFailure(Reason::CodecRefused, "The stream does not start with a JPEG start-of-image marker.");
        case HeaderScan::NoFrameHeader:
            return FrameFailure(Reason::CodecRefused, "The JPEG stream has no frame header before its first scan.");
        case HeaderScan::Malformed:
            return FrameFailure(Reason::CodecRefused, "The JPEG marker segment at byte %llu has an impossible length.",
                                static_cast<unsigned long long>(at));
        case HeaderScan::EndsEarly:
            return FrameFailure(Reason::StreamEndsEarly,
                                "The stream ends early at byte %llu, before a JPEG frame header.",
                                static_cast<unsigned long long>(at));
    }

    const int precision = header.precision;
    const bool lossless = header.lossless;
    JpegBuildRequest request;
    request.bytes = bytes;
    request.length = length;
    request.out = out;
    request.outSize = outSize;
    request.sampleBytes = d.pixel.bitsAllocated <= 8 ? 1 : d.pixel.bitsAllocated <= 16 ? 2 : 4;
    request.outSamples = DecodedSamples(d);
    request.framePixels = d.Pixels();
    request.rgbFrame = d.IsRGB();
    request.scaleShift = lossless ? 0 : std::min(scaleShift, 3u);
    request.sink = sink;
    request.bandRows = bandRows;

    bool decoded = false;
    if (lossless && precision >= 2 && precision <= 8) {
        decoded = DecodeJpeg8(request, result);
    } else if (lossless && precision > 8 && precision <= 16) {
        decoded = DecodeJpeg16(request, result);
    } else if (!lossless && precision == 8) {
        decoded = DecodeJpegTurbo(request, result);
    } else if (!lossless && precision == 12) {
        decoded = DecodeJpeg12(request, result);
    } else {
        return FrameFailure(Reason::CodecRefused, "No JPEG decoder here takes %s streams of %d-bit precision.",
                            lossless ? "lossless" : "lossy", precision);
    }
    if (decoded) return {};
    if (result.tooLarge) return DimensionsDiffer(result.streamColumns, result.streamRows, d);
    if (result.endedEarly)
        return FrameFailure(Reason::StreamEndsEarly, "The stream ends early at byte %llu, before its first row.",
                            static_cast<unsigned long long>(length));
    return FrameFailure(Reason::CodecRefused, "The JPEG decoder refused the stream before its first row.");
}

quillon::Status DecodeJpegFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out) {
    return DecodeJpegReduced(d, bytes, length, out, DecodeOptions{});
}

namespace {

// How far the library can scale this stream: lossy ones to 1/8, lossless
// ones not at all.
unsigned JpegScaleLimit(const uint8_t* bytes, uint64_t length) {
    int precision = 0;
    bool lossless = false;
    if (!ReadJpegPrecision(bytes, length, precision, lossless)) return 0;
    return lossless ? 0 : 3;
}

}  // namespace

quillon::Status DecodeJpegReduced(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out,
                                  const DecodeOptions& options) {
    out = DecodedFrame{};
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    if (quillon::Status status = CheckJpegHeader(bytes, length, d); !status) return status;
    const unsigned reduce = std::min(options.reduce, JpegScaleLimit(bytes, length));
    const FrameDescription target = ReducedDescription(d, reduce);
    if (quillon::Status status = CheckDecodedSize(target, options.budget); !status) return status;
    const uint64_t size = ExpectedDecodedSize(target);
    HeapPtr<uint8_t> output(static_cast<uint8_t*>(AllocBlock(size)));
    if (!output)
        return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                            static_cast<unsigned long long>(size));
    std::memset(output.get(), 0, size);
    JpegBufferResult result;
    if (quillon::Status status = DecodeJpegScaled(bytes, length, d, output.get(), size, reduce, nullptr, 0, result);
        !status)
        return status;
    if (result.scaleShift != reduce)
        return FrameFailure(Reason::CodecRefused, "The JPEG decoder did not scale the stream as asked.");
    out.data = std::move(output);
    out.size = size;
    out.colourConverted = result.colourConverted;
    out.reduced = reduce;
    return {};
}

quillon::Status DecodeJpegBands(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                const DecodeOptions& options, FrameRowSink& sink) {
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    if (quillon::Status status = CheckJpegHeader(bytes, length, d); !status) return status;
    const unsigned reduce = std::min(options.reduce, JpegScaleLimit(bytes, length));
    const FrameDescription target = ReducedDescription(d, reduce);
    const uint32_t bandRows = std::max<uint32_t>(1, std::min(options.bandRows ? options.bandRows : 16u, target.pixel.rows));
    const unsigned sampleBytes = d.pixel.bitsAllocated <= 8 ? 1 : d.pixel.bitsAllocated <= 16 ? 2 : 4;
    const uint64_t size = uint64_t(bandRows) * target.pixel.columns * DecodedSamples(d) * sampleBytes;
    if (size == 0 || size > options.budget)
        return FrameFailure(Reason::OverBudget, "A band of %u rows of the frame would take %llu bytes.", bandRows,
                            static_cast<unsigned long long>(size));
    HeapPtr<uint8_t> band(static_cast<uint8_t*>(AllocBlock(size)));
    if (!band)
        return FrameFailure(Reason::OverBudget, "There is no memory for the band's %llu bytes.",
                            static_cast<unsigned long long>(size));
    std::memset(band.get(), 0, size);
    JpegBufferResult result;
    return DecodeJpegScaled(bytes, length, d, band.get(), size, reduce, &sink, bandRows, result);
}
