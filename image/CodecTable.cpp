#include "image/CodecTable.h"

#include <string>

namespace quillon {

namespace {

bool AnyLayout(const FrameDescription&) { return true; }

// RLE segments carry bytes of 8-, 16- and 32-bit samples here.
bool RleLayout(const FrameDescription& d) {
    return d.pixel.bitsAllocated == 8 || d.pixel.bitsAllocated == 16 || d.pixel.bitsAllocated == 32;
}

constexpr CodecRow kCodecs[] = {
    {Compression::RLE, RleLayout, DecodeRleFrame, nullptr, DecodeRleBands, false, false, true},
    {Compression::JPEG, AnyLayout, DecodeJpegFrame, DecodeJpegReduced, DecodeJpegBands, false, true},
    {Compression::JPEGLossless, AnyLayout, DecodeJpegFrame, DecodeJpegReduced, DecodeJpegBands, false, false, true},
    {Compression::JPEG2000Lossless, AnyLayout, DecodeJpeg2000Frame, DecodeJpeg2000Reduced, nullptr, false, true},
    {Compression::JPEG2000Lossy, AnyLayout, DecodeJpeg2000Frame, DecodeJpeg2000Reduced, nullptr, false, true},
    {Compression::JPEGLSLossless, AnyLayout, DecodeJpegLsFrame},
    {Compression::JPEGLSLossy, AnyLayout, DecodeJpegLsFrame},
    {Compression::HTJ2KLossless, AnyLayout, DecodeHtj2kFrame, DecodeHtj2kReduced, nullptr, false, true},
    {Compression::HTJ2KLosslessRPCL, AnyLayout, DecodeHtj2kFrame, DecodeHtj2kReduced, nullptr, false, true},
    {Compression::HTJ2K, AnyLayout, DecodeHtj2kFrame, DecodeHtj2kReduced, nullptr, false, true},
    {Compression::JPEGXLLossless, AnyLayout, DecodeJpegXlFrame},
    {Compression::JPEGXLRecompression, AnyLayout, DecodeJpegXlFrame},
    {Compression::JPEGXL, AnyLayout, DecodeJpegXlFrame},
    {.compression = Compression::EncapsulatedUncompressed, .canDecode = AnyLayout,
     .decode = DecodeEncapsulatedNativeFrame, .nativeOutput = true},
    {.compression = Compression::DeflatedFrames, .canDecode = AnyLayout, .decode = DecodeDeflatedFrame,
     .nativeOutput = true},
};

// Video streams are listed as their fragments: a byte viewer needs the
// stream's bytes more than its pictures.
bool IsVideo(Compression c) { return c == Compression::MPEG2 || c == Compression::H264 || c == Compression::HEVC; }

}  // namespace

std::span<const CodecRow> CodecRows() { return kCodecs; }

const CodecRow* FindCodec(Compression compression) {
    for (const CodecRow& row : kCodecs)
        if (row.compression == compression) return &row;
    return nullptr;
}

Status CodecRoute(const FrameDescription& d) {
    const CodecRow* row = FindCodec(d.pixel.compression);
    if (row && row->canDecode(d)) return Status();
    const std::string name(CompressionName(d.pixel.compression));
    if (!row && IsVideo(d.pixel.compression))
        return Status::Fail(Reason::NoDecoder, "No decoder for " + name + ": video streams are shown as their fragments.");
    if (!row) return Status::Fail(Reason::NoDecoder, "No decoder for " + name + ".");
    return FrameFailure(Reason::CodecRefused, "The %s decoder does not take frames of %d bits allocated.", name.c_str(),
                        int(d.pixel.bitsAllocated));
}

}  // namespace quillon

bool HasFrameCodec(quillon::Compression compression) { return quillon::FindCodec(compression) != nullptr; }

quillon::Status DecodeCompressedFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                      DecodedFrame& out) {
    out = DecodedFrame{};
    if (quillon::Status route = quillon::CodecRoute(d); !route) return route;
    return quillon::FindCodec(d.pixel.compression)->decode(d, bytes, length, out);
}
