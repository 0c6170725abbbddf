#include "image/SampleConversion.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

using quillon::AllocBlock;
using quillon::HeapPtr;

namespace {

// Matrices beyond this many pixels are refused before any size is computed,
// so that every size below (at most 4 bytes per pixel plus a few) fits in 64 bits.
constexpr uint64_t kMaxPixels = std::numeric_limits<uint64_t>::max() / 8;

template <class T>
HeapPtr<T> AllocBytes(uint64_t bytes) {
    if (bytes > std::numeric_limits<std::size_t>::max()) return nullptr;
    return HeapPtr<T>(static_cast<T*>(AllocBlock(std::size_t(bytes))));
}

// The first n bytes of the source into out, bytes the source does not hold as 0.
void CopyPadded(uint8_t* out, const uint8_t* src, uint64_t srcSize, uint64_t n) {
    const uint64_t stored = std::min(srcSize, n);
    if (stored) std::memcpy(out, src, std::size_t(stored));
    if (n > stored) std::memset(out + stored, 0, std::size_t(n - stored));
}

// The source when it holds at least `needed` bytes, else a zero-filled copy
// of that length (kept in `padded`); null when the copy cannot be made.
const uint8_t* WholeFrame(const uint8_t* src, uint64_t srcSize, uint64_t needed, HeapPtr<uint8_t>& padded) {
    if (srcSize >= needed) return src;
    padded = AllocBytes<uint8_t>(needed);
    if (!padded) return nullptr;
    CopyPadded(padded.get(), src, srcSize, needed);
    return padded.get();
}

inline uint8_t ClampByte(double v) {
    const int i = int(v);  // truncates toward zero; |v| stays far below the int range
    return i < 0 ? 0 : i > 255 ? 255 : uint8_t(i);
}

// Cb and Cr already centred (or not, for YBR_ICT).
inline void YCbCrToRgb(double y, double cb, double cr, uint8_t* rgb) {
    rgb[0] = ClampByte(y + 1.402 * cr);
    rgb[1] = ClampByte(y - 0.34414 * cb - 0.71414 * cr);
    rgb[2] = ClampByte(y + 1.772 * cb);
}

// Three planes of p bytes into R, G, B triples.
void Interleave3(const uint8_t* in, uint64_t p, uint8_t* out) {
    const uint8_t* a = in;
    const uint8_t* b = in + p;
    const uint8_t* c = in + 2 * p;
    for (uint64_t k = 0; k < p; ++k, out += 3) {
        out[0] = a[k];
        out[1] = b[k];
        out[2] = c[k];
    }
}

void YbrFullPlanar(const uint8_t* in, uint64_t p, uint8_t* out) {
    const uint8_t* y = in;
    const uint8_t* cb = in + p;
    const uint8_t* cr = in + 2 * p;
    for (uint64_t k = 0; k < p; ++k, out += 3) YCbCrToRgb(y[k], cb[k] - 128.0, cr[k] - 128.0, out);
}

void YbrFullInterleaved(const uint8_t* in, uint64_t p, uint8_t* out) {
    for (uint64_t k = 0; k < p; ++k, in += 3, out += 3) YCbCrToRgb(in[0], in[1] - 128.0, in[2] - 128.0, out);
}

// Bytes a 4:2:2 frame occupies: rows of 2 x columns bytes, the last pair of
// an odd row length still read as four bytes.
uint64_t Ybr422Extent(uint32_t rows, uint32_t columns, bool planar) {
    const uint64_t pairs = (uint64_t(columns) + 1) / 2;
    if (planar) return uint64_t(rows) * columns + 2 * uint64_t(rows) * pairs;
    return (uint64_t(rows) - 1) * 2 * columns + 4 * pairs;
}

// Interleaved: per pair of pixels Y0, Y1, Cb, Cr. Planar: a Y plane, then Cb
// and Cr planes with one value per pair of pixels of each row.
void Ybr422(const uint8_t* in, uint32_t rows, uint32_t columns, bool planar, double yOffset, uint8_t* out) {
    const uint64_t pairs = (uint64_t(columns) + 1) / 2;
    const uint64_t p = uint64_t(rows) * columns;
    for (uint64_t r = 0; r < rows; ++r) {
        if (planar) {
            const uint8_t* y = in + r * columns;
            const uint8_t* cb = in + p + r * pairs;
            const uint8_t* cr = in + p + (rows + r) * pairs;
            for (uint32_t x = 0; x < columns; ++x, out += 3)
                YCbCrToRgb(y[x] - yOffset, cb[x / 2] - 128.0, cr[x / 2] - 128.0, out);
        } else {
            const uint8_t* row = in + r * 2 * columns;
            for (uint32_t x = 0; x < columns; ++x, out += 3) {
                const uint8_t* pair = row + 4 * (x / 2);
                YCbCrToRgb(pair[x & 1] - yOffset, pair[2] - 128.0, pair[3] - 128.0, out);
            }
        }
    }
}

// Irreversible colour transform: chroma without the 128 offset; planar frames
// hold signed bytes, interleaved ones unsigned bytes.
void YbrIct(const uint8_t* in, uint64_t p, bool planar, uint8_t* out) {
    if (planar) {
        const int8_t* y = reinterpret_cast<const int8_t*>(in);
        const int8_t* cb = y + p;
        const int8_t* cr = y + 2 * p;
        for (uint64_t k = 0; k < p; ++k, out += 3) YCbCrToRgb(y[k], cb[k], cr[k], out);
    } else {
        for (uint64_t k = 0; k < p; ++k, in += 3, out += 3) YCbCrToRgb(in[0], in[1], in[2], out);
    }
}

// A, R, G, B (planes or per pixel) into R, G, B, A.
void Argb(const uint8_t* in, uint64_t p, bool planar, uint8_t* out) {
    if (planar) {
        for (uint64_t k = 0; k < p; ++k, out += 4) {
            out[0] = in[p + k];
            out[1] = in[2 * p + k];
            out[2] = in[3 * p + k];
            out[3] = in[k];
        }
    } else {
        for (uint64_t k = 0; k < p; ++k, in += 4, out += 4) {
            out[0] = in[1];
            out[1] = in[2];
            out[2] = in[3];
            out[3] = in[0];
        }
    }
}

// 255 - C - K, 255 - M - K, 255 - Y - K, 0, each modulo 256.
void Cmyk(const uint8_t* in, uint64_t p, bool planar, uint8_t* out) {
    const uint64_t step = planar ? 1 : 4;
    const uint64_t plane = planar ? p : 1;
    for (uint64_t k = 0; k < p; ++k, in += step, out += 4) {
        const uint8_t black = in[3 * plane];
        out[0] = uint8_t(255 - in[0] - black);
        out[1] = uint8_t(255 - in[plane] - black);
        out[2] = uint8_t(255 - in[2 * plane] - black);
        out[3] = 0;
    }
}

enum class Layout { None, Copy1, Rgb3, YbrFull3, YbrFullTriples, YbrFull422, YbrPartial422, YbrIct, Argb4, Cmyk4 };

// The conversion the transfer syntax class and the photometric
// interpretation call for; the first matching row decides.
Layout ChooseLayout(const FrameDescription& d) {
    const bool grey = d.pixel.IsMonochrome1() || d.pixel.IsMonochrome2() || d.pixel.IsPaletteColor();
    if (d.pixel.IsJPEG() || d.pixel.IsJPEGLossless()) {
        if (grey) return Layout::Copy1;
        if (d.IsRGB() || d.IsYBRFull422() || d.IsYBRPartial422()) return Layout::Rgb3;
        if (d.IsYBRFull()) return Layout::YbrFullTriples;  // the decoder delivers triples
        return Layout::None;
    }
    if (d.pixel.IsJPEG2000Lossy() || d.pixel.IsJPEG2000Lossless()) return grey ? Layout::Copy1 : Layout::Rgb3;
    if (d.IsRGB()) return Layout::Rgb3;
    if (d.pixel.IsARGB()) return Layout::Argb4;
    if (d.IsYBRFull()) return Layout::YbrFull3;
    if (d.IsYBRFull422()) return Layout::YbrFull422;
    if (d.IsYBRPartial422()) return Layout::YbrPartial422;
    if (d.IsYBRICT()) return Layout::YbrIct;
    if (d.pixel.IsCMYK()) return Layout::Cmyk4;
    if (grey) return Layout::Copy1;
    return Layout::None;
}

int32_t ClampToInt32(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

template <class T>
void ClampSamples(T* s, uint64_t n, T low, T high) {
    for (uint64_t i = 0; i < n; ++i) {
        if (s[i] < low)
            s[i] = low;
        else if (s[i] > high)
            s[i] = high;
    }
}

template <class T>
void ScanRange(const T* s, uint64_t n, int32_t& min, int32_t& max) {
    int32_t lo = min, hi = max;
    for (uint64_t i = 0; i < n; ++i) {
        const int32_t v = s[i];
        if (v < lo) lo = v;
        if (v > hi) hi = v;
    }
    min = lo;
    max = hi;
}

template <class T>
void ScanRangeExcept(const T* s, uint64_t n, T padding, int32_t& min, int32_t& max) {
    int32_t lo = min, hi = max;
    for (uint64_t i = 0; i < n; ++i) {
        if (s[i] == padding) continue;
        const int32_t v = s[i];
        if (v < lo) lo = v;
        if (v > hi) hi = v;
    }
    min = lo;
    max = hi;
}

}  // namespace

HeapPtr<uint8_t> ConvertFrameTo8Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize,
                                    uint64_t& outSize) {
    outSize = 0;
    if (!src || d.pixel.bitsAllocated != 8) return nullptr;
    const uint64_t p = d.Pixels();
    if (p == 0 || p > kMaxPixels) return nullptr;
    const Layout layout = ChooseLayout(d);
    if (layout == Layout::None) return nullptr;

    const bool planar = d.pixel.planarConfiguration == 1;
    uint64_t samples = 3;     // bytes per pixel in the output
    uint64_t needed = 3 * p;  // bytes of input read
    switch (layout) {
        case Layout::Copy1:
            samples = 1;
            needed = p;
            break;
        case Layout::Argb4:
        case Layout::Cmyk4:
            samples = 4;
            needed = 4 * p;
            break;
        case Layout::YbrFull422:
        case Layout::YbrPartial422: needed = Ybr422Extent(d.pixel.rows, d.pixel.columns, planar); break;
        default: break;
    }
    HeapPtr<uint8_t> out = AllocBytes<uint8_t>(samples * p);
    if (!out) return nullptr;

    if (layout == Layout::Copy1 || (layout == Layout::Rgb3 && !planar)) {
        CopyPadded(out.get(), src, srcSize, needed);
    } else {
        HeapPtr<uint8_t> padded;
        const uint8_t* in = WholeFrame(src, srcSize, needed, padded);
        if (!in) return nullptr;
        switch (layout) {
            case Layout::Rgb3: Interleave3(in, p, out.get()); break;
            case Layout::YbrFull3:
                if (planar)
                    YbrFullPlanar(in, p, out.get());
                else
                    YbrFullInterleaved(in, p, out.get());
                break;
            case Layout::YbrFullTriples: YbrFullInterleaved(in, p, out.get()); break;
            case Layout::YbrFull422: Ybr422(in, d.pixel.rows, d.pixel.columns, planar, 0.0, out.get()); break;
            case Layout::YbrPartial422: Ybr422(in, d.pixel.rows, d.pixel.columns, planar, 16.0, out.get()); break;
            case Layout::YbrIct: YbrIct(in, p, planar, out.get()); break;
            case Layout::Argb4: Argb(in, p, planar, out.get()); break;
            case Layout::Cmyk4: Cmyk(in, p, planar, out.get()); break;
            default: return nullptr;
        }
    }
    outSize = samples * p;
    return out;
}

HeapPtr<uint16_t> ConvertFrameTo16Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize,
                                      uint64_t& outSize) {
    outSize = 0;
    if (!src) return nullptr;
    if (d.pixel.bitsAllocated != 8 && d.pixel.bitsAllocated != 12 && d.pixel.bitsAllocated != 16) return nullptr;
    const uint64_t p = d.Pixels();
    if (p == 0 || p > kMaxPixels) return nullptr;
    HeapPtr<uint16_t> out = AllocBytes<uint16_t>(2 * p);
    if (!out) return nullptr;
    uint16_t* words = out.get();

    if (d.pixel.bitsAllocated == 8) {
        const uint64_t stored = std::min(srcSize, p);
        for (uint64_t k = 0; k < stored; ++k) words[k] = src[k];
        std::fill(words + stored, words + p, uint16_t(0));
    } else if (d.pixel.bitsAllocated == 16) {
        // Values are held little endian, as the machine holds them.
        CopyPadded(reinterpret_cast<uint8_t*>(words), src, srcSize, 2 * p);
    } else {
        // Two samples in three bytes b0 b1 b2: b0 + low nibble of b1, then high nibble of b1 + b2.
        const uint64_t pairs = p / 2;
        HeapPtr<uint8_t> padded;
        const uint8_t* in = WholeFrame(src, srcSize, 3 * pairs + (p % 2 ? 2 : 0), padded);
        if (!in) return nullptr;
        for (uint64_t g = 0; g < pairs; ++g, in += 3) {
            words[2 * g] = uint16_t(in[0] | (in[1] & 0x0F) << 8);
            words[2 * g + 1] = uint16_t(in[1] >> 4 | in[2] << 4);
        }
        if (p % 2) words[p - 1] = uint16_t(in[0] | (in[1] & 0x0F) << 8);
    }
    // Signed samples narrower than their word carry their sign in bit
    // (Bits Stored - 1); the bits above it are undefined (overlays, a codec's
    // unsigned output) and are replaced by copies of that bit.
    const int stored = d.pixel.bitsStored;
    if (d.pixel.pixelRepresentation == 1 && stored > 0 && stored < 16) {
        const uint16_t sign = uint16_t(1u << (stored - 1));
        const uint16_t high = uint16_t(0xFFFFu << stored);
        for (uint64_t k = 0; k < p; ++k)
            words[k] = (words[k] & sign) ? uint16_t(words[k] | high) : uint16_t(words[k] & ~high);
    }
    outSize = 2 * p;
    return out;
}

bool SampleClampBounds(const FrameDescription& d, int32_t& low, int32_t& high) {
    if (d.pixelPaddingValue || !d.smallestPixelValue || !d.largestPixelValue ||
        (!*d.smallestPixelValue && !*d.largestPixelValue))
        return false;
    // Bounds beyond what a sample can hold are taken at the nearest value it can.
    low = *d.smallestPixelValue;
    high = *d.largestPixelValue;
    if (d.pixel.pixelRepresentation > 0) {
        low = std::clamp(low, -32768, 32767);
        high = std::clamp(high, -32768, 32767);
    } else {
        if (low < 0) low &= 0xFFFF;
        if (high < 0) high &= 0xFFFF;
        low = std::min(low, 65535);
        high = std::min(high, 65535);
    }
    return true;
}

SampleRange ScanSampleRange16(const FrameDescription& d, uint16_t* samples, uint64_t byteCount) {
    const bool isSigned = d.pixel.pixelRepresentation > 0;
    SampleRange range{268435455, -268435455, isSigned};
    const uint64_t n = samples ? byteCount / 2 : 0;
    int16_t* signedSamples = reinterpret_cast<int16_t*>(samples);

    if (d.pixelPaddingValue) {
        const uint16_t padding = uint16_t(*d.pixelPaddingValue);
        if (isSigned)
            ScanRangeExcept<int16_t>(signedSamples, n, int16_t(padding), range.min, range.max);
        else
            ScanRangeExcept<uint16_t>(samples, n, padding, range.min, range.max);
    } else {
        if (int32_t low = 0, high = 0; SampleClampBounds(d, low, high)) {
            if (isSigned)
                ClampSamples<int16_t>(signedSamples, n, int16_t(low), int16_t(high));
            else
                ClampSamples<uint16_t>(samples, n, uint16_t(low), uint16_t(high));
        }
        if (isSigned)
            ScanRange<int16_t>(signedSamples, n, range.min, range.max);
        else
            ScanRange<uint16_t>(samples, n, range.min, range.max);
    }

    if (!isSigned) {
        if (range.max <= 254) {
            range.max = 255;
            range.min = 0;
        } else if (range.max == 255 || range.max < range.min) {
            range.min = 0;
        }
    }
    return range;
}

DisplayWindow64 ComputeDisplayWindow64(const FrameDescription& d, int64_t max, int64_t min) {
    // 64-bit arithmetic: the range of extreme bounds does not fit in 32 bits.
    int64_t low = min, high = max;
    if (low >= 0 && high <= 255) {
        low = 0;
        high = 255;
    }
    const int64_t range = high - low + 1;
    const int64_t middle = low + (high - low) / 2;
    DisplayWindow64 window{middle, range};
    if (!d.pixel.hasWindow) return window;

    double center = d.pixel.windowCenter;
    double width = d.pixel.windowWidth;
    if (d.pixel.hasRescale) {
        // Slope and intercept may be huge, infinite or NaN: stay in double
        // until the result is known to lie in the range.
        const double slope = d.pixel.rescaleSlope == 0.0 ? 1.0 : d.pixel.rescaleSlope;
        center = std::trunc((center - d.pixel.rescaleIntercept) / slope);
        width = std::trunc(width / std::fabs(slope));
    }
    // A centre outside the range (or NaN) becomes the midpoint, a width over
    // twice the range (or NaN) the range.
    if (center >= double(low - range / 2) && center <= double(high + range / 2)) window.center = int64_t(center);
    if (width <= double(2 * range))
        window.width = width <= -9.2e18 ? std::numeric_limits<int64_t>::min() : int64_t(width);
    return window;
}

DisplayWindow ComputeDisplayWindow(const FrameDescription& d, int32_t max, int32_t min) {
    const DisplayWindow64 window = ComputeDisplayWindow64(d, max, min);
    return {ClampToInt32(window.center), ClampToInt32(window.width)};
}

SampleForm SampleFormOf(const FrameDescription& d) {
    const bool grey = d.pixel.IsMonochrome1() || d.pixel.IsMonochrome2();
    const int bits = d.pixel.bitsAllocated;
    if (d.floatSamples) return d.Samples() == 1 ? SampleForm::WideGrey : SampleForm::Direct;
    if (bits == 1 && d.Samples() == 1 && grey) return SampleForm::Bits1;
    if ((bits == 16 || bits == 32) && d.Samples() >= 3 && !grey && !d.pixel.IsPaletteColor())
        return SampleForm::NarrowColour;
    if (bits == 32 && d.Samples() == 1 && grey) return SampleForm::WideGrey;
    return SampleForm::Direct;
}

HeapPtr<uint8_t> UnpackBitsTo8Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize, uint64_t& outSize) {
    outSize = 0;
    const uint64_t p = d.Pixels();
    if (!src || p == 0 || p > kMaxPixels) return nullptr;
    HeapPtr<uint8_t> out = AllocBytes<uint8_t>(p);
    if (!out) return nullptr;
    const uint64_t stored = std::min(p, srcSize * 8);
    for (uint64_t k = 0; k < stored; ++k) out.get()[k] = (src[k / 8] >> (k % 8)) & 1 ? 255 : 0;
    if (p > stored) std::memset(out.get() + stored, 0, std::size_t(p - stored));
    outSize = p;
    return out;
}

FrameDescription NarrowedDescription(const FrameDescription& d) {
    FrameDescription narrowed = d;
    narrowed.pixel.bitsAllocated = 8;
    narrowed.pixel.bitsStored = 8;
    narrowed.pixel.pixelRepresentation = 0;
    narrowed.floatSamples = false;
    return narrowed;
}

HeapPtr<uint8_t> NarrowColourTo8Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize,
                                    uint64_t& outSize) {
    outSize = 0;
    const int bits = d.pixel.bitsAllocated;
    const uint64_t p = d.Pixels();
    if (!src || (bits != 16 && bits != 32) || p == 0 || p > kMaxPixels) return nullptr;
    const unsigned sampleBytes = unsigned(bits / 8);
    const uint64_t n = p * std::min(d.Samples(), 4u);
    HeapPtr<uint8_t> out = AllocBytes<uint8_t>(n);
    if (!out) return nullptr;
    // The top 8 of the stored bits.
    const int stored = d.pixel.bitsStored > 8 && d.pixel.bitsStored <= bits ? d.pixel.bitsStored : bits;
    const int shift = stored - 8;
    const uint64_t whole = std::min(n, srcSize / sampleBytes);
    for (uint64_t k = 0; k < whole; ++k) {
        uint32_t v = 0;
        std::memcpy(&v, src + k * sampleBytes, sampleBytes);  // little endian, as the machine holds it
        out.get()[k] = uint8_t(v >> shift);
    }
    if (n > whole) std::memset(out.get() + whole, 0, std::size_t(n - whole));
    outSize = n;
    return out;
}

namespace {

// Sample k of a wide grey frame as a double (exact for every 32-bit integer).
double WideSample(const FrameDescription& d, const uint8_t* src, uint64_t k) {
    if (d.floatSamples && d.pixel.bitsAllocated == 64) {
        double v;
        std::memcpy(&v, src + 8 * k, 8);
        return v;
    }
    if (d.floatSamples) {
        float v;
        std::memcpy(&v, src + 4 * k, 4);
        return v;
    }
    uint32_t raw;
    std::memcpy(&raw, src + 4 * k, 4);
    const int stored = d.pixel.bitsStored > 0 && d.pixel.bitsStored < 32 ? d.pixel.bitsStored : 32;
    if (stored < 32) {
        const uint32_t mask = (uint32_t(1) << stored) - 1;
        raw &= mask;
        if (d.pixel.pixelRepresentation == 1 && (raw >> (stored - 1)) & 1) raw |= ~mask;
    }
    return d.pixel.pixelRepresentation == 1 ? double(int32_t(raw)) : double(raw);
}

}  // namespace

WideGreyWords ConvertWideGreyTo16Bit(const FrameDescription& d, const uint8_t* src, uint64_t srcSize) {
    WideGreyWords result;
    const unsigned sampleBytes = d.floatSamples && d.pixel.bitsAllocated == 64 ? 8 : 4;
    if (!src || (d.pixel.bitsAllocated != 32 && !(d.floatSamples && d.pixel.bitsAllocated == 64))) return result;
    const uint64_t p = d.Pixels();
    if (p == 0 || p > kMaxPixels) return result;
    HeapPtr<uint16_t> out = AllocBytes<uint16_t>(2 * p);
    if (!out) return result;
    const uint64_t whole = std::min(p, srcSize / sampleBytes);
    const bool isSigned = d.floatSamples || d.pixel.pixelRepresentation == 1;
    auto sample = [&](uint64_t k) { return k < whole ? WideSample(d, src, k) : 0.0; };

    // The range, as ScanSampleRange16 finds it for 16-bit samples.
    const bool clamp = !d.pixelPaddingValue && d.smallestPixelValue && d.largestPixelValue &&
                       (*d.smallestPixelValue || *d.largestPixelValue);
    double clampLow = clamp ? *d.smallestPixelValue : 0, clampHigh = clamp ? *d.largestPixelValue : 0;
    if (clamp && !isSigned) {
        clampLow = uint32_t(*d.smallestPixelValue);
        clampHigh = uint32_t(*d.largestPixelValue);
    }
    auto shown = [&](double v) { return clamp ? std::clamp(v, clampLow, clampHigh) : v; };
    // The padding value read as a sample of the frame (its 32 bits as stored).
    std::optional<double> padding;
    if (d.pixelPaddingValue && !d.floatSamples) {
        uint8_t raw[4];
        std::memcpy(raw, &*d.pixelPaddingValue, 4);
        padding = WideSample(d, raw, 0);
    }
    double min = std::numeric_limits<double>::infinity(), max = -min;
    for (uint64_t k = 0; k < p; ++k) {
        const double v = sample(k);
        // NaN and the infinities have no place in the range: NaN is shown
        // as its lowest end, an infinity as the end on its side.
        if (!std::isfinite(v) || (padding && v == *padding)) continue;
        min = std::min(min, shown(v));
        max = std::max(max, shown(v));
    }
    if (!(min <= max)) min = max = 0;  // no sample counted
    if (!isSigned) {
        if (max <= 254) {
            max = 255;
            min = 0;
        } else if (max == 255) {
            min = 0;
        }
    }

    // The window in sample units: [low, high] from black to white, as the
    // 16-bit display conversion reads a centre and width.
    double low = min, high = max;
    DisplayWindow64 window{0, 0};
    if (d.floatSamples) {
        // The file's window as it writes it (float images often window a
        // range of a few units); a window that is not a finite positive
        // width leaves the sample range.
        const double centre = d.pixel.windowCenterValue, width = d.pixel.windowWidthValue;
        if (d.pixel.hasWindow && width > 0 && std::isfinite(width) && std::isfinite(centre) &&
            std::isfinite(centre - width / 2) && std::isfinite(centre + width / 2)) {
            low = centre - width / 2.0;
            high = centre + width / 2.0;
        }
    } else {
        window = ComputeDisplayWindow64(d, int64_t(max), int64_t(min));
        if (window.width > 0) {
            low = double(window.center - window.width / 2 + 1);
            high = double(window.center + window.width / 2);
        }
    }

    // Samples to words: shifted when the range fits, else spread.
    const bool shift = !d.floatSamples && max - min <= 65535.0;
    // Doubles as far apart as their whole range overflow their difference:
    // such a range is measured in halves.
    const double half = std::isfinite(max - min) ? 1.0 : 0.5;
    const double scale = shift ? 1.0 : max > min ? 65535.0 / (max * half - min * half) : 1.0;
    const auto toWord = [&](double v) { return (v * half - min * half) * scale; };
    for (uint64_t k = 0; k < p; ++k) {
        double v = shown(sample(k));
        if (std::isnan(v)) v = min;
        const double w = toWord(v) + (shift ? 0.0 : 0.5);
        out.get()[k] = !(w > 0.0) ? 0 : w >= 65535.0 ? 65535 : uint16_t(w);
    }
    // The window in words: its ends mapped as the samples are. A window of
    // width 1 or less (ends that meet) still separates its two sides.
    // A window far outside the samples is kept within reach of 64-bit words.
    const double reach = 1e15;
    const double wordLow = std::clamp(toWord(low), -reach, reach), wordHigh = std::clamp(toWord(high), -reach, reach);
    const int64_t centre = int64_t(std::floor((wordLow + wordHigh) / 2));
    const int64_t width = std::max<int64_t>(2, int64_t(std::llround(wordHigh - wordLow)) + 1);
    if (shift) {
        // The window the 16-bit conversion would read, moved by the shift (a
        // width of 0 or less: the range).
        result.window = {ClampToInt32(window.center - int64_t(min)), ClampToInt32(window.width)};
    } else {
        result.window = {ClampToInt32(centre), ClampToInt32(width)};
    }
    result.max = shift ? int32_t(max - min) : 65535;
    result.words = std::move(out);
    result.byteCount = 2 * p;
    return result;
}

int DisplayDepth(const FrameDescription& d) {
    const int bits = d.pixel.bitsAllocated & 0xFF;
    if (bits == 12) return 16;
    if (bits != 8) return bits;
    if (d.pixel.IsPaletteColor() || d.pixel.IsMonochrome1() || d.pixel.IsMonochrome2()) return 8;
    if (d.pixel.IsARGB() || d.pixel.IsCMYK()) return 32;
    return 24;
}
