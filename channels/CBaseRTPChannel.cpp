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
        if (m_stopEvent.Wait(kPassWaitMs)) break;
        if (m_frameTimer.GetElapsedMs() > GetFrameTimeLimitMs()) {
            SetState(StateSignalLost);
            NotifyVideoStopped();
            SetCameraState(false);
        }
    }
    StopStream();
}

void CBaseRTPChannel::OnIdle() {
    // Measured in 64 bits: the timer starts at time 0, whose elapsed
    // milliseconds do not fit the 32-bit query, and the first pass must
    // run KeepAlive.
    const uint64_t stored = m_keepAliveTimer.GetTime();
    const uint64_t now = CTime::Now();
    const uint64_t elapsedMs = now > stored ? (now - stored) / 10000u : 0;
    if (elapsedMs > m_keepAliveMs) {
        KeepAlive();
        m_keepAliveTimer.Update();
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
        if (m_stopEvent.IsSet()) return false;
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
        m_frameTimer.Update();
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
