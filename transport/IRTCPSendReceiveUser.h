#pragma once

namespace kestrel {

class CRTCPSendReceive;

// Owner of an RTCP object (the video channel).
class IRTCPSendReceiveUser {
public:
    virtual ~IRTCPSendReceiveUser() = default;                  // slot 0
    virtual void RtcpTimeout() = 0;                             // slot 1
    virtual void RtcpSocketClosed(CRTCPSendReceive* rtcp) = 0;  // slot 2
};

}  // namespace kestrel
