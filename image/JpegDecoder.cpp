// JPEG frames: the library build is chosen by the precision in the stream's
// own frame header, never by the data set's Bits Stored.
#include <cstring>

#include "image/FrameCodecs.h"
#include "image/JpegBuilds.h"

using quillon::AllocBlock;
using quillon::HeapPtr;

bool ReadJpegPrecision(const uint8_t* bytes, uint64_t length, int& precision, bool& lossless) {
    if (!bytes || length < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
    uint64_t at = 2;
    while (at < length) {
        if (bytes[at] != 0xFF) {
            ++at;
            continue;
        }
        while (at < length && bytes[at] == 0xFF) ++at;
        if (at >= length) return false;
        const uint8_t marker = bytes[at++];
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (marker == 0xD9 || marker == 0xDA) return false;  // no frame header before the image ends or a scan starts
        if (at + 2 > length) return false;
        const uint32_t segment = uint32_t(bytes[at]) << 8 | bytes[at + 1];
        if (segment < 2) return false;
        const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader) {
            if (at + 2 >= length || segment < 3) return false;
            precision = bytes[at + 2];
            lossless = (marker & 0x03) == 0x03;
            return true;
        }
        at += segment;
    }
    return false;
}

bool DecodeJpegBuffer(const uint8_t* bytes, uint64_t length, const FrameDescription& d, uint8_t* out, uint64_t outSize,
                      JpegBufferResult& result) {
    result = JpegBufferResult{};
    int precision = 0;
    bool lossless = false;
    if (!out || outSize == 0 || !ReadJpegPrecision(bytes, length, precision, lossless)) return false;

    JpegBuildRequest request;
    request.bytes = bytes;
    request.length = length;
    request.out = out;
    request.outSize = outSize;
    request.sampleBytes = d.pixel.bitsAllocated <= 8 ? 1 : d.pixel.bitsAllocated <= 16 ? 2 : 4;
    request.outSamples = DecodedSamples(d);
    request.framePixels = d.Pixels();
    request.rgbFrame = d.IsRGB();

    if (lossless) {
        if (precision >= 2 && precision <= 8) return DecodeJpeg8(request, result);
        if (precision > 8 && precision <= 16) return DecodeJpeg16(request, result);
        return false;
    }
    if (precision == 8) return DecodeJpeg8(request, result);
    if (precision == 12) return DecodeJpeg12(request, result);
    return false;
}

bool DecodeJpegFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out) {
    out = DecodedFrame{};
    const uint64_t size = ExpectedDecodedSize(d);
    if (!bytes || length == 0 || size == 0 || size == UINT64_MAX) return false;
    HeapPtr<uint8_t> output(static_cast<uint8_t*>(AllocBlock(size)));
    if (!output) return false;
    std::memset(output.get(), 0, size);
    JpegBufferResult result;
    if (!DecodeJpegBuffer(bytes, length, d, output.get(), size, result)) return false;
    out.data = std::move(output);
    out.size = size;
    out.colourConverted = result.colourConverted;
    return true;
}
