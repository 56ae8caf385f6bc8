// The stop token, the worker thread and the simulated clock: the pieces every
// thread of the driver stops and waits through.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "runtime/CSimulatedClock.h"
#include "runtime/CStopToken.h"
#include "runtime/CWorkerThread.h"
#include "runtime/ITickClock.h"

using namespace kestrel;

namespace {

// Generous: these bound waits that end at once when the code is right.
constexpr uint32_t kLimitMs = 10000;

template <class Pred>
bool Eventually(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimitMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace

TEST(StopToken, StaysRequestedUntilResetAndWakesEachWakerOnce) {
    CStopToken token;
    int early = 0;
    int late = 0;
    const uint64_t id = token.AddWaker([&] { ++early; });
    EXPECT_FALSE(token.WaitFor(0));
    token.RequestStop();
    token.RequestStop();  // a second request wakes nobody again
    EXPECT_EQ(early, 1);
    // Sticky: any number of later waits end at once.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(token.WaitFor(kLimitMs));
    EXPECT_TRUE(token.Event().IsSet());
    // A waker that arrives after the stop runs at once.
    const uint64_t lateId = token.AddWaker([&] { ++late; });
    EXPECT_EQ(late, 1);
    token.RemoveWaker(id);
    token.RemoveWaker(lateId);
    token.Reset();
    EXPECT_FALSE(token.StopRequested());
    token.RequestStop();
    EXPECT_EQ(early, 1);  // removed wakers stay quiet
    EXPECT_EQ(late, 1);
}

TEST(StopToken, RequestFromAnotherThreadEndsAWait) {
    CStopToken token;
    std::thread stopper([&] { token.RequestStop(); });
    EXPECT_TRUE(token.WaitFor(kLimitMs));
    stopper.join();
}

TEST(WorkerThread, RunsUntilStoppedAndRefusesASecondStart) {
    CWorkerThread worker;
    std::atomic<int> loops{0};
    ASSERT_TRUE(worker.Start("worker-test", [&](CStopToken& stop) {
        while (!stop.WaitFor(1)) ++loops;
    }));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_NE(worker.ThreadId(), 0u);
    EXPECT_FALSE(worker.IsCurrentThread());
    EXPECT_FALSE(worker.Start("again", [](CStopToken&) {}));
    EXPECT_TRUE(worker.Stop(kLimitMs));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.ThreadId(), 0u);
    // A restart is a new run with a fresh token.
    std::atomic<bool> sawStop{true};
    ASSERT_TRUE(worker.Start("worker-test", [&](CStopToken& stop) { sawStop = stop.StopRequested(); }));
    EXPECT_TRUE(worker.Join(kLimitMs));
    EXPECT_FALSE(sawStop);
}

TEST(WorkerThread, JoinWithALimitLeavesALateThreadRunning) {
    CWorkerThread worker;
    CStopToken release;
    ASSERT_TRUE(worker.Start("late", [&](CStopToken&) { release.WaitFor(kLimitMs); }));
    worker.RequestStop();
    EXPECT_FALSE(worker.Join(20));  // ignores its stop: late, not killed
    EXPECT_TRUE(worker.IsRunning());
    release.RequestStop();
    EXPECT_TRUE(worker.Join(kLimitMs));
}

TEST(WorkerThread, TheWorkerMayJoinRestartAndDestroyItsOwnObject) {
    // Join from inside: returns at once instead of deadlocking.
    {
        CWorkerThread worker;
        std::atomic<bool> joined{false};
        ASSERT_TRUE(worker.Start("self-join", [&](CStopToken&) { joined = worker.Join(kLimitMs); }));
        ASSERT_TRUE(Eventually([&] { return joined.load(); }));
    }
    // Restart from inside after its own stop: the old run is let go, the
    // new one runs and the old token stays requested.
    {
        CWorkerThread worker;
        std::atomic<int> runs{0};
        std::atomic<bool> oldStillStopped{false};
        std::atomic<bool> firstDone{false};
        ASSERT_TRUE(worker.Start("first", [&](CStopToken& stop) {
            ++runs;
            worker.RequestStop();
            EXPECT_TRUE(worker.Start("second", [&](CStopToken& next) {
                ++runs;
                next.WaitFor(kLimitMs);
            }));
            oldStillStopped = stop.StopRequested();
            firstDone = true;
        }));
        ASSERT_TRUE(Eventually([&] { return runs.load() == 2 && firstDone.load(); }));
        EXPECT_TRUE(oldStillStopped);
        EXPECT_TRUE(worker.Stop(kLimitMs));
    }
    // Destroyed by its own body.
    {
        auto* worker = new CWorkerThread;
        std::atomic<bool> done{false};
        ASSERT_TRUE(worker->Start("self-delete", [&, worker](CStopToken&) {
            delete worker;
            done = true;
        }));
        ASSERT_TRUE(Eventually([&] { return done.load(); }));
    }
}

TEST(WorkerThread, AThrowingBodyEndsOnlyItsRun) {
    CWorkerThread worker;
    ASSERT_TRUE(worker.Start("throws", [](CStopToken&) { throw 42; }));
    EXPECT_TRUE(worker.Join(kLimitMs));
    EXPECT_TRUE(worker.Start("after", [](CStopToken&) {}));
}

// A housekeeping thread gives up preempting on wake; a receive thread it
// starts (a channel opening its ports) must not inherit that.
TEST(WorkerThread, BackgroundIsTheBodysOwnChoiceAndNotInherited) {
    auto policyOfThisThread = [] {
        int policy = -1;
        sched_param parameters{};
        pthread_getschedparam(pthread_self(), &policy, &parameters);
        return policy;
    };
    CWorkerThread housekeeping;
    CWorkerThread receive;
    std::atomic<int> housekeepingPolicy{-1}, receivePolicy{-1};
    ASSERT_TRUE(housekeeping.Start("background", [&](CStopToken&) {
        CWorkerThread::RunCurrentThreadInBackground();
        housekeepingPolicy = policyOfThisThread();
        receive.Start("started by it", [&](CStopToken&) { receivePolicy = policyOfThisThread(); });
    }));
    ASSERT_TRUE(housekeeping.Join(kLimitMs));
    ASSERT_TRUE(receive.Join(kLimitMs));
    EXPECT_EQ(receivePolicy.load(), SCHED_OTHER);
    if (housekeepingPolicy.load() != SCHED_BATCH) GTEST_SKIP() << "this system refuses batch scheduling";
}

TEST(SimulatedClock, SleepersWakeOnlyWhenTheirTimeComes) {
    CSimulatedClock clock(5000);
    CWorkerThread worker;
    std::atomic<int> wakes{0};
    std::atomic<uint32_t> wokeAt{0};
    ASSERT_TRUE(worker.Start("sleeper", [&](CStopToken& stop) {
        while (!clock.WaitFor(stop, 1500)) {
            wokeAt = clock.NowMs();
            ++wakes;
        }
    }));
    ASSERT_TRUE(clock.WaitForSleepers(1, kLimitMs));
    // Table: each step, and the wakes counted after it.
    struct Step {
        uint32_t advanceMs;
        int wakes;
    } steps[] = {{1499, 0}, {1, 1}, {1000, 1}, {500, 2}, {3000, 3}};
    for (const Step& step : steps) {
        clock.Advance(step.advanceMs);
        if (step.wakes != wakes.load()) {
            ASSERT_TRUE(Eventually([&] { return wakes.load() == step.wakes; })) << "after " << step.advanceMs;
        }
        ASSERT_TRUE(clock.WaitForSleepers(1, kLimitMs));
        EXPECT_EQ(wakes.load(), step.wakes) << "after " << step.advanceMs;
    }
    // A long step wakes a periodic sleeper once: its next period starts from now.
    EXPECT_EQ(wokeAt.load(), 11000u);
    // A stop ends a simulated sleep at once, with no time passing.
    EXPECT_TRUE(worker.Stop(kLimitMs));
    EXPECT_EQ(clock.SleeperCount(), 0u);
    EXPECT_EQ(clock.NowMs(), 11000u);
}

// Step returns only once the woken thread has done its work and sleeps
// again, so the test reads its effect without polling.
TEST(SimulatedClock, StepEndsWhenTheThreadSleepsAgain) {
    CSimulatedClock clock;
    CWorkerThread worker;
    int wakes = 0;  // read by the test only between steps
    std::atomic<bool> slow{false};
    ASSERT_TRUE(worker.Start("stepper", [&](CStopToken& stop) {
        while (!clock.WaitFor(stop, 1000)) {
            if (slow.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++wakes;
        }
    }));
    for (int i = 1; i <= 5; ++i) {
        slow = i % 2 == 0;
        ASSERT_TRUE(clock.Step(1000, kLimitMs));
        EXPECT_EQ(wakes, i);
    }
    EXPECT_TRUE(worker.Stop(kLimitMs));
    EXPECT_EQ(wakes, 5);
    EXPECT_FALSE(clock.Step(1000, 10)) << "nobody sleeps";
}

// Two sleepers of different periods: a step settles once the one it woke
// sleeps again, and one whose deadline is still ahead does not hold it up.
TEST(SimulatedClock, AdvanceAndSettleWaitsOnlyForTheThreadsItWoke) {
    CSimulatedClock clock(0);
    std::atomic<int> shortWakes{0}, longWakes{0};
    auto sleeper = [&clock](uint32_t period, std::atomic<int>& wakes) {
        return [&clock, period, &wakes](CStopToken& stop) {
            while (!clock.WaitFor(stop, period)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));  // work the step must wait for
                ++wakes;
            }
        };
    };
    CWorkerThread fast, slow;
    ASSERT_TRUE(fast.Start("fast", sleeper(1000, shortWakes)));
    ASSERT_TRUE(slow.Start("slow", sleeper(3000, longWakes)));
    ASSERT_TRUE(clock.WaitForSleepers(2, kLimitMs));
    const int expectedLong[] = {0, 0, 1, 1, 1, 2};
    for (int second = 1; second <= 6; ++second) {
        ASSERT_TRUE(clock.AdvanceAndSettle(1000, kLimitMs)) << second;
        EXPECT_EQ(shortWakes.load(), second);
        EXPECT_EQ(longWakes.load(), expectedLong[second - 1]) << "after " << second << " s";
    }
    EXPECT_TRUE(fast.Stop(kLimitMs));
    EXPECT_TRUE(slow.Stop(kLimitMs));
    EXPECT_FALSE(clock.AdvanceAndSettle(1000, 10)) << "nobody sleeps";
}

TEST(SimulatedClock, WaitForSleepersTimesOutWhenNobodySleeps) {
    CSimulatedClock clock;
    EXPECT_FALSE(clock.WaitForSleepers(1, 10));
    CStopToken stopped;
    stopped.RequestStop();
    EXPECT_TRUE(clock.WaitFor(stopped, 100));
    EXPECT_FALSE(clock.WaitFor(stopped, 0));  // no time to wait: time passed, not a stop
}

TEST(SystemClock, WaitsRealTimeAndObservesTheStop) {
    ITickClock& clock = ITickClock::System();
    CStopToken token;
    const uint32_t before = clock.NowMs();
    EXPECT_FALSE(clock.WaitFor(token, 5));
    EXPECT_GE(static_cast<uint32_t>(clock.NowMs() - before), 5u);
    token.RequestStop();
    EXPECT_TRUE(clock.WaitFor(token, kLimitMs));
}
