#include "image/FrameDecoder.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

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
    if (quillon::Status status = CheckFrameBudget(m_description, bytes); !status) return status;
    std::unique_lock lock(m_budgetMutex);
    m_budgetFreed.wait(lock, [&] { return m_budgetInUse + bytes <= kFrameDecodeBudget; });
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
    return status ? budget : status;
}

void quillon::FrameDecoder::ReleaseBudget(uint64_t bytes) {
    {
        std::lock_guard lock(m_budgetMutex);
        m_budgetInUse -= bytes;
    }
    m_budgetFreed.notify_all();
}

quillon::FrameDecoder::FrameDecoder(const CDicomFile& file, uint64_t cacheBudget)
    : m_file(file), m_description(DescribeFrames(file)), m_cacheBudget(cacheBudget) {
    if (IsNative(m_description.pixel.compression)) {
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
    const SampleForm form = SampleFormOf(*asDecoded);
    if (form == SampleForm::WideGrey) {
        WideGreyWords words = ConvertWideGreyTo16Bit(*asDecoded, samples.data, samples.size);
        decoded.reset();
        if (!words.words) {
            status = noConversion();
            return nullptr;
        }
        image = WideGreyImage(std::move(words));
        if (!image) status = NoMemory();
        return image;
    }
    FrameDescription narrowed;
    if (form == SampleForm::Bits1 || form == SampleForm::NarrowColour) {
        quillon::HeapPtr<uint8_t> bytes = form == SampleForm::Bits1
                                              ? UnpackBitsTo8Bit(*asDecoded, samples.data, samples.size, size)
                                              : NarrowColourTo8Bit(*asDecoded, samples.data, samples.size, size);
        if (!bytes) {
            status = noConversion();
            return nullptr;
        }
        decoded = std::move(bytes);
        stored.reset();
        samples = {decoded.get(), size};
        narrowed = NarrowedDescription(*asDecoded);
        asDecoded = &narrowed;
    }

    const int depth = DisplayDepth(*asDecoded);
    // Native frames of 8, 24 or 32 bits per pixel, codec output shown in 8
    // or 24 and samples narrowed to bytes go through the byte conversion;
    // the rest through 16-bit words.
    const bool bytePath = depth == 8 || depth == 24 || ((native || form != SampleForm::Direct) && depth == 32);
    if (bytePath) {
        if ((native || form != SampleForm::Direct) && asDecoded->pixel.bitsAllocated != 8) {
            status = noConversion();
            return nullptr;
        }
        quillon::HeapPtr<uint8_t> converted = ConvertFrameTo8Bit(*asDecoded, samples.data, samples.size, size);
        decoded.reset();
        if (!converted) {
            status = notConverted();
            return nullptr;
        }
        image = ByteImage(std::move(converted), size, depth);
    } else {
        quillon::HeapPtr<uint16_t> words = ConvertFrameTo16Bit(*asDecoded, samples.data, samples.size, size);
        decoded.reset();
        if (!words) {
            status = notConverted();
            return nullptr;
        }
        image = WordImage(std::move(words), size, depth);
    }
    // The image could not take its block.
    if (!image) status = NoMemory();
    return image;
}

std::unique_ptr<MCImage> quillon::FrameDecoder::ByteImage(quillon::HeapPtr<uint8_t> buffer, uint64_t size, int depth) const {
    const FrameDescription& d = m_description;
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

std::unique_ptr<MCImage> quillon::FrameDecoder::WordImage(quillon::HeapPtr<uint16_t> samples, uint64_t byteCount,
                                                  int depth) const {
    const FrameDescription& d = m_description;
    std::unique_ptr<MCImage> image;
    if (d.pixel.IsPaletteColor()) {
        // Entries beyond any of the three tables count as none.
        uint32_t count = d.pixel.red.entries > 0 ? uint32_t(d.pixel.red.entries) : 0;
        count = uint32_t(std::min<uint64_t>({count, d.redLut8.size(), d.greenLut8.size(), d.blueLut8.size()}));
        image = std::make_unique<MCImage>(samples.get(), d.pixel.columns, d.pixel.rows, count, d.redLut8.data(),
                                          d.greenLut8.data(), d.blueLut8.data(), std::size_t(byteCount / 2));
    } else {
        const SampleRange range = ScanSampleRange16(d, samples.get(), byteCount);
        const DisplayWindow window = ComputeDisplayWindow(d, range.max, range.min);
        image = std::make_unique<MCImage>(samples.get(), d.pixel.columns, d.pixel.rows, uint8_t(depth), range.isSigned,
                                          range.min, range.max, window.center, window.width, std::size_t(byteCount));
    }
    samples.reset();
    if (!image->HasBlock()) return nullptr;
    image->SetMonochrome1(d.pixel.IsMonochrome1());
    return image;
}

std::unique_ptr<MCImage> quillon::FrameDecoder::WideGreyImage(WideGreyWords words) const {
    const FrameDescription& d = m_description;
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

std::unique_ptr<MCImage> quillon::FrameDecoder::GetFrameThumbnail(std::size_t frame) {
    try {
        // The decode and the thumbnail's copy of the image hold one share of
        // the budget together.
        BudgetLease lease(*this);
        quillon::Status status = lease.Take(DecodePeak());
        if (!status) {
            status = OverBudgetReason(frame, status);
            std::lock_guard lock(m_cacheMutex);
            m_failures[frame] = status;
            return nullptr;
        }
        const std::shared_ptr<const MCImage> image = FrameImage(frame, status, true);
        if (!image) return nullptr;
        auto copy = std::make_unique<MCImage>(*image);
        if (!copy->HasBlock() || copy->GetHeight() == 0) return nullptr;
        if (copy->GetWidth() == copy->GetHeight()) {
            copy->Resample(MCImage::kThumbnailSize, MCImage::kThumbnailSize, 1);
        } else {
            const ThumbnailSize size = ThumbnailFitSize(copy->GetWidth(), copy->GetHeight());
            if (!copy->Resample(size.width, size.height, 1) || !copy->CenterOnCanvas()) return nullptr;
        }
        if (m_description.pixel.IsMonochrome1()) copy->Invert();
        copy->ConvertTo24Bit();
        return copy;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
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
