#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "channels/CBaseCameraChannel.h"
#include "runtime/CEvent.h"
#include "tests/channels/FakeDriver.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestFrameAllocator.h"

namespace {

using namespace kestrel;
using channeltest::FakeDriver;
using namespace std::chrono_literals;

// A channel whose thread body behaves like a camera request that ignores
// the stop event and ends only when cancelled. Like the HTTP sender, each
// "request" clears an earlier cancel when it begins.
class ProbeChannel : public CBaseCameraChannel {
public:
    using CBaseCameraChannel::CBaseCameraChannel;
    ~ProbeChannel() override { Stop(); }

    void AbortPending() override {
        aborts.fetch_add(1);
        m_cancel.Set();
    }
    void ChannelLoop() override {
        loopRuns.fetch_add(1);
        if (lateRequest.load()) {
            m_stopEvent.Wait(kInfinite);
            // Begins after the stop's first cancel went by.
            std::this_thread::sleep_for(150ms);
        }
        m_cancel.Reset();
        m_cancel.Wait(kInfinite);
    }

    using CBaseCameraChannel::DeliverFrame;
    using CBaseCameraChannel::NotifyVideoStopped;
    using CBaseCameraChannel::SetCameraState;
    using CBaseCameraChannel::SetState;
    int32_t Width() const { return m_width.load(); }
    int32_t Height() const { return m_height.load(); }
    int32_t Quality() const { return m_quality.load(); }
    uint32_t Interval() const { return m_frameInterval.load(); }

    std::atomic<int> aborts{0};
    std::atomic<int> loopRuns{0};
    std::atomic<bool> lateRequest{false};

private:
    CEvent m_cancel;
};

TEST(CBaseCameraChannel, SetCameraStateNamesAndMessages) {
    struct Case {
        const char* name;
        uint32_t cameraCount;
        uint32_t channelIndex;
        CameraState stateWhenOffline;
        int onlineLevel;
        const char* online;
        int offlineLevel;
        const char* offline;
    };
    const Case cases[] = {
        {"single camera, signal lost", 1, 0, StateSignalLost, 3,
         "kestrel::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is online", 1,
         "kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 10.0.0.5"},
        {"single camera, stopped", 1, 0, StateStopped, 3,
         "kestrel::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is online", 3,
         "kestrel::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is offline. Channel was stopped"},
        {"single camera, running", 1, 0, StateRunning, 3,
         "kestrel::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is online", 1,
         "kestrel::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is offline or failed"},
        {"video server, signal lost", 2, 1, StateSignalLost, 3,
         "kestrel::CBaseCameraChannel::SetCameraState: Video-server 10.0.0.5 (channel 1) is online", 1,
         "kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for video-server 10.0.0.5 (channel 1)"},
        {"video server, stopped", 4, 3, StateStopped, 3,
         "kestrel::CBaseCameraChannel::SetCameraState: Video-server 10.0.0.5 (channel 3) is online", 3,
         "kestrel::CBaseCameraChannel::SetCameraState: Video-server 10.0.0.5 (channel 3) is offline. Channel was stopped"},
    };
    for (const auto& c : cases) {
        FakeDriver driver;
        driver.device.address = "10.0.0.5";
        driver.cameraCount = c.cameraCount;
        ProbeChannel channel(&driver, c.channelIndex);

        channel.SetCameraState(false);  // starts offline: no change, no message
        channel.SetCameraState(true);
        channel.SetCameraState(true);
        channel.SetState(c.stateWhenOffline);
        channel.SetCameraState(false);
        channel.SetCameraState(false);

        const auto messages = driver.Messages();
        ASSERT_EQ(messages.size(), 2u) << c.name;
        EXPECT_EQ(messages[0].level, c.onlineLevel) << c.name;
        EXPECT_EQ(messages[0].text, c.online) << c.name;
        EXPECT_EQ(messages[1].level, c.offlineLevel) << c.name;
        EXPECT_EQ(messages[1].text, c.offline) << c.name;
    }
}

TEST(CBaseCameraChannel, ConcurrentOfflineReportsLogOnce) {
    FakeDriver driver;
    for (int round = 0; round < 50; ++round) {
        ProbeChannel channel(&driver, 0);
        channel.SetCameraState(true);
        driver.Clear();
        std::thread a([&] { channel.SetCameraState(false); });
        std::thread b([&] { channel.SetCameraState(false); });
        a.join();
        b.join();
        ASSERT_EQ(driver.Messages().size(), 1u);
    }
}

// A host whose answer has non-zero upper bytes but a zero low byte.
class HighBitsUser : public testhost::TestCaptureUser {
public:
    int SendFrameCallback(uint32_t, IFrameBuffer*, IFrameBuffer*) override { return 0x100; }
};

class ThrowingStopUser : public testhost::TestCaptureUser {
public:
    void VideoStopped(uint32_t) override { throw std::runtime_error("host fails"); }
};

TEST(CBaseCameraChannel, DeliverFrameAnswersAndContainsHostExceptions) {
    FakeDriver driver;
    ProbeChannel channel(&driver, 2);
    testhost::TestFrameAllocator allocator;
    IFrameBuffer* frame = allocator.AllocateFrame(0x4745504A, 16, "Halyard");

    EXPECT_FALSE(channel.DeliverFrame(frame)) << "no capture user";

    testhost::TestCaptureUser user;
    driver.captureUser = &user;
    EXPECT_TRUE(channel.DeliverFrame(frame));
    EXPECT_EQ(user.calls.Entries().back(), "SendFrameCallback 2");  // channel index, no alternate buffer
    user.answer = testhost::TestCaptureUser::FrameAnswer::Refuse;
    EXPECT_FALSE(channel.DeliverFrame(frame));
    user.answer = testhost::TestCaptureUser::FrameAnswer::Throw;
    EXPECT_FALSE(channel.DeliverFrame(frame));

    HighBitsUser highBits;
    driver.captureUser = &highBits;
    EXPECT_FALSE(channel.DeliverFrame(frame)) << "only the low byte of the answer counts";

    ThrowingStopUser throwing;
    driver.captureUser = &throwing;
    EXPECT_NO_THROW(channel.NotifyVideoStopped());
    driver.captureUser = &user;
    channel.NotifyVideoStopped();
    EXPECT_EQ(user.videoStopped.load(), 1);
    EXPECT_EQ(user.calls.Entries().back(), "VideoStopped 2");
    allocator.ReleaseFrame(frame);
}

TEST(CBaseCameraChannel, StartOnlyFromStoppedAndStopEndsTheThread) {
    FakeDriver driver;
    ProbeChannel channel(&driver, 0);
    EXPECT_EQ(channel.GetState(), StateStopped);
    EXPECT_EQ(channel.Quality(), 60);

    ASSERT_TRUE(channel.Start(40, 704, 480, 75));
    EXPECT_EQ(channel.Interval(), 40u);
    EXPECT_EQ(channel.Width(), 704);
    EXPECT_EQ(channel.Height(), 480);
    EXPECT_EQ(channel.Quality(), 75);

    channel.SetState(StateRunning);
    EXPECT_FALSE(channel.Start(1000, 176, 144, 10));
    EXPECT_EQ(channel.Width(), 704) << "a refused Start changes nothing";
    channel.SetState(StateSignalLost);
    EXPECT_FALSE(channel.Start(1000, 176, 144, 10));

    channel.Stop();
    EXPECT_EQ(channel.GetState(), StateStopped);
    EXPECT_GE(channel.aborts.load(), 1);

    // A second Start while a stopped-state thread still runs replaces it.
    ASSERT_TRUE(channel.Start(1000, 176, 144, 10));
    ASSERT_TRUE(channel.Start(500, 352, 288, 20));
    EXPECT_EQ(channel.Width(), 352);
    channel.Stop();
    EXPECT_EQ(channel.loopRuns.load(), 3);
    channel.Stop();  // nothing left to stop
}

TEST(CBaseCameraChannel, StopCancelsARequestThatBeganAfterTheFirstCancel) {
    FakeDriver driver;
    ProbeChannel channel(&driver, 0);
    channel.lateRequest = true;
    ASSERT_TRUE(channel.Start(40, 704, 480, 60));
    const auto begin = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_GE(channel.aborts.load(), 2);
    EXPECT_EQ(channel.GetState(), StateStopped);
    EXPECT_TRUE(driver.Messages().empty()) << "a late stop logs nothing";
}

}  // namespace
