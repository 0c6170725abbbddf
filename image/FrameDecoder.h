#pragma once
// Frame decoding of a loaded file: each frame's samples through the codec of
// its transfer syntax, the conversion for display, the full-resolution image
// with its display window, and the 128 x 128 thumbnail.
//
// The decoder reads the file object but never writes it, so frames may be
// decoded on several threads at once; the shared state, the image cache and
// the part of the decode budget (kFrameDecodeBudget) that frames being
// decoded hold, is locked. A frame whose decode for display would need more
// than the budget gets no image (FrameStatus says why); frames that fit wait
// for their share. Its thumbnail is still made where the frame can be
// decoded at a reduced size within the budget: by the codec itself (JPEG 2000
// and HTJ2K resolution levels, JPEG's scaled DCT), else a band of rows at a
// time averaged down (native, RLE and JPEG frames); see ReducedThumbnail.
// Codecs that reduce as they decode make every thumbnail so, at the size
// shown (the least that keeps 128 pixels on the long side).
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "dicom/OffsetTable.h"
#include "dicom/Status.h"
#include "image/FrameCodecs.h"
#include "image/FrameDescription.h"
#include "image/MCImage.h"
#include "image/SampleConversion.h"

class CDicomFile;
struct SampleRange;

// Bytes of decoded full-resolution images kept for reuse: 1/256 of physical
// memory, between 16 MiB and 64 MiB. Past it the least recently used images
// are dropped and decoded again when asked for.
uint64_t DefaultImageCacheBudget();

namespace quillon {

class FrameDecoder {
public:
    // `decodeBudget` is kFrameDecodeBudget but for tests.
    explicit FrameDecoder(const CDicomFile& file, uint64_t cacheBudget = DefaultImageCacheBudget(),
                          uint64_t decodeBudget = kFrameDecodeBudget);
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    const FrameDescription& Description() const { return m_description; }
    uint32_t FrameCount() const { return m_description.pixel.numberOfFrames; }

    // The full-resolution image of frame i, decoded on first use; none when
    // the frame cannot be decoded (FrameStatus says why).
    std::shared_ptr<const MCImage> GetFrameImage(std::size_t frame);
    // Why frame i has no image, or success when it has one. A frame neither
    // decoded nor refused yet is decoded now.
    quillon::Status FrameStatus(std::size_t frame);
    // Decodes frame i into the cache; true when it holds an image afterwards.
    bool DecodeFrame(std::size_t frame);
    // A new 128 x 128 24-bit image of frame i, or none. Decoded at the size
    // shown where the codec reduces as it decodes; a frame over the decode
    // budget at the least reduction that fits it.
    std::unique_ptr<MCImage> GetFrameThumbnail(std::size_t frame);

    // The frame's stored samples as the conversions receive them: a native
    // frame's bytes, or what the codec decoded. A failure, with its reason,
    // when there are none.
    quillon::Status GetFrameSamples(std::size_t frame, std::vector<uint8_t>& samples) const;

    // Thumbnails of frames [0, count), made on up to `threads` threads (0:
    // one per core). `progress` (may be empty) is called on the calling
    // thread with the frames done so far, at most every few milliseconds and
    // once at the end. Entry i belongs to frame i and may be none.
    std::vector<std::unique_ptr<MCImage>> MakeThumbnails(
        std::size_t count, const std::function<void(std::size_t done, std::size_t total)>& progress = {},
        unsigned threads = 0);

    // How many decodes ran (cache misses), for tests and benchmarks.
    uint64_t DecodeCount() const { return m_decodes.load(); }
    uint64_t CachedBytes() const;
    // The most of the decode budget that frames held at once, for tests and
    // benchmarks.
    uint64_t BudgetHighWater() const;
    uint64_t DecodeBudget() const { return m_decodeBudget; }
    // Thumbnails are decoded at the size shown where the codec can (true, the
    // default), or from the full-size frame where it fits the budget (false:
    // for comparing the two).
    void SetThumbnailsAtShownSize(bool shown) { m_thumbnailsAtShownSize = shown; }
    // For an owner about to destroy the decoder while thumbnails are being
    // made on other threads: a thumbnail decoded a band of rows at a time
    // stops at its next band, and every thumbnail asked for afterwards is
    // none, without a decode (a frame the codec decodes whole, as JPEG 2000
    // is, runs to its end).
    void Abandon() { m_abandoned = true; }
    bool Abandoned() const { return m_abandoned; }
    // How far the last thumbnail of frame i was reduced (its sides divided
    // by 2^n before the thumbnail was made from it), for tests.
    unsigned ThumbnailReduction(std::size_t frame) const;

private:
    // Decodes frame i without touching the cache; `status` says why when
    // there is no image.
    std::unique_ptr<MCImage> DecodeFrameImage(std::size_t frame, quillon::Status& status) const;
    // `reserved`: the caller holds the frame's share of the decode budget.
    std::shared_ptr<const MCImage> FrameImage(std::size_t frame, quillon::Status& status, bool reserved = false);
    // What decoding one frame for display takes at its peak (FrameDecodePeak).
    uint64_t DecodePeak() const;
    // Waits until `bytes` of kFrameDecodeBudget are free and takes them; the
    // frames decoded at once share the budget. OverBudget, without waiting,
    // when `bytes` alone are over it.
    quillon::Status ReserveBudget(uint64_t bytes);
    void ReleaseBudget(uint64_t bytes);
    // Why frame i, over the budget, is not decoded: no decoder or no bytes
    // when that is so, the codec's own reason when its stream's header
    // already disagrees with the file (the codecs check the header, then the
    // budget, before they allocate), else `budget`.
    quillon::Status OverBudgetReason(std::size_t frame, quillon::Status budget) const;
    class BudgetLease;
    // `d`: the frame as shown (its size, window and palette).
    std::unique_ptr<MCImage> ByteImage(const FrameDescription& d, quillon::HeapPtr<uint8_t> buffer, uint64_t size,
                                       int depth) const;
    // With `range`, the window is chosen from it instead of the samples'.
    std::unique_ptr<MCImage> WordImage(const FrameDescription& d, quillon::HeapPtr<uint16_t> samples,
                                       uint64_t byteCount, int depth, const ::SampleRange* range = nullptr) const;
    // The display image of decoded samples laid out as `asDecoded` says,
    // shown as `shown` says; `decoded` is let go as soon as it is converted.
    std::unique_ptr<MCImage> DisplayImage(const FrameDescription& shown, const FrameDescription& asDecoded,
                                          ByteSpan samples, quillon::HeapPtr<uint8_t>& decoded,
                                          quillon::Status& status) const;
    // The reduction a thumbnail's frame is decoded at where it fits the
    // budget: the most that keeps the thumbnail's size, where the codec
    // reduces as it decodes; else 0.
    unsigned ThumbnailLeastReduction() const;
    // Scales an image to the thumbnail; false when it cannot be.
    bool MakeThumbnail(MCImage& image) const;
    // The thumbnail of a frame decoded at a reduction of at least `least`
    // (the smallest that fits the budget), or none with the reason.
    std::unique_ptr<MCImage> ReducedThumbnail(std::size_t frame, unsigned least, quillon::Status& status);
    // Reads a native frame a band of `bandRows` rows at a time, colour planes
    // interleaved.
    quillon::Status NativeBands(std::size_t frame, uint32_t bandRows, FrameRowSink& sink) const;
    // The image of ConvertWideGreyTo16Bit's words, shown as `d` says.
    std::unique_ptr<MCImage> WideGreyImage(const FrameDescription& d, WideGreyWords words) const;
    // The frame's samples and the description they are to be converted with.
    quillon::Status DecodedSamples(std::size_t frame, quillon::HeapPtr<uint8_t>& stored,
                                   const FrameDescription*& asDecoded, quillon::HeapPtr<uint8_t>& decoded,
                                   ByteSpan& samples) const;
    quillon::Status NativeFrameStatus(std::size_t frame) const;
    void Remember(std::size_t frame, const std::shared_ptr<const MCImage>& image);

    enum class Route { Native, Codec, None };

    const CDicomFile& m_file;
    FrameDescription m_description;
    Route m_route;
    // The codec gives the frame's native layout (CodecRow::nativeOutput).
    bool m_nativeOutput = false;
    // Why frames get no decoder (Route::None).
    quillon::Status m_routeStatus;
    // How codec output is to be converted, by [colours turned into RGB by the
    // codec][planes kept]: made once, so that no frame copies the description.
    FrameDescription m_codecOutput[2][2];
    uint64_t m_cacheBudget;
    uint64_t m_decodeBudget;

    mutable std::mutex m_cacheMutex;
    // Most recently used first.
    std::list<std::pair<std::size_t, std::shared_ptr<const MCImage>>> m_lru;
    std::unordered_map<std::size_t, decltype(m_lru)::iterator> m_cache;
    uint64_t m_cachedBytes = 0;
    // Why frames that were asked for have no image.
    std::unordered_map<std::size_t, quillon::Status> m_failures;
    std::atomic<uint64_t> m_decodes{0};

    // The part of kFrameDecodeBudget that frames being decoded hold.
    mutable std::mutex m_budgetMutex;
    std::condition_variable m_budgetFreed;
    uint64_t m_budgetInUse = 0;
    uint64_t m_budgetHighWater = 0;
    // Frames whose last thumbnail was made reduced, and how far.
    std::unordered_map<std::size_t, unsigned> m_reductions;
    bool m_thumbnailsAtShownSize = true;
    std::atomic<bool> m_abandoned{false};
};

}  // namespace quillon
