#pragma once
#include <cstdint>

#include "channels/CBaseCameraChannel.h"
#include "runtime/CStopToken.h"
#include "transport/CRTPReceiver.h"
#include "transport/IRTPReceiverUser.h"

namespace kestrel {

// A camera channel fed by RTP. Its thread starts the stream, watches for
// frames, declares the signal lost when they stop and starts again, until
// the channel is stopped. What starting means for a camera is left to the
// derived class.
class CBaseRTPChannel : public CBaseCameraChannel, public IRTPReceiverUser {
public:
    CBaseRTPChannel(IDriver* driver, uint32_t channelIndex, uint32_t keepAliveMs);
    ~CBaseRTPChannel() override;

    void ChannelLoop() override;        // slot 5
    virtual void OnIdle();              // slot 6
    virtual void KeepAlive() = 0;       // slot 7
    virtual bool PrepareStart();        // slot 8
    virtual bool OpenPorts();           // slot 9
    virtual void ClosePorts();          // slot 10
    virtual void StreamStateChanged();  // slot 11
    virtual bool StartStream() = 0;     // slot 12

    // IRTPReceiverUser
    void ReceiveTimeout() override;
    void ReceiverClosed(CRTPReceiver* receiver) override;

    // The local RTP port search: even numbers from the first to the last.
    static constexpr uint16_t kFirstRtpPort = 3556;
    static constexpr uint16_t kLastRtpPort = 4554;

protected:
    bool TryStart();
    void StopStream();
    // Resolves the camera's address for this stream start and lets only
    // its datagrams through the receiver; false when it names no IPv4
    // address (the receiver then accepts nothing).
    bool ResolveCameraAddress();
    // Any thread: the stream ended outside the channel thread, whose next
    // pass then comes at once instead of when the frame timer runs out.
    void WakeChannelThread();

    CRTPReceiver m_receiver;
    const uint32_t m_keepAliveMs;
    // Channel thread only; the first pass always keeps alive.
    bool m_keptAlive = false;
    uint32_t m_lastKeepAliveMs = 0;
    // Set by ResolveCameraAddress on the channel thread.
    uint32_t m_cameraAddress = 0;

private:
    uint32_t PassWaitMs();

    // Ends the channel thread's wait early: set by the stop and by
    // WakeChannelThread, cleared by each pass.
    CStopToken m_passDue;
};

}  // namespace kestrel
