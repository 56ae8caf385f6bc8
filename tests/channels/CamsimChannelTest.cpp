// The channel against the camera simulator on loopback, end to end: HTTP
// set-up, RTP pictures checked against the simulator's stamps, RTCP.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "channels/CSonyMJPEGChannelRTP.h"
#include "driver/VideoChannelParams.h"
#include "tests/channels/FakeDriver.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestFrameAllocator.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CPictureStamp.h"

namespace {

using namespace kestrel;
using channeltest::FakeDriver;
using namespace std::chrono_literals;

template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class CamsimChannel : public ::testing::Test {
protected:
    void StartCamera(camsim::CameraConfig config = {}) {
        config.name = "cam";
        camera = std::make_unique<camsim::CCamera>(std::move(config));
        std::string error;
        ASSERT_TRUE(camera->Start(&error)) << error;
        driver.device.address = "127.0.0.1";
        driver.device.port = camera->Port();
        driver.allocator = &allocator;
        driver.captureUser = &user;
    }
    void Make(int32_t videoMode = 0, int32_t keepAliveMs = 60000, int32_t qualityMin = 1, int32_t qualityMax = 10) {
        VideoChannelParams params;
        params.channelIndex = 0;
        params.keepAliveMs = keepAliveMs;
        params.videoStandard = videoMode;
        params.qualityMin = qualityMin;
        params.qualityMax = qualityMax;
        channel = std::make_unique<CSonyMJPEGChannelRTP>(&driver, params);
    }
    void TearDown() override {
        channel.reset();
        if (camera) camera->Stop();
    }
    std::string Dump() {
        std::string out;
        for (const auto& m : driver.Messages()) out += "\n  " + std::to_string(m.level) + " " + m.text;
        out += "\n  requests:";
        for (const auto& r : camera->Requests()) out += "\n  " + r.target + " -> " + std::to_string(r.status);
        return out;
    }
    bool WaitRunning() {
        return WaitUntil([&] { return channel->GetState() == StateRunning; });
    }
    // Every delivered picture is one the simulator sent, byte for byte;
    // returns their frame numbers.
    std::vector<uint32_t> CheckedFrameNumbers() {
        std::vector<uint32_t> numbers;
        for (const auto& f : user.Frames()) {
            camsim::PictureStampInfo info;
            const auto result = camsim::CPictureStamp::Verify(f.data.data(), f.data.size(), &info);
            EXPECT_EQ(result, camsim::StampResult::Ok) << camsim::CPictureStamp::ResultText(result);
            numbers.push_back(info.frameNumber);
            EXPECT_FALSE(info.padded) << "an oversized picture was delivered";
        }
        return numbers;
    }

    FakeDriver driver;
    testhost::TestFrameAllocator allocator;
    testhost::TestCaptureUser user;
    std::unique_ptr<camsim::CCamera> camera;
    std::unique_ptr<CSonyMJPEGChannelRTP> channel;
};

TEST_F(CamsimChannel, CameraTakesTheSettings) {
    struct Case {
        const char* name;
        int32_t videoMode;
        uint32_t interval;
        int32_t quality;
        int32_t qualityMin, qualityMax;
        const char* mode;
        uint32_t rate;
        uint32_t cameraQuality;
    };
    const Case cases[] = {
        {"PAL, 25 fps, 60% of 1..10", 0, 40, 60, 1, 10, "PAL", 25, 6},
        {"NTSC, 1 fps, 60% of 10..1", 1, 1000, 60, 10, 1, "NTSC", 1, 5},
        {"IP, interval 0", 2, 0, 100, 1, 10, "IP", 1, 10},
    };
    StartCamera();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        channel.reset();
        camera->ClearRequests();
        Make(c.videoMode, 60000, c.qualityMin, c.qualityMax);
        ASSERT_TRUE(channel->Start(c.interval, 704, 480, c.quality));
        ASSERT_TRUE(WaitRunning());
        const auto targets = camera->RequestTargets(true);
        ASSERT_EQ(targets.size(), 11u);
        // The sender puts the leading slash the stream path lacks.
        EXPECT_NE(targets.back().find("mjpeg?UdpMode=unicast&UdpPort="), std::string::npos) << targets.back();
        const auto settings = camera->Settings();
        EXPECT_EQ(settings.videoOutMode, c.mode);
        EXPECT_EQ(settings.color, "color");
        EXPECT_EQ(settings.multicast, "off");
        EXPECT_EQ(settings.rtpExpireMs.value_or(0), 60000u);
        EXPECT_EQ(settings.lightFunnel, "off");
        ASSERT_EQ(settings.privacyZones.size(), 7u);
        for (const auto& zone : settings.privacyZones) EXPECT_EQ(zone.second, "off") << zone.first;
        EXPECT_EQ(settings.imageCodec, "jpeg");
        EXPECT_EQ(settings.jpBandwidth, "0.0");
        EXPECT_EQ(settings.jpFrameRate.value_or(99), c.rate);
        EXPECT_EQ(settings.jpQuality.value_or(99), c.cameraQuality);
        EXPECT_TRUE(camera->StreamActive());
    }
    channel->Stop();
    EXPECT_TRUE(driver.Count("SendFrameCallback failed") == 0);
}

TEST_F(CamsimChannel, PicturesArriveByteIdentical) {
    StartCamera();
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(user.WaitForFrames(20));
    channel->Stop();
    const auto numbers = CheckedFrameNumbers();
    ASSERT_GE(numbers.size(), 20u);
    EXPECT_GE(numbers.front(), 1u) << "the first picture of the stream is never delivered";
    for (size_t i = 1; i < numbers.size(); ++i) EXPECT_GT(numbers[i], numbers[i - 1]);
    EXPECT_EQ(driver.Count("kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online", 3), 1u);
    EXPECT_EQ(driver.Count("kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is offline. Channel was stopped", 3),
              1u);
    EXPECT_EQ(driver.Messages().size(), 2u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return camera->GetStreamStats().byes == 1; })) << "RTCP said goodbye";
}

TEST_F(CamsimChannel, DamagedPicturesAreNeverDelivered) {
    StartCamera();
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(user.WaitForFrames(3));

    // Lost, repeated and swapped packets, a jump in the numbering, a
    // datagram longer than the port's first buffer and a picture over the
    // size limit: each costs pictures, none gives a damaged one.
    camsim::RtpFaults faults;
    faults.dropFraction = 0.02;
    faults.duplicateFraction = 0.02;
    faults.reorderFraction = 0.02;
    camera->SetRtpFaults(faults);
    std::this_thread::sleep_for(1500ms);
    camera->ResetFaults();
    camera->JumpSequence(1000);
    camera->SendLongDatagram(5000);
    ASSERT_TRUE(camera->SendOversizedPicture());
    const size_t before = user.FrameCount();
    ASSERT_TRUE(user.WaitForFrames(before + 10));
    channel->Stop();
    CheckedFrameNumbers();
    const auto stats = camera->GetStreamStats();
    EXPECT_GT(stats.pictures, user.FrameCount()) << "some pictures were lost on purpose";
    EXPECT_EQ(driver.Count("is online"), 1u) << Dump();
}

TEST_F(CamsimChannel, SilentCameraLosesTheSignalAndIsStartedAgain) {
    StartCamera();
    driver.device.frameTimeLimitMs = 1500;
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(user.WaitForFrames(3));
    camera->SetPaused(true);
    ASSERT_TRUE(driver.WaitFor("kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1"));
    EXPECT_GE(user.videoStopped.load(), 1);
    ASSERT_TRUE(WaitUntil([&] { return camera->StreamStarts() >= 2; })) << "the channel starts the stream again";

    camera->SetPaused(false);
    const size_t before = user.FrameCount();
    ASSERT_TRUE(user.WaitForFrames(before + 3));
    ASSERT_TRUE(WaitRunning());
    channel->Stop();
    CheckedFrameNumbers();
    EXPECT_EQ(driver.Count("Signal was lost", 1), 1u);
    EXPECT_EQ(driver.Count("is online", 3), 2u) << Dump();
}

TEST_F(CamsimChannel, RefusedCredentialsAreLoggedOnce) {
    camsim::CameraConfig config;
    config.auth = camsim::AuthMode::Digest;
    config.user = "admin";
    config.password = "secret";
    StartCamera(config);
    driver.device.userName = "admin";
    driver.device.password = "wrong";
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(camera->WaitForRequest("VideoOutMode", 10000, 0).has_value());
    // Three passes, about a second apart.
    std::this_thread::sleep_for(2300ms);
    size_t refused = 0;
    for (const auto& r : camera->Requests()) refused += r.status == 401 ? 1 : 0;
    EXPECT_GE(refused, 3u) << Dump();
    // Stop between passes (a request cut short by the stop is logged too):
    // no request for a while means the channel waits for its next pass.
    for (size_t seen = camera->Requests().size();;) {
        std::this_thread::sleep_for(400ms);
        const size_t now = camera->Requests().size();
        if (now == seen) break;
        seen = now;
    }
    channel->Stop();
    const std::string text = "kestrel::CSonyMJPEGChannelRTP::SetCameraVideoMode: Device 127.0.0.1:" +
                             std::to_string(camera->Port()) +
                             " is unable to process \"/command/system.cgi?VideoOutMode=PAL\" request: credentials are "
                             "invalid";
    EXPECT_EQ(driver.Count(text, 1), 1u);
    EXPECT_EQ(driver.Messages().size(), 1u);

    // The right password: Digest is learned and the stream starts.
    channel.reset();
    driver.device.password = "secret";
    driver.Clear();
    camera->ClearRequests();
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(user.WaitForFrames(3)) << Dump();
}

TEST_F(CamsimChannel, StopEndsAHungRequestPromptly) {
    StartCamera();
    camsim::HttpFaultRule hang;
    hang.pattern = "PrivacyDispEach=4";
    hang.action = camsim::HttpFaultAction::Hang;
    camera->AddHttpFault(hang);
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(camera->WaitForRequest("PrivacyDispEach=4", 10000, 0).has_value());
    std::this_thread::sleep_for(100ms);
    const auto begin = std::chrono::steady_clock::now();
    channel->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    const auto seen = camera->Requests().size();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(camera->Requests().size(), seen);
    camera->ClearHttpFaults();
}

TEST_F(CamsimChannel, ReceiverReportsKeepTheStreamPastItsExpiry) {
    camsim::CameraConfig config;
    config.srIntervalMs = 1000;
    StartCamera(config);
    Make(0, 3000);  // RtpExpire 3000 ms; reports at least every 1500 ms
    ASSERT_TRUE(channel->Start(100, 704, 480, 60));
    ASSERT_TRUE(WaitRunning());
    std::this_thread::sleep_for(7s);
    const auto stats = camera->GetStreamStats();
    EXPECT_TRUE(stats.active) << "stopped: " << stats.stopReason;
    EXPECT_GE(stats.receiverReports, 3u);
    EXPECT_EQ(camera->StreamStarts(), 1u) << "never restarted";
    const size_t before = user.FrameCount();
    EXPECT_TRUE(user.WaitForFrames(before + 3));
    channel->Stop();
    CheckedFrameNumbers();
}

}  // namespace
