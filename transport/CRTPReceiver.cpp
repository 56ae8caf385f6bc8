#include "transport/CRTPReceiver.h"

namespace kestrel {

namespace {
constexpr uint32_t kVideoBufferSize = 4096;
}

CRTPReceiver::CRTPReceiver() {
    m_port.SetUser(this);
    m_port.SetReceiveBufferSize(kVideoBufferSize);
    // No channel acts on a quiet video port (the channel thread times the
    // signal loss), and a wait limit costs a kernel timer set and cleared
    // at every datagram that finds the socket empty.
    m_port.SetWaitTimeout(0, 0);
}

CRTPReceiver::~CRTPReceiver() {
    // Closed here, while this object is whole: the port's closure still
    // reaches a registered user.
    m_port.Close();
}

void CRTPReceiver::SetSourceAddress(uint32_t address) {
    m_source.store(address, std::memory_order_release);
    m_dropped.store(0, std::memory_order_relaxed);
}

void CRTPReceiver::AcceptAnySource() {
    m_source.store(kAnySource, std::memory_order_release);
    m_dropped.store(0, std::memory_order_relaxed);
}

uint64_t CRTPReceiver::TakeDropped(Ipv4Endpoint& lastFrom) {
    const uint64_t count = m_dropped.exchange(0, std::memory_order_acq_rel);
    const uint64_t last = m_lastDropped.load(std::memory_order_relaxed);
    lastFrom.address = static_cast<uint32_t>(last >> 16);
    lastFrom.port = static_cast<uint16_t>(last);
    return count;
}

void CRTPReceiver::DataReceived(CUDPPort* port, const Ipv4Endpoint& from, const uint8_t* data, size_t length) {
    if (port != &m_port) return;
    // Before the parse: a stranger's datagram must not reach the sequence
    // numbers, the picture or the signal timer.
    const uint64_t source = m_source.load(std::memory_order_acquire);
    if (source != kAnySource && from.address != source) {
        m_lastDropped.store((uint64_t{from.address} << 16) | from.port, std::memory_order_relaxed);
        m_dropped.fetch_add(1, std::memory_order_release);
        return;
    }
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
