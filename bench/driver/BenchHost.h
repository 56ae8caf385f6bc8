#pragma once
// The host side of one driver object for the benchmarks: one reusable frame
// buffer, and a frame callback that only reads the picture's stamp, counts,
// and timestamps. Nothing here allocates once the buffer has grown.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "host/CCaptureAPIUser.h"
#include "host/IFrameAllocator.h"
#include "host/IFrameBuffer.h"

namespace halyardbench {

class BenchHost : public CCaptureAPIUser, public IFrameAllocator, public IFrameBuffer {
public:
    static constexpr uint32_t kSlots = 4096;  // receive times kept, by frame number

    BenchHost();

    // CCaptureAPIUser
    int SendFrameCallback(uint32_t channel, IFrameBuffer* alternate, IFrameBuffer* frame) override;
    void VideoStopped(uint32_t) override {}
    void Reserved3() override {}
    void DebugInfo(CDebugInfoIf* message) override;

    // IFrameAllocator: the single buffer, or none while it is out.
    uint32_t GetFreeCount() override { return 0; }
    IFrameBuffer* AllocateFrame(uint32_t fourcc, uint32_t size, const char* driverName) override;
    uint32_t GetFrameCount() override { return 0; }
    void Reserved4() override {}
    void Reserved5() override {}
    void ReleaseFrame(IFrameBuffer* frame) override;

    // IFrameBuffer
    uint32_t GetCapacity() override { return static_cast<uint32_t>(m_data.size()); }
    uint8_t* GetData(uint32_t size) override;
    uint32_t GetDataSize() override { return m_size; }
    void SetDataSize(uint32_t size) override { m_size = size; }
    void BeginFrame() override {}
    uint64_t GetTimestamp() override { return 0; }
    void SetTimestamp(uint64_t) override {}
    uint32_t GetFlags() override { return 0; }
    void SetFlags(uint32_t) override {}
    void SetFrameFourCC(uint32_t) override {}
    uint32_t GetFrameFourCC() override { return 0; }
    void SetHeight(int32_t) override {}
    int32_t GetHeight() override { return 0; }
    void SetWidth(int32_t) override {}
    int32_t GetWidth() override { return 0; }
    void SetResolution(int32_t) override {}
    int32_t GetResolution() override { return 0; }

    // Forgets the frame sequence, so that the next picture starts a new one.
    void ResetSequence();

    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> bytes{0};
    std::atomic<uint64_t> gaps{0};          // pictures missing between consecutive frame numbers
    std::atomic<uint64_t> backwards{0};     // frame number not above the one before
    std::atomic<uint64_t> badStamps{0};     // no stamp, or its size differs from the delivered size
    std::atomic<uint64_t> refused{0};       // AllocateFrame while the buffer was out
    std::atomic<uint64_t> errors{0};        // level-1 debug messages
    std::atomic<int64_t> firstFrameNs{-1};  // CLOCK_MONOTONIC of the first frame since ResetSequence
    std::atomic<uint32_t> lastFrameNumber{0};

    // When frame (by its stamp's number) reached SendFrameCallback; -1 unknown.
    int64_t ReceivedAt(uint32_t frame) const;

private:
    struct Slot {
        std::atomic<uint32_t> frame{UINT32_MAX};
        std::atomic<int64_t> ns{-1};
    };

    std::vector<uint8_t> m_data;
    uint32_t m_size = 0;
    std::atomic<bool> m_out{false};
    std::atomic<bool> m_haveLast{false};
    std::vector<Slot> m_received;
};

}  // namespace halyardbench
