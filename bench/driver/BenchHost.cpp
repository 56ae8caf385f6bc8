#include "bench/driver/BenchHost.h"

#include "host/CDebugInfoIf.h"
#include "tools/camsim/CPictureStamp.h"

namespace halyardbench {

BenchHost::BenchHost() : m_data(256 * 1024), m_received(kSlots) {}

int BenchHost::SendFrameCallback(uint32_t, IFrameBuffer*, IFrameBuffer* frame) {
    const int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    if (frame != this) return 0;
    camsim::PictureStampInfo info;
    if (!camsim::CPictureStamp::Find(m_data.data(), m_size, &info) || info.fileSize != m_size) {
        badStamps.fetch_add(1, std::memory_order_relaxed);
        return 1;
    }
    Slot& slot = m_received[info.frameNumber % kSlots];
    slot.ns.store(now, std::memory_order_relaxed);
    slot.frame.store(info.frameNumber, std::memory_order_release);

    if (m_haveLast.load(std::memory_order_relaxed)) {
        const uint32_t last = lastFrameNumber.load(std::memory_order_relaxed);
        if (info.frameNumber > last)
            gaps.fetch_add(info.frameNumber - last - 1, std::memory_order_relaxed);
        else
            backwards.fetch_add(1, std::memory_order_relaxed);
    } else {
        m_haveLast.store(true, std::memory_order_relaxed);
        int64_t none = -1;
        firstFrameNs.compare_exchange_strong(none, now, std::memory_order_relaxed);
    }
    lastFrameNumber.store(info.frameNumber, std::memory_order_relaxed);
    bytes.fetch_add(m_size, std::memory_order_relaxed);
    frames.fetch_add(1, std::memory_order_release);
    return 1;
}

void BenchHost::DebugInfo(CDebugInfoIf* message) {
    if (message != nullptr && message->GetLevel() == 1) errors.fetch_add(1, std::memory_order_relaxed);
}

IFrameBuffer* BenchHost::AllocateFrame(uint32_t, uint32_t, const char*) {
    if (m_out.exchange(true)) {
        refused.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    return this;
}

void BenchHost::ReleaseFrame(IFrameBuffer* frame) {
    if (frame == this) m_out.store(false);
}

uint8_t* BenchHost::GetData(uint32_t size) {
    if (m_data.size() < size) m_data.resize(size);
    return m_data.data();
}

void BenchHost::ResetSequence() {
    m_haveLast.store(false);
    firstFrameNs.store(-1);
}

int64_t BenchHost::ReceivedAt(uint32_t frame) const {
    const Slot& slot = m_received[frame % kSlots];
    if (slot.frame.load(std::memory_order_acquire) != frame) return -1;
    return slot.ns.load(std::memory_order_relaxed);
}

}  // namespace halyardbench
