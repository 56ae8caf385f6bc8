#pragma once
#include <atomic>
#include <cstdint>

#include "runtime/CBaseThread.h"
#include "runtime/ITickClock.h"

namespace kestrel {

// A thread that calls OnTick once per period until stopped.
class CTickThread : public CBaseThread {
public:
    explicit CTickThread(IDebugMessage* owner);
    ~CTickThread() override;

    void Run() override;        // slot 4
    virtual void OnTick() = 0;  // slot 5

    // Starts with one tick at once, then one per period.
    bool StartTicking(const std::string& name);
    void SetPeriod(uint32_t periodMs) { m_period.store(periodMs); }
    // Where the period's time comes from; set before starting.
    void SetClock(ITickClock& clock) { m_clock = &clock; }

protected:
    std::atomic<uint32_t> m_period{1500};
    std::atomic<bool> m_tickFirst{false};
    ITickClock* m_clock = &ITickClock::System();
};

}  // namespace kestrel
