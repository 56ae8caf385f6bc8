#pragma once
#include <cstdint>

namespace kestrel {

class CStopToken;

// Where timers get their time: the system's monotonic clock in the driver, a
// simulated one in tests, so that a test steps a timer instead of sleeping.
class ITickClock {
public:
    virtual ~ITickClock() = default;  // slot 0
    // Monotonic milliseconds, wrapping at 32 bits like the platform tick count.
    virtual uint32_t NowMs() = 0;  // slot 1
    // Waits `ms` of this clock's time; true when `stop` ended the wait first.
    virtual bool WaitFor(CStopToken& stop, uint32_t ms) = 0;  // slot 2

    static ITickClock& System();
};

}  // namespace kestrel
