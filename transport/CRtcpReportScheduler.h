#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/CStopToken.h"

namespace kestrel {

class ITickClock;

// When the next receiver report is due: at once after a camera packet,
// else one interval after the previous report, on the given clock.
class CRtcpReportScheduler {
public:
    static constexpr int32_t kMinInterval = 1000;
    static constexpr int32_t kDefaultInterval = 10000;

    explicit CRtcpReportScheduler(ITickClock& clock) : m_clock(clock) {}
    CRtcpReportScheduler(const CRtcpReportScheduler&) = delete;
    CRtcpReportScheduler& operator=(const CRtcpReportScheduler&) = delete;

    ITickClock& Clock() { return m_clock; }
    // Kept only above one second.
    void SetInterval(int32_t milliseconds);
    int32_t Interval() const { return m_interval.load(); }

    // Any thread: a packet makes the next report due now.
    void PacketArrived() { m_due.RequestStop(); }
    // The report thread: waits until a report is due; false when `stop`
    // came first.
    bool WaitUntilDue(CStopToken& stop);
    // The report thread, as it builds a report: the next interval starts.
    void ReportDone() { m_due.Reset(); }

private:
    ITickClock& m_clock;
    std::atomic<int32_t> m_interval{kDefaultInterval};
    // Set by a packet or by the stop, so that one clock wait sees both.
    CStopToken m_due;
};

}  // namespace kestrel
