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
    // The owner field holds our id only while we hold the lock, so a nested
    // entry needs no failed compare-and-exchange first.
    if (m_counters.owner.load(std::memory_order_relaxed) == self) {
        m_counters.lockCount.fetch_add(1, std::memory_order_relaxed);
        BumpRecursion(1);
        return true;
    }
    int32_t expected = 0;
    if (m_counters.lockCount.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        m_counters.owner.store(self, std::memory_order_relaxed);
        m_counters.recursion.store(1, std::memory_order_relaxed);
        return true;
    }
    return Spin(self);
}

bool CRecursiveLock::Spin(uint64_t self) {
    uint32_t spins = m_counters.spinCount.load(std::memory_order_relaxed);
    for (uint32_t attempts = 1;; ++attempts) {
        if (spins == 0) {
            t_lastFailedAttempts = attempts;
            return false;
        }
        --spins;
        int32_t expected = 0;
        if (m_counters.lockCount.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            m_counters.owner.store(self, std::memory_order_relaxed);
            m_counters.recursion.store(1, std::memory_order_relaxed);
            return true;
        }
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
    m_wake->Wait(kestrel::kInfinite);
    m_counters.owner.store(self, std::memory_order_relaxed);
    m_counters.recursion.store(1, std::memory_order_relaxed);
}

void CRecursiveLock::Leave() {
    if (BumpRecursion(-1) > 0) {
        m_counters.lockCount.fetch_sub(1, std::memory_order_relaxed);
        return;
    }
    m_counters.owner.store(0, std::memory_order_relaxed);
    if (m_counters.lockCount.fetch_sub(1, std::memory_order_acq_rel) - 1 > 0) {
        m_wake->Set();
    }
}

uint32_t CRecursiveLock::BumpRecursion(int32_t delta) {
    // Only the owner touches the recursion count: no interlocked operation.
    const uint32_t value = m_counters.recursion.load(std::memory_order_relaxed) + static_cast<uint32_t>(delta);
    m_counters.recursion.store(value, std::memory_order_relaxed);
    return value;
}

uint32_t CRecursiveLock::LastFailedTryAttempts() { return t_lastFailedAttempts; }
