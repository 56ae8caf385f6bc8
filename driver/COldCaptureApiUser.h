#pragma once
#include <array>
#include <atomic>
#include <cstdint>

#include "host/CCaptureAPIUser.h"

namespace kestrel {

namespace ipcapture {
class IHostSink;
class IVideoSink;
}  // namespace ipcapture

// Routes the legacy callbacks to the IP host's per-channel video sinks and
// its debug sink.
class COldCaptureApiUser : public CCaptureAPIUser {
public:
    static constexpr uint32_t kChannels = 64;

    explicit COldCaptureApiUser(ipcapture::IHostSink* hostSink);
    ~COldCaptureApiUser() override = default;

    // The host's sinks may throw; what they throw ends here as a refusal.
    int SendFrameCallback(uint32_t channel, IFrameBuffer* alternate, IFrameBuffer* frame) noexcept override;
    void VideoStopped(uint32_t channel) noexcept override;
    void Reserved3() noexcept override;
    void DebugInfo(CDebugInfoIf* message) noexcept override;

    void SetSink(uint32_t channel, ipcapture::IVideoSink* sink);

private:
    // Written by the host's thread, read by channel threads.
    std::array<std::atomic<ipcapture::IVideoSink*>, kChannels> m_sinks{};
    ipcapture::IHostSink* m_hostSink;
};

}  // namespace kestrel
