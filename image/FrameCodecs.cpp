#include "image/FrameCodecs.h"

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

uint32_t ReadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Frame n's first fragment (index among the fragments, 0 = child 1) from the
// basic offset table, when the table names one fragment per frame: offsets
// from the first fragment's item tag, ascending, each on an item tag.
bool FragmentStarts(const CDicomTag& pixelData, uint32_t frames, std::vector<std::size_t>& starts) {
    const CDicomTag& table = *pixelData.m_children[0];
    const uint32_t tableLength = table.GetLength();
    if (tableLength % 4 != 0 || tableLength / 4 != frames) return false;
    const SValueBytes value = table.ValueBytes();
    if (!value || value.size != tableLength) return false;
    starts.clear();
    std::size_t fragment = 0;
    uint64_t position = 0;  // item tag of `fragment`, relative to the first
    const std::size_t fragments = pixelData.m_children.size() - 1;
    for (uint32_t n = 0; n < frames; ++n) {
        const uint32_t offset = ReadLE32(value.data + 4 * n);
        if (n == 0 ? offset != 0 : offset <= position) return false;
        while (fragment < fragments && position < offset) {
            position += 8 + uint64_t(pixelData.m_children[fragment + 1]->GetLength());
            ++fragment;
        }
        if (fragment >= fragments || position != offset) return false;
        starts.push_back(fragment);
    }
    return true;
}

}  // namespace

uint64_t ExpectedDecodedSize(const FrameDescription& d) {
    if (d.bitsAllocated <= 0) return 0;
    uint64_t bits = SaturatingMultiply(SaturatingMultiply(d.Pixels(), uint64_t(d.bitsAllocated)), DecodedSamples(d));
    if (bits == UINT64_MAX) return UINT64_MAX;
    return bits / 8;
}

unsigned DecodedSamples(const FrameDescription& d) {
    if (d.samplesPerPixel <= 1 && !d.isMonochrome1 && !d.isMonochrome2 && !d.isPaletteColor) return 3;
    return d.Samples();
}

bool DecodeCompressedFrame(const FrameDescription& d, const uint8_t* bytes, uint64_t length, DecodedFrame& out) {
    const std::string& name = d.compressionName;
    if (name == "RLE") return DecodeRleFrame(d, bytes, length, out);
    if (name == "JPEG" || name == "JPEG Lossless") return DecodeJpegFrame(d, bytes, length, out);
    if (name == "JPEG2000 Lossless" || name == "JPEG2000 Lossy") return DecodeJpeg2000Frame(d, bytes, length, out);
    return false;
}

bool CompressedFrameBytes(const CDicomFile& file, std::size_t frame, quillon::HeapPtr<uint8_t>& storage,
                          ByteSpan& bytes) {
    bytes = {};
    const CDicomTag* pixelData = file.Find(0x7FE0, 0x0010);
    if (!pixelData || pixelData->m_children.size() < 2) return false;
    const uint32_t frames = file.m_numberOfFrames;
    if (frame >= frames) return false;
    const std::size_t fragments = pixelData->m_children.size() - 1;

    // Fragments [first, last) make the frame.
    std::size_t first = frame, last = frame + 1;
    std::vector<std::size_t> starts;
    if (frames == 1) {
        first = 0;
        last = fragments;
    } else if (FragmentStarts(*pixelData, frames, starts)) {
        first = starts[frame];
        last = frame + 1 < frames ? starts[frame + 1] : fragments;
    }
    if (first >= fragments) return false;

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
