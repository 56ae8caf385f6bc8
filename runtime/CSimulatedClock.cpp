#include "runtime/CSimulatedClock.h"

#include <chrono>

#include "runtime/CStopToken.h"

namespace kestrel {

uint32_t CSimulatedClock::NowMs() {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<uint32_t>(m_now);
}

bool CSimulatedClock::WaitFor(CStopToken& stop, uint32_t ms) {
    // The waker takes the clock's lock before notifying, so a stop between
    // the check below and the wait cannot be missed.
    const uint64_t waker = stop.AddWaker([this] {
        std::lock_guard<std::mutex> guard(m_lock);
        m_changed.notify_all();
    });
    bool stopped = false;
    {
        std::unique_lock<std::mutex> guard(m_lock);
        const uint64_t deadline = m_now + ms;
        ++m_sleepers;
        ++m_waitsBegun;
        const auto mine = m_deadlines.insert(deadline);
        m_changed.notify_all();
        m_changed.wait(guard, [&] { return stop.StopRequested() || m_now >= deadline; });
        m_deadlines.erase(mine);
        --m_sleepers;
        stopped = m_now < deadline;
        m_changed.notify_all();
    }
    stop.RemoveWaker(waker);
    return stopped;
}

void CSimulatedClock::Advance(uint32_t ms) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_now += ms;
    m_changed.notify_all();
}

uint32_t CSimulatedClock::SleeperCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sleepers;
}

bool CSimulatedClock::WaitForSleepers(uint32_t count, uint32_t realTimeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(realTimeoutMs), [&] { return m_sleepers >= count; });
}

uint64_t CSimulatedClock::WaitsBegun() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_waitsBegun;
}

bool CSimulatedClock::WaitForWaitsBegun(uint64_t count, uint32_t realTimeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(realTimeoutMs), [&] { return m_waitsBegun >= count; });
}

bool CSimulatedClock::Step(uint32_t ms, uint32_t realTimeoutMs) {
    if (!WaitForSleepers(1, realTimeoutMs)) return false;
    const uint64_t begun = WaitsBegun();
    Advance(ms);
    return WaitForWaitsBegun(begun + 1, realTimeoutMs);
}

bool CSimulatedClock::AdvanceAndSettle(uint32_t ms, uint32_t realTimeoutMs) {
    if (!WaitForSleepers(1, realTimeoutMs)) return false;
    std::unique_lock<std::mutex> guard(m_lock);
    const uint32_t sleepers = m_sleepers;
    m_now += ms;
    m_changed.notify_all();
    return m_changed.wait_for(guard, std::chrono::milliseconds(realTimeoutMs), [&] {
        return m_sleepers >= sleepers && (m_deadlines.empty() || *m_deadlines.begin() > m_now);
    });
}

}  // namespace kestrel
