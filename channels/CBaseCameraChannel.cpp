#include "channels/CBaseCameraChannel.h"

#include <cctype>

#include "capture/DEVICE_INFO.h"
#include "capture/IDriver.h"
#include "channels/CChannelThreadMark.h"
#include "host/CCaptureAPIUser.h"
#include "runtime/DebugLevel.h"
#include "runtime/FormatString.h"

namespace kestrel {

CBaseCameraChannel::CBaseCameraChannel(IDriver* driver, uint32_t channelIndex)
    : m_driver(driver), m_channelIndex(channelIndex), m_lastFrameMs(m_clock->NowMs()) {}

// The concrete channel has stopped the thread in its own destructor; the
// worker's own destructor catches a channel that never did.
CBaseCameraChannel::~CBaseCameraChannel() { ReleaseSocketLayer(); }

void CBaseCameraChannel::SetClock(ITickClock& clock) {
    m_clock = &clock;
    m_lastFrameMs.store(clock.NowMs(), std::memory_order_relaxed);
}

uint32_t CBaseCameraChannel::MsSinceLastFrame() {
    // The stamp first: a picture delivered between the two reads must not
    // look like one from the future, which would wrap to a huge age.
    const uint32_t last = m_lastFrameMs.load(std::memory_order_relaxed);
    const auto elapsed = static_cast<int32_t>(m_clock->NowMs() - last);
    return elapsed > 0 ? static_cast<uint32_t>(elapsed) : 0;
}

bool CBaseCameraChannel::Start(uint32_t intervalMs, int32_t width, int32_t height, int32_t quality) {
    std::lock_guard<std::mutex> control(m_controlMutex);
    if (GetState() != StateStopped) return false;
    m_frameInterval.store(intervalMs, std::memory_order_relaxed);
    m_width.store(width, std::memory_order_relaxed);
    m_height.store(height, std::memory_order_relaxed);
    m_quality.store(quality, std::memory_order_relaxed);
    return StartChannelThread();
}

void CBaseCameraChannel::Stop() {
    if (CChannelThreadMark::Current() == this) {
        // From a host callback on one of this channel's own threads: they
        // cannot be waited for here. Stop delivering and let the threads
        // end; the driver calls Stop again from another thread to finish.
        m_worker.RequestStop();
        SetState(StateStopped);
        return;
    }
    std::lock_guard<std::mutex> control(m_controlMutex);
    StopChannelThread();
    SetState(StateStopped);
}

CameraState CBaseCameraChannel::GetState() { return m_state.load(std::memory_order_acquire); }

void CBaseCameraChannel::SetState(CameraState state) {
    CLockGuard guard(m_stateLock);
    m_state.store(state, std::memory_order_release);
}

bool CBaseCameraChannel::SetStateIf(CameraState expected, CameraState state) {
    CLockGuard guard(m_stateLock);
    if (m_state.load(std::memory_order_relaxed) != expected) return false;
    m_state.store(state, std::memory_order_release);
    return true;
}

std::string CBaseCameraChannel::GetDeviceAddressOnly() {
    if (m_driver == nullptr) return {};
    const DEVICE_INFO* device = m_driver->GetDeviceInfo();
    return device != nullptr ? device->address : std::string();
}

uint32_t CBaseCameraChannel::GetFrameTimeLimitMs() {
    const DEVICE_INFO* device = m_driver != nullptr ? m_driver->GetDeviceInfo() : nullptr;
    return device != nullptr ? device->frameTimeLimitMs : DEVICE_INFO().frameTimeLimitMs;
}

std::string CBaseCameraChannel::GetChannelName() {
    const std::string address = GetDeviceAddressOnly();
    if (m_driver != nullptr && m_driver->GetCameraCount() > 1) {
        return FormatString("Video-server %s (channel %u)", address.c_str(), m_channelIndex);
    }
    return FormatString("Camera %s", address.c_str());
}

void CBaseCameraChannel::SetCameraState(bool online) {
    // One exchange, so two threads reporting the same change log it once.
    if (m_online.exchange(online) == online) return;
    if (m_driver == nullptr) return;
    std::string name = GetChannelName();
    if (online) {
        m_driver->DebugMessage(LevelInfo, "kestrel::CBaseCameraChannel::SetCameraState: %s is online", name.c_str());
        return;
    }
    switch (GetState()) {
    case StateSignalLost:
        if (!name.empty()) name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        m_driver->DebugMessage(LevelError, "kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for %s",
                               name.c_str());
        break;
    case StateStopped:
        m_driver->DebugMessage(
            LevelInfo, "kestrel::CBaseCameraChannel::SetCameraState: %s is offline. Channel was stopped", name.c_str());
        break;
    default:
        m_driver->DebugMessage(LevelError, "kestrel::CBaseCameraChannel::SetCameraState: %s is offline or failed",
                               name.c_str());
        break;
    }
}

void CBaseCameraChannel::ReportOnlineIfRunning() {
    // Called for every picture; once online, the report below would change
    // nothing, and the lock and exchange would only dirty shared lines.
    if (m_online.load(std::memory_order_acquire)) return;
    // Under the state lock: whoever leaves StateRunning does so before it
    // reports offline, so the online report either comes first or not at all.
    CLockGuard guard(m_stateLock);
    if (m_state.load(std::memory_order_relaxed) == StateRunning) SetCameraState(true);
}

bool CBaseCameraChannel::DeliverFrame(IFrameBuffer* frame) {
    try {
        CCaptureAPIUser* user = m_driver != nullptr ? m_driver->GetCaptureUser() : nullptr;
        if (user == nullptr) return false;
        // The host answers in the low byte.
        return (user->SendFrameCallback(m_channelIndex, nullptr, frame) & 0xFF) != 0;
    } catch (...) {
        return false;
    }
}

void CBaseCameraChannel::NotifyVideoStopped() {
    try {
        CCaptureAPIUser* user = m_driver != nullptr ? m_driver->GetCaptureUser() : nullptr;
        if (user != nullptr) user->VideoStopped(m_channelIndex);
    } catch (...) {}
}

void CBaseCameraChannel::ThreadMain() {
    CChannelThreadMark mark(this);
    try {
        ChannelLoop();
    } catch (...) {
        // Nothing may leave a thread; the channel then waits for its Stop.
    }
}

bool CBaseCameraChannel::StartChannelThread() {
    if (!m_socketLayer) m_socketLayer.emplace();
    if (m_workerStarted && m_worker.IsRunning()) {
        StopChannelThread();
        if (!m_socketLayer) m_socketLayer.emplace();
    }
    SetState(StateStopped);
    // Start lifts the stop token for the new run.
    // Its passes look at timers; they must not cut into a picture being received.
    if (!m_worker.Start("channel", [this](CStopToken&) {
            CWorkerThread::RunCurrentThreadInBackground();
            ThreadMain();
        })) {
        ReleaseSocketLayer();
        return false;
    }
    m_workerStarted = true;
    return true;
}

void CBaseCameraChannel::StopChannelThread() {
    m_worker.RequestStop();
    if (m_workerStarted) {
        if (m_worker.IsCurrentThread()) {
            // A thread cannot wait for itself; it ends when it returns to
            // its loop and finds the stop.
            return;
        }
        // Once: the stop token and the sender's cancel both hold until the
        // next start, so a request begun after this still ends at once.
        AbortPending();
        // The platform design terminates a thread still running after the
        // request time limit; killing a thread that may hold a lock corrupts
        // the driver, so this waits on. Every blocking point of the thread
        // observes the stop, so the wait stays short.
        m_worker.Join(kInfinite);
        m_workerStarted = false;
    }
    SetState(StateStopped);
    ReleaseSocketLayer();
}

void CBaseCameraChannel::ReleaseSocketLayer() { m_socketLayer.reset(); }

}  // namespace kestrel
