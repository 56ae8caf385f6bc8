// The camera-independent digital I/O logic, driven through a fake camera.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "io/CIOBase.h"
#include "runtime/CSimulatedClock.h"
#include "tests/host/TestIOUser.h"
#include "tests/io/TestDriver.h"

namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;

// Records what reaches the camera ("Set <index> <state>"); inputs come from
// a table the test changes.
class FakeCamera : public kestrel::CIOBase {
public:
    explicit FakeCamera(kestrel::IDriver* driver) : CIOBase(driver) { m_inputThread.SetPeriod(10); }
    ~FakeCamera() override { StopIO(); }

    bool SetOutputState(uint32_t index, int32_t state) override {
        const bool ok = !failOutputs.load();  // decided before the test can see the call
        camera.Add("Set " + std::to_string(index) + " " + std::to_string(state));
        if (throwOnIndex.load() == static_cast<int>(index)) throw std::runtime_error("camera exploded");
        return ok;
    }
    bool GetInputStates(uint32_t count) override {
        if (blockUntilCancels.load() > 0) {
            while (stopCalls.load() < blockUntilCancels.load()) std::this_thread::sleep_for(1ms);
            return true;
        }
        if (failInputs.load()) {
            ++failedTicks;
            return false;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        for (uint32_t i = 0; i < count; ++i) UpdateInputState(i, i < m_inputs.size() ? m_inputs[i] : 0);
        return true;
    }
    void OnStartIO() override { camera.Add("Start"); }
    void OnStopIO() override { ++stopCalls; }

    void SetInputs(std::vector<int32_t> states) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inputs = std::move(states);
    }
    bool InputThreadRunning() { return m_inputThread.IsRunning(); }
    bool OutputThreadRunning() { return m_outputThread.IsRunning(); }
    // Items are handled in order: once this request reached the camera for the
    // `count`th time, everything queued before it has been handled.
    void Drain(uint32_t index, int32_t state, size_t count) {
        ASSERT_TRUE(RequestOutputState(index, state));
        ASSERT_TRUE(camera.WaitFor("Set " + std::to_string(index) + " " + std::to_string(state), count));
    }

    testhost::CallLog camera;
    std::atomic<bool> failInputs{false}, failOutputs{false};
    std::atomic<int> throwOnIndex{-1}, blockUntilCancels{0}, stopCalls{0}, failedTicks{0};

private:
    std::mutex m_mutex;
    std::vector<int32_t> m_inputs;
};

const char* const kInputFailure =
    "1 kestrel::CIOBase::GetInputStatesWrapper: GetInputStates() method failed! Device 127.0.0.1:80";
const char* const kOutputFailure =
    "1 kestrel::CIOBase::SetOutputStateWrapper: Unable to change output state for device 127.0.0.1:80 (output index 0)";

TEST(CIOBase, WithoutInputsAndOutputsNoThreadStarts) {
    for (const int32_t count : {0, -5}) {  // a broken model file counts as none
        iotest::TestDriver driver(count, count);
        FakeCamera io(&driver);
        EXPECT_EQ(io.GetInputCount() + io.GetOutputCount(), 0u);
        EXPECT_TRUE(io.StartIO());
        EXPECT_FALSE(io.InputThreadRunning() || io.OutputThreadRunning());
        EXPECT_TRUE(io.StopIO());
        EXPECT_EQ(io.camera.Entries(), Entries({"Start"}));
        EXPECT_EQ(driver.messages.Entries(), Entries());
    }
}

// Every output is switched off at the start; a request ahead of the first
// start goes first; only changes reach the camera; after StopIO requests are
// refused until the next start, which switches off again.
TEST(CIOBase, OutputRequestsAroundStartAndStop) {
    iotest::TestDriver driver(0, 2);
    FakeCamera io(&driver);
    EXPECT_TRUE(io.RequestOutputState(1, 2));
    ASSERT_TRUE(io.StartIO());
    EXPECT_FALSE(io.InputThreadRunning());
    ASSERT_TRUE(io.camera.WaitFor("Set 1 1"));
    EXPECT_TRUE(io.RequestOutputState(0, 1));  // already off: nothing sent
    EXPECT_TRUE(io.RequestOutputState(2, 2));  // beyond the count: queued, then ignored
    EXPECT_TRUE(io.RequestOutputState(0, 2));
    io.Drain(0, 1, 2);
    ASSERT_TRUE(io.StopIO());
    EXPECT_FALSE(io.RequestOutputState(0, 2));
    ASSERT_TRUE(io.StartIO());
    io.Drain(0, 2, 2);
    EXPECT_EQ(io.camera.Entries(), Entries({"Start", "Set 1 2", "Set 0 1", "Set 1 1", "Set 0 2", "Set 0 1", "Start",
                                            "Set 0 1", "Set 1 1", "Set 0 2"}));
    EXPECT_EQ(driver.messages.Entries(), Entries());
}

TEST(CIOBase, StartingTwiceReportsBothThreads) {
    iotest::TestDriver driver(1, 1);
    FakeCamera io(&driver);
    ASSERT_TRUE(io.StartIO());
    EXPECT_FALSE(io.StartIO());
    EXPECT_EQ(
        driver.messages.Entries(),
        Entries({"1 kestrel::CIOBase::StartIO: Starting of Digital Output thread (Halyard: 127.0.0.1:80) failed!",
                 "1 kestrel::CIOBase::StartIO: Starting of Digital Input thread (Halyard: 127.0.0.1:80) failed!"}));
}

// Simulated time: each step is exactly one tick of the input poll.
TEST(CIOBase, FailingCameraResetsOnEveryTickAndLogsOncePerRun) {
    iotest::TestDriver driver(3, 0);
    testhost::TestIOUser user;
    kestrel::CSimulatedClock clock;
    FakeCamera io(&driver);
    io.SetClock(clock);
    ASSERT_TRUE(io.SetIOUser(&user));
    EXPECT_FALSE(io.SetIOUser(nullptr)) << "the previous user stays";
    io.SetInputs({2, 1, 0});
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(clock.WaitForSleepers(1, 10000));  // the first tick comes at once
    EXPECT_EQ(user.calls.Count("Input 1 1"), 1u);
    io.failInputs = true;
    for (int tick = 1; tick <= 3; ++tick) {
        ASSERT_TRUE(clock.Step(10, 10000));
        EXPECT_EQ(user.resets.load(), tick) << "one reset per failed tick";
    }
    io.failInputs = false;
    ASSERT_TRUE(clock.Step(10, 10000));
    EXPECT_EQ(user.calls.Count("Input 1 1"), 2u) << "recovery reported again";
    // The reset is not reported input by input; an undetermined input never is.
    EXPECT_EQ(user.calls.Count("Input 0 2"), 2u);
    EXPECT_EQ(user.calls.Count("Input 2"), 0u);
    for (const std::string& call : user.calls.Entries()) EXPECT_NE(call.substr(call.size() - 2), " 0") << call;
    EXPECT_EQ(driver.messages.Count(kInputFailure), 1u);
    io.failInputs = true;  // a new run of failures is logged again
    ASSERT_TRUE(clock.Step(10, 10000));
    ASSERT_TRUE(clock.Step(10, 10000));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(user.resets.load(), 5);
    EXPECT_EQ(io.failedTicks.load(), 5);
    EXPECT_EQ(driver.messages.Entries(), Entries({kInputFailure, kInputFailure}));
}

TEST(CIOBase, FailedOutputChangeResetsAndIsRetriedThroughTheReset) {
    iotest::TestDriver driver(0, 1);
    testhost::TestIOUser user;
    FakeCamera io(&driver);
    ASSERT_TRUE(io.SetIOUser(&user));
    io.failOutputs = true;
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(user.calls.WaitFor("Reset"));
    io.Drain(0, 2, 1);  // fails again: reset, no second message
    ASSERT_TRUE(user.calls.WaitFor("Reset", 2));
    EXPECT_EQ(driver.messages.Entries(), Entries({kOutputFailure}));
    io.failOutputs = false;
    io.Drain(0, 2, 2);  // the reset made 2 a change again
    io.failOutputs = true;
    io.Drain(0, 1, 2);
    ASSERT_TRUE(driver.messages.WaitFor(kOutputFailure, 2));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(driver.messages.Entries(), Entries({kOutputFailure, kOutputFailure}));
}

TEST(CIOBase, ExceptionFromAnItemDoesNotEndTheOutputThread) {
    iotest::TestDriver driver(0, 2);
    FakeCamera io(&driver);
    io.throwOnIndex = 0;
    ASSERT_TRUE(io.StartIO());
    EXPECT_TRUE(io.camera.WaitFor("Set 1 1"));
}

// A camera request that hangs until cancelled: the stop cancels once (the
// cancel holds until the next start) and the request ends with it.
TEST(CIOBase, StopCancelsAHangingRequestOnce) {
    iotest::TestDriver driver(1, 0);
    FakeCamera io(&driver);
    io.blockUntilCancels = 1;
    ASSERT_TRUE(io.StartIO());
    EXPECT_TRUE(io.StopIO());
    EXPECT_EQ(io.stopCalls.load(), 1);
    EXPECT_EQ(driver.messages.Entries(), Entries());
}

}  // namespace
