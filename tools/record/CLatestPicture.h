#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrel::record {

// The newest picture of one camera, shared by every viewer. The driver's
// thread copies each picture once into a recycled buffer and never waits
// for a viewer: a buffer a viewer still reads is simply not reused. Viewers
// take the newest picture when they are ready for one and skip the rest.
class CLatestPicture {
    struct Frame {
        std::vector<uint8_t> bytes;
        uint64_t sequence = 0;
        int64_t arrivalUs = 0;
        std::atomic<uint32_t> readers{0};
        bool filling = false;  // guarded by m_mutex
    };

public:
    // A viewer's hold on one picture; the bytes stay unchanged while it lives.
    class Ref {
    public:
        Ref() = default;
        ~Ref() { Release(); }
        Ref(Ref&& other) noexcept : m_frame(other.m_frame) { other.m_frame = nullptr; }
        Ref& operator=(Ref&& other) noexcept {
            if (this != &other) {
                Release();
                m_frame = other.m_frame;
                other.m_frame = nullptr;
            }
            return *this;
        }
        Ref(const Ref&) = delete;
        Ref& operator=(const Ref&) = delete;

        explicit operator bool() const { return m_frame != nullptr; }
        const uint8_t* Data() const { return m_frame->bytes.data(); }
        size_t Size() const { return m_frame->bytes.size(); }
        uint64_t Sequence() const { return m_frame->sequence; }
        int64_t ArrivalUs() const { return m_frame->arrivalUs; }

    private:
        friend class CLatestPicture;
        explicit Ref(Frame* frame) : m_frame(frame) {}
        void Release() {
            if (m_frame != nullptr) m_frame->readers.fetch_sub(1, std::memory_order_release);
            m_frame = nullptr;
        }
        Frame* m_frame = nullptr;
    };

    CLatestPicture() = default;
    CLatestPicture(const CLatestPicture&) = delete;
    CLatestPicture& operator=(const CLatestPicture&) = delete;

    // Driver thread. Allocates only while viewers hold more buffers than
    // ever before, or a picture is larger than any before.
    void Publish(const uint8_t* data, size_t size, int64_t arrivalUs) noexcept;

    // Empty until the first picture.
    Ref Newest() const;
    // A picture newer than `after`, or empty after the time-out or Close().
    Ref WaitNewer(uint64_t after, std::chrono::milliseconds timeout) const;
    // Wakes every waiting viewer for good.
    void Close();
    bool Closed() const;

    // Viewers of this camera, so that their number stays bounded.
    bool AddViewer(uint32_t most) {
        uint32_t now = m_viewers.load();
        do {
            if (now >= most) return false;
        } while (!m_viewers.compare_exchange_weak(now, now + 1));
        return true;
    }
    void RemoveViewer() { m_viewers.fetch_sub(1); }

    uint64_t Sequence() const { return m_sequence.load(std::memory_order_acquire); }
    // Buffers made so far: how many copies of a picture exist at most.
    size_t Buffers() const;

private:
    Ref TakeCurrentLocked() const;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<std::unique_ptr<Frame>> m_frames;
    Frame* m_current = nullptr;
    std::atomic<uint64_t> m_sequence{0};
    bool m_closed = false;
    std::atomic<uint32_t> m_viewers{0};
};

}  // namespace kestrel::record
