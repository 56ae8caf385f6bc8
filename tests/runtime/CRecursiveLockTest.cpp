#include "runtime/CRecursiveLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/CEvent.h"

namespace {

using namespace std::chrono_literals;

// Runs fn on another thread and returns its result (the lock is per thread).
template <typename Fn>
auto OnOtherThread(Fn fn) {
    decltype(fn()) result{};
    std::thread worker([&] { result = fn(); });
    worker.join();
    return result;
}

TEST(CRecursiveLockTest, SecondThreadEntersOnlyAfterTheThirdLeave) {
    CRecursiveLock lock;
    lock.Enter();
    EXPECT_TRUE(lock.TryEnter());
    lock.Enter();

    std::atomic<bool> entered{false};
    kestrel::CEvent release;
    std::thread second([&] {
        lock.Enter();
        entered = true;
        release.Wait(kestrel::kInfinite);
        lock.Leave();
    });

    for (int leave = 1; leave <= 2; ++leave) {
        lock.Leave();
        EXPECT_FALSE(OnOtherThread([&] {
            const bool got = lock.TryEnter();
            if (got) lock.Leave();
            return got;
        })) << "after Leave " << leave;
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered.load()) << "the blocked thread got in while the owner still held the lock";

    lock.Leave();
    for (int i = 0; i < 500 && !entered.load(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(entered.load()) << "the waiter was not woken by the last Leave";
    release.Set();
    second.join();

    // Free again: another thread takes it without waiting.
    EXPECT_TRUE(OnOtherThread([&] {
        const bool got = lock.TryEnter();
        if (got) lock.Leave();
        return got;
    }));
}

// Several threads bump a plain counter; a lost hand-off shows up as a wrong
// total (and as a race under the thread sanitizer). Rows cover the spinning
// path and the path that sleeps on the wake event at once.
struct ContentionRow {
    const char* name;
    uint32_t spinCount;
    int threads;
    int iterations;
};
void PrintTo(const ContentionRow& row, std::ostream* os) { *os << row.name; }

class CRecursiveLockContention : public ::testing::TestWithParam<ContentionRow> {};

TEST_P(CRecursiveLockContention, CounterTotalIsExact) {
    const ContentionRow& row = GetParam();
    CRecursiveLock lock;
    lock.SetSpinCount(row.spinCount);
    long counter = 0;  // deliberately not atomic
    std::vector<std::thread> threads;
    for (int t = 0; t < row.threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < row.iterations; ++i) {
                CLockGuard guard(lock);
                if ((i + t) % 4 == 0) {
                    CLockGuard nested(lock);  // recursion under contention
                    ++counter;
                } else {
                    ++counter;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(counter, static_cast<long>(row.threads) * row.iterations);
    EXPECT_TRUE(OnOtherThread([&] {
        const bool got = lock.TryEnter();
        if (got) lock.Leave();
        return got;
    })) << "lock count left unbalanced";
}

INSTANTIATE_TEST_SUITE_P(Rows, CRecursiveLockContention,
                         ::testing::Values(ContentionRow{"Spinning", 4000, 4, 50000},
                                           ContentionRow{"SleepsAtOnce", 0, 4, 20000},
                                           ContentionRow{"ManyThreads", 4000, 8, 10000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CRecursiveLockTest, TryEnterFromAnotherThreadFailsWithoutBlocking) {
    CRecursiveLock lock;
    lock.Enter();
    // Would hang here (no one ever leaves meanwhile) if TryEnter slept.
    EXPECT_FALSE(OnOtherThread([&] { return lock.TryEnter(); }));
    lock.Leave();
}

TEST(CRecursiveLockTest, SpinBudgetByProcessorCount) {
    CRecursiveLock lock;
    const uint32_t expected = std::thread::hardware_concurrency() == 1 ? 0u : 4000u;
    EXPECT_EQ(lock.GetSpinCount(), expected);
}

// A failed TryEnter makes the spin count plus one attempts: 4001 on a
// multi-processor machine, exactly one on a single processor.
class CRecursiveLockAttempts : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CRecursiveLockAttempts, FailedTryEnterAttempts) {
    CRecursiveLock lock;
    lock.SetSpinCount(GetParam());
    lock.Enter();
    const uint32_t attempts = OnOtherThread([&] {
        EXPECT_FALSE(lock.TryEnter());
        return CRecursiveLock::LastFailedTryAttempts();
    });
    EXPECT_EQ(attempts, GetParam() + 1);
    lock.Leave();
}

INSTANTIATE_TEST_SUITE_P(SpinCounts, CRecursiveLockAttempts, ::testing::Values(0u, 1u, 4000u));

}  // namespace
