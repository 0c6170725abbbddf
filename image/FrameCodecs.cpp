#include "image/FrameCodecs.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "dicom/DicomFile.h"

namespace {

uint64_t SaturatingMultiply(uint64_t a, uint64_t b) {
    uint64_t product;
    if (__builtin_mul_overflow(a, b, &product)) return UINT64_MAX;
    return product;
}

}  // namespace

uint64_t ExpectedDecodedSize(const FrameDescription& d) {
    if (d.pixel.bitsAllocated <= 0) return 0;
    uint64_t bits =
        SaturatingMultiply(SaturatingMultiply(d.Pixels(), uint64_t(d.pixel.bitsAllocated)), DecodedSamples(d));
    if (bits == UINT64_MAX) return UINT64_MAX;
    return bits / 8;
}

unsigned DecodedSamples(const FrameDescription& d) {
    if (d.pixel.samplesPerPixel <= 1 && !d.pixel.IsMonochrome1() && !d.pixel.IsMonochrome2() &&
        !d.pixel.IsPaletteColor())
        return 3;
    return d.Samples();
}

quillon::Status FrameFailure(quillon::Reason reason, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return quillon::Status::Fail(reason, text);
}

uint64_t FrameCodecWorkingBytes(const FrameDescription& d) {
    switch (d.pixel.compression) {
        case quillon::Compression::JPEG2000Lossless:
        case quillon::Compression::JPEG2000Lossy:
        case quillon::Compression::HTJ2KLossless:
        case quillon::Compression::HTJ2KLosslessRPCL:
        case quillon::Compression::HTJ2K:
            return SaturatingMultiply(SaturatingMultiply(d.Pixels(), std::max(1u, d.Samples())), 4);
        case quillon::Compression::RLE: return ExpectedDecodedSize(d);
        // CharLS's planes of a colour stream without interleaving, before
        // they are interleaved.
        case quillon::Compression::JPEGLSLossless:
        case quillon::Compression::JPEGLSLossy: return DecodedSamples(d) > 1 ? ExpectedDecodedSize(d) : 0;
        case quillon::Compression::JPEGXLLossless:
        case quillon::Compression::JPEGXLRecompression:
        case quillon::Compression::JPEGXL: return JpegXlWorkingBytes(d);
        // The frame's fragments joined: its native bytes once more.
        case quillon::Compression::EncapsulatedUncompressed: return NativeFragmentFrameSize(d);
        default: return 0;
    }
}

uint64_t JpegXlWorkingBytes(const FrameDescription& d) {
    const uint64_t planes = SaturatingMultiply(SaturatingMultiply(d.Pixels(), DecodedSamples(d) + 1), 8);
    return planes >= UINT64_MAX - (uint64_t(16) << 20) ? UINT64_MAX : planes + (uint64_t(16) << 20);
}

uint64_t FrameDecodePeak(const FrameDescription& d, uint64_t working) {
    const uint64_t decoded = ExpectedDecodedSize(d);
    // The display conversion gives grey in 16-bit words and colour in 32-bit
    // pixels at most, and the image and the thumbnail's copy take one block
    // of that size each.
    const uint64_t display = SaturatingMultiply(d.Pixels(), DecodedSamples(d) == 1 ? 2 : 4);
    uint64_t total = 0;
    for (uint64_t part : {decoded, working, display, display})
        if (__builtin_add_overflow(total, part, &total)) return UINT64_MAX;
    return total;
}

FrameDescription ReducedDescription(const FrameDescription& d, unsigned reduce) {
    FrameDescription reduced = d;
    if (reduce == 0) return reduced;
    reduce = std::min(reduce, 31u);
    const uint32_t step = uint32_t(1) << reduce;
    reduced.pixel.rows = (d.pixel.rows + step - 1) >> reduce;
    reduced.pixel.columns = (d.pixel.columns + step - 1) >> reduce;
    return reduced;
}

quillon::Status CheckDecodedSize(const FrameDescription& d, uint64_t budget) {
    const uint64_t size = ExpectedDecodedSize(d);
    if (size == 0)
        return FrameFailure(quillon::Reason::NoBytes, "The file describes a frame of no samples (%u x %u, %d bits).",
                            d.pixel.columns, d.pixel.rows, int(d.pixel.bitsAllocated));
    if (size == UINT64_MAX || size > SIZE_MAX)
        return FrameFailure(quillon::Reason::OverBudget, "The frame the file describes (%u x %u) is too large to hold.",
                            d.pixel.columns, d.pixel.rows);
    return CheckFrameBudget(d, FrameDecodePeak(d, FrameCodecWorkingBytes(d)), budget);
}

quillon::Status CheckFrameBudget(const FrameDescription& d, uint64_t peak, uint64_t budget) {
    if (peak <= budget) return {};
    const uint64_t mib = peak == UINT64_MAX ? peak >> 20 : (peak + (uint64_t(1) << 20) - 1) >> 20;
    return FrameFailure(quillon::Reason::OverBudget,
                        "Decoding the frame (%u x %u, %u sample%s of %d bits) would take %llu MiB; frames over the "
                        "%llu MiB budget are not decoded.",
                        d.pixel.columns, d.pixel.rows, std::max(1u, d.Samples()), d.Samples() > 1 ? "s" : "",
                        int(d.pixel.bitsAllocated), static_cast<unsigned long long>(mib),
                        static_cast<unsigned long long>(budget >> 20));
}

quillon::Status DimensionsDiffer(uint64_t streamColumns, uint64_t streamRows, const FrameDescription& d) {
    return FrameFailure(quillon::Reason::DimensionsDiffer, "The stream's image is %llu x %llu, the file says %u x %u.",
                        static_cast<unsigned long long>(streamColumns), static_cast<unsigned long long>(streamRows),
                        d.pixel.columns, d.pixel.rows);
}

quillon::Status CompressedFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage,
                                     ByteSpan& bytes) {
    return CompressedFrameBytes(file, file.Fragments(), frame, storage, bytes);
}

quillon::Status CompressedFrameBytes(const CDicomFile& file, const quillon::FrameFragments& fragments,
                                     std::size_t frame, quillon::HeapPtr<uint8_t>& storage, ByteSpan& bytes) {
    using quillon::Reason;
    bytes = {};
    const CDicomTag7FE0* pixelData = file.PixelData();
    if (!pixelData) return FrameFailure(Reason::NoBytes, "The file has no pixel data.");
    if (frame >= fragments.FrameCount() || frame >= file.Pixel().numberOfFrames)
        return FrameFailure(Reason::NoBytes, "No fragment of the pixel data holds this frame.");
    const std::size_t count = pixelData->FragmentCount();
    // Fragments [first, last) make the frame.
    const quillon::FragmentRange range = fragments.Range(frame);
    const std::size_t first = range.first, last = std::min(range.last, count);
    if (first >= last) return FrameFailure(Reason::NoBytes, "No fragment of the pixel data holds this frame.");

    uint64_t total = 0;
    for (std::size_t k = first; k < last; ++k) total += pixelData->FragmentLength(k);
    if (total == 0) return FrameFailure(Reason::NoBytes, "The frame's fragments are empty.");
    if (total > SIZE_MAX) return FrameFailure(Reason::OverBudget, "The frame's fragments are too large to hold.");
    storage.reset(static_cast<uint8_t*>(quillon::AllocBlock(std::size_t(total))));
    if (!storage)
        return FrameFailure(Reason::OverBudget, "There is no memory for the frame's %llu bytes.",
                            static_cast<unsigned long long>(total));
    uint64_t at = 0;
    for (std::size_t k = first; k < last; ++k) {
        const uint32_t length = pixelData->FragmentLength(k);
        if (!pixelData->CopyFragment(k, storage.get() + at, length)) {
            storage.reset();
            return FrameFailure(Reason::NoBytes, "The frame's fragments cannot be read from the file.");
        }
        at += length;
    }
    bytes = {storage.get(), total};
    return {};
}
