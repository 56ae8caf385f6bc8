// Worker threads are never killed: a late one is reported, then waited for.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runtime/CBaseThread.h"
#include "runtime/CSimulatedClock.h"
#include "runtime/CTickThread.h"
#include "runtime/FormatString.h"
#include "runtime/IDebugMessage.h"
#include "runtime/ThreadId.h"
#include "tests/host/CallLog.h"

namespace {

using namespace std::chrono_literals;
using kestrel::CManualEvent;
using kestrel::kInfinite;
using Entries = std::vector<std::string>;

class Owner : public IDebugMessage {
public:
    std::string GetDeviceAddress() override { return "10.0.0.5:80"; }
    void DebugMessage(int level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        log.Add(std::to_string(level) + " " + kestrel::FormatStringV(format, args));
        va_end(args);
    }
    testhost::CallLog log;
};

// The body lives in the test, never in this object.
class Worker : public kestrel::CBaseThread {
public:
    Worker(IDebugMessage* owner, std::function<void(Worker&)> body) : CBaseThread(owner), m_body(std::move(body)) {}
    ~Worker() override { StopThread(2000); }
    void Run() override { m_body(*this); }

private:
    std::function<void(Worker&)> m_body;
};

bool End(kestrel::CBaseThread& thread, bool join, uint32_t ms) {
    return join ? thread.JoinThread(ms) : thread.StopThread(ms);
}

TEST(CBaseThread, EndingNeverStartedOrOneselfDoesNotWait) {
    for (const bool join : {true, false}) {
        SCOPED_TRACE(join ? "JoinThread" : "StopThread");
        Owner owner;
        Worker idle(&owner, [](Worker&) {});
        EXPECT_TRUE(End(idle, join, 2000));
        EXPECT_TRUE(idle.GetStopEvent().IsSet());
        // Asked first thing, while the owner may still be inside StartThread.
        std::atomic<int> result{-1};
        CManualEvent done, release;
        Worker self(&owner, [&](Worker& me) {
            result = End(me, join, 200) ? 1 : 0;
            done.Set();
            release.Wait(kInfinite);
        });
        ASSERT_TRUE(self.StartThread("self"));
        ASSERT_TRUE(done.Wait(5000));
        EXPECT_EQ(result.load(), 0);
        EXPECT_TRUE(self.IsRunning()) << "the handle must stay open";
        release.Set();
        EXPECT_TRUE(self.JoinThread(5000));
        EXPECT_EQ(owner.log.Entries(), Entries());
    }
}

// The worker lingers until the time-out has been reported: the late path is
// taken for certain.
TEST(CBaseThread, LateWorkerIsReportedThenWaitedFor) {
    for (const bool join : {true, false}) {
        SCOPED_TRACE(join ? "JoinThread" : "StopThread");
        Owner owner;
        std::atomic<bool> finished{false};
        std::atomic<uint32_t> workerId{0};
        Worker worker(&owner, [&](Worker& self) {
            workerId = static_cast<uint32_t>(kestrel::CurrentThreadId());
            self.GetStopEvent().Wait(kInfinite);
            owner.log.WaitFor("was not stopped");
            std::this_thread::sleep_for(300ms);
            finished = true;
        });
        ASSERT_TRUE(worker.StartThread("slow worker"));
        const uint32_t id = worker.GetThreadId();  // known once StartThread returns
        EXPECT_TRUE(End(worker, join, 2000));
        EXPECT_TRUE(finished.load()) << "returned before the thread ended";
        EXPECT_EQ(workerId.load(), id);
        const std::string head = std::string("kestrel::CBaseThread::") + (join ? "JoinThread" : "StopThread") +
                                 ": Thread (id=" + std::to_string(id) + ", name=\"slow worker\")";
        const std::string late = "2 " + head + " for device 10.0.0.5:80 was not stopped during 2000 milliseconds";
        const Entries expected =
            join ? Entries{late, "3 " + head + " was stopped correctly"} : Entries{late + " and will be terminated!"};
        EXPECT_EQ(owner.log.Entries(), expected);
    }
}

TEST(CBaseThread, StartWhileRunningIsRefusedStartAfterTheEndRunsAgain) {
    Owner owner;
    CManualEvent release;
    std::atomic<int> runs{0};
    Worker worker(&owner, [&](Worker&) {
        ++runs;
        release.Wait(kInfinite);
    });
    ASSERT_TRUE(worker.StartThread("first"));
    const uint32_t id = worker.GetThreadId();
    worker.GetStopEvent().Set();
    EXPECT_FALSE(worker.StartThread("second"));
    EXPECT_EQ(worker.GetName(), "first");
    EXPECT_EQ(worker.GetThreadId(), id);
    EXPECT_FALSE(worker.GetStopEvent().IsSet()) << "a refused start still resets the stop event";
    release.Set();
    for (int i = 0; i < 500 && worker.IsRunning(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(worker.StartThread("third"));
    EXPECT_TRUE(worker.JoinThread(5000));
    EXPECT_EQ(runs.load(), 2);
    EXPECT_EQ(owner.log.Entries(), Entries());
    EXPECT_EQ(kestrel::CBaseThread::ThreadEntry(nullptr), 0x123456u);
}

TEST(CBaseThread, BaseDestructorStopsARunningThread) {
    // Run takes what it needs first: the derived part is gone by the time
    // the base destructor signals the stop.
    struct Bare : kestrel::CBaseThread {
        Bare(IDebugMessage* owner, std::atomic<int>* state) : CBaseThread(owner), m_state(state) {}
        void Run() override {
            std::atomic<int>* state = m_state;
            kestrel::CEvent& stop = GetStopEvent();
            *state = 1;
            stop.Wait(kInfinite);
            *state = 2;
        }
        std::atomic<int>* m_state;
    };
    Owner owner;
    std::atomic<int> state{0};
    auto bare = std::make_unique<Bare>(&owner, &state);
    ASSERT_TRUE(bare->StartThread("bare"));
    for (int i = 0; i < 500 && state.load() == 0; ++i) std::this_thread::sleep_for(10ms);
    bare.reset();
    EXPECT_EQ(state.load(), 2);
}

// A worker may destroy its own object (a host callback closing the driver).
TEST(CBaseThread, WorkerDestroyingItsOwnObject) {
    Owner owner;
    CManualEvent destroyed;
    std::atomic<Worker*> object{nullptr};
    auto* worker = new Worker(&owner, [&](Worker& self) {
        while (object.load() != &self) std::this_thread::yield();
        CManualEvent* signal = &destroyed;  // the closure goes with the object
        delete &self;
        signal->Set();
    });
    object = worker;
    ASSERT_TRUE(worker->StartThread("self-destroying"));
    EXPECT_TRUE(destroyed.Wait(5000));
    std::this_thread::sleep_for(100ms);  // let the detached thread go
}

struct Ticker : kestrel::CTickThread {
    explicit Ticker(IDebugMessage* owner) : CTickThread(owner) {}
    ~Ticker() override { StopThread(2000); }
    void OnTick() override {
        ++ticks;
        ticked.Set();
    }
    std::atomic<int> ticks{0};
    kestrel::CEvent ticked;
};

// Time is simulated: the test decides when a period has passed.
TEST(CTickThread, TicksFirstOnlyWhenAskedThenEveryPeriodUntilStopped) {
    Owner owner;
    kestrel::CSimulatedClock clock;
    Ticker ticker(&owner);
    ticker.SetClock(clock);
    ticker.SetPeriod(1500);
    ASSERT_TRUE(ticker.StartThread("waits first"));
    ASSERT_TRUE(clock.WaitForSleepers(1, 5000));
    clock.Advance(1499);
    ASSERT_TRUE(clock.WaitForSleepers(1, 5000));
    EXPECT_TRUE(ticker.JoinThread(5000));
    EXPECT_EQ(ticker.ticks.load(), 0) << "ticked before a whole period";
    for (const char* name : {"ticks first", "later start ticks first too"}) {
        ASSERT_TRUE(name[0] == 't' ? ticker.StartTicking(name) : ticker.StartThread(name));
        ASSERT_TRUE(ticker.ticked.Wait(5000)) << name;
        EXPECT_TRUE(ticker.JoinThread(5000));
    }
    EXPECT_EQ(ticker.ticks.load(), 2);
    // Ticking first is kept across restarts, so this run ticks at once too.
    ASSERT_TRUE(ticker.StartThread("periodic"));
    ASSERT_TRUE(ticker.ticked.Wait(5000));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(clock.WaitForSleepers(1, 5000)) << "tick " << i;
        clock.Advance(1500);
        ASSERT_TRUE(ticker.ticked.Wait(5000)) << "tick " << i;
    }
    ASSERT_TRUE(clock.WaitForSleepers(1, 5000));
    EXPECT_TRUE(ticker.JoinThread(5000));
    // Stopped while asleep: no tick however much time passes afterwards.
    clock.Advance(600000);
    EXPECT_EQ(ticker.ticks.load(), 6) << "ticked after the stop";
    EXPECT_EQ(owner.log.Entries(), Entries());
}

}  // namespace
