#include "driver/COldCaptureApiUser.h"

#include "host/IHostSink.h"
#include "host/IVideoSink.h"
#include "runtime/GuardedCall.h"

namespace kestrel {

COldCaptureApiUser::COldCaptureApiUser(ipcapture::IHostSink* hostSink) : m_hostSink(hostSink) {
    for (auto& sink : m_sinks) sink.store(nullptr);
}

int COldCaptureApiUser::SendFrameCallback(uint32_t channel, IFrameBuffer* alternate, IFrameBuffer* frame) noexcept {
    if (channel >= kChannels) return 0;
    ipcapture::IVideoSink* sink = m_sinks[channel].load();
    if (sink == nullptr) return 0;
    return GuardedCall(0, [&] { return sink->OnFrame(frame != nullptr ? frame : alternate) ? 1 : 0; });
}

void COldCaptureApiUser::VideoStopped(uint32_t channel) noexcept {
    if (channel >= kChannels) return;
    if (ipcapture::IVideoSink* sink = m_sinks[channel].load()) GuardedCall([&] { sink->OnVideoStopped(); });
}

void COldCaptureApiUser::Reserved3() noexcept {}

void COldCaptureApiUser::DebugInfo(CDebugInfoIf* message) noexcept {
    if (m_hostSink != nullptr) GuardedCall([&] { m_hostSink->OnDebugInfo(message); });
}

void COldCaptureApiUser::SetSink(uint32_t channel, ipcapture::IVideoSink* sink) {
    if (channel < kChannels) m_sinks[channel].store(sink);
}

}  // namespace kestrel
