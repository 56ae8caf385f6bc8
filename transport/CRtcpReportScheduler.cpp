#include "transport/CRtcpReportScheduler.h"

#include "runtime/ITickClock.h"

namespace kestrel {

void CRtcpReportScheduler::SetInterval(int32_t milliseconds) {
    if (milliseconds > kMinInterval) m_interval.store(milliseconds);
}

bool CRtcpReportScheduler::WaitUntilDue(CStopToken& stop) {
    // A clock waits on one token: the stop forwards to the due one.
    const uint64_t forward = stop.AddWaker([this] { m_due.RequestStop(); });
    m_clock.WaitFor(m_due, static_cast<uint32_t>(m_interval.load()));
    stop.RemoveWaker(forward);
    return !stop.StopRequested();
}

}  // namespace kestrel
