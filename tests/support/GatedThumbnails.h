#pragma once
// A document whose thumbnails wait at a gate: a frame's decode starts only
// when the test lets one through (Allow) or opens the gate (OpenGate), so that
// a test sees the workers part way without racing the clock.
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "document/QuillonDocument.h"

namespace gated {

class GatedDocument : public quillon::QuillonDocument {
public:
    ~GatedDocument() override {
        OpenGate();
        Close();
    }
    // Lets `frames` more frames through.
    void Allow(int frames) {
        std::lock_guard lock(m_mutex);
        m_permits += frames;
        m_changed.notify_all();
    }
    // Lets every frame through from now on.
    void OpenGate() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    // Frames wait again (for the next document).
    void CloseGate() {
        std::lock_guard lock(m_mutex);
        m_open = false;
        m_permits = 0;
        m_arrived = 0;
        m_passed.clear();
    }
    // Waits until `n` frames have come to the gate since it was closed.
    void WaitArrivals(int n) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_arrived >= n; });
    }
    // The frames in the order they passed the gate.
    std::vector<std::size_t> Passed() const {
        std::lock_guard lock(m_mutex);
        return m_passed;
    }

protected:
    std::unique_ptr<MCImage> MakeThumbnail(quillon::FrameDecoder& frames, std::size_t frame) override {
        {
            std::unique_lock lock(m_mutex);
            ++m_arrived;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_open || m_permits > 0; });
            if (!m_open) --m_permits;
            m_passed.push_back(frame);
        }
        return QuillonDocument::MakeThumbnail(frames, frame);
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    int m_permits = 0;
    int m_arrived = 0;
    std::vector<std::size_t> m_passed;
};

}  // namespace gated
