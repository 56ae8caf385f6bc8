#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

namespace kestrel {
class CEvent;
}

// Recursive lock for short critical sections: spins on the lock count, then
// sleeps on an auto-reset wake event. Every field other threads read is an
// atomic, so the thread sanitizer sees the hand-offs.
class CRecursiveLock {
public:
    CRecursiveLock();
    ~CRecursiveLock();
    CRecursiveLock(const CRecursiveLock&) = delete;
    CRecursiveLock& operator=(const CRecursiveLock&) = delete;

    void Enter();
    bool TryEnter();
    void Leave();

    // For tests: the spin budget chosen at construction.
    uint32_t GetSpinCount() const { return m_counters.spinCount.load(std::memory_order_relaxed); }
    // Only for tests: force the single-processor behaviour.
    void SetSpinCount(uint32_t count) { m_counters.spinCount.store(count, std::memory_order_relaxed); }
    // For tests: the acquisition attempts of the calling thread's last
    // TryEnter that failed (spin count + 1).
    static uint32_t LastFailedTryAttempts();

private:
    uint32_t BumpRecursion(int32_t delta);
    // The attempts after the first failed one; kept out of line.
    __attribute__((noinline)) bool Spin(uint64_t self);

    struct Counters {
        std::atomic<uint32_t> spinCount{0};
        std::atomic<int32_t> lockCount{0};
        std::atomic<uint64_t> owner{0};
        std::atomic<uint32_t> recursion{0};
    };
    std::unique_ptr<kestrel::CEvent> m_wake;
    Counters m_counters;
};

// Scope guard: the only way the program takes a CRecursiveLock.
class CLockGuard {
public:
    explicit CLockGuard(CRecursiveLock& lock) : m_lock(lock) { m_lock.Enter(); }
    ~CLockGuard() {
        if (m_held) m_lock.Leave();
    }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

    // Around a wait for a thread that may itself need the lock (a join).
    void Unlock() {
        m_held = false;
        m_lock.Leave();
    }
    void Lock() {
        m_lock.Enter();
        m_held = true;
    }

private:
    CRecursiveLock& m_lock;
    bool m_held = true;
};
