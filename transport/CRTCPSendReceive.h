#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "transport/CUDPPort.h"
#include "transport/IUDPPortUser.h"

namespace kestrel {

class IRTCPSendReceiveUser;

// The receiving side's RTCP for one RTP stream: receiver reports after the
// camera's packets and once per interval, BYE on close, and the sequence
// statistics of the RTP stream.
//
// Public operations (the implementation may add private members and
// constructor parameters with defaults for test seams):
class CRTCPSendReceive : public IUDPPortUser {
public:
    CRTCPSendReceive();
    ~CRTCPSendReceive() override;

    // IUDPPortUser
    void DataReceived(CUDPPort* port, const Ipv4Endpoint& from, const uint8_t* data,
                      size_t length) override;   // RtcpDataReceived
    void ReceiveTimeout() override;
    void PortClosed(CUDPPort* port) override;
    virtual bool StartReports();
    virtual void StopReports();
    virtual void ReportLoop();

    bool Open(uint16_t port);
    void Close();                 // sends BYE; the owner calls StopReports first
    bool IsOpen() const;
    void SetRemoteAddress(const std::string& dottedAddress);
    void SetReportInterval(int32_t milliseconds);  // kept only when > 1000
    int32_t GetReportInterval() const;
    void RtpSequenceSeen(uint16_t sequenceNumber);
    uint16_t GetLastSequenceNumber() const;
    void SetUser(IRTCPSendReceiveUser* user);
    CUDPPort& GetPort();
};

}  // namespace kestrel
