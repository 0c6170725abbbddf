#pragma once
// The frames' thumbnails made in the background: a pool of worker threads
// takes the frames in order, except that a frame asked for (the one the user
// selected) goes first. Each frame's outcome lands in its own slot: pending,
// made (the picture), or failed (with the decoder's reason). Plain C++.
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "dicom/Status.h"
#include "image/MCImage.h"

namespace quillon {

enum class ThumbnailState {
    None,     // no thumbnail is made for the frame (beyond the frames with bytes, or none asked for)
    Pending,  // waiting for a worker, or being made
    Made,
    Failed,
};

class ThumbnailQueue {
public:
    // Makes frame i's thumbnail on a worker thread; none, with `why` when the
    // frame cannot be decoded, for a frame that gets none.
    using Maker = std::function<std::unique_ptr<MCImage>(std::size_t frame, Status& why)>;

    // Starts `threads` workers (0: one per core, never more than frames) on
    // frames [0, count). `finished` (may be empty) is called on the worker
    // thread each time a frame's slot becomes final; it must only hand the
    // news over (the slots are read through this object).
    ThumbnailQueue(std::size_t count, Maker maker, unsigned threads = 0, std::function<void()> finished = {});
    ThumbnailQueue(const ThumbnailQueue&) = delete;
    ThumbnailQueue& operator=(const ThumbnailQueue&) = delete;
    ~ThumbnailQueue();

    // No new frame starts; returns once the frames in flight are done. The
    // frames never started stay pending.
    void Stop();
    // A pending frame not yet started is the next one a worker takes (the
    // latest asked for first).
    void Prioritise(std::size_t frame);

    std::size_t Count() const { return m_slots.size(); }
    // Frames whose slot is final (made or failed).
    std::size_t Finished() const;
    ThumbnailState State(std::size_t frame) const;
    // The thumbnail of a made frame, else null. It stays while this object lives.
    const MCImage* Image(std::size_t frame) const;
    // Why a failed frame got no thumbnail (success when its decode worked
    // but no thumbnail came of it, or for any other state).
    Status Failure(std::size_t frame) const;

    // Waits until frame i's slot is final (prioritising it), or the queue stopped.
    void Wait(std::size_t frame);
    // Waits until every slot is final, or the queue stopped.
    void WaitAll();
    // The frames whose slots became final since the last call, in the order
    // they did.
    std::vector<std::size_t> TakeFinished();

private:
    struct Slot {
        ThumbnailState state = ThumbnailState::Pending;
        bool started = false;
        std::unique_ptr<MCImage> image;
        Status why;
    };
    void Work();
    // The next frame to start, or Count() when there is none; called locked.
    std::size_t Next();

    Maker m_maker;
    std::function<void()> m_finished;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Slot> m_slots;
    // Frames asked for, the latest last.
    std::vector<std::size_t> m_urgent;
    // Frames before it have been started.
    std::size_t m_next = 0;
    std::size_t m_done = 0;
    std::vector<std::size_t> m_news;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

}  // namespace quillon
