#pragma once
// Decoders for compressed frames: RLE, JPEG (baseline, extended, lossless)
// and JPEG 2000. They read a FrameDescription and the frame's bytes only, so
// frames can be decoded on any thread. Every decoder writes at most
// ExpectedDecodedSize bytes and reads nothing outside the bytes it is given,
// and says why when it gives no samples. Which decoder takes which
// compression is the table in CodecTable.cpp.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dicom/HeapBlock.h"
#include "dicom/OffsetTable.h"
#include "dicom/Status.h"
#include "dicom/TransferSyntax.h"
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

// A failure whose sentence is formatted like printf.
quillon::Status FrameFailure(quillon::Reason reason, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The memory one frame's decode for display may take at once, whatever the
// file or the stream claims: the stored or joined bytes, the codec's own
// working state, the decoded samples, their conversion for display, the
// image and the thumbnail's copy together. Frames decoded on several
// threads share it (quillon::FrameDecoder). A frame that would need more is
// not decoded and says so.
constexpr uint64_t kFrameDecodeBudget = uint64_t(256) << 20;

// What decoding one frame of this description for display takes at its
// peak, by the estimate kFrameDecodeBudget is measured with: `working` is
// the codec's own state beyond its output (FrameCodecWorkingBytes).
// Saturates at UINT64_MAX.
uint64_t FrameDecodePeak(const FrameDescription& d, uint64_t working);

// The codec's working state for a frame of this description beyond the
// decoded samples: OpenJPEG holds 32 bits per sample of every component,
// the RLE decoder one more copy of the planes, native bytes in several
// fragments are joined first; JPEG decodes row by row, zlib inflates
// straight into the output.
uint64_t FrameCodecWorkingBytes(const FrameDescription& d);

// OverBudget, saying how much the frame would take, when `peak` (a
// FrameDecodePeak) is over kFrameDecodeBudget; success otherwise.
quillon::Status CheckFrameBudget(const FrameDescription& d, uint64_t peak);

// Why a frame of this description cannot be decoded at all: nothing to
// decode into (NoBytes), too large to be held, or over kFrameDecodeBudget
// (OverBudget); success otherwise. Every decoder checks it before it
// allocates.
quillon::Status CheckDecodedSize(const FrameDescription& d);

quillon::Status DecodeRleFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);

// The precision of the first SOFn frame header of a JPEG stream and whether
// it is a lossless process; false when the stream has none before a scan.
bool ReadJpegPrecision(const uint8_t* bytes, uint64_t length, int& precision, bool& lossless);

// Decodes a JPEG stream into `out` (outSize bytes, zero-filled by the
// caller) with the library build that matches the precision of the stream's
// frame header: up to 8 bits the 8-bit build, 12-bit lossy the 12-bit build,
// 9 to 16-bit lossless the 16-bit build. Each sample takes sampleBytes
// bytes, little endian, pixels interleaved, `outSamples` per pixel. Rows
// decoded before an error are kept. A failure when no row was decoded.
struct JpegBufferResult {
    uint32_t rowsDecoded = 0;
    bool colourConverted = false;
    // Why no row was decoded, as far as the build can tell: the stream ran
    // out, or its frame header gives an image far larger than the frame
    // (streamColumns x streamRows).
    bool endedEarly = false;
    bool tooLarge = false;
    uint32_t streamColumns = 0;
    uint32_t streamRows = 0;
};
quillon::Status DecodeJpegBuffer(const uint8_t* bytes, uint64_t length, const FrameDescription& d, uint8_t* out,
                                 uint64_t outSize, JpegBufferResult& result);

quillon::Status DecodeJpegFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);

// A J2K codestream, else a JP2 file. Bytes the image does not cover are zero.
quillon::Status DecodeJpeg2000Frame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                    DecodedFrame& out);

// Frames whose fragments hold the native bytes of the frame, as they are
// (Encapsulated Uncompressed) or as one raw deflate stream (Deflated Image
// Frame Compression). The output is the native layout of the frame
// (NativeFragmentFrameSize bytes, planes as the file says), never more
// however much the stream would inflate to; a stream that gives less is
// refused with the byte where it ended.
quillon::Status DecodeEncapsulatedNativeFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                              DecodedFrame& out);
quillon::Status DecodeDeflatedFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                    DecodedFrame& out);
// Bytes of one frame in the native layout: whole bytes (a 1-bit frame
// rounded up), 2/3 for YBR_FULL_422.
uint64_t NativeFragmentFrameSize(const FrameDescription& d);

// The "stream's image is W x H, the file says C x R" failure.
quillon::Status DimensionsDiffer(uint64_t streamColumns, uint64_t streamRows, const FrameDescription& d);

// Whether a codec of the table takes this compression (RLE, JPEG, JPEG
// Lossless, both JPEG 2000; JPEG-LS, native and unknown ones do not).
bool HasFrameCodec(quillon::Compression compression);

// Routes by d.pixel.compression through the codec table; a frame nothing decodes
// gets NoDecoder, one whose layout the codec does not take CodecRefused.
quillon::Status DecodeCompressedFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                      DecodedFrame& out);

// The compressed bytes of frame i: its fragments as quillon::FrameFragments
// gives them, joined when there are several. `bytes` points into a fragment
// the file object holds, or into `storage` where the fragments were read
// from the file or put together. NoBytes when the frame has none.
quillon::Status CompressedFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage,
                                     ByteSpan& bytes);
// CompressedFrameBytes with the file's fragments already worked out.
quillon::Status CompressedFrameBytes(const CDicomFile& file, const quillon::FrameFragments& fragments,
                                     std::size_t frame, quillon::HeapPtr<uint8_t>& storage, ByteSpan& bytes);

