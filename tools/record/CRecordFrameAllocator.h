#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "host/IFrameAllocator.h"
#include "tools/record/CRecordFrameBuffer.h"

namespace kestrel::record {

// A small pool of frame buffers for one camera. The driver holds at most one
// at a time per channel; the pool grows to a fixed limit, then says none.
class CRecordFrameAllocator : public IFrameAllocator {
public:
    static constexpr size_t kMaxBuffers = 8;
    static constexpr uint32_t kMaxPicture = 16u << 20;  // larger requests are refused

    CRecordFrameAllocator();

    uint32_t GetFreeCount() override;
    IFrameBuffer* AllocateFrame(uint32_t fourcc, uint32_t size, const char* driverName) override;
    uint32_t GetFrameCount() override;
    void Reserved4() override {}
    void Reserved5() override {}
    void ReleaseFrame(IFrameBuffer* frame) override;

    // The pool's own buffer behind a pointer the driver handed back, or null.
    CRecordFrameBuffer* Own(IFrameBuffer* frame);
    uint64_t Refused() const { return m_refused.load(std::memory_order_relaxed); }

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<CRecordFrameBuffer>> m_all;
    std::vector<CRecordFrameBuffer*> m_free;
    std::atomic<uint64_t> m_refused{0};
};

}  // namespace kestrel::record
