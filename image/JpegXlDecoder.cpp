// JPEG XL frames through libjxl: a bare codestream (FF 0A) or the container
// (a JXL signature box). The basic information is read and checked against
// the frame before the image is decoded; libjxl allocates through a memory
// manager that refuses to hold more than the frame's working allowance, so
// a stream that asks for more fails instead of taking it. The first frame
// of an animation is the picture.
#include <jxl/decode.h>
#include <jxl/memory_manager.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/FrameCodecs.h"

using quillon::AllocBlock;
using quillon::HeapPtr;
using quillon::Reason;

namespace {

// Counts what libjxl holds and refuses to go past the limit. Each block
// carries its size in a header of one max_align_t.
struct BoundedMemory {
    uint64_t limit = 0;
    uint64_t held = 0;  // one decoder, one thread
    bool refused = false;
};
constexpr std::size_t kBlockHeader = alignof(std::max_align_t) > 16 ? alignof(std::max_align_t) : 16;

void* BoundedAlloc(void* opaque, std::size_t size) {
    auto* memory = static_cast<BoundedMemory*>(opaque);
    if (size > memory->limit - std::min(memory->held, memory->limit) || size > SIZE_MAX - kBlockHeader) {
        memory->refused = true;
        return nullptr;
    }
    auto* block = static_cast<uint8_t*>(std::malloc(size + kBlockHeader));
    if (!block) {
        memory->refused = true;
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    memory->held += size;
    return block + kBlockHeader;
}

void BoundedFree(void* opaque, void* address) {
    if (!address) return;
    auto* memory = static_cast<BoundedMemory*>(opaque);
    uint8_t* block = static_cast<uint8_t*>(address) - kBlockHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    memory->held -= std::min<uint64_t>(size, memory->held);
    std::free(block);
}

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};

}  // namespace

quillon::Status DecodeJpegXlFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                  DecodedFrame& out) {
    out = DecodedFrame{};
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    const JxlSignature signature = JxlSignatureCheck(bytes, std::size_t(length));
    if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER)
        return FrameFailure(Reason::CodecRefused, "The stream is no JPEG XL codestream or container.");
    const int allocated = d.pixel.bitsAllocated;
    if (allocated != 8 && allocated != 16)
        return FrameFailure(Reason::CodecRefused, "The JPEG XL decoder does not take frames of %d bits allocated.",
                            allocated);
    if (quillon::Status status = CheckDecodedSize(d); !status) return status;

    BoundedMemory memory;
    memory.limit = JpegXlWorkingBytes(d);
    const JxlMemoryManager manager{&memory, BoundedAlloc, BoundedFree};
    std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(&manager));
    if (!decoder) return FrameFailure(Reason::OverBudget, "There is no memory for the JPEG XL decoder.");
    JxlDecoder* dec = decoder.get();
    if (JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(dec, JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec, bytes, std::size_t(length)) != JXL_DEC_SUCCESS)
        return FrameFailure(Reason::CodecRefused, "The JPEG XL decoder refused the stream.");
    // The input is left open: the frame's bytes are all there is, and a
    // stream they cut short then asks for more (JXL_DEC_NEED_MORE_INPUT,
    // a cut-off stream below) instead of failing. Debian's libjxl is built
    // without NDEBUG, so each failure it meets prints its source line on
    // stderr (there is no switch or callback for that in 0.7); a closed
    // input made every cut-off stream print "missing input".

    const uint64_t size = ExpectedDecodedSize(d);
    const unsigned samples = DecodedSamples(d);
    HeapPtr<uint8_t> output;
    uint32_t bits = 0;
    JxlPixelFormat format{samples, allocated == 8 ? JXL_TYPE_UINT8 : JXL_TYPE_UINT16, JXL_LITTLE_ENDIAN, 0};
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info;
            if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS)
                return FrameFailure(Reason::CodecRefused, "The JPEG XL image header is unreadable.");
            if (info.xsize != d.pixel.columns || info.ysize != d.pixel.rows)
                return DimensionsDiffer(info.xsize, info.ysize, d);
            if (info.num_color_channels != samples)
                return FrameFailure(Reason::DimensionsDiffer,
                                    "The stream's image has %u colour channels; the file says %u samples per pixel.",
                                    info.num_color_channels, d.Samples());
            if (info.exponent_bits_per_sample != 0)
                return FrameFailure(Reason::CodecRefused, "The stream's samples are floating point.");
            if (info.bits_per_sample < 1 || int(info.bits_per_sample) > allocated)
                return FrameFailure(Reason::DimensionsDiffer,
                                    "The stream's samples have %u bits; the file allocates %d bits to each.",
                                    info.bits_per_sample, allocated);
            bits = info.bits_per_sample;
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            std::size_t needed = 0;
            if (JxlDecoderImageOutBufferSize(dec, &format, &needed) != JXL_DEC_SUCCESS || needed != size)
                return FrameFailure(Reason::DimensionsDiffer, "The stream's image does not fill the frame's %llu bytes.",
                                    static_cast<unsigned long long>(size));
            output.reset(static_cast<uint8_t*>(AllocBlock(std::size_t(size))));
            if (!output)
                return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                                    static_cast<unsigned long long>(size));
            std::memset(output.get(), 0, std::size_t(size));
            if (JxlDecoderSetImageOutBuffer(dec, &format, output.get(), std::size_t(size)) != JXL_DEC_SUCCESS)
                return FrameFailure(Reason::CodecRefused, "The JPEG XL decoder refused the frame's layout.");
        } else if (status == JXL_DEC_FULL_IMAGE) {
            break;
        } else if (status == JXL_DEC_NEED_MORE_INPUT) {
            return FrameFailure(Reason::StreamEndsEarly, "The JPEG XL stream ends before its image is complete.");
        } else if (status == JXL_DEC_SUCCESS) {
            return FrameFailure(Reason::CodecRefused, "The JPEG XL stream holds no image.");
        } else if (memory.refused) {
            return FrameFailure(Reason::OverBudget,
                                "The JPEG XL decoder needed more than the frame's %llu MiB of working memory.",
                                static_cast<unsigned long long>(memory.limit >> 20));
        } else {
            return FrameFailure(Reason::CodecRefused, "The JPEG XL decoder refused the stream.");
        }
    }
    if (!output) return FrameFailure(Reason::CodecRefused, "The JPEG XL decoder gave no image.");
    // libjxl scales integer output to the full range of its type; samples
    // of fewer bits go back to theirs (exactly, for a lossless stream).
    if (int(bits) < allocated) {
        const uint32_t top = (1u << bits) - 1, full = allocated == 8 ? 0xFFu : 0xFFFFu;
        uint8_t* p = output.get();
        if (allocated == 8) {
            for (uint64_t k = 0; k < size; ++k) p[k] = uint8_t((p[k] * top + full / 2) / full);
        } else {
            for (uint64_t k = 0; k + 1 < size; k += 2) {
                const uint32_t v = uint32_t(p[k]) | uint32_t(p[k + 1]) << 8;
                const uint32_t back = (v * top + full / 2) / full;
                p[k] = uint8_t(back);
                p[k + 1] = uint8_t(back >> 8);
            }
        }
    }
    out.data = std::move(output);
    out.size = size;
    // libjxl gives colour as RGB whatever the file's photometric says.
    out.colourConverted = samples == 3;
    return {};
}
