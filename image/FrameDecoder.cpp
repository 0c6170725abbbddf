#include "image/FrameDecoder.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>
#include <vector>

#include "dicom/DicomFile.h"
#include "image/CodecTable.h"
#include "image/FrameCodecs.h"
#include "image/SampleConversion.h"
#include "image/ThumbnailBitmap.h"

uint64_t DefaultImageCacheBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    const uint64_t physical = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
    return std::clamp<uint64_t>(physical / 256, uint64_t(16) << 20, uint64_t(64) << 20);
}

namespace {

bool IsNative(quillon::Compression compression) {
    return compression == quillon::Compression::None || compression == quillon::Compression::Unknown;
}

quillon::Status NoMemory() {
    return quillon::Status::Fail(quillon::Reason::OverBudget, "There is not enough memory to decode the frame.");
}

uint32_t CeilShift(uint32_t side, unsigned shift) {
    return uint32_t((uint64_t(side) + (uint64_t(1) << shift) - 1) >> shift);
}

// The most a thumbnail's frame is reduced: its long side keeps at least the
// thumbnail's 128 pixels where it has them.
unsigned MostReduction(const FrameDescription& d) {
    const uint32_t longSide = std::max(d.pixel.rows, d.pixel.columns);
    unsigned shift = 0;
    while (shift < 31 && CeilShift(longSide, shift + 1) >= MCImage::kThumbnailSize) ++shift;
    return shift;
}

// Whether the display conversion of such frames gives bytes (grey or palette
// indices, RGB, four samples) rather than 16-bit words.
bool BytePath(const FrameDescription& d, bool native) {
    const int depth = DisplayDepth(d);
    return depth == 8 || depth == 24 || (native && depth == 32);
}

// Bytes a pixel takes in the display conversion, at most (as FrameDecodePeak
// counts them).
uint64_t DisplayBytes(const FrameDescription& d) { return DecodedSamples(d) == 1 ? 2 : 4; }

// Rows handed over at once by the band decoders: at least one output row of
// the reduction.
uint32_t BandRows(unsigned shift) { return std::max<uint32_t>(16, uint32_t(1) << shift); }

// What a decode in bands takes at its peak: two bands of the stored rows (the
// rows read or decoded and a codec's own copy) and their display conversion,
// then the reduced image three times over (as it is averaged, as an image,
// and the thumbnail's copy).
uint64_t BandPeak(const FrameDescription& d, unsigned shift) {
    const FrameDescription reduced = ReducedDescription(d, shift);
    const uint64_t bandPixels = uint64_t(BandRows(shift)) * d.pixel.columns;
    const uint64_t stored = bandPixels * DecodedSamples(d) * std::max<uint64_t>(1, (d.pixel.bitsAllocated + 7) / 8);
    return 2 * stored + bandPixels * DisplayBytes(d) + 3 * reduced.Pixels() * DisplayBytes(d);
}

// One row of 16-bit little-endian samples added to per-column sums in a
// single pass: the sign extension and clamping of ConvertFrameTo16Bit and
// ScanSampleRange16 and the frame's extremes (a padding value left out) done
// on the fly, so a band needs no copy. Column sums over at most 2^15 rows of
// 16-bit samples fit in 32 bits.
template <bool Signed, bool Padding, bool Clamp>
void AddWordRow(const uint8_t* row, uint32_t columns, unsigned extend, uint16_t padding, int32_t low, int32_t high,
                int32_t* columnSums, int32_t& lowest, int32_t& highest) {
    int32_t lo = lowest, hi = highest;
    for (uint32_t x = 0; x < columns; ++x) {
        uint16_t word;
        std::memcpy(&word, row + 2 * uint64_t(x), 2);
        if (Signed) word = uint16_t(int16_t(uint16_t(word << extend)) >> extend);
        int32_t v = Signed ? int32_t(int16_t(word)) : int32_t(word);
        if (Clamp) v = std::clamp(v, low, high);
        if (Padding) {
            const bool counted = word != padding;
            lo = counted && v < lo ? v : lo;
            hi = counted && v > hi ? v : hi;
        } else {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        columnSums[x] += v;
    }
    lowest = lo;
    highest = hi;
}

using AddWordRowFn = void (*)(const uint8_t*, uint32_t, unsigned, uint16_t, int32_t, int32_t, int32_t*, int32_t&,
                              int32_t&);

// Reduces rows of a frame, as they come, to a frame 2^shift times smaller
// on each side: each band is converted for display, then every square of
// 2^shift x 2^shift pixels averaged into one (palette indices are not
// averaged: the square's first pixel is kept). The range of 16-bit samples
// is that of the whole frame at full resolution, so the window, when the
// file gives none, is the one the full-size image would get.
class BandAverager : public FrameRowSink {
public:
    // `shown`: the frame as the file describes it; `asDecoded`: the layout of
    // the rows; `reduce`: the reduction wanted, of which the codec may have
    // done part already (Begin tells).
    // `stop`: when it turns true, the next band ends the decode.
    BandAverager(const FrameDescription& shown, const FrameDescription& asDecoded, unsigned reduce, bool native,
                 uint64_t nativeRowBytes, const std::atomic<bool>& stop)
        : m_shown(shown),
          m_band(asDecoded),
          m_reduce(reduce),
          m_native(native),
          m_nativeRowBytes(nativeRowBytes),
          m_stop(stop) {}

    bool Begin(uint32_t columns, uint32_t rows, bool colourConverted) override {
        // What the codec reduced already.
        unsigned done = 0;
        while (done < m_reduce && (CeilShift(m_shown.pixel.columns, done) != columns ||
                                   CeilShift(m_shown.pixel.rows, done) != rows))
            ++done;
        if (CeilShift(m_shown.pixel.columns, done) != columns || CeilShift(m_shown.pixel.rows, done) != rows)
            return false;
        m_shift = m_reduce - done;
        m_band.colourConverted = colourConverted;
        m_band.pixel.columns = columns;
        m_columns = columns;
        m_rows = rows;
        m_depth = DisplayDepth(m_shown);
        m_words = !BytePath(m_shown, m_native);
        m_channels = m_words ? 1 : unsigned(m_depth / 8);
        m_subsample = m_shown.pixel.IsPaletteColor();
        m_outColumns = CeilShift(columns, m_shift);
        m_outRows = CeilShift(rows, m_shift);
        const unsigned sampleBytes = m_band.pixel.bitsAllocated <= 8 ? 1 : m_band.pixel.bitsAllocated <= 16 ? 2 : 4;
        m_rowBytes = m_native ? m_nativeRowBytes : uint64_t(columns) * DecodedSamples(m_band) * sampleBytes;
        const bool grey = m_band.pixel.IsMonochrome1() || m_band.pixel.IsMonochrome2() || m_band.pixel.IsPaletteColor();
        m_asStored = !m_words && m_band.pixel.bitsAllocated == 8 &&
                     ((m_channels == 1 && grey && m_band.Samples() == 1) ||
                      (m_channels == 3 && m_band.IsRGB() && m_band.Samples() == 3 && m_band.pixel.planarConfiguration != 1)) &&
                     m_rowBytes == uint64_t(columns) * m_channels;
        // 16-bit grey rows are summed as they come (SumWordRow).
        m_directWords = m_words && !m_subsample && m_band.pixel.bitsAllocated == 16 && DecodedSamples(m_band) == 1 &&
                        m_rowBytes == uint64_t(columns) * 2 && m_shift <= 15;
        if (m_directWords) {
            m_columnSums.assign(columns, 0);
            const int stored = m_band.pixel.bitsStored;
            m_extend = m_band.pixel.pixelRepresentation == 1 && stored > 0 && stored < 16 ? unsigned(16 - stored) : 0;
            const bool clamp = SampleClampBounds(m_band, m_clampLow, m_clampHigh);
            const bool padding = m_band.pixelPaddingValue.has_value();
            m_padding = padding ? uint16_t(*m_band.pixelPaddingValue) : 0;
            // The row kernel for the samples' sign and what leaves values out
            // or bounds them: a padding value and clamping never go together
            // (SampleClampBounds).
            static constexpr AddWordRowFn kKernels[2][3] = {
                {AddWordRow<false, false, false>, AddWordRow<false, true, false>, AddWordRow<false, false, true>},
                {AddWordRow<true, false, false>, AddWordRow<true, true, false>, AddWordRow<true, false, true>}};
            m_addWordRow = kKernels[m_band.pixel.pixelRepresentation > 0 ? 1 : 0][padding ? 1 : clamp ? 2 : 0];
        }
        m_outBytes = uint64_t(m_outColumns) * m_outRows * m_channels * (m_words ? 2 : 1);
        m_out.reset(static_cast<uint8_t*>(quillon::AllocBlock(std::size_t(m_outBytes))));
        if (!m_out) return false;
        std::memset(m_out.get(), 0, std::size_t(m_outBytes));
        m_sums.assign(std::size_t(m_outColumns) * m_channels, 0);
        return true;
    }

    bool Band(const uint8_t* rows, uint32_t first, uint32_t count) override {
        if (m_stop.load(std::memory_order_relaxed)) {
            m_stopped = true;
            return false;
        }
        if (!m_out || count == 0) return true;
        m_band.pixel.rows = count;
        uint64_t size = 0;
        quillon::HeapPtr<uint8_t> bytes;
        quillon::HeapPtr<uint16_t> words;
        if (m_directWords) {
            // Read in the row loop below.
        } else if (m_words) {
            words = ConvertFrameTo16Bit(m_band, rows, m_rowBytes * count, size);
            if (!words) return Fail();
            ScanSampleRange16(m_band, words.get(), size);  // clamps as the full frame's scan does
            Extremes(words.get(), uint64_t(count) * m_columns);
        } else if (!m_asStored) {
            bytes = ConvertFrameTo8Bit(m_band, rows, m_rowBytes * count, size);
            if (!bytes) return Fail();
        }
        // Grey, palette indices and interleaved RGB of 8 bits are shown as stored.
        const uint8_t* shown = m_asStored ? rows : bytes.get();
        const bool isSigned = m_band.pixel.pixelRepresentation > 0;
        for (uint32_t r = 0; r < count; ++r) {
            const uint32_t y = first + r;
            const uint32_t outRow = y >> m_shift;
            if (outRow != m_sumRow) Flush();
            m_sumRow = outRow;
            ++m_sumRows;
            if (m_subsample && (y & ((1u << m_shift) - 1)) != 0) continue;
            if (m_directWords) {
                SumWords(rows + uint64_t(r) * m_rowBytes);
                continue;
            }
            if (!m_words && !m_subsample) {
                // The common case, without a test per pixel.
                const uint8_t* in = shown + uint64_t(r) * m_columns * m_channels;
                int64_t* sums = m_sums.data();
                if (m_channels == 1) {
                    for (uint32_t x = 0; x < m_columns; ++x) sums[x >> m_shift] += in[x];
                } else {
                    for (uint32_t x = 0; x < m_columns; ++x)
                        for (unsigned c = 0; c < m_channels; ++c)
                            sums[(x >> m_shift) * m_channels + c] += in[uint64_t(x) * m_channels + c];
                }
                continue;
            }
            for (uint32_t x = 0; x < m_columns; ++x) {
                const uint32_t outColumn = x >> m_shift;
                if (m_subsample && (x & ((1u << m_shift) - 1)) != 0) continue;
                int64_t* sum = &m_sums[std::size_t(outColumn) * m_channels];
                const uint64_t at = uint64_t(r) * m_columns + x;
                if (m_words) {
                    const uint16_t v = words.get()[at];
                    sum[0] += isSigned ? int64_t(int16_t(v)) : int64_t(v);
                } else {
                    for (unsigned c = 0; c < m_channels; ++c) sum[c] += shown[at * m_channels + c];
                }
            }
        }
        if (first + count >= m_rows) Flush();
        return true;
    }

    bool Failed() const { return m_failed; }
    bool Stopped() const { return m_stopped; }
    // The reduced display samples, m_outColumns x m_outRows.
    quillon::HeapPtr<uint8_t> TakeOutput(uint64_t& size) {
        Flush();
        size = m_outBytes;
        return std::move(m_out);
    }
    // The range of the full frame's 16-bit samples, as ScanSampleRange16 gives it.
    SampleRange Range() const {
        uint16_t extremes[2] = {uint16_t(m_low), uint16_t(m_high)};
        return ScanSampleRange16(m_band, extremes, m_low <= m_high ? sizeof extremes : 0);
    }
    uint32_t OutColumns() const { return m_outColumns; }
    uint32_t OutRows() const { return m_outRows; }
    bool Words() const { return m_words; }
    int Depth() const { return m_depth; }

private:
    bool Fail() {
        m_failed = true;
        return false;
    }
    // The frame's extremes, left out as the range scan leaves them out.
    void Extremes(const uint16_t* words, uint64_t n) {
        const bool isSigned = m_band.pixel.pixelRepresentation > 0;
        for (uint64_t k = 0; k < n; ++k) {
            if (m_band.pixelPaddingValue && words[k] == uint16_t(*m_band.pixelPaddingValue)) continue;
            const int32_t v = isSigned ? int32_t(int16_t(words[k])) : int32_t(words[k]);
            m_low = std::min(m_low, v);
            m_high = std::max(m_high, v);
        }
    }
    void SumWords(const uint8_t* row) {
        m_addWordRow(row, m_columns, m_extend, m_padding, m_clampLow, m_clampHigh, m_columnSums.data(), m_low, m_high);
    }
    // Writes the averages of the output row being summed.
    void Flush() {
        if (m_sumRows == 0 || !m_out || m_sumRow >= m_outRows) {
            m_sumRows = 0;
            std::fill(m_columnSums.begin(), m_columnSums.end(), 0);
            return;
        }
        if (m_directWords) {
            // Column sums into the sums of the output row's squares.
            for (uint32_t x = 0; x < m_columns; ++x) {
                m_sums[x >> m_shift] += m_columnSums[x];
                m_columnSums[x] = 0;
            }
        }
        const uint64_t rowAt = uint64_t(m_sumRow) * m_outColumns * m_channels;
        for (uint32_t ox = 0; ox < m_outColumns; ++ox) {
            const uint64_t width = std::min<uint64_t>(uint64_t(1) << m_shift, m_columns - (uint64_t(ox) << m_shift));
            const int64_t n = m_subsample ? 1 : int64_t(width * m_sumRows);
            for (unsigned c = 0; c < m_channels; ++c) {
                int64_t& sum = m_sums[std::size_t(ox) * m_channels + c];
                // Rounded to the nearest, halves away from zero.
                const int64_t mean = sum >= 0 ? (sum + n / 2) / n : -((-sum + n / 2) / n);
                if (m_words)
                    reinterpret_cast<uint16_t*>(m_out.get())[rowAt + uint64_t(ox) * m_channels + c] = uint16_t(mean);
                else
                    m_out.get()[rowAt + uint64_t(ox) * m_channels + c] = uint8_t(mean);
                sum = 0;
            }
        }
        m_sumRows = 0;
    }

    const FrameDescription& m_shown;
    FrameDescription m_band;
    unsigned m_reduce;
    bool m_native;
    uint64_t m_nativeRowBytes;
    unsigned m_shift = 0;
    uint32_t m_columns = 0, m_rows = 0;
    int m_depth = 8;
    bool m_words = false;
    unsigned m_channels = 1;
    bool m_subsample = false;
    bool m_asStored = false;
    bool m_directWords = false;
    std::vector<int32_t> m_columnSums;
    unsigned m_extend = 0;
    uint16_t m_padding = 0;
    AddWordRowFn m_addWordRow = nullptr;
    int32_t m_clampLow = 0, m_clampHigh = 0;
    uint32_t m_outColumns = 0, m_outRows = 0;
    uint64_t m_rowBytes = 0;
    uint64_t m_outBytes = 0;
    quillon::HeapPtr<uint8_t> m_out;
    std::vector<int64_t> m_sums;
    uint32_t m_sumRow = 0;
    uint32_t m_sumRows = 0;
    int32_t m_low = INT32_MAX, m_high = INT32_MIN;
    bool m_failed = false;
    const std::atomic<bool>& m_stop;
    bool m_stopped = false;
};

}  // namespace

// A share of the decode budget, given back when it goes.
class quillon::FrameDecoder::BudgetLease {
public:
    explicit BudgetLease(FrameDecoder& decoder) : m_decoder(decoder) {}
    BudgetLease(const BudgetLease&) = delete;
    BudgetLease& operator=(const BudgetLease&) = delete;
    ~BudgetLease() {
        if (m_bytes) m_decoder.ReleaseBudget(m_bytes);
    }
    quillon::Status Take(uint64_t bytes) {
        quillon::Status status = m_decoder.ReserveBudget(bytes);
        if (status) m_bytes = bytes;
        return status;
    }

private:
    FrameDecoder& m_decoder;
    uint64_t m_bytes = 0;
};

uint64_t quillon::FrameDecoder::DecodePeak() const {
    return FrameDecodePeak(m_description, m_route == Route::Codec ? FrameCodecWorkingBytes(m_description) : 0);
}

quillon::Status quillon::FrameDecoder::ReserveBudget(uint64_t bytes) {
    if (quillon::Status status = CheckFrameBudget(m_description, bytes, m_decodeBudget); !status) return status;
    std::unique_lock lock(m_budgetMutex);
    m_budgetFreed.wait(lock, [&] { return m_budgetInUse + bytes <= m_decodeBudget; });
    m_budgetInUse += bytes;
    m_budgetHighWater = std::max(m_budgetHighWater, m_budgetInUse);
    return {};
}

uint64_t quillon::FrameDecoder::BudgetHighWater() const {
    std::lock_guard lock(m_budgetMutex);
    return m_budgetHighWater;
}

quillon::Status quillon::FrameDecoder::OverBudgetReason(std::size_t frame, quillon::Status budget) const {
    if (m_route == Route::None) return m_routeStatus;
    if (frame >= m_description.pixel.numberOfFrames)
        return FrameFailure(quillon::Reason::NoBytes, "The file has %u frames.", m_description.pixel.numberOfFrames);
    if (m_route == Route::Native) {
        const auto* pixelData = dynamic_cast<const CDicomTag7FE0*>(m_file.PixelData());
        if (!pixelData || frame >= pixelData->FrameCount()) return NativeFrameStatus(frame);
        return budget;
    }
    quillon::HeapPtr<uint8_t> stored;
    const FrameDescription* asDecoded = nullptr;
    quillon::HeapPtr<uint8_t> decoded;
    ByteSpan samples;
    quillon::Status status = DecodedSamples(frame, stored, asDecoded, decoded, samples);
    // The codec's own budget check says what `budget` says.
    return status || status.Code() == quillon::Reason::OverBudget ? budget : status;
}

void quillon::FrameDecoder::ReleaseBudget(uint64_t bytes) {
    {
        std::lock_guard lock(m_budgetMutex);
        m_budgetInUse -= bytes;
    }
    m_budgetFreed.notify_all();
}

quillon::FrameDecoder::FrameDecoder(const CDicomFile& file, uint64_t cacheBudget, uint64_t decodeBudget)
    : m_file(file), m_description(DescribeFrames(file)), m_cacheBudget(cacheBudget), m_decodeBudget(decodeBudget) {
    // Float samples are native whatever the transfer syntax.
    if (IsNative(m_description.pixel.compression) || m_description.floatSamples) {
        m_route = Route::Native;
    } else {
        m_routeStatus = quillon::CodecRoute(m_description);
        m_route = m_routeStatus ? Route::Codec : Route::None;
        if (m_route == Route::Codec) m_nativeOutput = quillon::FindCodec(m_description.pixel.compression)->nativeOutput;
    }
    if (m_route != Route::Codec) return;
    for (int converted = 0; converted < 2; ++converted) {
        for (int planar = 0; planar < 2; ++planar) {
            FrameDescription& view = m_codecOutput[converted][planar];
            view = m_description;
            // Where the codec turned YCbCr into RGB, the samples are RGB.
            view.colourConverted = converted != 0;
            // Codec output is interleaved unless the decoder says it kept planes.
            view.pixel.planarConfiguration = int8_t(planar);
        }
    }
}

quillon::Status quillon::FrameDecoder::NativeFrameStatus(std::size_t frame) const {
    const auto* pixelData = dynamic_cast<const CDicomTag7FE0*>(m_file.PixelData());
    if (!pixelData) return FrameFailure(quillon::Reason::NoBytes, "The file has no pixel data.");
    if (frame >= pixelData->FrameCount())
        return FrameFailure(quillon::Reason::NoBytes, "The pixel data holds %zu whole frames.",
                            pixelData->FrameCount());
    if (pixelData->FrameBytes(frame) == 0)
        return FrameFailure(quillon::Reason::NoBytes, "The frame starts past the end of the pixel data's value.");
    return FrameFailure(quillon::Reason::NoBytes, "The frame's bytes cannot be read from the file.");
}

quillon::Status quillon::FrameDecoder::DecodedSamples(std::size_t frame, quillon::HeapPtr<uint8_t>& stored,
                                              const FrameDescription*& asDecoded, quillon::HeapPtr<uint8_t>& decoded,
                                              ByteSpan& samples) const {
    const FrameDescription& d = m_description;
    asDecoded = &d;
    if (d.pixel.numberOfFrames == 0 || frame >= d.pixel.numberOfFrames)
        return FrameFailure(quillon::Reason::NoBytes, "The file has %u frames.", d.pixel.numberOfFrames);
    switch (m_route) {
        case Route::Native:
            samples = NativeFrameBytes(m_file, frame, stored);
            if (!samples.data) return NativeFrameStatus(frame);
            // 32-bit samples of a big-endian file: their two words the other way round too.
            if (d.wordsSwapped && d.pixel.bitsAllocated == 32)
                for (uint64_t at = 0; at + 4 <= samples.size; at += 4) {
                    uint8_t* p = stored.get() + at;
                    std::swap_ranges(p, p + 2, p + 2);
                }
            return {};
        case Route::Codec: {
            ByteSpan compressed;
            if (quillon::Status status = CompressedFrameBytes(m_file, m_file.Fragments(), frame, stored, compressed); !status)
                return status;
            DecodedFrame out;
            quillon::Status status = DecodeCompressedFrame(d, compressed.data, compressed.size, out);
            stored.reset();
            if (!status) return status;
            if (!out.data) return FrameFailure(quillon::Reason::CodecRefused, "The decoder gave no samples.");
            asDecoded = &m_codecOutput[out.colourConverted ? 1 : 0][out.planar ? 1 : 0];
            decoded = std::move(out.data);
            samples = {decoded.get(), out.size};
            return {};
        }
        case Route::None: break;
    }
    return m_routeStatus;
}

quillon::Status quillon::FrameDecoder::GetFrameSamples(std::size_t frame, std::vector<uint8_t>& samples) const {
    quillon::HeapPtr<uint8_t> stored;
    const FrameDescription* asDecoded = nullptr;
    quillon::HeapPtr<uint8_t> decoded;
    ByteSpan span;
    if (quillon::Status status = DecodedSamples(frame, stored, asDecoded, decoded, span); !status) return status;
    try {
        samples.assign(span.data, span.data + span.size);
    } catch (const std::bad_alloc&) {
        return NoMemory();
    }
    return {};
}

std::unique_ptr<MCImage> quillon::FrameDecoder::DecodeFrameImage(std::size_t frame, quillon::Status& status) const {
    const FrameDescription& d = m_description;
    status = {};
    if (d.pixel.rows == 0 || d.pixel.columns == 0) {
        status = FrameFailure(quillon::Reason::NoBytes, "The file gives the frame %u rows and %u columns.", d.pixel.rows,
                              d.pixel.columns);
        return nullptr;
    }
    // Grey, palette, RGB and the four-sample models are all there is to show;
    // a frame claiming more samples per pixel is not decoded at all.
    if (d.Samples() > 4) {
        status =
            FrameFailure(quillon::Reason::NoDecoder, "No decoder for frames of %u samples per pixel.", d.Samples());
        return nullptr;
    }
    quillon::HeapPtr<uint8_t> stored;
    const FrameDescription* asDecoded = nullptr;
    quillon::HeapPtr<uint8_t> decoded;
    ByteSpan samples;
    status = DecodedSamples(frame, stored, asDecoded, decoded, samples);
    if (!status) return nullptr;
    return DisplayImage(d, *asDecoded, samples, decoded, status);
}

std::unique_ptr<MCImage> quillon::FrameDecoder::DisplayImage(const FrameDescription& d,
                                                             const FrameDescription& asDecoded, ByteSpan samples,
                                                             quillon::HeapPtr<uint8_t>& decoded,
                                                             quillon::Status& status) const {
    status = {};
    // What the display conversions refuse below is about showing the
    // samples, not about the stream.
    auto noConversion = [&d] {
        return FrameFailure(quillon::Reason::NoDecoder, "No display conversion takes samples of %d bits allocated.",
                            int(d.pixel.bitsAllocated));
    };
    auto notConverted = [&d, &noConversion] {
        if (d.pixel.bitsAllocated != 8 && d.pixel.bitsAllocated != 12 && d.pixel.bitsAllocated != 16) return noConversion();
        return FrameFailure(quillon::Reason::NoDecoder, "The frame's samples could not be converted for display.");
    };

    const bool native = m_route == Route::Native || m_nativeOutput;
    uint64_t size = 0;
    std::unique_ptr<MCImage> image;
    // Samples the display conversions do not take as they are: 1-bit grey
    // and 16- or 32-bit colour become bytes, wide grey windowed words.
    const SampleForm form = SampleFormOf(asDecoded);
    if (form == SampleForm::WideGrey) {
        WideGreyWords words = ConvertWideGreyTo16Bit(asDecoded, samples.data, samples.size);
        decoded.reset();
        if (!words.words) {
            status = noConversion();
            return nullptr;
        }
        image = WideGreyImage(d, std::move(words));
        if (!image) status = NoMemory();
        return image;
    }
    // The layout of the samples converted below: narrowed ones are bytes.
    const FrameDescription* layout = &asDecoded;
    FrameDescription narrowed;
    if (form == SampleForm::Bits1 || form == SampleForm::NarrowColour) {
        quillon::HeapPtr<uint8_t> bytes = form == SampleForm::Bits1
                                              ? UnpackBitsTo8Bit(asDecoded, samples.data, samples.size, size)
                                              : NarrowColourTo8Bit(asDecoded, samples.data, samples.size, size);
        if (!bytes) {
            status = noConversion();
            return nullptr;
        }
        decoded = std::move(bytes);
        samples = {decoded.get(), size};
        narrowed = NarrowedDescription(asDecoded);
        layout = &narrowed;
    }

    const int depth = DisplayDepth(*layout);
    // Native frames of 8, 24 or 32 bits per pixel, codec output shown in 8
    // or 24 and samples narrowed to bytes go through the byte conversion;
    // the rest through 16-bit words.
    const bool bytePath = depth == 8 || depth == 24 || ((native || form != SampleForm::Direct) && depth == 32);
    if (bytePath) {
        if ((native || form != SampleForm::Direct) && layout->pixel.bitsAllocated != 8) {
            status = noConversion();
            return nullptr;
        }
        quillon::HeapPtr<uint8_t> converted = ConvertFrameTo8Bit(*layout, samples.data, samples.size, size);
        decoded.reset();
        if (!converted) {
            status = notConverted();
            return nullptr;
        }
        image = ByteImage(d, std::move(converted), size, depth);
    } else {
        quillon::HeapPtr<uint16_t> words = ConvertFrameTo16Bit(*layout, samples.data, samples.size, size);
        decoded.reset();
        if (!words) {
            status = notConverted();
            return nullptr;
        }
        image = WordImage(d, std::move(words), size, depth);
    }
    // The image could not take its block.
    if (!image) status = NoMemory();
    return image;
}

std::unique_ptr<MCImage> quillon::FrameDecoder::ByteImage(const FrameDescription& d, quillon::HeapPtr<uint8_t> buffer,
                                                          uint64_t size, int depth) const {
    // Byte images keep a window in their header, but are shown through their
    // palette or RGB values.
    const DisplayWindow window = ComputeDisplayWindow(d, 255, 0);
    auto image = std::make_unique<MCImage>(buffer.get(), d.pixel.columns, d.pixel.rows, uint8_t(depth), false, 0, 255,
                                           window.center, window.width, std::size_t(size));
    buffer.reset();
    if (!image->HasBlock()) return nullptr;
    image->SetMonochrome1(d.pixel.IsMonochrome1());
    if (depth == 8 && d.pixel.IsPaletteColor()) image->SetPalette(d.displayPalette.data());
    return image;
}

std::unique_ptr<MCImage> quillon::FrameDecoder::WordImage(const FrameDescription& d, quillon::HeapPtr<uint16_t> samples,
                                                          uint64_t byteCount, int depth, const SampleRange* given) const {
    std::unique_ptr<MCImage> image;
    if (d.pixel.IsPaletteColor()) {
        // Entries beyond any of the three tables count as none.
        uint32_t count = d.pixel.red.entries > 0 ? uint32_t(d.pixel.red.entries) : 0;
        count = uint32_t(std::min<uint64_t>({count, d.redLut8.size(), d.greenLut8.size(), d.blueLut8.size()}));
        image = std::make_unique<MCImage>(samples.get(), d.pixel.columns, d.pixel.rows, count, d.redLut8.data(),
                                          d.greenLut8.data(), d.blueLut8.data(), std::size_t(byteCount / 2));
    } else {
        const SampleRange range = given ? *given : ScanSampleRange16(d, samples.get(), byteCount);
        const DisplayWindow window = ComputeDisplayWindow(d, range.max, range.min);
        image = std::make_unique<MCImage>(samples.get(), d.pixel.columns, d.pixel.rows, uint8_t(depth), range.isSigned,
                                          range.min, range.max, window.center, window.width, std::size_t(byteCount));
    }
    samples.reset();
    if (!image->HasBlock()) return nullptr;
    image->SetMonochrome1(d.pixel.IsMonochrome1());
    return image;
}

std::unique_ptr<MCImage> quillon::FrameDecoder::WideGreyImage(const FrameDescription& d, WideGreyWords words) const {
    auto image = std::make_unique<MCImage>(words.words.get(), d.pixel.columns, d.pixel.rows, uint8_t(16), false, 0,
                                           words.max, words.window.center, words.window.width,
                                           std::size_t(words.byteCount));
    words.words.reset();
    if (!image->HasBlock()) return nullptr;
    image->SetMonochrome1(d.pixel.IsMonochrome1());
    return image;
}

void quillon::FrameDecoder::Remember(std::size_t frame, const std::shared_ptr<const MCImage>& image) {
    const uint64_t bytes = image->GetBlockSize();
    std::lock_guard lock(m_cacheMutex);
    if (m_cache.count(frame) || bytes > m_cacheBudget) return;
    while (m_cachedBytes + bytes > m_cacheBudget && !m_lru.empty()) {
        m_cachedBytes -= m_lru.back().second->GetBlockSize();
        m_cache.erase(m_lru.back().first);
        m_lru.pop_back();
    }
    m_lru.emplace_front(frame, image);
    m_cache[frame] = m_lru.begin();
    m_cachedBytes += bytes;
}

std::shared_ptr<const MCImage> quillon::FrameDecoder::GetFrameImage(std::size_t frame) {
    quillon::Status status;
    return FrameImage(frame, status);
}

std::shared_ptr<const MCImage> quillon::FrameDecoder::FrameImage(std::size_t frame, quillon::Status& status,
                                                                 bool reserved) {
    status = {};
    if (frame >= m_description.pixel.numberOfFrames) {
        status = FrameFailure(quillon::Reason::NoBytes, "The file has %u frames.", m_description.pixel.numberOfFrames);
        return nullptr;
    }
    {
        std::lock_guard lock(m_cacheMutex);
        const auto it = m_cache.find(frame);
        if (it != m_cache.end()) {
            m_lru.splice(m_lru.begin(), m_lru, it->second);
            return it->second->second;
        }
    }
    ++m_decodes;
    std::shared_ptr<const MCImage> image;
    try {
        BudgetLease lease(*this);
        if (!reserved) status = lease.Take(DecodePeak());
        if (status)
            image = DecodeFrameImage(frame, status);
        else
            status = OverBudgetReason(frame, status);
        if (image) Remember(frame, image);
    } catch (const std::bad_alloc&) {
        image = nullptr;
        status = NoMemory();
    }
    if (image) {
        std::lock_guard lock(m_cacheMutex);
        m_failures.erase(frame);
    } else {
        try {
            std::lock_guard lock(m_cacheMutex);
            m_failures[frame] = status;
        } catch (const std::bad_alloc&) {
            // The reason is given back here; it is only not kept.
        }
    }
    return image;
}

quillon::Status quillon::FrameDecoder::FrameStatus(std::size_t frame) {
    {
        std::lock_guard lock(m_cacheMutex);
        const auto failed = m_failures.find(frame);
        if (failed != m_failures.end()) return failed->second;
        if (m_cache.count(frame)) return {};
    }
    quillon::Status status;
    FrameImage(frame, status);
    return status;
}

bool quillon::FrameDecoder::DecodeFrame(std::size_t frame) { return GetFrameImage(frame) != nullptr; }

uint64_t quillon::FrameDecoder::CachedBytes() const {
    std::lock_guard lock(m_cacheMutex);
    return m_cachedBytes;
}

bool quillon::FrameDecoder::MakeThumbnail(MCImage& image) const {
    if (!image.HasBlock() || image.GetHeight() == 0) return false;
    if (image.GetWidth() == image.GetHeight()) {
        image.Resample(MCImage::kThumbnailSize, MCImage::kThumbnailSize, 1);
    } else {
        const ThumbnailSize size = ThumbnailFitSize(image.GetWidth(), image.GetHeight());
        if (!image.Resample(size.width, size.height, 1) || !image.CenterOnCanvas()) return false;
    }
    if (m_description.pixel.IsMonochrome1()) image.Invert();
    image.ConvertTo24Bit();
    return true;
}

unsigned quillon::FrameDecoder::ThumbnailLeastReduction() const {
    if (!m_thumbnailsAtShownSize || m_route != Route::Codec) return 0;
    // Only codecs that decode a smaller picture themselves (resolution levels,
    // scaled DCT) are asked to: their reduction is a filter, and it saves the
    // decode. Others would decode the full frame all the same, unless their
    // bands, averaged down, save the conversion of the full-size image.
    const quillon::CodecRow* row = quillon::FindCodec(m_description.pixel.compression);
    if (!row) return 0;
    const bool reduces = (row->reduced && row->thumbnailsReduced) || (row->bands && row->thumbnailsBanded);
    return reduces ? MostReduction(m_description) : 0;
}

std::unique_ptr<MCImage> quillon::FrameDecoder::GetFrameThumbnail(std::size_t frame) {
    // The least reduction a thumbnail's frame is decoded at: the size shown,
    // where the codec can decode it so.
    const unsigned least = ThumbnailLeastReduction();
    try {
        quillon::Status status;
        // An abandoned decoder starts nothing, and a decode it stopped is
        // not retried at full size nor kept as the frame's failure.
        if (m_abandoned) return nullptr;
        if (least > 0 || DecodePeak() > m_decodeBudget) {
            std::unique_ptr<MCImage> reduced = ReducedThumbnail(frame, least, status);
            if (m_abandoned) return nullptr;
            // A frame within the budget that the reduced decode did not give
            // a thumbnail is decoded at full size below, for its picture or
            // for the reason it has none.
            if (reduced || DecodePeak() > m_decodeBudget) {
                std::lock_guard lock(m_cacheMutex);
                // The full-size image is refused all the same.
                if (!status || DecodePeak() > m_decodeBudget) {
                    const quillon::Status full = CheckFrameBudget(m_description, DecodePeak(), m_decodeBudget);
                    m_failures[frame] = status ? full : status;
                }
                return reduced;
            }
        }
        // The decode and the thumbnail's copy of the image hold one share of
        // the budget together.
        BudgetLease lease(*this);
        status = lease.Take(DecodePeak());
        if (!status) {
            status = OverBudgetReason(frame, status);
            std::lock_guard lock(m_cacheMutex);
            m_failures[frame] = status;
            return nullptr;
        }
        const std::shared_ptr<const MCImage> image = FrameImage(frame, status, true);
        if (!image) return nullptr;
        auto copy = std::make_unique<MCImage>(*image);
        if (!MakeThumbnail(*copy)) return nullptr;
        {
            std::lock_guard lock(m_cacheMutex);
            m_reductions.erase(frame);
        }
        return copy;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

unsigned quillon::FrameDecoder::ThumbnailReduction(std::size_t frame) const {
    std::lock_guard lock(m_cacheMutex);
    const auto it = m_reductions.find(frame);
    return it == m_reductions.end() ? 0 : it->second;
}

quillon::Status quillon::FrameDecoder::NativeBands(std::size_t frame, uint32_t bandRows, FrameRowSink& sink) const {
    const FrameDescription& d = m_description;
    const auto* pixelData = dynamic_cast<const CDicomTag7FE0*>(m_file.PixelData());
    if (!pixelData || frame >= pixelData->FrameCount() || pixelData->FrameBytes(frame) == 0)
        return NativeFrameStatus(frame);
    const uint32_t rows = d.pixel.rows, columns = d.pixel.columns;
    const uint64_t frameSize = pixelData->FrameSize();
    const unsigned samples = d.Samples();
    const bool planar = samples > 1 && d.pixel.planarConfiguration == 1;
    const bool subsampled = d.pixel.IsYBRFull422() || d.pixel.IsYBRPartial422();
    if (d.pixel.bitsAllocated % 8 != 0 || rows == 0 || frameSize % rows != 0 || (planar && subsampled))
        return FrameFailure(quillon::Reason::CodecRefused,
                            "Native frames of %d bits allocated%s are not read a band at a time.",
                            int(d.pixel.bitsAllocated), planar ? " in planes" : "");
    const uint64_t rowBytes = frameSize / rows;
    const unsigned sampleBytes = unsigned(d.pixel.bitsAllocated / 8);
    const uint64_t planeRow = uint64_t(columns) * sampleBytes;
    if (planar && rowBytes != planeRow * samples)
        return FrameFailure(quillon::Reason::CodecRefused, "The frame's planes are not read a band at a time.");
    bandRows = std::min(bandRows, rows);
    quillon::HeapPtr<uint8_t> band(static_cast<uint8_t*>(quillon::AllocBlock(std::size_t(bandRows * rowBytes))));
    quillon::HeapPtr<uint8_t> plane(
        planar ? static_cast<uint8_t*>(quillon::AllocBlock(std::size_t(bandRows * planeRow))) : nullptr);
    if (!band || (planar && !plane)) return NoMemory();
    if (!sink.Begin(columns, rows, false)) return {};
    const uint64_t planeSize = uint64_t(rows) * planeRow;
    for (uint32_t first = 0; first < rows; first += bandRows) {
        const uint32_t count = std::min(bandRows, rows - first);
        if (!planar) {
            if (!pixelData->ReadFrameBytes(frame, first * rowBytes, band.get(), count * rowBytes))
                return NativeFrameStatus(frame);
        } else {
            const uint64_t pixels = uint64_t(count) * columns;
            for (unsigned s = 0; s < samples; ++s) {
                if (!pixelData->ReadFrameBytes(frame, s * planeSize + first * planeRow, plane.get(), count * planeRow))
                    return NativeFrameStatus(frame);
                for (uint64_t k = 0; k < pixels; ++k)
                    std::memcpy(band.get() + (k * samples + s) * sampleBytes, plane.get() + k * sampleBytes,
                                sampleBytes);
            }
        }
        if (!sink.Band(band.get(), first, count)) break;
    }
    return {};
}

std::unique_ptr<MCImage> quillon::FrameDecoder::ReducedThumbnail(std::size_t frame, unsigned least,
                                                                 quillon::Status& status) {
    const FrameDescription& d = m_description;
    const quillon::Status overBudget = CheckFrameBudget(d, DecodePeak(), m_decodeBudget);
    status = {};
    if (m_route == Route::None || frame >= d.pixel.numberOfFrames || d.pixel.rows == 0 || d.pixel.columns == 0 ||
        d.Samples() > 4) {
        status = OverBudgetReason(frame, overBudget);
        if (status) status = overBudget;
        return nullptr;
    }
    const unsigned most = MostReduction(d);
    const quillon::CodecRow* row = m_route == Route::Codec ? quillon::FindCodec(d.pixel.compression) : nullptr;
    auto done = [&](std::unique_ptr<MCImage> image, unsigned reduce) -> std::unique_ptr<MCImage> {
        if (!image || !MakeThumbnail(*image)) {
            if (status) status = NoMemory();
            return nullptr;
        }
        std::lock_guard lock(m_cacheMutex);
        m_reductions[frame] = reduce;
        return image;
    };

    // The codec's own reduction, the least that fits; a thumbnail at the size
    // shown from a codec that does not reduce comes from its bands below.
    if (row && row->reduced && (least == 0 || row->thumbnailsReduced)) {
        for (unsigned r = std::max(least, 1u); r <= most; ++r) {
            const FrameDescription reduced = ReducedDescription(d, r);
            // A frame within the budget takes the share of its full-size
            // decode, so that a codec that reduces it less than asked (fewer
            // resolution levels, a lossless stream) still has room.
            const uint64_t peak = DecodePeak() <= m_decodeBudget
                                      ? DecodePeak()
                                      : FrameDecodePeak(reduced, FrameCodecWorkingBytes(reduced));
            if (peak > m_decodeBudget) continue;
            BudgetLease lease(*this);
            if (status = lease.Take(peak); !status) break;
            quillon::HeapPtr<uint8_t> stored;
            ByteSpan compressed;
            status = CompressedFrameBytes(m_file, m_file.Fragments(), frame, stored, compressed);
            if (!status) return nullptr;
            DecodedFrame out;
            status = row->reduced(d, compressed.data, compressed.size, out, DecodeOptions{r, peak, 0});
            stored.reset();
            // The codec decodes within the share taken for it. OverBudget: it
            // cannot reduce the frame so far (what it can do is over the budget,
            // as every smaller reduction is); bands may.
            if (!status && status.Code() != quillon::Reason::OverBudget) return nullptr;
            if (!status) break;
            if (!out.data) {
                status = FrameFailure(quillon::Reason::CodecRefused, "The decoder gave no samples.");
                return nullptr;
            }
            FrameDescription asDecoded = ReducedDescription(m_codecOutput[out.colourConverted ? 1 : 0][out.planar ? 1 : 0],
                                                            out.reduced);
            const FrameDescription shown = ReducedDescription(d, out.reduced);
            quillon::HeapPtr<uint8_t> decoded = std::move(out.data);
            std::unique_ptr<MCImage> image = DisplayImage(shown, asDecoded, {decoded.get(), out.size}, decoded, status);
            if (!image) return nullptr;
            return done(std::move(image), out.reduced);
        }
    }

    // A band of rows at a time, averaged down.
    if (m_route == Route::Native || (row && row->bands)) {
        const bool native = m_route == Route::Native;
        for (unsigned r = std::max(least, 1u); r <= most; ++r) {
            const uint64_t peak = BandPeak(d, r);
            if (peak > m_decodeBudget) continue;
            BudgetLease lease(*this);
            if (status = lease.Take(peak); !status) break;
            // Bands come interleaved, whatever the planes of the frame.
            FrameDescription asDecoded = native ? d : m_codecOutput[0][0];
            asDecoded.pixel.planarConfiguration = 0;
            uint64_t nativeRowBytes = 0;
            if (native)
                if (const auto* pixelData = dynamic_cast<const CDicomTag7FE0*>(m_file.PixelData()))
                    nativeRowBytes = pixelData->FrameSize() / d.pixel.rows;
            BandAverager averager(d, asDecoded, r, native, nativeRowBytes, m_abandoned);
            if (native) {
                status = NativeBands(frame, BandRows(r), averager);
            } else {
                quillon::HeapPtr<uint8_t> stored;
                ByteSpan compressed;
                status = CompressedFrameBytes(m_file, m_file.Fragments(), frame, stored, compressed);
                if (!status) return nullptr;
                status = row->bands(d, compressed.data, compressed.size,
                                    DecodeOptions{r, peak, BandRows(r)}, averager);
            }
            if (averager.Stopped()) {
                status = FrameFailure(quillon::Reason::NoDecoder, "The decode was stopped.");
                return nullptr;
            }
            if (status && (averager.Failed() || averager.OutColumns() == 0))
                status = FrameFailure(quillon::Reason::NoDecoder, "The frame's samples could not be converted for display.");
            // Frames the bands do not take are refused for the budget.
            if (status.Code() == quillon::Reason::CodecRefused)
                status = quillon::Status::Fail(quillon::Reason::OverBudget, overBudget.Text() + " " + status.Text());
            if (!status) return nullptr;
            const uint32_t outColumns = averager.OutColumns(), outRows = averager.OutRows();
            const bool words = averager.Words();
            const int depth = averager.Depth();
            const SampleRange range = averager.Range();
            uint64_t size = 0;
            quillon::HeapPtr<uint8_t> pixels = averager.TakeOutput(size);
            FrameDescription shown = d;
            shown.pixel.columns = outColumns;
            shown.pixel.rows = outRows;
            std::unique_ptr<MCImage> image;
            if (words) {
                quillon::HeapPtr<uint16_t> samples(reinterpret_cast<uint16_t*>(pixels.release()));
                image = WordImage(shown, std::move(samples), size, depth, &range);
            } else {
                image = ByteImage(shown, std::move(pixels), size, depth);
            }
            return done(std::move(image), r);
        }
    }
    status = OverBudgetReason(frame, overBudget);
    if (status.Code() == quillon::Reason::OverBudget && status.Text() == overBudget.Text())
        status = quillon::Status::Fail(quillon::Reason::OverBudget,
                                       overBudget.Text() + " Nor can it be decoded at a reduced size within it.");
    return nullptr;
}

std::vector<std::unique_ptr<MCImage>> quillon::FrameDecoder::MakeThumbnails(
    std::size_t count, const std::function<void(std::size_t, std::size_t)>& progress, unsigned threads) {
    std::vector<std::unique_ptr<MCImage>> thumbnails(count);
    if (count == 0) {
        if (progress) progress(0, 0);
        return thumbnails;
    }
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = unsigned(std::min<std::size_t>(threads, count));

    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::mutex mutex;
    std::condition_variable finished;
    auto work = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            thumbnails[i] = GetFrameThumbnail(i);
            if (++done == count) {
                std::lock_guard lock(mutex);
                finished.notify_all();
            }
        }
    };

    // Without a progress report this thread works too; with one it reports
    // while the workers decode.
    std::vector<std::thread> workers;
    const unsigned started = progress ? threads : threads - 1;
    try {
        for (unsigned t = 0; t < started; ++t) workers.emplace_back(work);
    } catch (const std::system_error&) {
        // No more threads: the ones started (or this one) do the work.
    }
    if (!progress || workers.empty()) {
        work();
    } else {
        std::unique_lock lock(mutex);
        while (done.load() < count) {
            finished.wait_for(lock, std::chrono::milliseconds(50));
            if (done.load() < count) {
                lock.unlock();
                progress(done.load(), count);
                lock.lock();
            }
        }
    }
    for (std::thread& t : workers) t.join();
    if (progress) progress(count, count);
    return thumbnails;
}
