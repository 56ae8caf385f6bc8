#include "channels/CBaseRTPChannel.h"

#include <algorithm>

#include "transport/CUDPSocket.h"

namespace kestrel {

namespace {
constexpr uint32_t kPassWaitMs = 1000;
// A clock wait takes 32 bits; a day is far beyond any frame time limit in use.
constexpr uint32_t kLongestPassWaitMs = 24 * 3600 * 1000;
}  // namespace

CBaseRTPChannel::CBaseRTPChannel(IDriver* driver, uint32_t channelIndex, uint32_t keepAliveMs)
    : CBaseCameraChannel(driver, channelIndex), m_keepAliveMs(keepAliveMs) {}

CBaseRTPChannel::~CBaseRTPChannel() {
    // The derived part is gone: this runs the base ClosePorts, which only
    // has the receiver left to close.
    StopStream();
}

void CBaseRTPChannel::ChannelLoop() {
    // One wait sees both the stop and a stream that ended elsewhere.
    const uint64_t forward = StopToken().AddWaker([this] { m_passDue.RequestStop(); });
    for (;;) {
        // Before the state is read: a stream that ends from now on wakes
        // the next wait; a stop that came before is seen here.
        m_passDue.Reset();
        if (StopRequested()) break;
        if (GetState() != StateRunning) {
            TryStart();
        } else {
            OnIdle();
        }
        Clock().WaitFor(m_passDue, PassWaitMs());
        if (StopRequested()) break;
        if (MsSinceLastFrame() > GetFrameTimeLimitMs()) {
            SetState(StateSignalLost);
            NotifyVideoStopped();
            SetCameraState(false);
        }
    }
    StopToken().RemoveWaker(forward);
    StopStream();
}

// A running stream needs a pass only when its frame timer runs out or a
// keep-alive falls due: a pass every second is a wake-up per camera and
// second, a share of the receive cost that grows with the cameras. Never
// more often than once a second, as before.
uint32_t CBaseRTPChannel::PassWaitMs() {
    if (GetState() != StateRunning) return kPassWaitMs;
    const uint64_t limit = GetFrameTimeLimitMs();
    const uint64_t age = MsSinceLastFrame();
    // Just past the limit: the frame check fires on exceeding it.
    uint64_t wait = age <= limit ? limit - age + 1 : 0;
    if (m_keptAlive) {
        const uint64_t since = Clock().NowMs() - m_lastKeepAliveMs;
        wait = std::min<uint64_t>(wait, since <= m_keepAliveMs ? m_keepAliveMs - since + 1 : 0);
    }
    return static_cast<uint32_t>(std::clamp<uint64_t>(wait, kPassWaitMs, kLongestPassWaitMs));
}

void CBaseRTPChannel::WakeChannelThread() { m_passDue.RequestStop(); }

void CBaseRTPChannel::OnIdle() {
    const uint32_t now = Clock().NowMs();
    if (!m_keptAlive || now - m_lastKeepAliveMs > m_keepAliveMs) {
        KeepAlive();
        m_keptAlive = true;
        m_lastKeepAliveMs = now;
    }
}

bool CBaseRTPChannel::PrepareStart() { return true; }

bool CBaseRTPChannel::ResolveCameraAddress() {
    uint32_t address = 0;
    // 0.0.0.0 is no sender: the receiver then drops everything.
    const bool resolved = CUDPSocket::ResolveIpv4(GetDeviceAddressOnly(), address);
    m_cameraAddress = resolved ? address : 0;
    m_receiver.SetSourceAddress(m_cameraAddress);
    return resolved;
}

bool CBaseRTPChannel::OpenPorts() {
    if (!ResolveCameraAddress()) return false;
    for (uint32_t port = kFirstRtpPort; port <= kLastRtpPort; port += 2) {
        if (StopRequested()) return false;
        if (m_receiver.GetPort().Open(static_cast<uint16_t>(port)) == UdpSuccess) {
            m_receiver.SetUser(this);
            return true;
        }
        m_receiver.GetPort().Close();
    }
    return false;
}

void CBaseRTPChannel::ClosePorts() {
    m_receiver.SetUser(nullptr);
    m_receiver.GetPort().Close();
}

void CBaseRTPChannel::StreamStateChanged() {}

void CBaseRTPChannel::ReceiveTimeout() {}

void CBaseRTPChannel::ReceiverClosed(CRTPReceiver* /*receiver*/) {}

bool CBaseRTPChannel::TryStart() {
    StopStream();
    if (PrepareStart() && OpenPorts() && StartStream()) {
        StreamStateChanged();
        SetState(StateRunning);
        RestartFrameTimer();
        return true;
    }
    StopStream();
    return false;
}

void CBaseRTPChannel::StopStream() {
    SetState(StateStopped);
    SetCameraState(false);
    ClosePorts();
    StreamStateChanged();
}

}  // namespace kestrel
