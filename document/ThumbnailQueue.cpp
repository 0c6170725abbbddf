#include "document/ThumbnailQueue.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace quillon {

ThumbnailQueue::ThumbnailQueue(std::size_t count, Maker maker, unsigned threads, std::function<void()> finished)
    : m_maker(std::move(maker)), m_finished(std::move(finished)), m_slots(count) {
    if (count == 0) return;
    // One worker per core: each frame in flight holds its share of the
    // decoder's budget, so the workers never raise the peak beyond it.
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads = unsigned(std::min<std::size_t>(threads, count));
    try {
        m_workers.reserve(threads);
        for (unsigned t = 0; t < threads; ++t) m_workers.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        // No more threads: those started do the work; with none, the waits do.
    }
}

ThumbnailQueue::~ThumbnailQueue() { Stop(); }

void ThumbnailQueue::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& t : m_workers)
        if (t.joinable()) t.join();
    m_workers.clear();
}

std::size_t ThumbnailQueue::Next() {
    while (!m_urgent.empty()) {
        const std::size_t frame = m_urgent.back();
        m_urgent.pop_back();
        if (!m_slots[frame].started) return frame;
    }
    while (m_next < m_slots.size() && m_slots[m_next].started) ++m_next;
    return m_next;
}

void ThumbnailQueue::Work() {
    for (;;) {
        std::size_t frame;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) return;
            frame = Next();
            if (frame >= m_slots.size()) return;
            m_slots[frame].started = true;
        }
        Status why;
        std::unique_ptr<MCImage> image;
        try {
            image = m_maker(frame, why);
        } catch (const std::bad_alloc&) {
            image.reset();
            why = Status::Fail(Reason::NoMemory, "Memory ran out while the thumbnail was made.");
        }
        {
            std::lock_guard lock(m_mutex);
            Slot& slot = m_slots[frame];
            slot.state = image ? ThumbnailState::Made : ThumbnailState::Failed;
            slot.image = std::move(image);
            slot.why = std::move(why);
            ++m_done;
            m_news.push_back(frame);
        }
        m_changed.notify_all();
        if (m_finished) m_finished();
    }
}

void ThumbnailQueue::Prioritise(std::size_t frame) {
    std::lock_guard lock(m_mutex);
    if (frame >= m_slots.size() || m_slots[frame].started) return;
    m_urgent.push_back(frame);
}

std::size_t ThumbnailQueue::Finished() const {
    std::lock_guard lock(m_mutex);
    return m_done;
}

ThumbnailState ThumbnailQueue::State(std::size_t frame) const {
    std::lock_guard lock(m_mutex);
    return frame < m_slots.size() ? m_slots[frame].state : ThumbnailState::None;
}

const MCImage* ThumbnailQueue::Image(std::size_t frame) const {
    std::lock_guard lock(m_mutex);
    return frame < m_slots.size() ? m_slots[frame].image.get() : nullptr;
}

Status ThumbnailQueue::Failure(std::size_t frame) const {
    std::lock_guard lock(m_mutex);
    return frame < m_slots.size() && m_slots[frame].state == ThumbnailState::Failed ? m_slots[frame].why : Status();
}

void ThumbnailQueue::Wait(std::size_t frame) {
    if (frame >= m_slots.size()) return;
    Prioritise(frame);
    if (m_workers.empty()) Work();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopping || m_slots[frame].state != ThumbnailState::Pending; });
}

void ThumbnailQueue::WaitAll() {
    if (m_workers.empty()) Work();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopping || m_done == m_slots.size(); });
}

std::vector<std::size_t> ThumbnailQueue::TakeFinished() {
    std::lock_guard lock(m_mutex);
    std::vector<std::size_t> news;
    news.swap(m_news);
    return news;
}

}  // namespace quillon
