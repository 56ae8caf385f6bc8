#pragma once
#include <cstdint>

#include "runtime/CRecursiveLock.h"

namespace kestrel {

// A thread-safe UTC time stamp in 100 ns units since 1601.
class CTime {
public:
    CTime();
    explicit CTime(uint64_t stored);
    virtual ~CTime();

    static uint64_t Now();
    void Update();
    void Set(uint64_t value);
    uint64_t GetTime();
    // Milliseconds since the stored time; 0 when it lies in the future.
    uint32_t GetElapsedMs();

private:
    CRecursiveLock m_lock;
    uint64_t m_time = 0;
};

}  // namespace kestrel
