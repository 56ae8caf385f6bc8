#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

#include "runtime/ITickClock.h"

namespace kestrel {

// A clock that moves only when told. Threads waiting on it sleep until a
// test advances the time past their deadline or their stop is requested.
class CSimulatedClock final : public ITickClock {
public:
    explicit CSimulatedClock(uint32_t startMs = 1000) : m_now(startMs) {}

    uint32_t NowMs() override;
    bool WaitFor(CStopToken& stop, uint32_t ms) override;

    // Moves the time on and wakes the sleepers whose time has come.
    void Advance(uint32_t ms);
    // Threads now inside WaitFor.
    uint32_t SleeperCount();
    // Waits (real time, up to the limit) until at least `count` threads
    // sleep on this clock; false on time-out. A test calls it before Advance
    // so that the step lands on a thread that is really waiting.
    bool WaitForSleepers(uint32_t count, uint32_t realTimeoutMs);
    // Waits that have begun since the clock was made. A sleeper woken by
    // Advance counts as a sleeper until it runs, so a test that must know a
    // thread has finished its step and sleeps again waits for this to grow.
    uint64_t WaitsBegun();
    bool WaitForWaitsBegun(uint64_t count, uint32_t realTimeoutMs);
    // One step of a single sleeping thread: waits until it sleeps, moves the
    // time on by `ms` (enough to wake it) and waits until it sleeps again;
    // false when nobody was asleep or it did not sleep again in time.
    bool Step(uint32_t ms, uint32_t realTimeoutMs);
    // Moves the time on by `ms` once a thread sleeps, then waits until every
    // thread it woke sleeps again; a thread whose deadline is still ahead
    // sleeps on and counts as settled. False when nobody was asleep or a
    // woken thread did not sleep again in time.
    bool AdvanceAndSettle(uint32_t ms, uint32_t realTimeoutMs);

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    uint64_t m_now;  // 64 bits inside: deadlines never wrap
    uint32_t m_sleepers = 0;
    uint64_t m_waitsBegun = 0;
    std::multiset<uint64_t> m_deadlines;  // one per sleeper
};

}  // namespace kestrel
