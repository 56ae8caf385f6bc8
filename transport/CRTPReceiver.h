#pragma once
#include <atomic>
#include <cstdint>

#include "transport/CUDPPort.h"
#include "transport/IRTPReceiverUser.h"
#include "transport/IUDPPortUser.h"

namespace kestrel {

// Turns the datagrams of its port into parsed RTP packets for its user.
// Once given the camera's address, it drops every datagram from any other
// address unread and counts it.
class CRTPReceiver : public IUDPPortUser {
public:
    CRTPReceiver();  // port buffer 4096 bytes, no wait limit, port user = this
    ~CRTPReceiver() override;

    void DataReceived(CUDPPort* port, const Ipv4Endpoint& from, const uint8_t* data, size_t length) override;
    void ReceiveTimeout() override;
    void PortClosed(CUDPPort* port) override;

    CUDPPort& GetPort() { return m_port; }
    void SetUser(IRTPReceiverUser* user) { m_user.store(user); }
    IRTPReceiverUser* GetUser() const { return m_user.load(); }

    // Only datagrams from this IPv4 address (host order) are read from now
    // on; the count of dropped ones starts again.
    void SetSourceAddress(uint32_t address);
    // Datagrams from anywhere are read (a receiver not yet told its source).
    void AcceptAnySource();
    // The datagrams dropped since the source was set or last taken, and the
    // sender of the latest of them; the count starts again.
    uint64_t TakeDropped(Ipv4Endpoint& lastFrom);

private:
    static constexpr uint64_t kAnySource = uint64_t{1} << 32;

    CUDPPort m_port;
    std::atomic<IRTPReceiverUser*> m_user{nullptr};
    // The address in the low half; kAnySource when unchecked.
    std::atomic<uint64_t> m_source{kAnySource};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_lastDropped{0};  // address << 16 | port
};

}  // namespace kestrel
