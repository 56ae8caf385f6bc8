#pragma once
#include <atomic>

#include "transport/CUDPPort.h"
#include "transport/IRTPReceiverUser.h"
#include "transport/IUDPPortUser.h"

namespace kestrel {

// Turns the datagrams of its port into parsed RTP packets for its user.
class CRTPReceiver : public IUDPPortUser {
public:
    CRTPReceiver();  // port buffer 4096 bytes, port user = this
    ~CRTPReceiver() override;

    void DataReceived(CUDPPort* port, const Ipv4Endpoint& from, const uint8_t* data,
                      size_t length) override;
    void ReceiveTimeout() override;
    void PortClosed(CUDPPort* port) override;

    CUDPPort& GetPort() { return m_port; }
    void SetUser(IRTPReceiverUser* user) { m_user.store(user); }
    IRTPReceiverUser* GetUser() const { return m_user.load(); }

private:
    CUDPPort m_port;
    std::atomic<IRTPReceiverUser*> m_user{nullptr};
};

}  // namespace kestrel
