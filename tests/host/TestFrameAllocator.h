#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>

#include "host/IFrameAllocator.h"
#include "tests/host/CallLog.h"
#include "tests/host/TestFrameBuffer.h"

namespace testhost {

// Allocates recording frame buffers; can be told to have none.
class TestFrameAllocator : public IFrameAllocator {
public:
    ~TestFrameAllocator() override;
    uint32_t GetFreeCount() override { return 0; }
    IFrameBuffer* AllocateFrame(uint32_t fourcc, uint32_t size, const char* driverName) override;
    uint32_t GetFrameCount() override { return 0; }
    void Reserved4() override {}
    void Reserved5() override {}
    void ReleaseFrame(IFrameBuffer* frame) override;

    CallLog log;  // every allocator and frame buffer call, in order
    std::atomic<bool> returnNull{false};
    std::atomic<int> allocated{0};
    std::atomic<int> released{0};
    size_t Outstanding();

private:
    std::mutex m_mutex;
    std::set<TestFrameBuffer*> m_live;
};

}  // namespace testhost
