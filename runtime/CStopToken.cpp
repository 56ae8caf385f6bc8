#include "runtime/CStopToken.h"

namespace kestrel {

void CStopToken::RequestStop() {
    // The lock orders this against AddWaker: a waker added concurrently
    // either sees the event set or is in the list when it is walked.
    std::lock_guard<std::mutex> guard(m_wakerLock);
    if (m_event.IsSet()) return;
    m_requested.store(true, std::memory_order_release);
    m_event.Set();
    for (auto& entry : m_wakers) entry.second();
}

void CStopToken::Reset() {
    m_event.Reset();
    m_requested.store(false, std::memory_order_release);
}

bool CStopToken::WaitFor(uint32_t ms) { return m_event.Wait(ms); }

uint64_t CStopToken::AddWaker(Waker waker) {
    std::lock_guard<std::mutex> guard(m_wakerLock);
    const uint64_t id = m_nextId++;
    if (m_event.IsSet()) waker();
    m_wakers.emplace_back(id, std::move(waker));
    return id;
}

void CStopToken::RemoveWaker(uint64_t id) {
    std::lock_guard<std::mutex> guard(m_wakerLock);
    for (auto it = m_wakers.begin(); it != m_wakers.end(); ++it) {
        if (it->first == id) {
            m_wakers.erase(it);
            return;
        }
    }
}

}  // namespace kestrel
