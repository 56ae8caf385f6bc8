#include "runtime/CTime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace {

constexpr uint64_t kUnitsPerMs = 10000;  // 100 ns units

TEST(CTimeTest, ElapsedRightAfterUpdateIsZero) {
    kestrel::CTime time;
    // One reading may be preempted past a millisecond; a whole run of them
    // cannot be, unless the conversion is wrong.
    int zeros = 0;
    for (int i = 0; i < 20; ++i) {
        time.Update();
        const uint32_t elapsed = time.GetElapsedMs();
        EXPECT_LT(elapsed, 1000u);
        if (elapsed == 0) ++zeros;
    }
    EXPECT_GT(zeros, 0);
}

TEST(CTimeTest, NowIsAFileTime) {
    // 2020-01-01 and 2200-01-01 in 100 ns units since 1601.
    EXPECT_GT(kestrel::CTime::Now(), 132223104000000000ULL);
    EXPECT_LT(kestrel::CTime::Now(), 189027936000000000ULL);
}

// Stored times relative to now; no sleeping.
struct ElapsedRow {
    const char* name;
    bool future;
    uint64_t offsetUnits;
    uint32_t atLeast;
    uint32_t below;
};
void PrintTo(const ElapsedRow& row, std::ostream* os) { *os << row.name; }

class CTimeElapsed : public ::testing::TestWithParam<ElapsedRow> {};

TEST_P(CTimeElapsed, MillisecondsSinceStoredTime) {
    const ElapsedRow& row = GetParam();
    kestrel::CTime time;
    const uint64_t now = kestrel::CTime::Now();
    time.Set(row.future ? now + row.offsetUnits : now - row.offsetUnits);
    const uint32_t elapsed = time.GetElapsedMs();
    EXPECT_GE(elapsed, row.atLeast);
    EXPECT_LT(elapsed, row.below);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CTimeElapsed,
    ::testing::Values(
        ElapsedRow{"TwoAndAHalfSecondsAgo", false, 2500 * kUnitsPerMs, 2500, 3500},
        // The clock went backwards: the stored time lies ahead.
        ElapsedRow{"TenSecondsAhead", true, 10000 * kUnitsPerMs, 0, 1},
        ElapsedRow{"OneUnitAhead", true, 1, 0, 1},
        // 2^32 ms + 2.5 s ago: the result is truncated to 32 bits.
        ElapsedRow{"WrapsAt32Bits", false, ((1ULL << 32) + 2500) * kUnitsPerMs, 2500, 3500}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
