#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "runtime/CManualEvent.h"

namespace kestrel {

// A stop request that sticks: once asked, every wait that observes it ends
// and stays ended until the owner restarts the work with Reset. A stop can
// therefore not be lost between two waits, and nobody needs to ask twice.
class CStopToken {
public:
    using Waker = std::function<void()>;

    CStopToken() = default;
    CStopToken(const CStopToken&) = delete;
    CStopToken& operator=(const CStopToken&) = delete;

    // Sets the request and runs every registered waker once.
    void RequestStop();
    // One atomic load: receive loops ask once per datagram.
    bool StopRequested() const { return m_requested.load(std::memory_order_acquire); }
    // Only the owner, before it starts the work again.
    void Reset();

    // For code that waits on events: WaitForEither(&token.Event(), &work, ms).
    CManualEvent& Event() { return m_event; }
    // Waits on the real clock; true when stopped before the time passed.
    bool WaitFor(uint32_t ms);

    // A waker interrupts a wait the event cannot end (a poll, a transfer, a
    // simulated clock). Registered after the stop, it runs at once. The id
    // removes it; removal waits for a waker that is running.
    uint64_t AddWaker(Waker waker);
    void RemoveWaker(uint64_t id);

private:
    CManualEvent m_event;
    std::atomic<bool> m_requested{false};
    std::mutex m_wakerLock;
    std::vector<std::pair<uint64_t, Waker>> m_wakers;
    uint64_t m_nextId = 1;
};

}  // namespace kestrel
