#include "runtime/CEvent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include "runtime/CManualEvent.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::unique_ptr<kestrel::CEvent> MakeEvent(bool manual) {
    if (manual) return std::make_unique<kestrel::CManualEvent>();
    return std::make_unique<kestrel::CEvent>();
}

struct ResetRow {
    const char* name;
    bool manual;
    bool signalledAfterWait;
};
void PrintTo(const ResetRow& row, std::ostream* os) { *os << row.name; }

class CEventReset : public ::testing::TestWithParam<ResetRow> {};

TEST_P(CEventReset, WaitConsumesOnlyAnAutoEvent) {
    auto event = MakeEvent(GetParam().manual);
    EXPECT_FALSE(event->Wait(0)) << "created signalled";
    EXPECT_TRUE(event->Set());
    EXPECT_TRUE(event->Wait(0));
    EXPECT_EQ(event->Wait(0), GetParam().signalledAfterWait);
    EXPECT_TRUE(event->Reset());
    EXPECT_FALSE(event->Wait(0));
}

INSTANTIATE_TEST_SUITE_P(Kinds, CEventReset,
                         ::testing::Values(ResetRow{"Manual", true, true}, ResetRow{"Auto", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Which index ends the wait, and what is left signalled afterwards.
struct EitherRow {
    const char* name;
    bool manualFirst;
    bool setFirst;
    bool setSecond;
    int expected;
    bool firstLeft;
    bool secondLeft;
};
void PrintTo(const EitherRow& row, std::ostream* os) { *os << row.name; }

class WaitForEitherRows : public ::testing::TestWithParam<EitherRow> {};

TEST_P(WaitForEitherRows, ReturnsTheSignalledIndex) {
    const EitherRow& row = GetParam();
    auto first = MakeEvent(row.manualFirst);
    kestrel::CEvent second;
    if (row.setFirst) first->Set();
    if (row.setSecond) second.Set();
    kestrel::CEvent* events[2] = {first.get(), &second};
    EXPECT_EQ(kestrel::WaitForEither(events), row.expected);
    EXPECT_EQ(first->Wait(0), row.firstLeft);
    EXPECT_EQ(second.Wait(0), row.secondLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WaitForEitherRows,
    ::testing::Values(
        //       name            manual1 set1   set2   result 1 left  2 left
        EitherRow{"SecondOnly", false, false, true, 1, false, false},
        EitherRow{"FirstOnly", false, true, false, 0, false, false},
        // Both: the lower index wins and only that event is consumed.
        EitherRow{"BothAuto", false, true, true, 0, false, true},
        // A manual event stays signalled after it ended the wait.
        EitherRow{"ManualFirst", true, true, false, 0, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WaitForEitherTest, NeitherSignalledTimesOutAfterAboutOneSecond) {
    kestrel::CEvent first;
    kestrel::CManualEvent second;
    kestrel::CEvent* events[2] = {&first, &second};
    const auto start = Clock::now();
    EXPECT_EQ(kestrel::WaitForEither(events), -1);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 950ms);
    EXPECT_LT(waited, 10s);
}

TEST(WaitForEitherTest, NullArrayOrEventFailsAtOnce) {
    kestrel::CEvent first;
    kestrel::CEvent* withNull[2] = {&first, nullptr};
    const auto start = Clock::now();
    EXPECT_EQ(kestrel::WaitForEither(nullptr), -1);
    EXPECT_EQ(kestrel::WaitForEither(withNull), -1);
    EXPECT_LT(Clock::now() - start, 900ms) << "waited instead of failing";
}

TEST(WaitForEitherTest, SetFromAnotherThreadEndsTheWait) {
    kestrel::CEvent first;
    kestrel::CEvent second;
    kestrel::CEvent* events[2] = {&first, &second};
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        second.Set();
    });
    // The time-out would also end the wait, so loop until the set is seen.
    int result = -1;
    for (int i = 0; i < 10 && result == -1; ++i) result = kestrel::WaitForEither(events);
    setter.join();
    EXPECT_EQ(result, 1);
}

// Two threads bounce a token through auto-reset events; a Set that races the
// waiter and gets lost leaves one side waiting for good (caught by the limit).
TEST(CEventStress, PingPongLosesNoSet) {
    kestrel::CEvent ping;
    kestrel::CEvent pong;
    constexpr int kRounds = 20000;
    std::atomic<int> lost{0};
    std::thread partner([&] {
        for (int i = 0; i < kRounds; ++i) {
            if (!ping.Wait(5000)) { ++lost; return; }
            pong.Set();
        }
    });
    for (int i = 0; i < kRounds && lost == 0; ++i) {
        ping.Set();
        if (!pong.Wait(5000)) ++lost;
    }
    if (lost != 0) ping.Set();  // let the partner leave
    partner.join();
    EXPECT_EQ(lost.load(), 0);
}

TEST(CEventStress, WaitForEitherLosesNoSet) {
    kestrel::CEvent stop;
    kestrel::CEvent work;
    kestrel::CEvent done;
    constexpr int kRounds = 5000;
    std::atomic<int> seen{0};
    std::thread consumer([&] {
        kestrel::CEvent* events[2] = {&stop, &work};
        for (;;) {
            const int which = kestrel::WaitForEither(events);
            if (which == 0) return;
            if (which == 1) {
                ++seen;
                done.Set();
            }
        }
    });
    int acknowledged = 0;
    for (int i = 0; i < kRounds; ++i) {
        work.Set();
        if (!done.Wait(5000)) break;
        ++acknowledged;
    }
    stop.Set();
    consumer.join();
    EXPECT_EQ(acknowledged, kRounds);
    EXPECT_EQ(seen.load(), kRounds);
}

}  // namespace
