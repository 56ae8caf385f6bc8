#include "channels/CBaseCameraChannel.h"

#include <cctype>

#include "channels/CChannelThreadMark.h"
#include "capture/DEVICE_INFO.h"
#include "capture/IDriver.h"
#include "host/CCaptureAPIUser.h"
#include "runtime/DebugLevel.h"
#include "runtime/FormatString.h"

namespace kestrel {

CBaseCameraChannel::CBaseCameraChannel(IDriver* driver, uint32_t channelIndex)
    : m_driver(driver), m_channelIndex(channelIndex) {}

CBaseCameraChannel::~CBaseCameraChannel() {
    // The concrete channel has stopped the thread in its own destructor;
    // this only catches a channel that never ran its own.
    if (m_thread.joinable()) {
        m_stopEvent.Set();
        m_thread.join();
    }
    ReleaseSocketLayer();
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
        m_stopEvent.Set();
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
        m_driver->DebugMessage(LevelInfo,
                               "kestrel::CBaseCameraChannel::SetCameraState: %s is offline. Channel was stopped",
                               name.c_str());
        break;
    default:
        m_driver->DebugMessage(LevelError, "kestrel::CBaseCameraChannel::SetCameraState: %s is offline or failed",
                               name.c_str());
        break;
    }
}

void CBaseCameraChannel::ReportOnlineIfRunning() {
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
    } catch (...) {
    }
}

bool CBaseCameraChannel::IsThreadRunning() const {
    return m_thread.joinable() && !m_threadEnded.IsSet();
}

void CBaseCameraChannel::ThreadMain() {
    CChannelThreadMark mark(this);
    try {
        ChannelLoop();
    } catch (...) {
        // Nothing may leave a thread; the channel then waits for its Stop.
    }
    m_threadEnded.Set();
}

bool CBaseCameraChannel::StartChannelThread() {
    if (!m_socketLayer) m_socketLayer.emplace();
    if (m_thread.joinable()) {
        if (IsThreadRunning()) {
            StopChannelThread();
            if (!m_socketLayer) m_socketLayer.emplace();
        } else {
            m_thread.join();
        }
    }
    SetState(StateStopped);
    m_stopEvent.Reset();
    m_threadEnded.Reset();
    try {
        m_thread = std::thread([this] { ThreadMain(); });
    } catch (...) {
        ReleaseSocketLayer();
        return false;
    }
    return true;
}

void CBaseCameraChannel::StopChannelThread() {
    m_stopEvent.Set();
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id()) {
            // A thread cannot wait for itself; it ends when it returns to
            // its loop and finds the stop event.
            return;
        }
        // Once: the stop event and the sender's cancel both hold until the
        // next start, so a request begun after this still ends at once.
        AbortPending();
        // The platform design terminates a thread still running after the
        // request time limit; killing a thread that may hold a lock corrupts
        // the driver, so this waits on. Every blocking point of the thread
        // observes the stop, so the wait stays short.
        m_threadEnded.Wait(kInfinite);
        m_thread.join();
    }
    SetState(StateStopped);
    ReleaseSocketLayer();
}

void CBaseCameraChannel::ReleaseSocketLayer() { m_socketLayer.reset(); }

}  // namespace kestrel
