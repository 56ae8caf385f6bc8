#include "runtime/CEvent.h"

#include <algorithm>
#include <chrono>

namespace kestrel {

CEvent::CEvent(bool manualReset) : m_manual(manualReset) {}

CEvent::~CEvent() = default;

bool CEvent::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs == kInfinite) {
        m_cv.wait(lock, [this] { return m_signalled; });
    } else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_signalled; })) {
        return false;
    }
    if (!m_manual) m_signalled = false;
    return true;
}

bool CEvent::Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    if (m_manual) {
        m_cv.notify_all();
    } else {
        m_cv.notify_one();
    }
    // Notified under m_mutex: a waiter unregisters under it too, so none
    // can vanish meanwhile. Order is always event mutex, then waiter mutex.
    for (Waiter* waiter : m_waiters) {
        std::lock_guard<std::mutex> waiterLock(waiter->mutex);
        ++waiter->generation;
        waiter->cv.notify_all();
    }
    return true;
}

bool CEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = false;
    return true;
}

bool CEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalled;
}

void CEvent::AddWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiters.push_back(waiter);
}

void CEvent::RemoveWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiters.erase(std::remove(m_waiters.begin(), m_waiters.end(), waiter), m_waiters.end());
}

bool CEvent::TryConsume() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_signalled) return false;
    if (!m_manual) m_signalled = false;
    return true;
}

int WaitForEither(CEvent* first, CEvent* second, uint32_t timeoutMs) {
    if (first == nullptr || second == nullptr) return -1;
    CEvent::Waiter waiter;
    first->AddWaiter(&waiter);
    second->AddWaiter(&waiter);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int result = -1;
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> lock(waiter.mutex);
            seen = waiter.generation;
        }
        if (first->TryConsume()) {
            result = 0;
            break;
        }
        if (second->TryConsume()) {
            result = 1;
            break;
        }
        std::unique_lock<std::mutex> lock(waiter.mutex);
        if (timeoutMs == kInfinite) {
            waiter.cv.wait(lock, [&] { return waiter.generation != seen; });
        } else if (!waiter.cv.wait_until(lock, deadline, [&] { return waiter.generation != seen; })) {
            lock.unlock();
            // A last look, so a Set that raced the deadline is not lost.
            if (first->TryConsume())
                result = 0;
            else if (second->TryConsume())
                result = 1;
            break;
        }
    }
    first->RemoveWaiter(&waiter);
    second->RemoveWaiter(&waiter);
    return result;
}

int WaitForEither(CEvent* const* events) {
    if (events == nullptr) return -1;
    return WaitForEither(events[0], events[1], 1000);
}

}  // namespace kestrel
