// Frames whose fragments hold their native bytes: as they are (Encapsulated
// Uncompressed) or as one raw deflate stream (RFC 1951, Deflated Image Frame
// Compression). Both give the frame's native layout, so the native sample
// conversions apply to what they give.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "image/FrameCodecs.h"

using quillon::AllocBlock;
using quillon::HeapPtr;
using quillon::Reason;

namespace {

// Bytes one native frame takes: rows x columns x bits allocated x samples,
// rounded up to whole bytes (1-bit frames of a pixel count that is no
// multiple of 8), 2/3 of it for YBR_FULL_422. Saturates at UINT64_MAX.
uint64_t NativeLayoutSize(const FrameDescription& d) {
    const unsigned __int128 bits = (unsigned __int128)d.Pixels() * uint64_t(uint16_t(d.pixel.bitsAllocated)) *
                                   std::max<uint64_t>(1, uint64_t(uint16_t(d.pixel.samplesPerPixel)));
    unsigned __int128 size = (bits + 7) / 8;
    if (d.pixel.IsYBRFull422()) size = 2 * size / 3;
    return size > UINT64_MAX ? UINT64_MAX : uint64_t(size);
}

// Starts a decode: the frame's bytes are there, and its output block is
// checked against the budget before it is allocated.
quillon::Status StartFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out,
                           HeapPtr<uint8_t>& block, uint64_t& size) {
    out = DecodedFrame{};
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    size = NativeLayoutSize(d);
    if (quillon::Status status = CheckDecodedSize(d); !status) return status;
    // A frame of no samples, or more than this machine can address, is no success.
    if (size == 0) return FrameFailure(Reason::NoBytes, "The frame the file describes has no samples.");
    if (size > SIZE_MAX) return FrameFailure(Reason::OverBudget, "The frame is larger than this machine can hold.");
    block.reset(static_cast<uint8_t*>(AllocBlock(std::size_t(size))));
    if (!block)
        return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                            static_cast<unsigned long long>(size));
    return {};
}

void Deliver(const FrameDescription& d, HeapPtr<uint8_t> block, uint64_t size, DecodedFrame& out) {
    out.data = std::move(block);
    out.size = size;
    // The native layout keeps the file's planes.
    out.planar = d.Samples() > 1 && d.pixel.planarConfiguration == 1;
}

}  // namespace

uint64_t NativeFragmentFrameSize(const FrameDescription& d) { return NativeLayoutSize(d); }

quillon::Status DecodeEncapsulatedNativeFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                              DecodedFrame& out) {
    HeapPtr<uint8_t> block;
    uint64_t size = 0;
    if (quillon::Status status = StartFrame(d, bytes, length, out, block, size); !status) return status;
    if (length < size)
        return FrameFailure(Reason::StreamEndsEarly, "The frame's fragments end at byte %llu of its %llu bytes.",
                            static_cast<unsigned long long>(length), static_cast<unsigned long long>(size));
    // A fragment is padded to an even length; what lies past the frame is not its.
    std::memcpy(block.get(), bytes, std::size_t(size));
    Deliver(d, std::move(block), size, out);
    return {};
}

quillon::Status DecodeDeflatedFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                    DecodedFrame& out) {
    HeapPtr<uint8_t> block;
    uint64_t size = 0;
    if (quillon::Status status = StartFrame(d, bytes, length, out, block, size); !status) return status;

    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return FrameFailure(Reason::OverBudget, "There is no memory to inflate the frame.");
    // zlib counts in 32 bits: the input and the output are handed over in
    // pieces. The output never grows past the frame, however much the stream
    // would give: a stream that inflates to more stops there.
    constexpr uint64_t kPiece = std::numeric_limits<uInt>::max();
    uint64_t consumed = 0, produced = 0;
    int result = Z_OK;
    while (produced < size) {
        const uint64_t inLeft = length - consumed, outLeft = size - produced;
        z.next_in = const_cast<Bytef*>(bytes + consumed);
        z.avail_in = uInt(std::min(inLeft, kPiece));
        z.next_out = block.get() + produced;
        z.avail_out = uInt(std::min(outLeft, kPiece));
        const uInt inBefore = z.avail_in, outBefore = z.avail_out;
        result = inflate(&z, Z_NO_FLUSH);
        consumed += inBefore - z.avail_in;
        produced += outBefore - z.avail_out;
        if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR)) break;
        // No progress: the input is used up.
        if (inBefore == z.avail_in && outBefore == z.avail_out) break;
    }
    const std::string message = z.msg ? z.msg : "";
    inflateEnd(&z);
    if (result == Z_DATA_ERROR || result == Z_NEED_DICT || result == Z_STREAM_ERROR)
        return FrameFailure(Reason::CodecRefused, "The deflate stream is corrupt at byte %llu (%s).",
                            static_cast<unsigned long long>(consumed),
                            message.empty() ? "invalid data" : message.c_str());
    if (result == Z_MEM_ERROR) return FrameFailure(Reason::OverBudget, "There is no memory to inflate the frame.");
    if (produced < size) {
        if (result == Z_STREAM_END)
            return FrameFailure(Reason::DimensionsDiffer,
                                "The deflate stream ends after %llu bytes; the frame the file describes has %llu.",
                                static_cast<unsigned long long>(produced), static_cast<unsigned long long>(size));
        return FrameFailure(Reason::StreamEndsEarly,
                            "The deflate stream ends early at byte %llu, after %llu of the frame's %llu bytes.",
                            static_cast<unsigned long long>(consumed), static_cast<unsigned long long>(produced),
                            static_cast<unsigned long long>(size));
    }
    Deliver(d, std::move(block), size, out);
    return {};
}
