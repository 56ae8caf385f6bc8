// The library as a recorder drives it: loaded with dlopen, reached only
// through the host contract, recording a simulated camera on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "host/CCaptureAPIEx.h"
#include "host/ICaptureIOApi.h"
#include "host/IIPCaptureDriver.h"
#include "host/IIPVideoCapture.h"
#include "tests/driver/DriverTestSupport.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestDeviceDescription.h"
#include "tests/host/TestFrameAllocator.h"
#include "tests/host/TestHostSink.h"
#include "tests/host/TestStreamFormat.h"
#include "tests/host/TestVideoSink.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CPictureStamp.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class EndToEnd : public drivertest::LoadedLibrary {
protected:
    void StartCamera(camsim::AuthMode auth = camsim::AuthMode::Basic) {
        camsim::CameraConfig config;
        config.auth = auth;
        config.user = "operator";
        config.password = "s3cret";
        config.sensorCount = config.alarmOutputCount = 1;
        camera = std::make_unique<camsim::CCamera>(config);
        std::string error;
        ASSERT_TRUE(camera->Start(&error)) << error;
    }
    // A legacy driver object set up the way a recorder does it.
    CCaptureAPIEx* OpenLegacy() {
        CCaptureAPIEx* driver = create(0);
        driver->SetCaptureUser(&user);
        driver->SetFrameAllocator(&allocator);
        driver->SetVideoStandard(0);
        driver->SetParameter("IPSERVERADDRESS", "127.0.0.1", 9);
        driver->SetParameter("IPSERVERTYPE", "SNC-RZ50P", 9);
        driver->SetParameter("IPSERVERPORT", reinterpret_cast<const void*>(uintptr_t{camera->Port()}), 4);
        driver->SetParameter("IPSERVERUSERNAME", "operator", 8);
        driver->SetParameter("IPSERVERPASSWORD", "s3cret", 6);
        EXPECT_EQ(driver->Open(""), 1);
        return driver;
    }
    static Clock::duration Timed(const std::function<void()>& call) {
        const auto begin = Clock::now();
        call();
        return Clock::now() - begin;
    }

    std::unique_ptr<camsim::CCamera> camera;
    testhost::TestCaptureUser user;
    testhost::TestFrameAllocator allocator;
};

TEST_F(EndToEnd, LegacyHostRecordsWholePicturesAndStopsCleanly) {
    StartCamera();
    CCaptureAPIEx* driver = OpenLegacy();
    ASSERT_EQ(driver->StartChannel(0, 40, 2, 60), 1);
    ASSERT_TRUE(user.WaitForFrames(12, 20s));
    uint32_t previous = 0;
    for (const auto& frame : user.Frames()) {
        camsim::PictureStampInfo info;
        ASSERT_EQ(camsim::CPictureStamp::Verify(frame.data.data(), frame.data.size(), &info), camsim::StampResult::Ok);
        EXPECT_GT(info.frameNumber, previous);
        previous = info.frameNumber;
        EXPECT_EQ(std::memcmp(&frame.fourcc, "JPEG", 4), 0);
        EXPECT_EQ(frame.width * 1000 + frame.height, 352288);
        EXPECT_EQ(frame.resolution, 2);
    }
    // The host's interval and quality reach the camera through the model's range.
    EXPECT_EQ(camera->RequestTargets().at(9),
              "/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=25&JpQuality=6");
    EXPECT_EQ(user.MessageCount("kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online", 3), 1u);
    EXPECT_LT(Timed([&] { EXPECT_EQ(driver->StopChannel(0), 1); }), 1s);
    EXPECT_EQ(user.videoStopped.load(), 1);
    EXPECT_EQ(user.MessageCount("Camera 127.0.0.1 is offline. Channel was stopped", 3), 1u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_TRUE(destroy(&driver));
}

TEST_F(EndToEnd, StopAndCloseAreQuickWhileTheCameraHangs) {
    StartCamera();
    camera->AddHttpFault({"PrivacyDispEach=3", camsim::HttpFaultAction::Hang, 0, -1});
    CCaptureAPIEx* driver = OpenLegacy();
    ASSERT_EQ(driver->StartChannel(0, 40, 2, 60), 1);
    ASSERT_TRUE(camera->WaitForRequest("PrivacyDispEach=3", 10000).has_value());
    EXPECT_LT(Timed([&] { EXPECT_EQ(driver->StopChannel(0), 1); }), 1s);
    const auto targets = camera->RequestTargets();
    EXPECT_EQ(targets.back(), "/command/camera.cgi?PrivacyDispEach=3,off") << "nothing after the cancelled request";
    ASSERT_EQ(driver->StartChannel(0, 40, 2, 60), 1);
    ASSERT_TRUE(camera->WaitForRequest("PrivacyDispEach=3", 10000, targets.size()).has_value());
    EXPECT_LT(Timed([&] { EXPECT_EQ(driver->Close(), 1); }), 1s);
    EXPECT_TRUE(destroy(&driver));
    camera->ClearHttpFaults();
}

TEST_F(EndToEnd, NewerHostRecordsWithDigestAndFindsTheIO) {
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
    testhost::TestVideoSink videoSink;
    testhost::TestStreamFormat format;
    format.resolution = testhost::TestResolution(352, 288);
    ASSERT_TRUE(video->StartVideo(0, &videoSink, &format));
    ASSERT_TRUE(videoSink.calls.WaitFor("OnFrame", 5, 20s));
    EXPECT_GE(sink.calls.Count("is online"), 1u);
    kestrel::ICaptureIOApi* io = driver->GetIOApi();
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->GetInputCount() * 10 + io->GetOutputCount(), 11u);
    EXPECT_TRUE(video->StopVideo(0));
    EXPECT_EQ(videoSink.stopped.load(), 1);
    deleteIP(driver);
}

}  // namespace
