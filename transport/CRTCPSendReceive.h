#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "runtime/CRecursiveLock.h"
#include "runtime/CWorkerThread.h"
#include "transport/CRtcpReportScheduler.h"
#include "transport/CSequenceStatistics.h"
#include "transport/CUDPPort.h"
#include "transport/IUDPPortUser.h"

namespace kestrel {

class IRTCPSendReceiveUser;

// The receiving side's RTCP for one RTP stream: receiver reports after the
// camera's packets and once per interval, BYE on close, and the sequence
// statistics of the RTP stream.
class CRTCPSendReceive : public IUDPPortUser {
public:
    // A GUID as four 32-bit fields; all zero means the generator failed.
    using GuidSource = std::function<std::array<uint32_t, 4>()>;

    // The system tick clock and std::random_device.
    CRTCPSendReceive();
    // Test seams: the clock times the reports and their delay field; an
    // empty GUID source stands for the system's.
    explicit CRTCPSendReceive(ITickClock& clock, const GuidSource& guidSource = {});
    ~CRTCPSendReceive() override;
    CRTCPSendReceive(const CRTCPSendReceive&) = delete;
    CRTCPSendReceive& operator=(const CRTCPSendReceive&) = delete;

    // IUDPPortUser
    void DataReceived(CUDPPort* port, const Ipv4Endpoint& from, const uint8_t* data,
                      size_t length) override;  // RtcpDataReceived
    void ReceiveTimeout() override;
    void PortClosed(CUDPPort* port) override;
    virtual bool StartReports();
    virtual void StopReports();
    virtual void ReportLoop(CStopToken& stop);

    bool Open(uint16_t port);
    void Close();  // sends BYE and forgets the peer; the owner calls StopReports first
    bool IsOpen() const;
    void SetRemoteAddress(const std::string& dottedAddress);
    // The camera's IPv4 address (host order): RTCP from any other address
    // is dropped and counted. The count starts again.
    void SetCameraAddress(uint32_t address);
    // Datagrams dropped since the address was set or last taken, and the
    // sender of the latest of them; the count starts again.
    uint64_t TakeDropped(Ipv4Endpoint& lastFrom);
    void SetReportInterval(int32_t milliseconds);  // kept only when > 1000
    int32_t GetReportInterval() const;
    void RtpSequenceSeen(uint16_t sequenceNumber);
    uint16_t GetLastSequenceNumber() const;
    // Whether any packet was accounted, so that a real sequence number 0 is
    // told apart from "none yet". Only for the thread that calls
    // RtpSequenceSeen.
    bool IsSequenceStarted() const { return m_statistics.IsStarted(); }
    void SetUser(IRTCPSendReceiveUser* user);
    CUDPPort& GetPort();

    // RFC 3550 A.1 source statistics of the RTP stream.
    using SequenceState = CSequenceStatistics::State;

    // Milliseconds as the report's delay field: 1/65536 s units, truncated.
    static uint32_t DelayUnits(uint32_t elapsedMs);

    // For tests and diagnostics.
    uint32_t GetOwnSsrc() const { return m_ownSsrc; }
    bool IsPeerKnown() const { return m_peerKnown.load(); }
    // Used only on the thread that calls RtpSequenceSeen.
    SequenceState GetSequenceState() const { return m_statistics.GetState(); }
    uint32_t GetExtendedHighestSequence() const { return m_extendedHighest.load(); }

protected:
    // Protected rather than private so that a test rig can keep one open
    // object with its threads and start each run from a clean state.
    void SendBye();
    void StopReportThread();
    size_t BuildReceiverReport(uint8_t* report);

    std::atomic<IRTCPSendReceiveUser*> m_user{nullptr};
    std::atomic<uint16_t> m_lastSequenceNumber{0};
    // Guards the peer data and the building and sending of reports.
    CRecursiveLock m_lock;
    CRtcpReportScheduler m_scheduler;
    Ipv4Endpoint m_peerAddress;
    uint8_t m_peerVersionBits = 0;
    std::atomic<bool> m_peerKnown{false};
    uint32_t m_ownSsrc = 0;
    uint32_t m_peerSsrc = 0;
    uint32_t m_lastReportTimestamp = 0;
    CSequenceStatistics m_statistics;  // fed and read on the RTP thread
    // The report thread reads the extended highest number the RTP thread
    // keeps, so it is published separately.
    std::atomic<uint32_t> m_extendedHighest{0};
    uint32_t m_packetArrival = 0;
    std::atomic<bool> m_portOpen{false};
    std::atomic<uint32_t> m_cameraAddress{0};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_lastDropped{0};  // address << 16 | port

    // The report thread: started and stopped by the owner's thread; the
    // lock keeps a start and a stop from crossing.
    std::mutex m_threadLock;
    CWorkerThread m_reportThread;

    // Last: destroyed first, it is closed in the destructor before any of
    // the members its thread uses go away.
    CUDPPort m_port;
};

}  // namespace kestrel
