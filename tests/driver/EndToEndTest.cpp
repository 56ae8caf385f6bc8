// The library as a recorder drives it: loaded with dlopen, reached only
// through the host contract, recording a simulated camera on loopback.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/CCaptureAPIEx.h"
#include "host/HalyardExports.h"
#include "host/ICaptureIOApi.h"
#include "host/IIPCaptureDriver.h"
#include "host/IIPVideoCapture.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestDeviceDescription.h"
#include "tests/host/TestFrameAllocator.h"
#include "tests/host/TestHostSink.h"
#include "tests/host/TestIOUser.h"
#include "tests/host/TestStreamFormat.h"
#include "tests/host/TestVideoSink.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CPictureStamp.h"

namespace {

using Clock = std::chrono::steady_clock;

long MillisecondsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        m_handle = dlopen(HALYARD_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << dlerror();
        create = reinterpret_cast<CreateCaptureFn>(dlsym(m_handle, "CreateCapture"));
        destroy = reinterpret_cast<DeleteCaptureFn>(dlsym(m_handle, "DeleteCapture"));
        createIP = reinterpret_cast<CreateIPCaptureFn>(dlsym(m_handle, "CreateIPCapture"));
        deleteIP = reinterpret_cast<DeleteIPCaptureFn>(dlsym(m_handle, "DeleteIPCapture"));
    }
    void TearDown() override {
        if (m_handle != nullptr) dlclose(m_handle);
    }

    void StartCamera(camsim::AuthMode auth = camsim::AuthMode::Basic) {
        camsim::CameraConfig config;
        config.auth = auth;
        config.user = "operator";
        config.password = "s3cret";
        config.sensorCount = 1;
        config.alarmOutputCount = 1;
        camera = std::make_unique<camsim::CCamera>(config);
        std::string error;
        ASSERT_TRUE(camera->Start(&error)) << error;
    }

    // A legacy driver object set up the way a recorder does it.
    CCaptureAPIEx* OpenLegacy(const char* password = "s3cret") {
        CCaptureAPIEx* driver = create(0);
        if (driver == nullptr) return nullptr;
        driver->SetCaptureUser(&user);
        driver->SetFrameAllocator(&allocator);
        driver->SetVideoStandard(0);
        driver->SetParameter("IPSERVERADDRESS", "127.0.0.1", 9);
        driver->SetParameter("IPSERVERTYPE", "SNC-RZ50P", 9);
        driver->SetParameter("IPSERVERPORT", reinterpret_cast<const void*>(static_cast<uintptr_t>(camera->Port())), 4);
        driver->SetParameter("IPSERVERUSERNAME", "operator", 8);
        driver->SetParameter("IPSERVERPASSWORD", password, static_cast<int32_t>(std::strlen(password)));
        EXPECT_EQ(driver->Open(""), 1);
        return driver;
    }

    void* m_handle = nullptr;
    CreateCaptureFn create = nullptr;
    DeleteCaptureFn destroy = nullptr;
    CreateIPCaptureFn createIP = nullptr;
    DeleteIPCaptureFn deleteIP = nullptr;
    std::unique_ptr<camsim::CCamera> camera;
    testhost::TestCaptureUser user;
    testhost::TestFrameAllocator allocator;
};

TEST_F(EndToEnd, LegacyHostRecordsWholePicturesAndStopsCleanly) {
    StartCamera();
    CCaptureAPIEx* driver = OpenLegacy();
    ASSERT_NE(driver, nullptr);
    const auto started = Clock::now();
    ASSERT_EQ(driver->StartChannel(0, 40, 2, 60), 1);
    ASSERT_TRUE(user.WaitForFrames(12, std::chrono::seconds(20)));
    const long firstFrames = MillisecondsSince(started);

    // Every picture is one the camera sent, byte for byte, in order.
    const auto frames = user.Frames();
    uint32_t previous = 0;
    for (const auto& frame : frames) {
        camsim::PictureStampInfo info;
        ASSERT_EQ(camsim::CPictureStamp::Verify(frame.data.data(), frame.data.size(), &info), camsim::StampResult::Ok);
        EXPECT_GT(info.frameNumber, previous);
        previous = info.frameNumber;
        EXPECT_EQ(std::memcmp(&frame.fourcc, "JPEG", 4), 0);
        EXPECT_EQ(frame.width, 352);
        EXPECT_EQ(frame.height, 288);
        EXPECT_EQ(frame.resolution, 2);
    }

    // The camera was set up in the order and with the values the driver owes it.
    const std::vector<std::string> targets = camera->RequestTargets();
    ASSERT_GE(targets.size(), 11u);
    EXPECT_EQ(targets[0], "/command/system.cgi?VideoOutMode=PAL");
    EXPECT_EQ(targets[1], "/command/camera.cgi?Color=color&Multicast=off&RtpExpire=60000&LightFunnel=off");
    for (unsigned zone = 1; zone <= 7; ++zone) {
        EXPECT_EQ(targets[1 + zone], "/command/camera.cgi?PrivacyDispEach=" + std::to_string(zone) + ",off");
    }
    EXPECT_EQ(targets[9], "/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=25&JpQuality=6");
    EXPECT_EQ(targets[10].rfind("/mjpeg?UdpMode=unicast&UdpPort=", 0), 0u) << targets[10];
    const int rtpPort = std::stoi(targets[10].substr(targets[10].find("UdpPort=") + 8));
    EXPECT_EQ(rtpPort % 2, 0);
    EXPECT_GE(rtpPort, 3556);
    EXPECT_LE(rtpPort, 4554);

    // The host saw the frame buffer calls in their order, one release per picture.
    const std::vector<std::string> log = allocator.log.Entries();
    ASSERT_GE(log.size(), 9u);
    EXPECT_EQ(log[0].rfind("AllocateFrame 1195724874 ", 0), 0u) << log[0];
    EXPECT_NE(log[0].find(" Halyard"), std::string::npos);
    EXPECT_EQ(log[1], "SetWidth 352");
    EXPECT_EQ(log[2], "SetHeight 288");
    EXPECT_EQ(log[3], "SetResolution 2");
    EXPECT_EQ(log[4].rfind("SetDataSize ", 0), 0u);
    EXPECT_EQ(log[5], "SetFrameFourCC 1195724874");
    EXPECT_EQ(log[6], "Op5");
    EXPECT_EQ(log[7].rfind("GetData ", 0), 0u);
    EXPECT_EQ(log[8], "ReleaseFrame");
    EXPECT_EQ(user.MessageCount("kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online", 3), 1u);

    const auto stopping = Clock::now();
    EXPECT_EQ(driver->StopChannel(0), 1);
    const long stopMs = MillisecondsSince(stopping);
    EXPECT_LT(stopMs, 1000);
    EXPECT_EQ(user.videoStopped.load(), 1);
    EXPECT_EQ(user.MessageCount("Camera 127.0.0.1 is offline. Channel was stopped", 3), 1u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(allocator.allocated.load(), allocator.released.load());
    EXPECT_TRUE(destroy(&driver));
    std::printf("start to 12 frames %ld ms, stop %ld ms\n", firstFrames, stopMs);
}

TEST_F(EndToEnd, StopAndCloseAreQuickWhileTheCameraHangs) {
    StartCamera();
    camera->AddHttpFault({"PrivacyDispEach=3", camsim::HttpFaultAction::Hang, 0, -1});
    CCaptureAPIEx* driver = OpenLegacy();
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(driver->StartChannel(0, 40, 2, 60), 1);
    ASSERT_TRUE(camera->WaitForRequest("PrivacyDispEach=3", 10000).has_value());
    const auto stopping = Clock::now();
    EXPECT_EQ(driver->StopChannel(0), 1);
    const long stopMs = MillisecondsSince(stopping);
    EXPECT_LT(stopMs, 1000);
    // No request after the cancelled one.
    const auto targets = camera->RequestTargets();
    EXPECT_EQ(targets.back(), "/command/camera.cgi?PrivacyDispEach=3,off");

    ASSERT_EQ(driver->StartChannel(0, 40, 2, 60), 1);
    ASSERT_TRUE(camera->WaitForRequest("PrivacyDispEach=3", 10000, targets.size()).has_value());
    const auto closing = Clock::now();
    EXPECT_EQ(driver->Close(), 1);
    const long closeMs = MillisecondsSince(closing);
    EXPECT_LT(closeMs, 1000);
    EXPECT_TRUE(destroy(&driver));
    camera->ClearHttpFaults();
    std::printf("stop during a hung request %ld ms, close %ld ms\n", stopMs, closeMs);
}

TEST_F(EndToEnd, RefusedCredentialsAreReportedOnceAcrossRetries) {
    StartCamera();
    CCaptureAPIEx* driver = OpenLegacy("wrong");
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(driver->StartChannel(0, 40, 2, 60), 1);
    // The channel retries about once a second.
    for (int i = 0; i < 100; ++i) {
        size_t tries = 0;
        for (const auto& t : camera->RequestTargets()) tries += t.find("VideoOutMode") != std::string::npos ? 1 : 0;
        if (tries >= 3) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(user.MessageCount("is unable to process \"/command/system.cgi?VideoOutMode=PAL\" request: credentials are invalid", 1), 1u);
    EXPECT_EQ(user.FrameCount(), 0u);
    for (const auto& message : user.Messages()) EXPECT_EQ(message.text.find("wrong"), std::string::npos);
    EXPECT_TRUE(destroy(&driver));
}

TEST_F(EndToEnd, NewerHostRecordsAndSwitchesInputsAndOutputs) {
    StartCamera(camsim::AuthMode::Digest);
    kestrel::ipcapture::IIPCaptureDriver* driver = createIP();
    ASSERT_NE(driver, nullptr);
    testhost::TestHostSink sink;
    testhost::TestDeviceDescription device;
    device.model.name = "SNC-RZ50P";
    device.connection.address = "127.0.0.1";
    device.connection.port = camera->Port();
    device.connection.userName = "operator";
    device.connection.password = "s3cret";
    ASSERT_TRUE(driver->Initialize(&sink, &allocator, &device));
    kestrel::ipcapture::IIPVideoCapture* video = driver->GetVideoCapture();
    ASSERT_NE(video, nullptr);
    testhost::TestVideoSink videoSink;
    testhost::TestStreamFormat format;
    format.resolution = testhost::TestResolution(352, 288);
    ASSERT_TRUE(video->StartVideo(0, &videoSink, &format));
    ASSERT_TRUE(videoSink.calls.WaitFor("OnFrame", 5, std::chrono::seconds(20)));

    kestrel::ICaptureIOApi* io = driver->GetIOApi();
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->GetInputCount(), 1u);
    EXPECT_EQ(io->GetOutputCount(), 1u);
    testhost::TestIOUser ioUser;
    EXPECT_TRUE(io->SetIOUser(&ioUser));
    EXPECT_TRUE(io->StartIO());
    ASSERT_TRUE(ioUser.calls.WaitFor("Input 0 1"));
    camera->SetSensor(1, true);
    ASSERT_TRUE(ioUser.calls.WaitFor("Input 0 2"));
    EXPECT_TRUE(io->RequestOutputState(0, 2));
    for (int i = 0; i < 100 && camera->AlarmTriggers().size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto triggers = camera->AlarmTriggers();
    ASSERT_EQ(triggers.size(), 2u);
    EXPECT_FALSE(triggers[0].on);
    EXPECT_TRUE(triggers[1].on);
    EXPECT_TRUE(io->StopIO());
    EXPECT_TRUE(video->StopVideo(0));
    EXPECT_EQ(videoSink.stopped.load(), 1);
    EXPECT_GE(sink.calls.Count("is online"), 1u);
    deleteIP(driver);
}

}  // namespace
