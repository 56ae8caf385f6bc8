#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "channels/CBaseRTPChannel.h"
#include "runtime/CRecursiveLock.h"
#include "transport/CRTCPSendReceive.h"
#include "transport/IRTCPSendReceiveUser.h"
#include "web/CBaseHttpSender.h"

namespace kestrel {

struct VideoChannelParams;

// The Sony G4 camera channel: sets the camera up over its CGI interface,
// has it stream Motion JPEG by RTP to a local port pair, keeps the stream
// alive with RTCP, and joins, checks and delivers the pictures.
class CSonyMJPEGChannelRTP : public CBaseRTPChannel, public IRTCPSendReceiveUser {
public:
    // Without a sender of its own the channel talks to the camera through
    // libcurl; tests may script the camera's answers instead.
    CSonyMJPEGChannelRTP(IDriver* driver, const VideoChannelParams& params,
                         std::unique_ptr<Web::CBaseHttpSender> sender = nullptr);
    ~CSonyMJPEGChannelRTP() override;

    void AbortPending() override;  // slot 4
    void OnIdle() override;        // slot 6
    void KeepAlive() override;     // slot 7
    bool OpenPorts() override;     // slot 9
    void ClosePorts() override;    // slot 10
    bool StartStream() override;   // slot 12

    // IRTPReceiverUser
    void PacketReceived(CRTPReceiver* receiver, const Ipv4Endpoint& from, const RtpPacket& packet) override;
    void ReceiveTimeout() override;
    void ReceiverClosed(CRTPReceiver* receiver) override;

    // IRTCPSendReceiveUser
    void RtcpTimeout() override;
    void RtcpSocketClosed(CRTCPSendReceive* rtcp) override;

    // The channel's message path: formats, drops a text equal to the last
    // one it sent, hands the rest to the driver as finished text.
    void DebugMessage(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void ClearLastMessage();

    bool SendCameraRequest(const std::string& path, const char* caller);
    uint32_t ComputeCameraQuality();

    bool SetCameraVideoMode();
    bool UpdateCameraParameters();
    bool DisablePrivaceZones();
    bool StartJPEGStream();

    // A picture larger than this at the arrival of a further packet is
    // thrown away.
    static constexpr size_t kMaxPictureBytes = 0xC0000;

protected:
    // Lifts the sender's cancel unless the channel is stopping.
    void ReopenSender();
    enum class ClosedSocket { Video, Rtcp };
    void SocketClosed(ClosedSocket which);
    void FrameReceived(const std::vector<uint8_t>& picture);
    // One message per stream start for the datagrams other hosts sent.
    void ReportForeignDatagrams();

    std::unique_ptr<Web::CBaseHttpSender> m_sender;
    CRTCPSendReceive m_rtcp;
    const int32_t m_videoMode;
    const uint32_t m_qualityMin;
    const uint32_t m_qualityMax;
    // Set by the channel thread before a stream starts, by the receive
    // thread on a gap or a refused frame.
    std::atomic<bool> m_discard{true};
    std::vector<uint8_t> m_picture;  // receive thread only
    // Whether this picture has fetched the host's objects (receive thread only).
    bool m_hostFetched = false;
    // Whether the receive thread carries this channel's mark; cleared before
    // a port opens, which starts a new thread.
    std::atomic<bool> m_receiveThreadMarked{false};
    CRecursiveLock m_messageLock;
    std::string m_lastMessage;  // under m_messageLock
};

}  // namespace kestrel
