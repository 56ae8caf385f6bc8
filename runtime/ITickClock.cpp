#include "runtime/ITickClock.h"

#include "runtime/CStopToken.h"
#include "runtime/TickClock.h"

namespace kestrel {

namespace {

class CSystemClock final : public ITickClock {
public:
    uint32_t NowMs() override { return GetTickCountMs(); }
    bool WaitFor(CStopToken& stop, uint32_t ms) override { return stop.WaitFor(ms); }
};

}  // namespace

ITickClock& ITickClock::System() {
    static CSystemClock clock;
    return clock;
}

}  // namespace kestrel
