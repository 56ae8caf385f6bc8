// Events, WaitForEither, the recursive spin-then-sleep lock, CTime and texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runtime/CDebugInfo.h"
#include "runtime/CEvent.h"
#include "runtime/CManualEvent.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CTime.h"
#include "runtime/FormatString.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kestrel::CEvent;

TEST(WaitForEither, SignalledIndexAndWhatIsLeft) {
    struct Row {
        bool manualFirst, setFirst, setSecond;
        int result;
        bool firstLeft, secondLeft;
        // clang-format off
    } rows[] = {
        {false, false, true, 1, false, false},
        {false, true, false, 0, false, false},
        {false, true, true, 0, false, true},      // both: the lower index wins, only it is consumed
        {true, true, false, 0, true, false},      // a manual event stays signalled
        {false, false, false, -1, false, false},  // neither: gives up after about a second
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        std::unique_ptr<CEvent> first(row.manualFirst ? new kestrel::CManualEvent : new CEvent);
        CEvent second;
        if (row.setFirst) first->Set();
        if (row.setSecond) second.Set();
        CEvent* events[2] = {first.get(), &second};
        const auto start = Clock::now();
        EXPECT_EQ(kestrel::WaitForEither(events), row.result);
        if (row.result == -1) {
            EXPECT_GE(Clock::now() - start, 950ms);
        }
        EXPECT_EQ(first->Wait(0), row.firstLeft);
        EXPECT_EQ(second.Wait(0), row.secondLeft);
        EXPECT_TRUE(first->Reset());
        EXPECT_FALSE(first->Wait(0));
    }
    CEvent set;
    set.Set();
    CEvent* withNull[2] = {&set, nullptr};
    const auto start = Clock::now();
    EXPECT_EQ(kestrel::WaitForEither(nullptr), -1);
    EXPECT_EQ(kestrel::WaitForEither(withNull), -1);
    EXPECT_LT(Clock::now() - start, 900ms) << "waited instead of failing";
}

// A Set racing the waiter and getting lost leaves a side waiting for good.
TEST(CEvent, HandOffsLoseNoSet) {
    CEvent stop, work, done;
    constexpr int kRounds = 10000;
    std::atomic<int> seen{0};
    std::thread consumer([&] {
        CEvent* events[2] = {&stop, &work};
        for (int which; (which = kestrel::WaitForEither(events)) != 0;) {
            if (which == 1) ++seen, done.Set();
        }
    });
    int acknowledged = 0;
    while (acknowledged < kRounds && work.Set() && done.Wait(5000)) ++acknowledged;
    stop.Set();
    consumer.join();
    EXPECT_EQ(acknowledged, kRounds);
    EXPECT_EQ(seen.load(), kRounds);
}

bool TryFromOtherThread(CRecursiveLock& lock) {
    bool got = false;
    std::thread([&] {
        if ((got = lock.TryEnter())) lock.Leave();
    }).join();
    return got;
}

TEST(CRecursiveLock, OtherThreadEntersOnlyAfterTheLastLeave) {
    CRecursiveLock lock;
    lock.Enter();
    EXPECT_TRUE(lock.TryEnter());
    lock.Enter();
    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        CLockGuard guard(lock);
        entered = true;
    });
    for (int leave = 1; leave <= 2; ++leave) {
        lock.Leave();
        EXPECT_FALSE(TryFromOtherThread(lock)) << "after Leave " << leave;
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered.load());
    lock.Leave();
    waiter.join();  // hangs if the last Leave does not wake the sleeper
    EXPECT_TRUE(TryFromOtherThread(lock));
}

// A lost hand-off shows as a wrong total of a plain counter (and as a race
// under the thread sanitizer); spin count 0 sleeps at once.
TEST(CRecursiveLock, ContendedCounterIsExact) {
    struct Row {
        uint32_t spinCount;
        int threads, iterations;
    } rows[] = {{4000, 4, 50000}, {0, 4, 20000}, {4000, 8, 10000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(&row - rows);
        CRecursiveLock lock;
        lock.SetSpinCount(row.spinCount);
        long counter = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < row.threads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < row.iterations; ++i) {
                    CLockGuard guard(lock);
                    if ((i + t) % 4 != 0) {
                        ++counter;
                        continue;
                    }
                    CLockGuard nested(lock);  // recursion under contention
                    ++counter;
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(counter, static_cast<long>(row.threads) * row.iterations);
        EXPECT_TRUE(TryFromOtherThread(lock)) << "lock count left unbalanced";
    }
}

// A failed TryEnter spins its budget (4000, none on one processor) plus one
// attempt and never sleeps.
TEST(CRecursiveLock, FailedTryEnterSpinsItsBudget) {
    EXPECT_EQ(CRecursiveLock().GetSpinCount(), std::thread::hardware_concurrency() == 1 ? 0u : 4000u);
    for (const uint32_t spin : {0u, 1u, 4000u}) {
        CRecursiveLock lock;
        lock.SetSpinCount(spin);
        CLockGuard guard(lock);
        uint32_t attempts = 0;
        std::thread([&] {
            EXPECT_FALSE(lock.TryEnter());
            attempts = CRecursiveLock::LastFailedTryAttempts();
        }).join();
        EXPECT_EQ(attempts, spin + 1);
    }
}

TEST(CTime, ElapsedMilliseconds) {
    // 2020-01-01 < now < 2200-01-01, in 100 ns units since 1601.
    EXPECT_GT(kestrel::CTime::Now(), 132223104000000000ULL);
    EXPECT_LT(kestrel::CTime::Now(), 189027936000000000ULL);
    // One reading may be preempted past a millisecond; a whole run cannot be.
    kestrel::CTime time;
    int zeros = 0;
    for (int i = 0; i < 20; ++i, time.Update()) zeros += time.GetElapsedMs() == 0 ? 1 : 0;
    EXPECT_GT(zeros, 0);
    constexpr int64_t kMs = 10000;
    struct Row {
        int64_t agoUnits;
        uint32_t atLeast, below;
        // clang-format off
    } rows[] = {
        {2500 * kMs, 2500, 3500},
        {-10000 * kMs, 0, 1},                       // the clock went backwards
        {-1, 0, 1},                                 // one unit ahead
        {((1LL << 32) + 2500) * kMs, 2500, 3500},   // cut to 32 bits
    };
    // clang-format on
    for (const Row& row : rows) {
        time.Set(kestrel::CTime::Now() - static_cast<uint64_t>(row.agoUnits));
        const uint32_t elapsed = time.GetElapsedMs();
        EXPECT_GE(elapsed, row.atLeast) << row.agoUnits;
        EXPECT_LT(elapsed, row.below) << row.agoUnits;
    }
}

TEST(FormatString, AnyLengthPercentSignsAndEmptyTexts) {
    const std::string big(100000, 'x');  // longer than any fixed buffer
    EXPECT_EQ(kestrel::FormatString("<%s|%u|%s>", big.c_str(), 7u, big.c_str()), "<" + big + "|7|" + big + ">");
    EXPECT_EQ(kestrel::FormatString("%s: %d%% of %lu", "a::B", -5, 4294967296UL), "a::B: -5% of 4294967296");
    EXPECT_EQ(kestrel::FormatString("%s", ""), "");
    EXPECT_EQ(kestrel::FormatUnsigned(0), "0");
    EXPECT_EQ(kestrel::FormatUnsigned(UINT_MAX), "4294967295");
    // The host gets a private copy of a text, or null: never an empty string.
    const kestrel::CDebugInfo none(nullptr, 1), empty("", 3);
    EXPECT_EQ(static_cast<const CDebugInfoIf&>(none).GetText(), nullptr);
    EXPECT_EQ(static_cast<const CDebugInfoIf&>(empty).GetText(), nullptr);
    std::string source = "kestrel::CIPCapture::Open: failed";
    const kestrel::CDebugInfo info(source.c_str(), -5);
    source.assign(source.size(), '#');
    EXPECT_STREQ(static_cast<const CDebugInfoIf&>(info).GetText(), "kestrel::CIPCapture::Open: failed");
    EXPECT_EQ(static_cast<const CDebugInfoIf&>(info).GetLevel(), -5);
}

}  // namespace
