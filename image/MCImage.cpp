#include "image/MCImage.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <type_traits>

using quillon::AllocBlock;
using quillon::HeapPtr;

namespace {

// Header fields: byte offsets into the block.
constexpr uint32_t kOffWidth = 0;
constexpr uint32_t kOffHeight = 4;
constexpr uint32_t kOffBits = 8;
constexpr uint32_t kOffMonochrome1 = 9;
constexpr uint32_t kOffSigned = 10;
constexpr uint32_t kOffKind = 12;
constexpr uint32_t kOffDataSize = 18;
constexpr uint32_t kOffCenter = 22;
constexpr uint32_t kOffWindowWidth = 26;
constexpr uint32_t kOffMin = 30;
constexpr uint32_t kOffMax = 34;
constexpr uint32_t kOffPaletteCount = 38;

constexpr uint32_t kHeader = MCImage::kHeaderSize;
constexpr uint32_t kPalette8Entries = 256;
constexpr uint32_t kPalette8Bytes = kPalette8Entries * 4;
constexpr uint32_t kCanvas = MCImage::kThumbnailSize;

uint32_t Get32(const uint8_t* b, uint32_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
int32_t GetS32(const uint8_t* b, uint32_t at) { return int32_t(Get32(b, at)); }
void Put32(uint8_t* b, uint32_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
    b[at + 2] = uint8_t(v >> 16);
    b[at + 3] = uint8_t(v >> 24);
}
void PutS32(uint8_t* b, uint32_t at, int32_t v) { Put32(b, at, uint32_t(v)); }

// 16-bit samples, little endian.
inline uint16_t Get16(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    return uint16_t(p[0] | p[1] << 8);
}
inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

int32_t ClampToInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

uint64_t PaletteBytes(uint8_t bits, uint32_t paletteCount) {
    if (bits == 8) return kPalette8Bytes;
    if (bits == 16) return uint64_t(paletteCount) * 4;
    return 0;
}

bool IsSupportedDepth(uint8_t bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// Pixel offset of a block whose sizes agree with its header, else 0.
uint64_t PixelOffset(const uint8_t* b, uint32_t blockSize) {
    if (!b || blockSize < kHeader) return 0;
    const uint8_t bits = b[kOffBits];
    const uint64_t offset = kHeader + PaletteBytes(bits, Get32(b, kOffPaletteCount));
    const uint64_t dataSize = Get32(b, kOffDataSize);
    const uint64_t expected = uint64_t(Get32(b, kOffWidth)) * Get32(b, kOffHeight) * (bits / 8);
    if (dataSize != expected || offset + dataSize > blockSize) return 0;
    return offset;
}

// A block with room for the pixels (and for 16-bit images `paletteCount16`
// palette entries), header, palette room and - when asked - pixels zeroed, the
// size fields and the depth written. No data when a size does not fit 32 bits
// or the allocation fails.
quillon::ImageBlock AllocImageBlock(uint8_t bits, uint32_t width, uint32_t height, uint32_t paletteCount16, bool zeroPixels) {
    const uint64_t pixels = uint64_t(width) * height;
    const uint32_t bytesPerPixel = bits / 8;
    if (bytesPerPixel != 0 && pixels > std::numeric_limits<uint32_t>::max()) return {};
    const uint64_t dataSize = pixels * bytesPerPixel;
    const uint64_t pixelOffset = kHeader + PaletteBytes(bits, paletteCount16);
    const uint64_t blockSize = pixelOffset + dataSize;
    if (blockSize > std::numeric_limits<uint32_t>::max()) return {};
    quillon::ImageBlock block;
    block.data.reset(static_cast<uint8_t*>(AllocBlock(blockSize)));
    if (!block.data) return {};
    block.size = uint32_t(blockSize);
    uint8_t* b = block.data.get();
    std::memset(b, 0, zeroPixels ? blockSize : pixelOffset);
    Put32(b, kOffWidth, width);
    Put32(b, kOffHeight, height);
    b[kOffBits] = bits;
    Put32(b, kOffDataSize, uint32_t(dataSize));
    Put32(b, kOffPaletteCount, bits == 8 ? kPalette8Entries : bits == 16 ? paletteCount16 : 0);
    return block;
}

void WriteGreyPalette(uint8_t* b) {
    uint8_t* palette = b + kHeader;
    for (uint32_t i = 0; i < kPalette8Entries; ++i) {
        palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = uint8_t(i);
        palette[4 * i + 3] = 0;
    }
}

void WriteWindowAndRange(uint8_t* b, int32_t center, int32_t width, int32_t min, int32_t max) {
    PutS32(b, kOffCenter, center);
    PutS32(b, kOffWindowWidth, width);
    PutS32(b, kOffMin, min);
    PutS32(b, kOffMax, max);
}

// Unsigned 16-bit range rule: max raised to 255, then min 0 when max is 255 or
// below min.
void AdjustUnsignedRange(int32_t& min, int32_t& max) {
    if (max < 255) {
        min = 0;
        max = 255;
    } else if (max == 255 || max < min) {
        min = 0;
    }
}

// Min and max of the 16-bit samples of a block (0 and 0 without samples).
template <bool Signed>
void ScanRange(const uint8_t* p, uint64_t count, int32_t& min, int32_t& max) {
    if (count == 0) {
        min = max = 0;
        return;
    }
    using Sample = std::conditional_t<Signed, int16_t, uint16_t>;
    Sample lo = std::numeric_limits<Sample>::max(), hi = std::numeric_limits<Sample>::min();
    for (uint64_t i = 0; i < count; ++i) {
        const auto s = Sample(Get16(p + 2 * i));
        lo = s < lo ? s : lo;
        hi = s > hi ? s : hi;
    }
    min = lo;
    max = hi;
}

void UpdateBlockRange(uint8_t* b, uint32_t blockSize) {
    const uint8_t bits = b[kOffBits];
    const uint32_t paletteCount = Get32(b, kOffPaletteCount);
    if (bits != 16 || paletteCount > 0) {
        PutS32(b, kOffMin, 0);
        PutS32(b, kOffMax, 255);
        return;
    }
    const uint64_t offset = PixelOffset(b, blockSize);
    if (offset == 0) return;
    const uint64_t count = Get32(b, kOffDataSize) / 2;
    int32_t min, max;
    if (b[kOffSigned]) {
        ScanRange<true>(b + offset, count, min, max);
    } else {
        ScanRange<false>(b + offset, count, min, max);
        AdjustUnsignedRange(min, max);
    }
    PutS32(b, kOffMin, min);
    PutS32(b, kOffMax, max);
}

// A block for a scaled or re-framed copy of `src`: same depth, kind and palette
// count, the source's palette (8-bit and 16-bit), window, MONOCHROME1 mark and
// (16-bit) signed flag. min and max are left for UpdateBlockRange.
quillon::ImageBlock NewBlockLike(const uint8_t* src, uint32_t width, uint32_t height, bool zeroPixels) {
    const uint8_t bits = src[kOffBits];
    const uint32_t paletteCount = Get32(src, kOffPaletteCount);
    quillon::ImageBlock block = AllocImageBlock(bits, width, height, bits == 16 ? paletteCount : 0, zeroPixels);
    if (!block) return block;
    uint8_t* b = block.data.get();
    const uint64_t paletteBytes = PaletteBytes(bits, paletteCount);
    if (paletteBytes) std::memcpy(b + kHeader, src + kHeader, paletteBytes);
    Put32(b, kOffKind, Get32(src, kOffKind));
    Put32(b, kOffPaletteCount, paletteCount);
    b[kOffMonochrome1] = src[kOffMonochrome1];
    b[kOffSigned] = bits == 16 ? src[kOffSigned] : 0;
    PutS32(b, kOffCenter, GetS32(src, kOffCenter));
    PutS32(b, kOffWindowWidth, GetS32(src, kOffWindowWidth));
    return block;
}

// Index of the source pixel that nearest-neighbour scaling reads for output
// position `i`: trunc(i x scale + 0.5), limited to last.
inline uint32_t NearestIndex(uint32_t i, double scale, uint32_t last) {
    const double p = double(i) * scale + 0.5;
    return p >= double(last) ? last : uint32_t(p);
}

// One output column or row of bilinear scaling: the two source positions (as
// byte offsets or row numbers) and the weight of the second.
struct BilinearStep {
    uint32_t first, second;
    double f;  // fraction towards `second`
};

// Steps for `count` outputs over `srcCount` inputs: first = trunc(i x scale),
// second = first + 1 or the last input, f = i x scale - first. Null on
// allocation failure.
HeapPtr<BilinearStep> BilinearSteps(uint32_t count, uint32_t srcCount, uint32_t unit) {
    HeapPtr<BilinearStep> steps(static_cast<BilinearStep*>(AllocBlock(size_t(count) * sizeof(BilinearStep))));
    if (!steps) return steps;
    const double scale = double(srcCount) / double(count);
    const uint32_t last = srcCount - 1;
    for (uint32_t i = 0; i < count; ++i) {
        const double p = double(i) * scale;
        const uint32_t first = std::min(uint32_t(p), last);
        const uint32_t second = first + 1 >= srcCount ? last : first + 1;
        steps.get()[i] = {first * unit, second * unit, p - double(first)};
    }
    return steps;
}

// The weighted sum of four samples, in the order top-left, top-right,
// bottom-left, bottom-right.
inline double Bilinear(double fy, double fx, double s00, double s01, double s10, double s11) {
    return (1 - fy) * (1 - fx) * s00 + (1 - fy) * fx * s01 + fy * (1 - fx) * s10 + fy * fx * s11;
}

inline int64_t ClampSample(double v, int64_t min, int64_t max) {
    int64_t t = int64_t(v);
    if (t < min) t = min;
    if (t > max) t = max;
    return t;
}

template <bool Signed>
inline int32_t Sample16(const uint8_t* p) {
    const uint16_t raw = Get16(p);
    return Signed ? int32_t(int16_t(raw)) : int32_t(raw);
}

// Bilinear scaling of `Channels` samples per pixel of `BytesPerPixel` bytes.
// read(pixel, k) gives sample k of a source pixel, write(pixel, k, v) stores
// the weighted sum v. When a row and every column fall exactly on source
// pixels (downscaling by a whole factor), all weights but the first are 0 and
// the sum is that sample itself.
template <uint32_t BytesPerPixel, uint32_t Channels, class Read, class Write>
void BilinearScale(const uint8_t* src, uint32_t srcW, uint8_t* dst, uint32_t dstW, uint32_t dstH,
                   const BilinearStep* cols, const BilinearStep* rows, bool onColumns, Read read, Write write) {
    const size_t stride = size_t(srcW) * BytesPerPixel;
    for (uint32_t i = 0; i < dstH; ++i) {
        const double fy = rows[i].f;
        const uint8_t* top = src + rows[i].first * stride;
        const uint8_t* bottom = src + rows[i].second * stride;
        if (fy == 0.0 && onColumns) {
            for (uint32_t j = 0; j < dstW; ++j, dst += BytesPerPixel)
                for (uint32_t k = 0; k < Channels; ++k) write(dst, k, double(read(top + cols[j].first, k)));
            continue;
        }
        for (uint32_t j = 0; j < dstW; ++j, dst += BytesPerPixel) {
            const BilinearStep& c = cols[j];
            for (uint32_t k = 0; k < Channels; ++k)
                write(dst, k,
                      Bilinear(fy, c.f, read(top + c.first, k), read(top + c.second, k), read(bottom + c.first, k),
                               read(bottom + c.second, k)));
        }
    }
}

template <uint32_t BytesPerPixel>
void BilinearBytes(const uint8_t* src, uint32_t srcW, uint8_t* dst, uint32_t dstW, uint32_t dstH,
                   const BilinearStep* cols, const BilinearStep* rows, bool onColumns) {
    BilinearScale<BytesPerPixel, BytesPerPixel>(
        src, srcW, dst, dstW, dstH, cols, rows, onColumns, [](const uint8_t* p, uint32_t k) { return p[k]; },
        [](uint8_t* p, uint32_t k, double v) { p[k] = uint8_t(ClampSample(v, 0, 255)); });
}

template <bool Signed>
void BilinearWords(const uint8_t* src, uint32_t srcW, uint8_t* dst, uint32_t dstW, uint32_t dstH,
                   const BilinearStep* cols, const BilinearStep* rows, bool onColumns, int32_t min, int32_t max) {
    auto read = [](const uint8_t* p, uint32_t) { return Sample16<Signed>(p); };
    auto write = [min, max](uint8_t* p, uint32_t, double v) { Put16(p, uint16_t(ClampSample(v, min, max))); };
    BilinearScale<2, 1>(src, srcW, dst, dstW, dstH, cols, rows, onColumns, read, write);
}

// 8-bit grey: each index read through `grey` (the red of its palette entry),
// each result through `luma`.
void BilinearGrey(const uint8_t* src, uint32_t srcW, uint8_t* dst, uint32_t dstW, uint32_t dstH,
                  const BilinearStep* cols, const BilinearStep* rows, bool onColumns, const uint8_t* grey,
                  const uint8_t* luma) {
    BilinearScale<1, 1>(
        src, srcW, dst, dstW, dstH, cols, rows, onColumns, [grey](const uint8_t* p, uint32_t) { return grey[*p]; },
        [luma](uint8_t* p, uint32_t, double v) { *p = luma[ClampSample(v, 0, 255)]; });
}

template <uint32_t BytesPerPixel>
void NearestPixels(const uint8_t* src, uint32_t srcW, uint8_t* dst, uint32_t dstW, uint32_t dstH,
                   const uint32_t* colOffsets, const uint32_t* srcRows) {
    const size_t stride = size_t(srcW) * BytesPerPixel;
    for (uint32_t i = 0; i < dstH; ++i) {
        const uint8_t* row = src + srcRows[i] * stride;
        for (uint32_t j = 0; j < dstW; ++j, dst += BytesPerPixel) std::memcpy(dst, row + colOffsets[j], BytesPerPixel);
    }
}

// The grey level of a 16-bit sample through a window [low, high]:
// (s - low) / (high - low) x 255 in single precision, + 0.5 in double,
// truncated and clamped to 0..255. Below low that is 0, from high on 255.
struct GreyWindow {
    int64_t low, high;
    float range;

    uint8_t operator()(int32_t s) const {
        const float f = float(s - low) / range * 255.0f;
        const double g = double(f) + 0.5;
        if (!(g > 0.0)) return 0;
        if (g >= 255.0) return 255;
        return uint8_t(g);
    }
};

GreyWindow WindowOf(const uint8_t* b) {
    const int32_t center = GetS32(b, kOffCenter);
    const int32_t width = GetS32(b, kOffWindowWidth);
    int64_t low, high;
    if (width <= 0) {
        // No usable window (C 0 / W 0 among them): the value range.
        low = GetS32(b, kOffMin);
        high = GetS32(b, kOffMax);
    } else {
        const int64_t half = uint32_t(width) / 2;
        low = int64_t(center) - half + 1;
        high = int64_t(center) + half;
    }
    // A width of 1 (or an empty range) leaves no room between the two ends.
    if (high <= low) high = low + 1;
    return {low, high, float(high - low)};
}

template <bool Signed>
void WindowToRgb(const uint8_t* src, uint64_t count, uint8_t* dst, const GreyWindow& window) {
    // Only samples inside the window need the arithmetic. Once there are clearly
    // more pixels than such values, one table of all 65536 values is cheaper.
    constexpr int64_t first = Signed ? -32768 : 0, last = first + 65535;
    const int64_t from = std::clamp(window.low, first, last + 1), to = std::clamp(window.high, first, last + 1);
    if (count < uint64_t(to - from) * 5 / 4 + 2048) {
        for (uint64_t i = 0; i < count; ++i, dst += 3) dst[0] = dst[1] = dst[2] = window(Sample16<Signed>(src + 2 * i));
        return;
    }
    uint8_t table[65536];
    // Samples [a, b) to one value; negative samples sit at the top of the table.
    auto fill = [&table](int64_t a, int64_t b, uint8_t value) {
        const int64_t negativeEnd = std::min<int64_t>(b, 0), positiveStart = std::max<int64_t>(a, 0);
        if (a < negativeEnd) std::memset(table + (a + 65536), value, size_t(negativeEnd - a));
        if (positiveStart < b) std::memset(table + positiveStart, value, size_t(b - positiveStart));
    };
    fill(first, from, 0);
    for (int64_t s = from; s < to; ++s) table[uint16_t(s)] = window(int32_t(s));
    fill(to, last + 1, 255);
    for (uint64_t i = 0; i < count; ++i, dst += 3) dst[0] = dst[1] = dst[2] = table[Get16(src + 2 * i)];
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

MCImage::MCImage(const void* data, uint32_t width, uint32_t height, uint8_t bitsPerPixel, bool isSigned, int32_t min,
                 int32_t max, int32_t center, int32_t windowWidth, std::size_t dataBytes) {
    uint32_t kind = kKindPalette8;
    if (bitsPerPixel == 16) {
        kind = kKindGrey16;
        if (!isSigned) AdjustUnsignedRange(min, max);
        if (center == 0 && windowWidth == 0) {
            windowWidth = ClampToInt32(int64_t(max) - min + 1);
            center = ClampToInt32(int64_t(min) + (int64_t(max) - min) / 2 + 1);
        }
    } else {
        if (bitsPerPixel == 24) kind = kKindRgb24;
        if (bitsPerPixel == 32) kind = kKindRgb32;
        min = 0;
        max = 255;
        if (center == 0 && windowWidth == 0) {
            center = 128;
            windowWidth = 256;
        }
    }
    const uint64_t dataSize = uint64_t(width) * height * (bitsPerPixel / 8);
    const uint64_t given = data ? std::min<uint64_t>(dataBytes, dataSize) : 0;
    quillon::ImageBlock block = AllocImageBlock(bitsPerPixel, width, height, 0, given < dataSize);
    if (!block) return;
    uint8_t* b = block.data.get();
    b[kOffSigned] = isSigned ? 1 : 0;
    Put32(b, kOffKind, kind);
    WriteWindowAndRange(b, center, windowWidth, min, max);
    if (bitsPerPixel == 8) WriteGreyPalette(b);
    if (given) std::memcpy(b + (block.size - dataSize), data, given);
    m_block = std::move(block.data);
    m_blockSize = block.size;
}

MCImage::MCImage(const uint16_t* samples, uint32_t width, uint32_t height, uint32_t paletteCount, const uint8_t* red,
                 const uint8_t* green, const uint8_t* blue, std::size_t sampleCount) {
    const uint64_t pixels = uint64_t(width) * height;
    const uint64_t given = samples ? std::min<uint64_t>(sampleCount, pixels) : 0;
    quillon::ImageBlock block = AllocImageBlock(16, width, height, paletteCount, given < pixels);
    if (!block) return;
    uint8_t* b = block.data.get();
    const uint64_t offset = kHeader + uint64_t(paletteCount) * 4;
    if (given) std::memcpy(b + offset, samples, given * 2);
    if (paletteCount > 0) {
        Put32(b, kOffKind, kKindPalette16);
        WriteWindowAndRange(b, 128, 256, 0, 0);
        uint8_t* entry = b + kHeader;
        for (uint32_t i = 0; i < paletteCount; ++i, entry += 4) {
            entry[0] = red ? red[i] : 0;
            entry[1] = green ? green[i] : 0;
            entry[2] = blue ? blue[i] : 0;
            entry[3] = 0;
        }
    } else {
        Put32(b, kOffKind, kKindGrey16);
        int32_t min = std::numeric_limits<int32_t>::max(), max = std::numeric_limits<int32_t>::min();
        if (pixels > 0) ScanRange<false>(b + offset, pixels, min, max);
        AdjustUnsignedRange(min, max);
        WriteWindowAndRange(b, min + (max - min) / 2 + 1, max - min + 1, min, max);
    }
    m_block = std::move(block.data);
    m_blockSize = block.size;
}

MCImage::MCImage(const MCImage& other) {
    if (!other.m_block) return;
    HeapPtr<uint8_t> copy(static_cast<uint8_t*>(AllocBlock(other.m_blockSize)));
    if (!copy) return;
    std::memcpy(copy.get(), other.m_block.get(), other.m_blockSize);
    m_block = std::move(copy);
    m_blockSize = other.m_blockSize;
}

MCImage::MCImage(MCImage&& other) noexcept : m_block(std::move(other.m_block)), m_blockSize(other.m_blockSize) {
    other.m_blockSize = 0;
}

MCImage::~MCImage() = default;

quillon::ImageBlock MCImage::MakeBlankBlock(uint8_t bitsPerPixel, uint32_t width, uint32_t height) {
    if (!IsSupportedDepth(bitsPerPixel)) return {};
    quillon::ImageBlock block = AllocImageBlock(bitsPerPixel, width, height, 0, true);
    if (!block) return block;
    uint8_t* b = block.data.get();
    switch (bitsPerPixel) {
        case 8:
            Put32(b, kOffKind, kKindPalette8);
            WriteGreyPalette(b);
            WriteWindowAndRange(b, 128, 256, 0, 255);
            break;
        case 16: Put32(b, kOffKind, kKindGrey16); break;
        default:
            Put32(b, kOffKind, bitsPerPixel == 24 ? kKindRgb24 : kKindRgb32);
            WriteWindowAndRange(b, 128, 256, 0, 255);
            break;
    }
    return block;
}

uint8_t MCImage::Luma(uint8_t red, uint8_t green, uint8_t blue) {
    const double y = 0.299 * red + 0.587 * green + 0.114 * blue + 0.5;
    if (y >= 255.0) return 255;
    return y > 0.0 ? uint8_t(y) : 0;
}

void MCImage::ReplaceBlock(quillon::ImageBlock block) {
    m_block = std::move(block.data);
    m_blockSize = block.size;
}

// ---------------------------------------------------------------------------
// Header

uint32_t MCImage::GetWidth() const { return m_block ? Get32(m_block.get(), kOffWidth) : 0; }
uint32_t MCImage::GetHeight() const { return m_block ? Get32(m_block.get(), kOffHeight) : 0; }
uint8_t MCImage::GetBitsPerPixel() const { return m_block ? m_block.get()[kOffBits] : 0; }
uint32_t MCImage::GetKind() const { return m_block ? Get32(m_block.get(), kOffKind) : 0; }
bool MCImage::IsSigned() const { return m_block && m_block.get()[kOffSigned] != 0; }
bool MCImage::IsMonochrome1() const { return m_block && m_block.get()[kOffMonochrome1] != 0; }
void MCImage::SetMonochrome1(bool mark) {
    if (m_block) m_block.get()[kOffMonochrome1] = mark ? 1 : 0;
}
int32_t MCImage::GetWindowCenter() const { return m_block ? GetS32(m_block.get(), kOffCenter) : 0; }
int32_t MCImage::GetWindowWidth() const { return m_block ? GetS32(m_block.get(), kOffWindowWidth) : 0; }
void MCImage::SetWindow(int32_t center, int32_t width) {
    if (!m_block) return;
    PutS32(m_block.get(), kOffCenter, center);
    PutS32(m_block.get(), kOffWindowWidth, width);
}
int32_t MCImage::GetMin() const { return m_block ? GetS32(m_block.get(), kOffMin) : 0; }
int32_t MCImage::GetMax() const { return m_block ? GetS32(m_block.get(), kOffMax) : 0; }
uint32_t MCImage::GetPaletteCount() const { return m_block ? Get32(m_block.get(), kOffPaletteCount) : 0; }
uint32_t MCImage::GetDataSize() const { return m_block ? Get32(m_block.get(), kOffDataSize) : 0; }

uint8_t* MCImage::GetBits() {
    const uint64_t offset = PixelOffset(m_block.get(), m_blockSize);
    return offset ? m_block.get() + offset : nullptr;
}

const uint8_t* MCImage::GetBits() const { return const_cast<MCImage*>(this)->GetBits(); }

const uint8_t* MCImage::GetPalette() const {
    if (!m_block) return nullptr;
    const uint8_t bits = GetBitsPerPixel();
    if (bits == 8 || (bits == 16 && GetPaletteCount() > 0)) return m_block.get() + kHeader;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Palette, range, inversion

bool MCImage::IsColor() const {
    if (!m_block) return false;
    switch (GetBitsPerPixel()) {
        case 8: {
            const uint8_t* entry = m_block.get() + kHeader;
            for (uint32_t i = 0; i < kPalette8Entries; ++i, entry += 4)
                if (entry[0] != entry[1] || entry[1] != entry[2]) return true;
            return false;
        }
        case 16: return GetKind() == kKindPalette16;
        default: return true;
    }
}

bool MCImage::SetPalette(const uint8_t entries[1024]) {
    if (!m_block || !entries || GetBitsPerPixel() != 8) return false;
    std::memcpy(m_block.get() + kHeader, entries, kPalette8Bytes);
    return true;
}

void MCImage::UpdateRange() {
    if (m_block) UpdateBlockRange(m_block.get(), m_blockSize);
}

void MCImage::Invert() {
    uint8_t* bits = GetBits();
    if (!bits) return;
    const uint64_t dataSize = GetDataSize();
    switch (GetBitsPerPixel()) {
        case 8:
            if (IsColor()) {
                uint8_t* entry = m_block.get() + kHeader;
                for (uint32_t i = 0; i < kPalette8Entries; ++i, entry += 4)
                    for (int k = 0; k < 3; ++k) entry[k] = uint8_t(255 - entry[k]);
            } else {
                for (uint64_t i = 0; i < dataSize; ++i) bits[i] = uint8_t(255 - bits[i]);
            }
            break;
        case 16: {
            // max - clamp(s, min, max), kept to 16 bits. Samples are compared as the
            // image stores them (an unsigned 40000 is not a negative number).
            const int64_t min = GetMin(), max = GetMax();
            const bool isSigned = IsSigned();
            for (uint64_t i = 0; i < dataSize / 2; ++i) {
                const uint16_t raw = Get16(bits + 2 * i);
                int64_t s = isSigned ? int64_t(int16_t(raw)) : int64_t(raw);
                if (s < min)
                    s = min;
                else if (s > max)
                    s = max;
                Put16(bits + 2 * i, uint16_t(max - s));
            }
            break;
        }
        case 24:
        case 32: {
            const uint32_t step = GetBitsPerPixel() / 8;
            for (uint64_t i = 0; i + step <= dataSize; i += step)
                for (int k = 0; k < 3; ++k) bits[i + k] = uint8_t(255 - bits[i + k]);
            break;
        }
        default: break;
    }
}

// ---------------------------------------------------------------------------
// Conversion to 24 bits

uint32_t MCImage::ConvertTo24Bit() {
    const uint8_t* src = GetBits();
    if (!src) return 0;
    const uint8_t bits = GetBitsPerPixel();
    if (bits == 24) return m_blockSize;
    if (bits != 8 && bits != 16 && bits != 32) return 0;

    const uint8_t* header = m_block.get();
    quillon::ImageBlock block = AllocImageBlock(24, GetWidth(), GetHeight(), 0, false);
    if (!block) return 0;
    uint8_t* b = block.data.get();
    Put32(b, kOffKind, kKindRgb24);
    WriteWindowAndRange(b, 128, 256, 0, 255);
    b[kOffMonochrome1] = header[kOffMonochrome1];
    uint8_t* dst = b + kHeader;
    const uint64_t pixels = uint64_t(GetWidth()) * GetHeight();

    if (bits == 8) {
        const uint8_t* palette = header + kHeader;
        for (uint64_t i = 0; i < pixels; ++i, dst += 3) std::memcpy(dst, palette + 4 * size_t(src[i]), 3);
    } else if (bits == 16 && IsColor()) {
        // Samples beyond the palette are black.
        const uint8_t* palette = header + kHeader;
        const uint32_t count = GetPaletteCount();
        for (uint64_t i = 0; i < pixels; ++i, dst += 3) {
            const uint16_t s = Get16(src + 2 * i);
            if (s < count) {
                std::memcpy(dst, palette + 4 * size_t(s), 3);
            } else {
                dst[0] = dst[1] = dst[2] = 0;
            }
        }
    } else if (bits == 16) {
        const GreyWindow window = WindowOf(header);
        if (IsSigned()) {
            WindowToRgb<true>(src, pixels, dst, window);
        } else {
            WindowToRgb<false>(src, pixels, dst, window);
        }
    } else {
        for (uint64_t i = 0; i < pixels; ++i, dst += 3) std::memcpy(dst, src + 4 * i, 3);
    }

    UpdateBlockRange(b, block.size);
    const uint32_t size = block.size;
    ReplaceBlock(std::move(block));
    return size;
}

// ---------------------------------------------------------------------------
// Scaling

bool MCImage::Resample(uint32_t dstW, uint32_t dstH, int mode) {
    if (!GetBits() || !IsSupportedDepth(GetBitsPerPixel())) return false;
    if (mode == kNearest) return ResampleNearest(dstW, dstH);
    if (mode == kBilinear) return ResampleBilinear(dstW, dstH);
    return false;
}

bool MCImage::ResampleNearest(uint32_t dstW, uint32_t dstH) {
    const uint8_t* src = GetBits();
    const uint32_t srcW = GetWidth(), srcH = GetHeight();
    const bool empty = srcW == 0 || srcH == 0 || dstW == 0 || dstH == 0;
    quillon::ImageBlock block = NewBlockLike(m_block.get(), dstW, dstH, empty);
    if (!block) return false;
    if (!empty) {
        HeapPtr<uint32_t> cols(static_cast<uint32_t*>(AllocBlock(size_t(dstW) * sizeof(uint32_t))));
        HeapPtr<uint32_t> rows(static_cast<uint32_t*>(AllocBlock(size_t(dstH) * sizeof(uint32_t))));
        if (!cols || !rows) return false;
        const uint32_t bytesPerPixel = GetBitsPerPixel() / 8;
        const double sx = double(srcW) / double(dstW), sy = double(srcH) / double(dstH);
        for (uint32_t j = 0; j < dstW; ++j) cols.get()[j] = NearestIndex(j, sx, srcW - 1) * bytesPerPixel;
        for (uint32_t i = 0; i < dstH; ++i) rows.get()[i] = NearestIndex(i, sy, srcH - 1);
        uint8_t* dst = block.data.get() + (block.size - Get32(block.data.get(), kOffDataSize));
        switch (bytesPerPixel) {
            case 1: NearestPixels<1>(src, srcW, dst, dstW, dstH, cols.get(), rows.get()); break;
            case 2: NearestPixels<2>(src, srcW, dst, dstW, dstH, cols.get(), rows.get()); break;
            case 3: NearestPixels<3>(src, srcW, dst, dstW, dstH, cols.get(), rows.get()); break;
            default: NearestPixels<4>(src, srcW, dst, dstW, dstH, cols.get(), rows.get()); break;
        }
    }
    UpdateBlockRange(block.data.get(), block.size);
    ReplaceBlock(std::move(block));
    return true;
}

bool MCImage::ResampleBilinear(uint32_t dstW, uint32_t dstH) {
    const uint8_t bits = GetBitsPerPixel();
    // Colours held in a palette cannot be mixed.
    if ((bits == 8 && IsColor()) || (bits == 16 && GetKind() == kKindPalette16)) return ResampleNearest(dstW, dstH);

    const uint8_t* header = m_block.get();
    const uint8_t* src = GetBits();
    const uint32_t srcW = GetWidth(), srcH = GetHeight();
    const bool empty = srcW == 0 || srcH == 0 || dstW == 0 || dstH == 0;
    quillon::ImageBlock block;
    if (bits == 8) {
        // Grey through 24 bits and back through the luma: with red = green =
        // blue one channel gives all three.
        block = AllocImageBlock(8, dstW, dstH, 0, empty);
        if (!block) return false;
        uint8_t* b = block.data.get();
        Put32(b, kOffKind, kKindPalette8);
        WriteGreyPalette(b);
        b[kOffMonochrome1] = header[kOffMonochrome1];
        PutS32(b, kOffCenter, GetS32(header, kOffCenter));
        PutS32(b, kOffWindowWidth, GetS32(header, kOffWindowWidth));
    } else {
        block = NewBlockLike(header, dstW, dstH, empty);
        if (!block) return false;
    }

    if (!empty) {
        const uint32_t bytesPerPixel = bits == 8 ? 1 : bits / 8;
        HeapPtr<BilinearStep> cols = BilinearSteps(dstW, srcW, bytesPerPixel);
        HeapPtr<BilinearStep> rows = BilinearSteps(dstH, srcH, 1);
        if (!cols || !rows) return false;
        bool onColumns = true;
        for (uint32_t j = 0; j < dstW && onColumns; ++j) onColumns = cols.get()[j].f == 0.0;
        uint8_t* dst = block.data.get() + (block.size - Get32(block.data.get(), kOffDataSize));
        switch (bits) {
            case 8: {
                uint8_t grey[256], luma[256];
                for (uint32_t v = 0; v < 256; ++v) {
                    grey[v] = header[kHeader + 4 * v];
                    luma[v] = Luma(uint8_t(v), uint8_t(v), uint8_t(v));
                }
                BilinearGrey(src, srcW, dst, dstW, dstH, cols.get(), rows.get(), onColumns, grey, luma);
                break;
            }
            case 16:
                if (IsSigned()) {
                    BilinearWords<true>(src, srcW, dst, dstW, dstH, cols.get(), rows.get(), onColumns, GetMin(),
                                        GetMax());
                } else {
                    BilinearWords<false>(src, srcW, dst, dstW, dstH, cols.get(), rows.get(), onColumns, GetMin(),
                                         GetMax());
                }
                break;
            case 24: BilinearBytes<3>(src, srcW, dst, dstW, dstH, cols.get(), rows.get(), onColumns); break;
            default: BilinearBytes<4>(src, srcW, dst, dstW, dstH, cols.get(), rows.get(), onColumns); break;
        }
    }
    UpdateBlockRange(block.data.get(), block.size);
    ReplaceBlock(std::move(block));
    return true;
}

// ---------------------------------------------------------------------------
// Thumbnail canvas

bool MCImage::CenterOnCanvas() {
    const uint8_t* src = GetBits();
    const uint8_t bits = GetBitsPerPixel();
    if (!src || !IsSupportedDepth(bits)) return false;
    const uint32_t srcW = GetWidth(), srcH = GetHeight();
    const bool empty = srcW == 0 || srcH == 0;
    quillon::ImageBlock block = NewBlockLike(m_block.get(), kCanvas, kCanvas, empty);
    if (!block) return false;
    uint8_t* dst = block.data.get() + (block.size - Get32(block.data.get(), kOffDataSize));
    const uint32_t bytesPerPixel = bits / 8;

    if (!empty) {
        // Background: the bottom-right pixel (a 32-bit one with its fourth byte 0).
        uint8_t background[4] = {};
        std::memcpy(background, src + (uint64_t(srcW) * srcH - 1) * bytesPerPixel, bytesPerPixel);
        if (bytesPerPixel == 4) background[3] = 0;
        for (uint32_t i = 0; i < kCanvas * kCanvas; ++i)
            std::memcpy(dst + i * bytesPerPixel, background, bytesPerPixel);

        const int64_t dx = (int64_t(kCanvas) - srcW) / 2, dy = (int64_t(kCanvas) - srcH) / 2;
        const uint64_t srcX = dx < 0 ? uint64_t(-dx) : 0, srcY = dy < 0 ? uint64_t(-dy) : 0;
        const uint32_t dstX = dx > 0 ? uint32_t(dx) : 0, dstY = dy > 0 ? uint32_t(dy) : 0;
        const uint32_t copyW = std::min(srcW, kCanvas), copyH = std::min(srcH, kCanvas);
        for (uint32_t r = 0; r < copyH; ++r)
            std::memcpy(dst + (size_t(dstY + r) * kCanvas + dstX) * bytesPerPixel,
                        src + ((srcY + r) * srcW + srcX) * bytesPerPixel, size_t(copyW) * bytesPerPixel);
    }

    UpdateBlockRange(block.data.get(), block.size);
    ReplaceBlock(std::move(block));
    return true;
}
