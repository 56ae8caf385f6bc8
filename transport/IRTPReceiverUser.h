#pragma once
#include "transport/Ipv4Endpoint.h"
#include "transport/RtpPacket.h"

namespace kestrel {

class CRTPReceiver;

// Receiver of parsed RTP packets (the video channel).
class IRTPReceiverUser {
public:
    virtual ~IRTPReceiverUser() = default;  // slot 0
    virtual void PacketReceived(CRTPReceiver* receiver, const Ipv4Endpoint& from,
                                const RtpPacket& packet) = 0;  // slot 1
    virtual void ReceiveTimeout() = 0;                         // slot 2
    virtual void ReceiverClosed(CRTPReceiver* receiver) = 0;   // slot 3
};

}  // namespace kestrel
