#include "tools/record/CLatestPicture.h"

namespace kestrel::record {

void CLatestPicture::Publish(const uint8_t* data, size_t size, int64_t arrivalUs) noexcept {
    Frame* target = nullptr;
    bool copied = false;
    try {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // Readers are only added to the current frame under this lock, so
            // a frame that is not current and has none stays free for the copy.
            for (auto& frame : m_frames) {
                if (frame.get() != m_current && !frame->filling &&
                    frame->readers.load(std::memory_order_acquire) == 0) {
                    target = frame.get();
                    break;
                }
            }
            if (target == nullptr) {
                m_frames.push_back(std::make_unique<Frame>());
                target = m_frames.back().get();
            }
            target->filling = true;
        }
        target->bytes.assign(data, data + size);  // keeps its capacity
        target->arrivalUs = arrivalUs;
        copied = true;
    } catch (...) {
        // Out of memory: the viewers miss this picture, the recording does not.
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (target == nullptr) return;
        target->filling = false;
        if (!copied) return;
        target->sequence = m_sequence.load(std::memory_order_relaxed) + 1;
        m_current = target;
        m_sequence.store(target->sequence, std::memory_order_release);
    }
    m_cv.notify_all();
}

CLatestPicture::Ref CLatestPicture::TakeCurrentLocked() const {
    if (m_current == nullptr) return Ref();
    m_current->readers.fetch_add(1, std::memory_order_relaxed);
    return Ref(m_current);
}

CLatestPicture::Ref CLatestPicture::Newest() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return TakeCurrentLocked();
}

CLatestPicture::Ref CLatestPicture::WaitNewer(uint64_t after, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_for(lock, timeout, [&] { return m_closed || (m_current != nullptr && m_current->sequence > after); });
    if (m_closed || m_current == nullptr || m_current->sequence <= after) return Ref();
    return TakeCurrentLocked();
}

void CLatestPicture::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_cv.notify_all();
}

bool CLatestPicture::Closed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

size_t CLatestPicture::Buffers() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

}  // namespace kestrel::record
