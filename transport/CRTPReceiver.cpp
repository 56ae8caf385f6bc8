#include "transport/CRTPReceiver.h"

namespace kestrel {

namespace {
constexpr uint32_t kVideoBufferSize = 4096;
}

CRTPReceiver::CRTPReceiver() {
    m_port.SetUser(this);
    m_port.SetReceiveBufferSize(kVideoBufferSize);
}

CRTPReceiver::~CRTPReceiver() {
    // Closed here, while this object is whole: the port's closure still
    // reaches a registered user.
    m_port.Close();
}

void CRTPReceiver::DataReceived(CUDPPort* port, const Ipv4Endpoint& from, const uint8_t* data,
                                size_t length) {
    if (port != &m_port) return;
    RtpPacket packet;
    if (!ParseRtpPacket(data, length, packet)) return;
    if (IRTPReceiverUser* user = m_user.load(std::memory_order_acquire)) user->PacketReceived(this, from, packet);
}

void CRTPReceiver::ReceiveTimeout() {
    if (IRTPReceiverUser* user = m_user.load(std::memory_order_acquire)) user->ReceiveTimeout();
}

void CRTPReceiver::PortClosed(CUDPPort* /*port*/) {
    if (IRTPReceiverUser* user = m_user.load(std::memory_order_acquire)) user->ReceiverClosed(this);
}

}  // namespace kestrel
