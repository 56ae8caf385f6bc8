#include "runtime/CTime.h"

#include <chrono>

namespace kestrel {

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochShiftSeconds = 11644473600ULL;
}  // namespace

CTime::CTime() : m_time(Now()) {}

CTime::CTime(uint64_t stored) : m_time(stored) {}

CTime::~CTime() = default;

uint64_t CTime::Now() {
    const auto sinceUnix = std::chrono::system_clock::now().time_since_epoch();
    const auto units = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(sinceUnix);
    const int64_t total = units.count() + static_cast<int64_t>(kEpochShiftSeconds * 10000000ULL);
    return total < 0 ? 0 : static_cast<uint64_t>(total);
}

void CTime::Update() {
    const uint64_t now = Now();
    CLockGuard guard(m_lock);
    m_time = now;
}

void CTime::Set(uint64_t value) {
    CLockGuard guard(m_lock);
    m_time = value;
}

uint64_t CTime::GetTime() {
    CLockGuard guard(m_lock);
    return m_time;
}

uint32_t CTime::GetElapsedMs() {
    const uint64_t stored = GetTime();
    const uint64_t now = Now();
    if (stored >= now) return 0;
    return static_cast<uint32_t>((now - stored) / 10000ULL);
}

}  // namespace kestrel
