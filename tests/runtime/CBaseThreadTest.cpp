#include "runtime/CBaseThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/CTickThread.h"
#include "runtime/FormatString.h"
#include "runtime/IDebugMessage.h"
#include "runtime/ThreadId.h"

namespace {

using namespace std::chrono_literals;
using kestrel::CBaseThread;
using kestrel::CEvent;
using kestrel::CManualEvent;
using kestrel::CTickThread;
using kestrel::kInfinite;

// The owner: records every message; can run an action when one arrives.
class RecordingOwner : public IDebugMessage {
public:
    std::string GetDeviceAddress() override { return "10.0.0.5:80"; }

    void DebugMessage(int level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        std::string text = kestrel::FormatStringV(format, args);
        va_end(args);
        std::function<void()> action;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.emplace_back(level, std::move(text));
            action = m_onMessage;
        }
        if (action) action();
    }

    std::vector<std::pair<int, std::string>> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }

    void OnMessage(std::function<void()> action) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_onMessage = std::move(action);
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<int, std::string>> m_messages;
    std::function<void()> m_onMessage;
};

// A worker whose body is supplied by the test. Everything the body touches
// lives in the test, never in this object, so ending the thread in the base
// destructor is safe.
class Worker : public CBaseThread {
public:
    Worker(IDebugMessage* owner, std::function<void(Worker&)> body) : CBaseThread(owner), m_body(std::move(body)) {}
    ~Worker() override { StopThread(2000); }
    void Run() override { m_body(*this); }

private:
    std::function<void(Worker&)> m_body;
};

bool WaitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

enum class Ending { Join, Stop };

std::string EndingName(const ::testing::TestParamInfo<Ending>& info) {
    return info.param == Ending::Join ? "Join" : "Stop";
}

bool End(CBaseThread& thread, Ending how, uint32_t ms) {
    return how == Ending::Join ? thread.JoinThread(ms) : thread.StopThread(ms);
}

class CBaseThreadEnding : public ::testing::TestWithParam<Ending> {};

TEST_P(CBaseThreadEnding, NeverStartedOnlySignalsTheStopEvent) {
    RecordingOwner owner;
    Worker worker(&owner, [](Worker&) {});
    EXPECT_TRUE(End(worker, GetParam(), 2000));
    EXPECT_TRUE(worker.GetStopEvent().IsSet());
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(owner.Messages().empty());
}

TEST_P(CBaseThreadEnding, FromTheWorkerItselfFailsAtOnce) {
    RecordingOwner owner;
    std::atomic<int> result{-1};
    CManualEvent done;
    CManualEvent release;
    const Ending how = GetParam();
    Worker worker(&owner, [&](Worker& self) {
        // Called first thing: the owner may still be inside StartThread.
        result = End(self, how, 200) ? 1 : 0;
        done.Set();
        release.Wait(kInfinite);
    });
    ASSERT_TRUE(worker.StartThread("self"));
    ASSERT_TRUE(done.Wait(5000));
    EXPECT_EQ(result.load(), 0);
    EXPECT_TRUE(worker.IsRunning()) << "the handle must stay open";
    EXPECT_TRUE(worker.GetStopEvent().IsSet()) << "the stop event is still signalled";
    release.Set();
    EXPECT_TRUE(worker.JoinThread(5000));
    EXPECT_TRUE(owner.Messages().empty());
}

// The worker notices the stop event late: it lingers until the owner has
// reported the time-out (at 2000 ms), so the late path is taken for certain.
TEST_P(CBaseThreadEnding, LateWorkerIsReportedAndWaitedFor) {
    RecordingOwner owner;
    CManualEvent reported;
    std::atomic<bool> finished{false};
    std::atomic<uint32_t> workerId{0};
    owner.OnMessage([&] { reported.Set(); });
    Worker worker(&owner, [&](Worker& self) {
        workerId = static_cast<uint32_t>(kestrel::CurrentThreadId());
        self.GetStopEvent().Wait(kInfinite);
        reported.Wait(10000);
        std::this_thread::sleep_for(300ms);  // still busy after the report
        finished = true;
    });
    ASSERT_TRUE(worker.StartThread("slow worker"));
    const uint32_t id = worker.GetThreadId();
    EXPECT_NE(id, 0u) << "the id is known when StartThread returns";

    EXPECT_TRUE(End(worker, GetParam(), 2000));
    EXPECT_TRUE(finished.load()) << "returned before the thread ended";
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(workerId.load(), id);

    const std::string idText = std::to_string(id);
    std::vector<std::pair<int, std::string>> expected;
    if (GetParam() == Ending::Join) {
        expected = {{2, "kestrel::CBaseThread::JoinThread: Thread (id=" + idText +
                            ", name=\"slow worker\") for device 10.0.0.5:80 was not stopped during 2000 milliseconds"},
                    {3, "kestrel::CBaseThread::JoinThread: Thread (id=" + idText +
                            ", name=\"slow worker\") was stopped correctly"}};
    } else {
        expected = {{2, "kestrel::CBaseThread::StopThread: Thread (id=" + idText +
                            ", name=\"slow worker\") for device 10.0.0.5:80 was not stopped during 2000 milliseconds"
                            " and will be terminated!"}};
    }
    EXPECT_EQ(owner.Messages(), expected);
}

INSTANTIATE_TEST_SUITE_P(Endings, CBaseThreadEnding, ::testing::Values(Ending::Join, Ending::Stop), EndingName);

TEST(CBaseThreadTest, StartWhileRunningKeepsTheThreadAndResetsTheStopEvent) {
    RecordingOwner owner;
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
    EXPECT_FALSE(worker.GetStopEvent().IsSet());
    EXPECT_TRUE(worker.IsRunning());
    release.Set();
    EXPECT_TRUE(worker.JoinThread(5000));
    EXPECT_EQ(runs.load(), 1);
    EXPECT_TRUE(owner.Messages().empty());
}

TEST(CBaseThreadTest, StartAfterTheThreadEndedByItselfStartsANewOne) {
    RecordingOwner owner;
    std::atomic<int> runs{0};
    Worker worker(&owner, [&](Worker&) { ++runs; });
    ASSERT_TRUE(worker.StartThread("one"));
    ASSERT_TRUE(WaitUntil([&] { return !worker.IsRunning(); }));
    ASSERT_TRUE(worker.StartThread("two"));
    EXPECT_EQ(worker.GetName(), "two");
    ASSERT_TRUE(WaitUntil([&] { return runs.load() == 2; }));
    EXPECT_TRUE(worker.JoinThread(5000));
    EXPECT_EQ(runs.load(), 2);
}

TEST(CBaseThreadTest, DestroyingARunningObjectStopsIt) {
    RecordingOwner owner;
    CManualEvent running;
    std::atomic<bool> finished{false};

    // Only the base destructor stops this thread.
    class Bare : public CBaseThread {
    public:
        Bare(IDebugMessage* owner, CManualEvent* running, std::atomic<bool>* finished)
            : CBaseThread(owner), m_running(running), m_finished(finished) {}
        void Run() override {
            CManualEvent* running = m_running;
            std::atomic<bool>* finished = m_finished;
            CEvent& stop = GetStopEvent();
            running->Set();
            stop.Wait(kInfinite);
            *finished = true;
        }

    private:
        CManualEvent* m_running;
        std::atomic<bool>* m_finished;
    };

    auto bare = std::make_unique<Bare>(&owner, &running, &finished);
    ASSERT_TRUE(bare->StartThread("bare"));
    ASSERT_TRUE(running.Wait(5000));
    bare.reset();
    EXPECT_TRUE(finished.load());
    EXPECT_TRUE(owner.Messages().empty());
}

// A worker may destroy its own object (for instance from a host callback
// that closes the driver); the object's end must not take the process down.
TEST(CBaseThreadTest, WorkerDestroyingItsOwnObject) {
    RecordingOwner owner;
    CManualEvent destroyed;
    std::atomic<Worker*> object{nullptr};
    auto* worker = new Worker(&owner, [&](Worker& self) {
        while (object.load() != &self) std::this_thread::yield();
        // The closure goes with the object: keep what is needed afterwards.
        CManualEvent* signal = &destroyed;
        delete &self;
        signal->Set();
    });
    object = worker;
    ASSERT_TRUE(worker->StartThread("self-destroying"));
    EXPECT_TRUE(destroyed.Wait(5000));
    // The detached thread ends on its own; give it a moment to go.
    std::this_thread::sleep_for(100ms);
}

// Ticks recorded by a CTickThread until it is stopped.
class Ticker : public CTickThread {
public:
    explicit Ticker(IDebugMessage* owner) : CTickThread(owner) {}
    ~Ticker() override { StopThread(2000); }
    void OnTick() override {
        ++m_ticks;
        m_ticked.Set();
    }
    int Ticks() const { return m_ticks.load(); }
    CEvent& Ticked() { return m_ticked; }

private:
    std::atomic<int> m_ticks{0};
    CEvent m_ticked;
};

TEST(CTickThreadTest, DefaultPeriod) {
    RecordingOwner owner;
    Ticker ticker(&owner);
    EXPECT_EQ(ticker.GetPeriod(), 1500u);
}

// With a period far longer than the test, only a tick before the first
// wait can happen.
struct FirstTickRow {
    const char* name;
    bool ticking;
    int ticksBeforeStop;
};
void PrintTo(const FirstTickRow& row, std::ostream* os) { *os << row.name; }

class CTickThreadFirstTick : public ::testing::TestWithParam<FirstTickRow> {};

TEST_P(CTickThreadFirstTick, TicksAtOnceOnlyWhenTicking) {
    RecordingOwner owner;
    Ticker ticker(&owner);
    ticker.SetPeriod(600000);
    ASSERT_TRUE(GetParam().ticking ? ticker.StartTicking("tick") : ticker.StartThread("tick"));
    if (GetParam().ticksBeforeStop > 0) {
        EXPECT_TRUE(ticker.Ticked().Wait(5000));
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(ticker.JoinThread(5000));
    EXPECT_EQ(ticker.Ticks(), GetParam().ticksBeforeStop);
    EXPECT_TRUE(owner.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, CTickThreadFirstTick,
                         ::testing::Values(FirstTickRow{"StartTicking", true, 1}, FirstTickRow{"StartThread", false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CTickThreadTest, TicksEveryPeriodUntilStopped) {
    RecordingOwner owner;
    Ticker ticker(&owner);
    ticker.SetPeriod(200);
    ASSERT_TRUE(ticker.StartThread("tick"));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(ticker.Ticked().Wait(5000)) << "tick " << i;
    }
    EXPECT_TRUE(ticker.JoinThread(5000));
    const int ticks = ticker.Ticks();
    EXPECT_GE(ticks, 3);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(ticker.Ticks(), ticks) << "ticked after the stop";
}

TEST(CTickThreadTest, TickFirstStaysForLaterStarts) {
    RecordingOwner owner;
    Ticker ticker(&owner);
    ticker.SetPeriod(600000);
    ASSERT_TRUE(ticker.StartTicking("tick"));
    ASSERT_TRUE(ticker.Ticked().Wait(5000));
    EXPECT_TRUE(ticker.JoinThread(5000));
    ASSERT_TRUE(ticker.StartThread("tick again"));
    EXPECT_TRUE(ticker.Ticked().Wait(5000));
    EXPECT_TRUE(ticker.JoinThread(5000));
    EXPECT_EQ(ticker.Ticks(), 2);
}

TEST(CBaseThreadTest, ThreadEntryWithoutObject) { EXPECT_EQ(CBaseThread::ThreadEntry(nullptr), 0x123456u); }

}  // namespace
