// HTJ2K frames through OpenJPEG 2.5, which decodes HTJ2K code-blocks in the
// same codestream structure as JPEG 2000 (DecodeJpeg2000Frame). OpenJPH was
// measured too and is faster, but Debian's build has its assertions compiled
// in (a corrupt quantisation segment aborts the process) and writes its
// messages to standard error whatever handler is configured, so it cannot
// read untrusted files in the viewer's process. Here the stream must be a
// bare codestream whose image header (SIZ) matches the frame and whose
// components' depths fit the bits allocated.
#include "image/FrameCodecs.h"

using quillon::Reason;

quillon::Status DecodeHtj2kFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                 DecodedFrame& out) {
    return DecodeHtj2kReduced(d, bytes, length, out, DecodeOptions{});
}

quillon::Status DecodeHtj2kReduced(const FrameDescription& d, const uint8_t* bytes, uint64_t length,
                                   DecodedFrame& out, const DecodeOptions& options) {
    out = DecodedFrame{};
    if (!bytes || length == 0) return FrameFailure(Reason::NoBytes, "The frame has no bytes.");
    if (length < 2 || bytes[0] != 0xFF || bytes[1] != 0x4F)
        return FrameFailure(Reason::CodecRefused, "The stream does not start with a JPEG 2000 codestream marker.");
    if (quillon::Status status = PlausibleJpeg2000Header(bytes, length, d); !status) return status;
    const int allocated = d.pixel.bitsAllocated;
    if (allocated != 8 && allocated != 16 && allocated != 32)
        return FrameFailure(Reason::CodecRefused, "The HTJ2K decoder does not take frames of %d bits allocated.",
                            allocated);
    // SIZ: marker, Lsiz, Rsiz, eight 32-bit sizes, Csiz, then per component
    // Ssiz (depth - 1, bit 7 the sign), XRsiz and YRsiz. The header check
    // above saw the components' count and that the segment holds them.
    const unsigned components = unsigned(bytes[4 + 36]) << 8 | bytes[4 + 37];
    const uint64_t segment = uint64_t(bytes[4]) << 8 | bytes[5];
    if (segment < 38 + 3 * uint64_t(components) || length < 4 + segment)
        return FrameFailure(Reason::StreamEndsEarly, "The stream ends early at byte %llu, inside the image header.",
                            static_cast<unsigned long long>(length));
    for (unsigned c = 0; c < components; ++c) {
        const uint8_t* component = bytes + 4 + 38 + 3 * c;
        const int depth = (component[0] & 0x7F) + 1;
        if (depth > allocated)
            return FrameFailure(Reason::DimensionsDiffer,
                                "The stream's samples have %d bits; the file allocates %d bits to each.", depth,
                                allocated);
        if (component[1] != 1 || component[2] != 1)
            return FrameFailure(Reason::CodecRefused, "The HTJ2K decoder does not take subsampled components.");
    }
    return DecodeJpeg2000Reduced(d, bytes, length, out, options);
}
