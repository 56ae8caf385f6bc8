#include "runtime/CRecursiveLock.h"

#include <thread>

#include "runtime/CEvent.h"
#include "runtime/ThreadId.h"

namespace {

// -1 until the first lock is built; 1 on a single processor.
std::atomic<int> g_singleProcessor{-1};

// Written only when TryEnter gives up, so the fast path never touches it.
thread_local uint32_t t_lastFailedAttempts = 0;

}  // namespace

CRecursiveLock::CRecursiveLock() : m_wake(std::make_unique<kestrel::CEvent>(false)) {
    if (g_singleProcessor.load(std::memory_order_relaxed) == -1) {
        g_singleProcessor.store(std::thread::hardware_concurrency() == 1 ? 1 : 0, std::memory_order_relaxed);
    }
    if (g_singleProcessor.load(std::memory_order_relaxed) != 1) {
        m_counters.spinCount.exchange(4000);
    }
}

CRecursiveLock::~CRecursiveLock() = default;

bool CRecursiveLock::TryEnter() {
    const uint64_t self = kestrel::CurrentThreadId();
    uint32_t spins = m_counters.spinCount.load(std::memory_order_relaxed);
    for (uint32_t attempts = 1;; ++attempts) {
        int32_t expected = 0;
        if (m_counters.lockCount.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            m_counters.owner.store(self, std::memory_order_relaxed);
            m_counters.recursion.store(1, std::memory_order_relaxed);
            return true;
        }
        if (m_counters.owner.load(std::memory_order_relaxed) == self) {
            m_counters.lockCount.fetch_add(1, std::memory_order_relaxed);
            m_counters.recursion.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
        if (spins == 0) {
            t_lastFailedAttempts = attempts;
            return false;
        }
        --spins;
    }
}

void CRecursiveLock::Enter() {
    if (TryEnter()) return;
    const uint64_t self = kestrel::CurrentThreadId();
    if (m_counters.lockCount.fetch_add(1, std::memory_order_acq_rel) + 1 == 1) {
        m_counters.owner.store(self, std::memory_order_relaxed);
        m_counters.recursion.store(1, std::memory_order_relaxed);
        return;
    }
    if (m_counters.owner.load(std::memory_order_relaxed) == self) {
        m_counters.recursion.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    m_wake->Wait(kestrel::kInfinite);
    m_counters.owner.store(self, std::memory_order_relaxed);
    m_counters.recursion.store(1, std::memory_order_relaxed);
}

void CRecursiveLock::Leave() {
    if (m_counters.recursion.fetch_sub(1, std::memory_order_relaxed) - 1 > 0) {
        m_counters.lockCount.fetch_sub(1, std::memory_order_release);
        return;
    }
    m_counters.owner.store(0, std::memory_order_relaxed);
    if (m_counters.lockCount.fetch_sub(1, std::memory_order_acq_rel) - 1 > 0) {
        m_wake->Set();
    }
}

uint32_t CRecursiveLock::LastFailedTryAttempts() { return t_lastFailedAttempts; }
