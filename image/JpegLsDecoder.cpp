// JPEG-LS frames (lossless and near-lossless) through CharLS: 2 to 16 bits,
// one to four components, interleave none, line or sample, restart markers
// and the colour transforms CharLS knows; colour comes interleaved per
// pixel whatever the stream's interleave. The stream's frame header is read
// and checked against the frame before anything is allocated.
#include <charls/charls.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/FrameCodecs.h"

using quillon::AllocBlock;
using quillon::HeapPtr;
using quillon::Reason;

namespace {

struct DecoderDeleter {
    void operator()(charls_jpegls_decoder* decoder) const { charls_jpegls_decoder_destroy(decoder); }
};
using DecoderPtr = std::unique_ptr<charls_jpegls_decoder, DecoderDeleter>;

quillon::Status Refused(const char* what, charls_jpegls_errc error) {
    // CharLS's messages are sentences about the stream ("Invalid JPEG-LS
    // stream, ..."); the ones for a stream cut short get their own reason.
    const bool early = error == charls_jpegls_errc::source_buffer_too_small;
    return FrameFailure(early ? Reason::StreamEndsEarly : Reason::CodecRefused, "The JPEG-LS %s: %s", what,
                        charls_get_error_message(error));
}

}  // namespace

quillon::Status DecodeJpegLsFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                  DecodedFrame& out) {
    out = DecodedFrame{};
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    if (length < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return FrameFailure(Reason::CodecRefused, "The stream does not start with a JPEG start-of-image marker.");
    // CharLS takes seconds over a scan whose bytes simply stop (it reads on
    // as if zeros followed); a marker at the end stops it at once. A stream
    // cut short is read from a copy that ends with an end-of-image marker.
    std::vector<uint8_t> ended;
    uint64_t last = length;
    while (last > 0 && bytes[last - 1] == 0) --last;  // padding to an even length
    if (last < 2 || bytes[last - 2] != 0xFF || bytes[last - 1] != 0xD9) {
        try {
            ended.reserve(std::size_t(length) + 2);
            ended.assign(bytes, bytes + length);
            ended.insert(ended.end(), {0xFF, 0xD9});
        } catch (const std::bad_alloc&) {
            return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                                static_cast<unsigned long long>(length));
        }
        bytes = ended.data();
        length = ended.size();
    }
    DecoderPtr decoder(charls_jpegls_decoder_create());
    if (!decoder) return FrameFailure(Reason::NoMemory, "There is no memory for the JPEG-LS decoder.");
    charls_jpegls_errc error = charls_jpegls_decoder_set_source_buffer(decoder.get(), bytes, std::size_t(length));
    if (error == charls_jpegls_errc::success) error = charls_jpegls_decoder_read_header(decoder.get());
    if (error != charls_jpegls_errc::success) return Refused("frame header is unreadable", error);

    charls_frame_info info{};
    charls_interleave_mode interleave = charls_interleave_mode::none;
    if ((error = charls_jpegls_decoder_get_frame_info(decoder.get(), &info)) != charls_jpegls_errc::success ||
        (error = charls_jpegls_decoder_get_interleave_mode(decoder.get(), &interleave)) != charls_jpegls_errc::success)
        return Refused("frame header is unreadable", error);
    if (info.width != d.pixel.columns || info.height != d.pixel.rows)
        return DimensionsDiffer(info.width, info.height, d);
    const unsigned samples = DecodedSamples(d);
    if (info.component_count < 1 || unsigned(info.component_count) != samples)
        return FrameFailure(Reason::DimensionsDiffer,
                            "The stream's frame header gives %d components; the file says %u samples per pixel.",
                            int(info.component_count), d.Samples());
    const int allocated = d.pixel.bitsAllocated;
    if (allocated != 8 && allocated != 16)
        return FrameFailure(Reason::CodecRefused, "The JPEG-LS decoder does not take frames of %d bits allocated.",
                            allocated);
    if (info.bits_per_sample > allocated)
        return FrameFailure(Reason::DimensionsDiffer,
                            "The stream's samples have %d bits; the file allocates %d bits to each.",
                            int(info.bits_per_sample), allocated);
    if (quillon::Status status = CheckDecodedSize(d); !status) return status;

    // CharLS writes one byte per sample up to 8 bits, two above; a stream of
    // 8 bits or fewer in a 16-bit frame is widened afterwards.
    const uint64_t size = ExpectedDecodedSize(d);
    const bool widen = allocated == 16 && info.bits_per_sample <= 8;
    const uint64_t streamSize = widen ? size / 2 : size;
    HeapPtr<uint8_t> output(static_cast<uint8_t*>(AllocBlock(std::size_t(size))));
    if (!output)
        return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                            static_cast<unsigned long long>(size));
    std::size_t needed = 0;
    error = charls_jpegls_decoder_get_destination_size(decoder.get(), 0, &needed);
    if (error != charls_jpegls_errc::success) return Refused("frame header is unreadable", error);
    if (needed != streamSize)
        return FrameFailure(Reason::DimensionsDiffer, "The stream decodes to %zu bytes; the frame holds %llu.", needed,
                            static_cast<unsigned long long>(streamSize));
    // Narrow samples go to the upper half, so that widening reads ahead of
    // what it writes.
    uint8_t* target = widen ? output.get() + streamSize : output.get();
    error = charls_jpegls_decoder_decode_to_buffer(decoder.get(), target, std::size_t(streamSize), 0);
    if (error != charls_jpegls_errc::success) return Refused("stream cannot be decoded", error);
    if (widen) {
        uint8_t* p = output.get();
        for (uint64_t k = 0; k < streamSize; ++k) {
            const uint8_t v = target[k];
            p[2 * k] = v;
            p[2 * k + 1] = 0;
        }
    }
    // Without interleaving the components come one after the other; they are
    // interleaved per pixel, as every other codec gives colour.
    if (samples > 1 && interleave == charls_interleave_mode::none) {
        HeapPtr<uint8_t> pixels(static_cast<uint8_t*>(AllocBlock(std::size_t(size))));
        if (!pixels)
            return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                                static_cast<unsigned long long>(size));
        const unsigned sampleBytes = unsigned(allocated / 8);
        const uint64_t plane = d.Pixels() * sampleBytes;
        for (unsigned c = 0; c < samples; ++c) {
            const uint8_t* from = output.get() + c * plane;
            uint8_t* to = pixels.get() + c * sampleBytes;
            for (uint64_t k = 0; k < d.Pixels(); ++k, from += sampleBytes, to += samples * sampleBytes)
                std::memcpy(to, from, sampleBytes);
        }
        output = std::move(pixels);
    }
    out.data = std::move(output);
    out.size = size;
    return {};
}
