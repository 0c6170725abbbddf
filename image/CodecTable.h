#pragma once
// The codecs of compressed frames, one row each: a new codec is its own
// source file, one row in CodecTable.cpp and its link line in
// image/CMakeLists.txt. Frames are routed by their compression alone.
#include <cstdint>
#include <span>

#include "dicom/Status.h"
#include "dicom/TransferSyntax.h"
#include "image/FrameCodecs.h"

namespace quillon {

using DecodeFn = Status (*)(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out);
// A decode at reduced size (DecodeOptions::reduce), and one that hands the
// rows over a band at a time. Codecs that have neither leave them null:
// their frames over the decode budget are refused.
using ReducedDecodeFn = Status (*)(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                   DecodedFrame& out, const DecodeOptions& options);
using BandDecodeFn = Status (*)(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                const DecodeOptions& options, FrameRowSink& sink);

struct CodecRow {
    Compression compression;
    // Whether the decoder takes frames laid out as the description says,
    // before it sees any bytes.
    bool (*canDecode)(const FrameDescription& d);
    DecodeFn decode;
    ReducedDecodeFn reduced = nullptr;
    BandDecodeFn bands = nullptr;
    // The decoder gives the frame's native layout (samples as a native frame
    // holds them, planes as the file says), so the native conversions apply.
    bool nativeOutput = false;
    // Thumbnails of frames within the budget are decoded reduced (`reduced`)
    // too, at the size shown: where the reduced picture matches the
    // full-size one's thumbnail.
    bool thumbnailsReduced = false;
    // Thumbnails of frames within the budget come from `bands` averaged
    // down to the size shown: the full-size image is never converted,
    // windowed or cached for them. For codecs that cannot reduce as they
    // decode, where the frame's decode is cheap beside that work.
    bool thumbnailsBanded = false;
};

// Every row, one per compression that is decoded.
std::span<const CodecRow> CodecRows();

// The row of a compression; null when nothing decodes it.
const CodecRow* FindCodec(Compression compression);

// Why frames of this description get no decoder: NoDecoder when no row
// takes their compression (saying so for video streams, which are never
// decoded), CodecRefused when the row does not take their
// layout; success when a codec takes them.
Status CodecRoute(const FrameDescription& d);

}  // namespace quillon
