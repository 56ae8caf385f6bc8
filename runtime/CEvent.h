#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kestrel {

// Waits for the platform's "no limit" value.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// An event, auto-reset unless made manual. Set wakes the waiters of this
// event and of any WaitForEither that includes it.
class CEvent {
public:
    explicit CEvent(bool manualReset = false);
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    // True when signalled; false on time-out.
    bool Wait(uint32_t timeoutMs);
    bool Set();
    bool Reset();
    // Current state without consuming it.
    bool IsSet() const;

    // Internal to WaitForEither.
    struct Waiter {
        std::mutex mutex;
        std::condition_variable cv;
        uint64_t generation = 0;
    };
    void AddWaiter(Waiter* waiter);
    void RemoveWaiter(Waiter* waiter);
    bool TryConsume();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false;
    const bool m_manual;
    std::vector<Waiter*> m_waiters;
};

// Waits up to 1000 ms for the first of two events: 0 or 1 for the event that
// ended the wait, -1 on time-out or a null array.
int WaitForEither(CEvent* const* events);
// The same with a caller-chosen limit (used by threads that wait on a stop
// event and a work event).
int WaitForEither(CEvent* first, CEvent* second, uint32_t timeoutMs);

}  // namespace kestrel
