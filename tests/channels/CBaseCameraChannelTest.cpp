#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "channels/CSonyMJPEGChannelRTP.h"
#include "runtime/CEvent.h"
#include "tests/channels/ChannelTestSupport.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestFrameAllocator.h"
#include "tests/host/VirtualSlot.h"

namespace {

using namespace kestrel;
using channeltest::FakeDriver;
using namespace std::chrono_literals;

// A channel whose thread behaves like a camera request that ignores the stop
// event and ends only when cancelled; like the HTTP sender, a cancel holds
// until the channel lifts it, which it does only when not stopping.
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
            StopToken().Event().Wait(kInfinite);
            std::this_thread::sleep_for(150ms);  // begins after the stop's first cancel
        }
        m_cancel.Reset();
        if (StopRequested()) m_cancel.Set();
        m_cancel.Wait(kInfinite);
    }
    using CBaseCameraChannel::DeliverFrame;
    using CBaseCameraChannel::NotifyVideoStopped;
    using CBaseCameraChannel::SetCameraState;
    using CBaseCameraChannel::SetState;
    int32_t Width() const { return m_width.load(); }

    std::atomic<int> aborts{0};
    std::atomic<int> loopRuns{0};
    std::atomic<bool> lateRequest{false};

private:
    CEvent m_cancel;
};

TEST(CBaseCameraChannel, SetCameraStateNamesAndMessages) {
    const std::string prefix = "kestrel::CBaseCameraChannel::SetCameraState: ";
    struct Case {
        uint32_t cameraCount, channelIndex;
        CameraState stateWhenOffline;
        const char* online;
        int offlineLevel;
        const char* offline;
    };
    const Case cases[] = {
        {1, 0, StateSignalLost, "Camera 10.0.0.5 is online", 1, "Signal was lost for camera 10.0.0.5"},
        {1, 0, StateStopped, "Camera 10.0.0.5 is online", 3, "Camera 10.0.0.5 is offline. Channel was stopped"},
        {1, 0, StateRunning, "Camera 10.0.0.5 is online", 1, "Camera 10.0.0.5 is offline or failed"},
        {2, 1, StateSignalLost, "Video-server 10.0.0.5 (channel 1) is online", 1,
         "Signal was lost for video-server 10.0.0.5 (channel 1)"},
        {4, 3, StateStopped, "Video-server 10.0.0.5 (channel 3) is online", 3,
         "Video-server 10.0.0.5 (channel 3) is offline. Channel was stopped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offline);
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
        const auto m = driver.Messages();
        ASSERT_EQ(m.size(), 2u);
        EXPECT_EQ(m[0].level, 3);
        EXPECT_EQ(m[0].text, prefix + c.online);
        EXPECT_EQ(m[1].level, c.offlineLevel);
        EXPECT_EQ(m[1].text, prefix + c.offline);
    }
    // Two threads reporting the same change log it once.
    FakeDriver driver;
    for (int round = 0; round < 50; ++round) {
        ProbeChannel channel(&driver, 0);
        channel.SetCameraState(true);
        driver.Clear();
        std::thread a([&] { channel.SetCameraState(false); });
        channel.SetCameraState(false);
        a.join();
        ASSERT_EQ(driver.Messages().size(), 1u);
    }
}

// Refusals by answer, exception or missing user are covered with frame assembly.
TEST(CBaseCameraChannel, HostAnswersAndExceptions) {
    class Host : public testhost::TestCaptureUser {
    public:
        int SendFrameCallback(uint32_t index, IFrameBuffer*, IFrameBuffer*) override {
            calls.Add("SendFrameCallback " + std::to_string(index));
            return 0x100;  // only the low byte counts
        }
        void VideoStopped(uint32_t index) override {
            calls.Add("VideoStopped " + std::to_string(index));
            throw std::runtime_error("host fails");
        }
    } host;
    FakeDriver driver;
    driver.captureUser = &host;
    ProbeChannel channel(&driver, 2);
    testhost::TestFrameAllocator allocator;
    IFrameBuffer* frame = allocator.AllocateFrame(0x4745504A, 16, "Halyard");
    EXPECT_FALSE(channel.DeliverFrame(frame));
    EXPECT_EQ(host.calls.Entries().back(), "SendFrameCallback 2");
    EXPECT_NO_THROW(channel.NotifyVideoStopped());
    EXPECT_EQ(host.calls.Entries().back(), "VideoStopped 2");
    allocator.ReleaseFrame(frame);
}

TEST(CBaseCameraChannel, StartOnlyFromStoppedAndStopEndsTheThread) {
    FakeDriver driver;
    ProbeChannel channel(&driver, 0);
    ASSERT_TRUE(channel.Start(40, 704, 480, 75));
    for (const CameraState state : {StateRunning, StateSignalLost}) {
        channel.SetState(state);
        EXPECT_FALSE(channel.Start(1000, 176, 144, 10));
        EXPECT_EQ(channel.Width(), 704) << "a refused Start changes nothing";
    }
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

TEST(CBaseCameraChannel, OneCancelEndsARequestThatBeganAfterIt) {
    FakeDriver driver;
    ProbeChannel channel(&driver, 0);
    channel.lateRequest = true;
    ASSERT_TRUE(channel.Start(40, 704, 480, 60));
    const auto begin = std::chrono::steady_clock::now();
    channel.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_EQ(channel.aborts.load(), 1) << "the stop cancels once";
    EXPECT_TRUE(driver.Messages().empty()) << "a late stop logs nothing";
}

TEST(ChannelSlotOrder, ChannelAndReceiverUserTables) {
    EXPECT_SLOT(CBaseCameraChannel::Start, 1);
    EXPECT_SLOT(CBaseCameraChannel::Stop, 2);
    EXPECT_SLOT(CBaseCameraChannel::GetState, 3);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::AbortPending, 4);
    EXPECT_SLOT(CBaseCameraChannel::ChannelLoop, 5);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::OnIdle, 6);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::KeepAlive, 7);
    EXPECT_SLOT(CBaseRTPChannel::PrepareStart, 8);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::OpenPorts, 9);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::ClosePorts, 10);
    EXPECT_SLOT(CBaseRTPChannel::StreamStateChanged, 11);
    EXPECT_SLOT(CSonyMJPEGChannelRTP::StartStream, 12);
    // The channel itself is the packet and the RTCP user.
    static_assert(std::is_base_of_v<IRTPReceiverUser, CBaseRTPChannel>);
    static_assert(std::is_base_of_v<IRTCPSendReceiveUser, CSonyMJPEGChannelRTP>);
    EXPECT_SLOT(IRTPReceiverUser::PacketReceived, 1);
    EXPECT_SLOT(IRTPReceiverUser::ReceiveTimeout, 2);
    EXPECT_SLOT(IRTPReceiverUser::ReceiverClosed, 3);
    EXPECT_SLOT(IRTCPSendReceiveUser::RtcpTimeout, 1);
    EXPECT_SLOT(IRTCPSendReceiveUser::RtcpSocketClosed, 2);
}

}  // namespace
