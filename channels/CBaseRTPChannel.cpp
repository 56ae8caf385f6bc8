#include "channels/CBaseRTPChannel.h"

#include "transport/CUDPSocket.h"

namespace kestrel {

namespace {
constexpr uint32_t kPassWaitMs = 1000;
}  // namespace

CBaseRTPChannel::CBaseRTPChannel(IDriver* driver, uint32_t channelIndex, uint32_t keepAliveMs)
    : CBaseCameraChannel(driver, channelIndex), m_keepAliveMs(keepAliveMs) {}

CBaseRTPChannel::~CBaseRTPChannel() {
    // The derived part is gone: this runs the base ClosePorts, which only
    // has the receiver left to close.
    StopStream();
}

void CBaseRTPChannel::ChannelLoop() {
    for (;;) {
        if (GetState() != StateRunning) {
            TryStart();
        } else {
            OnIdle();
        }
        if (Clock().WaitFor(StopToken(), kPassWaitMs)) break;
        if (MsSinceLastFrame() > GetFrameTimeLimitMs()) {
            SetState(StateSignalLost);
            NotifyVideoStopped();
            SetCameraState(false);
        }
    }
    StopStream();
}

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
