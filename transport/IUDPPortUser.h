#pragma once
#include <cstddef>
#include <cstdint>

#include "transport/Ipv4Endpoint.h"

namespace kestrel {

class CUDPPort;

// Receiver of a port's datagrams, time-outs and closure. All three run on
// the port's receive thread, except PortClosed raised by Close.
class IUDPPortUser {
public:
    virtual ~IUDPPortUser() = default;  // slot 0
    // data points into the thread's buffer, valid only during the call.
    virtual void DataReceived(CUDPPort* port, const Ipv4Endpoint& from, const uint8_t* data,
                              size_t length) = 0;  // slot 1
    virtual void ReceiveTimeout() = 0;             // slot 2
    virtual void PortClosed(CUDPPort* port) = 0;   // slot 3
};

}  // namespace kestrel
