#pragma once
// Decoders for compressed frames: RLE, JPEG (baseline, extended, lossless),
// JPEG-LS, JPEG 2000, HTJ2K and JPEG XL. They read a FrameDescription and the frame's bytes only, so
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
    // How far a reduced decode (DecodeOptions::reduce) reduced the frame:
    // its sides are ceil(side / 2^reduced). 0 for a full-size decode.
    unsigned reduced = 0;
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
// decoded samples: OpenJPEG holds 32 bits per sample of every component
// (JPEG 2000 and HTJ2K), the RLE decoder one more copy of the planes, native
// bytes in several fragments are joined first; JPEG decodes row by row, zlib
// inflates straight into the output.
uint64_t FrameCodecWorkingBytes(const FrameDescription& d);

// libjxl's working state for a frame of this description, whatever its
// compression says: the image in 32-bit floats per channel and one more, with
// 16 MiB for its group buffers and tables. The decoder's memory manager is
// held to it.
uint64_t JpegXlWorkingBytes(const FrameDescription& d);

// OverBudget, saying how much the frame would take, when `peak` (a
// FrameDecodePeak) is over kFrameDecodeBudget; success otherwise.
quillon::Status CheckFrameBudget(const FrameDescription& d, uint64_t peak, uint64_t budget = kFrameDecodeBudget);

// How a frame is to be decoded where it need not be at full size: each side
// divided by 2^reduce (rounded up) as far as the codec can, within `budget`.
// A codec that reduces less than asked says so in DecodedFrame::reduced and
// refuses (OverBudget) when what it would give is still over the budget.
struct DecodeOptions {
    unsigned reduce = 0;
    uint64_t budget = kFrameDecodeBudget;
    // Rows per band handed to a FrameRowSink; 0: as the codec likes.
    uint32_t bandRows = 0;
};

// The description of a frame reduced by 2^reduce: the same samples, rows and
// columns ceil(side / 2^reduce).
FrameDescription ReducedDescription(const FrameDescription& d, unsigned reduce);

// Takes the rows of a frame a band at a time, in the layout of DecodedFrame's
// samples (pixels interleaved), for decoders that need not hold the frame.
class FrameRowSink {
public:
    virtual ~FrameRowSink() = default;
    // Before the first band: the rows and columns that will come (reduced as
    // far as the codec did) and whether the codec turned YCbCr into RGB.
    // False: stop.
    virtual bool Begin(uint32_t columns, uint32_t rows, bool colourConverted) = 0;
    // `count` rows from row `first` on, row after row. False: stop.
    virtual bool Band(const uint8_t* rows, uint32_t first, uint32_t count) = 0;
};

// Why a frame of this description cannot be decoded at all: nothing to
// decode into (NoBytes), too large to be held, or over kFrameDecodeBudget
// (OverBudget); success otherwise. Every decoder checks it before it
// allocates.
quillon::Status CheckDecodedSize(const FrameDescription& d, uint64_t budget = kFrameDecodeBudget);

quillon::Status DecodeRleFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);
// Rows a band at a time, never the whole frame: 8-bit samples one segment
// each (or grey in one), 16-bit grey in two.
quillon::Status DecodeRleBands(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                               const DecodeOptions& options, FrameRowSink& sink);

// The precision of the first SOFn frame header of a JPEG stream and whether
// it is a lossless process; false when the stream has none before a scan.
bool ReadJpegPrecision(const uint8_t* bytes, uint64_t length, int& precision, bool& lossless);

// Decodes a JPEG stream into `out` (outSize bytes, zero-filled by the
// caller) with the library build that matches the precision of the stream's
// frame header: 8-bit lossy libjpeg-turbo (the same samples as the IJG
// 8-bit build, faster), lossless up to 8 bits the 8-bit build, 12-bit lossy
// the 12-bit build, 9 to 16-bit lossless the 16-bit build. Each sample takes sampleBytes
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
    // The scale the decode ran at (lossy streams only): 1/2^scaleShift.
    unsigned scaleShift = 0;
};
quillon::Status DecodeJpegBuffer(const uint8_t* bytes, uint64_t length, const FrameDescription& d, uint8_t* out,
                                 uint64_t outSize, JpegBufferResult& result);
// The same with a scaled decode of lossy streams (scaleShift 1 to 3: 1/2,
// 1/4, 1/8 of each side; lossless streams are not scaled, result says how
// far it went) and, with a sink, the rows handed over `out` a band at a time
// (out holds bandRows rows of the scaled width).
quillon::Status DecodeJpegScaled(const uint8_t* bytes, uint64_t length, const FrameDescription& d, uint8_t* out,
                                 uint64_t outSize, unsigned scaleShift, FrameRowSink* sink, uint32_t bandRows,
                                 JpegBufferResult& result);

quillon::Status DecodeJpegFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);
// Lossy streams through the library's scaled DCT (up to 1/8); lossless ones
// only at full size.
quillon::Status DecodeJpegReduced(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out,
                                  const DecodeOptions& options);
// Rows a band at a time, lossy streams scaled as DecodeJpegReduced does.
quillon::Status DecodeJpegBands(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                const DecodeOptions& options, FrameRowSink& sink);

// A J2K codestream, else a JP2 file. Bytes the image does not cover are zero.
quillon::Status DecodeJpeg2000Frame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                    DecodedFrame& out);
// At a lower resolution level: reduced as asked, as far as the levels of
// the stream's main header allow.
quillon::Status DecodeJpeg2000Reduced(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                      DecodedFrame& out, const DecodeOptions& options);

// Checks the image and tile header (SIZ) of a JPEG 2000 or HTJ2K codestream,
// bare or in the codestream box of a JP2 file, against the frame: its image
// must be the frame's, its tiles and components few enough to be decoded.
// Success, or why the stream is not decoded.
quillon::Status PlausibleJpeg2000Header(const uint8_t* bytes, uint64_t length, const FrameDescription& d);

// HTJ2K codestreams through OpenJPEG (DecodeJpeg2000Frame), after checking
// that they are bare codestreams whose component depths fit the frame.
quillon::Status DecodeHtj2kFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);
// At a lower resolution level, as DecodeJpeg2000Reduced does.
quillon::Status DecodeHtj2kReduced(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out,
                                   const DecodeOptions& options);

// JPEG-LS streams through CharLS; colour interleaved per pixel.
quillon::Status DecodeJpegLsFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                  DecodedFrame& out);

// JPEG XL codestreams or container files through libjxl; three components
// are RGB (DecodedFrame::colourConverted).
quillon::Status DecodeJpegXlFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
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
// Lossless, JPEG-LS, JPEG 2000, HTJ2K, JPEG XL; native and unknown ones do not).
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

