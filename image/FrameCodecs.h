#pragma once
// Decoders for compressed frames: RLE, JPEG (baseline, extended, lossless)
// and JPEG 2000. They read a FrameDescription and the frame's bytes only, so
// frames can be decoded on any thread. Every decoder writes at most
// ExpectedDecodedSize bytes and reads nothing outside the bytes it is given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dicom/HeapBlock.h"
#include "image/FrameDescription.h"

class CDicomFile;

struct DecodedFrame {
    quillon::HeapPtr<uint8_t> data;
    uint64_t size = 0;
    // The samples are R, G, B whatever the photometric interpretation says:
    // the JPEG library turned a YCbCr stream into RGB.
    bool colourConverted = false;
    // Colour samples come plane after plane (R plane, G plane, B plane);
    // false: interleaved per pixel. Only the RLE decoder sets it, when the
    // file's planar configuration is 1.
    bool planar = false;
};

// Bytes of one decoded frame: samples x bits allocated x pixels / 8, three
// samples for a single-sample frame that is neither grey nor palette.
// Saturates at UINT64_MAX.
uint64_t ExpectedDecodedSize(const FrameDescription& d);

// Samples per pixel in the decoded output: the frame's count, 3 when that
// count is 0 or 1 and the frame is neither grey nor palette.
unsigned DecodedSamples(const FrameDescription& d);

bool DecodeRleFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);

// The precision of the first SOFn frame header of a JPEG stream and whether
// it is a lossless process; false when the stream has none before a scan.
bool ReadJpegPrecision(const uint8_t* bytes, uint64_t length, int& precision, bool& lossless);

// Decodes a JPEG stream into `out` (outSize bytes, zero-filled by the
// caller) with the library build that matches the precision of the stream's
// frame header: up to 8 bits the 8-bit build, 12-bit lossy the 12-bit build,
// 9 to 16-bit lossless the 16-bit build. Each sample takes sampleBytes
// bytes, little endian, pixels interleaved, `outSamples` per pixel. Rows
// decoded before an error are kept. False when no row was decoded.
struct JpegBufferResult {
    uint32_t rowsDecoded = 0;
    bool colourConverted = false;
};
bool DecodeJpegBuffer(const uint8_t* bytes, uint64_t length, const FrameDescription& d, uint8_t* out, uint64_t outSize,
                      JpegBufferResult& result);

bool DecodeJpegFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);

// A J2K codestream, else a JP2 file. Bytes the image does not cover are zero.
bool DecodeJpeg2000Frame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);

// Whether a decoder here takes this compression name: "RLE", "JPEG",
// "JPEG Lossless", "JPEG2000 Lossless", "JPEG2000 Lossy" (JPEG-LS and
// anything unlisted are not decoded).
bool HasFrameCodec(const std::string& compressionName);

// Routes by compression name, as HasFrameCodec lists them. Anything else: false.
bool DecodeCompressedFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);

// The compressed bytes of frame i. One fragment per frame, except: a
// single-frame file with several fragments gives all of them joined; a
// basic offset table that names each frame's first fragment consistently
// gives each frame the fragments up to the next frame's. `bytes` points into
// a fragment the file object holds, or into `storage` where the fragments
// were read from the file or put together.
bool CompressedFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage,
                          ByteSpan& bytes);

// Fragments [first, last), counted from 0 after the offset table, that make
// one frame.
struct SFragmentRange {
    std::size_t first = 0;
    std::size_t last = 0;
};
// The fragments of every frame by the rules above, worked out once for a
// file; empty without fragments.
std::vector<SFragmentRange> FrameFragments(const CDicomFile& file);
// CompressedFrameBytes with the file's fragment ranges already worked out.
bool CompressedFrameBytes(const CDicomFile& file, const std::vector<SFragmentRange>& ranges, std::size_t frame,
                          quillon::HeapPtr<uint8_t>& storage, ByteSpan& bytes);
