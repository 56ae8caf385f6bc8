#include "transport/CRTCPSendReceive.h"

#include <cstdlib>
#include <ctime>
#include <random>

#include "runtime/CByteReader.h"
#include "runtime/ITickClock.h"
#include "transport/CUDPSocket.h"
#include "transport/IRTCPSendReceiveUser.h"
#include "transport/RtcpBye.h"
#include "transport/RtcpReceiverReport.h"
#include "transport/RtcpSenderReport.h"

namespace kestrel {

namespace {

constexpr uint8_t kSenderReport = RtcpSenderReport::kPacketType;
constexpr size_t kReceiverReportSize = RtcpReceiverReport::kOneBlockSize;
constexpr uint32_t kStopWaitMs = 2000;
constexpr uint32_t kReportWaitSeconds = 8;

std::array<uint32_t, 4> RandomGuid() {
    try {
        std::random_device device;
        return {device(), device(), device(), device()};
    } catch (...) {
        return {};
    }
}

}  // namespace

CRTCPSendReceive::CRTCPSendReceive() : CRTCPSendReceive(ITickClock::System(), GuidSource{}) {}

CRTCPSendReceive::CRTCPSendReceive(ITickClock& clock, const GuidSource& guidSource) : m_scheduler(clock) {
    std::array<uint32_t, 4> guid = guidSource ? guidSource() : RandomGuid();
    if (guid == std::array<uint32_t, 4>{}) {
        std::srand(static_cast<unsigned>(std::time(nullptr)));
        guid[0] = static_cast<uint32_t>(std::rand());
    }
    // Only the first field is used; it goes out most significant byte first.
    m_ownSsrc = guid[0];
    m_port.SetUser(this);
}

CRTCPSendReceive::~CRTCPSendReceive() {
    StopReports();
    m_portOpen.store(false);
    m_port.Close();
}

bool CRTCPSendReceive::Open(uint16_t port) {
    if (m_portOpen.load()) return false;
    if (m_port.Open(port) != UdpSuccess) return false;
    m_portOpen.store(true);
    StartReports();
    return true;
}

void CRTCPSendReceive::Close() {
    m_portOpen.store(false);
    SendBye();
    // The camera's next stream may report from another port.
    m_peerKnown.store(false);
    m_port.Close();
}

bool CRTCPSendReceive::IsOpen() const { return m_portOpen.load(); }

void CRTCPSendReceive::SetRemoteAddress(const std::string& dottedAddress) {
    uint32_t address = 0;
    if (!dottedAddress.empty() && !CUDPSocket::ParseDottedAddress(dottedAddress, address)) {
        // As the platform's conversion does: "none", which no camera sends from.
        address = 0xFFFFFFFFu;
    }
    SetCameraAddress(address);
}

void CRTCPSendReceive::SetCameraAddress(uint32_t address) {
    m_cameraAddress.store(address);
    m_dropped.store(0);
}

uint64_t CRTCPSendReceive::TakeDropped(Ipv4Endpoint& lastFrom) {
    const uint64_t count = m_dropped.exchange(0);
    const uint64_t last = m_lastDropped.load();
    lastFrom.address = static_cast<uint32_t>(last >> 16);
    lastFrom.port = static_cast<uint16_t>(last);
    return count;
}

void CRTCPSendReceive::SetReportInterval(int32_t milliseconds) { m_scheduler.SetInterval(milliseconds); }

int32_t CRTCPSendReceive::GetReportInterval() const { return m_scheduler.Interval(); }

uint16_t CRTCPSendReceive::GetLastSequenceNumber() const {
    return m_lastSequenceNumber.load(std::memory_order_relaxed);
}

void CRTCPSendReceive::SetUser(IRTCPSendReceiveUser* user) { m_user.store(user); }

CUDPPort& CRTCPSendReceive::GetPort() { return m_port; }

void CRTCPSendReceive::ReceiveTimeout() {
    if (IRTCPSendReceiveUser* user = m_user.load()) user->RtcpTimeout();
}

void CRTCPSendReceive::PortClosed(CUDPPort* /*port*/) {
    if (IRTCPSendReceiveUser* user = m_user.load()) user->RtcpSocketClosed(this);
}

// Every RTCP packet starts with (RFC 3550 6.4):
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// |V=2|P|    RC   |      PT       |        length (words - 1)      |  0
// |                         SSRC of sender                        |  4
// a sender report (PT 200) goes on with its NTP time stamp:
// |                     NTP time stamp, high                      |  8
// |                     NTP time stamp, low                       | 12
// Bytes 10-13 (the middle 32 bits of the NTP stamp) are what the next
// receiver report echoes as LSR.
void CRTCPSendReceive::DataReceived(CUDPPort* /*port*/, const Ipv4Endpoint& from, const uint8_t* data, size_t length) {
    if (from.address != m_cameraAddress.load()) {
        m_lastDropped.store((uint64_t{from.address} << 16) | from.port);
        m_dropped.fetch_add(1);
        return;
    }
    if (length == 0 || data == nullptr) return;
    CLockGuard guard(m_lock);
    // Reports go where the camera's latest sender report came from: its
    // RTCP port may change with every stream it starts.
    if (length >= 2 && data[1] == kSenderReport && m_portOpen.load()) {
        m_peerAddress = from;
        m_peerKnown.store(true);
    }
    m_peerVersionBits = data[0] & 0xC0;
    // Fields a short datagram does not carry keep their last values.
    RtcpSenderReport report;
    if (RtcpSenderReport::Parse(data, length, report)) {
        m_peerSsrc = report.senderSsrc;
        m_lastReportTimestamp = report.MiddleNtp();
    } else {
        // Fields a short or other datagram does carry still count: cameras
        // send truncated reports and want them answered.
        if (length >= 8) m_peerSsrc = CByteReader::Get32(data + 4);
        if (length >= 14) m_lastReportTimestamp = CByteReader::Get32(data + 10);
    }
    m_packetArrival = m_scheduler.Clock().NowMs();
    m_scheduler.PacketArrived();
}

bool CRTCPSendReceive::StartReports() {
    // The report thread cannot replace itself.
    if (m_reportThread.IsCurrentThread()) return false;
    std::lock_guard<std::mutex> guard(m_threadLock);
    StopReportThread();
    m_port.SetWaitTimeout(kReportWaitSeconds, 0);
    m_scheduler.ReportDone();
    // A report may leave a few milliseconds late; a picture being received may not wait for it.
    return m_reportThread.Start("rtcp reports", [this](CStopToken& stop) {
        CWorkerThread::RunCurrentThreadInBackground();
        ReportLoop(stop);
    });
}

void CRTCPSendReceive::StopReports() {
    if (m_reportThread.IsCurrentThread()) {
        // On the report thread itself: ask and return; the thread is
        // released by the next start or the destructor.
        m_reportThread.RequestStop();
        return;
    }
    std::lock_guard<std::mutex> guard(m_threadLock);
    StopReportThread();
}

void CRTCPSendReceive::StopReportThread() {
    if (!m_reportThread.Stop(kStopWaitMs)) {
        // Late, yet never killed: a thread stopped inside the lock would
        // leave it held. There is no owner to tell, so wait on; every wait
        // of the loop ends at the stop.
        m_reportThread.Join(kInfinite);
    }
}

void CRTCPSendReceive::ReportLoop(CStopToken& stop) {
    // A packet from the camera, or a quiet interval.
    while (m_scheduler.WaitUntilDue(stop)) {
        CLockGuard guard(m_lock);
        // Packets mark the report due under this lock too: the ones before
        // are in this report, any later one makes the next report due.
        m_scheduler.ReportDone();
        if (m_peerKnown.load() && m_portOpen.load()) {
            uint8_t report[kReceiverReportSize];
            BuildReceiverReport(report);
            if (m_port.SendTo(report, sizeof report, m_peerAddress) != UdpSuccess) m_peerKnown.store(false);
        }
    }
}

// One block about the camera; loss and jitter are not measured and go as zero.
size_t CRTCPSendReceive::BuildReceiverReport(uint8_t* report) {
    RtcpReportBlock block;
    block.sourceSsrc = m_peerSsrc;
    block.extendedHighestSeq = m_extendedHighest.load();
    block.lastSenderReport = m_lastReportTimestamp;
    if (m_packetArrival != 0) block.delaySinceLastSr = DelayUnits(m_scheduler.Clock().NowMs() - m_packetArrival);
    return RtcpReceiverReport::Build(report, kReceiverReportSize, m_peerVersionBits, m_ownSsrc, block);
}

uint32_t CRTCPSendReceive::DelayUnits(uint32_t elapsedMs) {
    // x 65.536 as x 65536 / 1000 in integers: exact before truncation, and
    // past 18 hours it wraps like the 32-bit field rather than overflowing.
    return static_cast<uint32_t>(uint64_t{elapsedMs} * 65536u / 1000u);
}

void CRTCPSendReceive::SendBye() {
    if (!m_peerKnown.load()) return;
    CLockGuard guard(m_lock);
    uint8_t bye[RtcpBye::kOneSourceSize];
    RtcpBye::Build(bye, sizeof bye, m_peerVersionBits, m_ownSsrc);
    // No wait for it to leave: a datagram handed over by sendto is the
    // stack's, and closing the socket does not take it back.
    if (m_port.SendTo(bye, sizeof bye, m_peerAddress) != UdpSuccess) m_peerKnown.store(false);
}

void CRTCPSendReceive::RtpSequenceSeen(uint16_t sequenceNumber) {
    m_lastSequenceNumber.store(sequenceNumber, std::memory_order_relaxed);
    m_statistics.Seen(sequenceNumber);
    m_extendedHighest.store(m_statistics.ExtendedHighest(), std::memory_order_relaxed);
}

}  // namespace kestrel
