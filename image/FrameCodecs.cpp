#include "image/FrameCodecs.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "dicom/DicomFile.h"
#include "dicom/OffsetTable.h"

namespace {

uint64_t SaturatingMultiply(uint64_t a, uint64_t b) {
    uint64_t product;
    if (__builtin_mul_overflow(a, b, &product)) return UINT64_MAX;
    return product;
}

// Frame n's first fragment (index among the fragments, 0 = child 1) from the
// basic offset table, when the table names one fragment per frame: offsets
// from the first fragment's item tag, ascending, each on an item tag.
bool FragmentStarts(const CDicomTag& pixelData, uint32_t frames, std::vector<std::size_t>& starts) {
    const uint32_t tableLength = pixelData.m_children[0]->GetLength();
    if (tableLength % 4 != 0 || tableLength / 4 != frames) return false;
    const std::vector<SOffsetTableEntry> entries = ResolveOffsetTable(pixelData);
    if (entries.size() != frames) return false;
    starts.clear();
    for (uint32_t n = 0; n < frames; ++n) {
        const std::optional<std::size_t>& fragment = entries[n].fragment;
        if (!fragment || (n == 0 ? *fragment != 0 : *fragment <= starts.back())) return false;
        starts.push_back(*fragment);
    }
    return true;
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

bool HasFrameCodec(const std::string& name) {
    return name == "RLE" || name == "JPEG" || name == "JPEG Lossless" || name == "JPEG2000 Lossless" ||
           name == "JPEG2000 Lossy";
}

bool DecodeCompressedFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out) {
    const std::string name(quillon::CompressionName(d.pixel.compression));
    if (name == "RLE") return DecodeRleFrame(d, bytes, length, out);
    if (name == "JPEG" || name == "JPEG Lossless") return DecodeJpegFrame(d, bytes, length, out);
    if (name == "JPEG2000 Lossless" || name == "JPEG2000 Lossy") return DecodeJpeg2000Frame(d, bytes, length, out);
    return false;
}

std::vector<SFragmentRange> FrameFragments(const CDicomFile& file) {
    std::vector<SFragmentRange> ranges;
    const CDicomTag* pixelData = file.PixelData();
    if (!pixelData || pixelData->m_children.size() < 2) return ranges;
    const uint32_t frames = file.Pixel().numberOfFrames;
    const std::size_t fragments = pixelData->m_children.size() - 1;
    try {
        std::vector<std::size_t> starts;
        if (frames == 1) {
            ranges.push_back({0, fragments});
        } else if (frames > 1 && FragmentStarts(*pixelData, frames, starts)) {
            for (uint32_t n = 0; n < frames; ++n)
                ranges.push_back({starts[n], n + 1 < frames ? starts[n + 1] : fragments});
        } else {
            // One fragment per frame; frames past the fragments have none.
            for (std::size_t n = 0; n < frames && n < fragments; ++n) ranges.push_back({n, n + 1});
        }
    } catch (const std::bad_alloc&) {
        ranges.clear();
    }
    return ranges;
}

bool CompressedFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage,
                          ByteSpan& bytes) {
    return CompressedFrameBytes(file, FrameFragments(file), frame, storage, bytes);
}

bool CompressedFrameBytes(const CDicomFile& file, const std::vector<SFragmentRange>& ranges, std::size_t frame,
                          quillon::HeapPtr<uint8_t>& storage, ByteSpan& bytes) {
    bytes = {};
    const CDicomTag* pixelData = file.PixelData();
    if (!pixelData || frame >= ranges.size() || frame >= file.Pixel().numberOfFrames) return false;
    const std::size_t fragments = pixelData->m_children.size() - 1;
    // Fragments [first, last) make the frame.
    const std::size_t first = ranges[frame].first, last = std::min(ranges[frame].last, fragments);
    if (first >= last) return false;

    if (last - first == 1) {
        const CDicomTag& item = *pixelData->m_children[first + 1];
        if (item.GetData() && item.GetLength() != 0) {
            bytes = {item.GetData(), item.GetLength()};
            return true;
        }
    }
    uint64_t total = 0;
    for (std::size_t k = first; k < last; ++k)
        if (pixelData->m_children[k + 1]->HasValue()) total += pixelData->m_children[k + 1]->GetLength();
    if (total == 0 || total > SIZE_MAX) return false;
    storage.reset(static_cast<uint8_t*>(quillon::AllocBlock(std::size_t(total))));
    if (!storage) return false;
    uint64_t at = 0;
    for (std::size_t k = first; k < last; ++k) {
        const CDicomTag& item = *pixelData->m_children[k + 1];
        if (!item.HasValue()) continue;
        if (!item.CopyValue(storage.get() + at, item.GetLength())) {
            storage.reset();
            return false;
        }
        at += item.GetLength();
    }
    bytes = {storage.get(), total};
    return true;
}
