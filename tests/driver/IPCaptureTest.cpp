#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/CNewCaptureApi.h"
#include "host/CCaptureAPIUser.h"
#include "host/IIPVideoCapture.h"
#include "tests/driver/DriverTestSupport.h"
#include "tests/host/TestDeviceDescription.h"
#include "tests/host/TestFrameAllocator.h"
#include "tests/host/TestHostSink.h"
#include "tests/host/TestStreamFormat.h"
#include "tests/host/TestVideoSink.h"

namespace {

using drivertest::ModelFile;

// The legacy object under the adapter: records the settings and channel calls it is given.
class RecordingLegacy : public drivertest::FakeCapture {
public:
    int SetParameter(const char* name, const void* value, int32_t length) noexcept override {
        std::string entry = std::string("Set ") + name + " ";
        entry += std::strcmp(name, "IPSERVERPORT") == 0 ? std::to_string(reinterpret_cast<uintptr_t>(value))
                                                        : static_cast<const char*>(value);
        calls.push_back(entry + " " + std::to_string(length));
        return FakeCapture::SetParameter(name, value, length);
    }
    int StartChannel(uint32_t channel, uint32_t interval, int32_t kind, int32_t quality) noexcept override {
        calls.push_back("Start " + std::to_string(channel) + " " + std::to_string(interval) + " " +
                        std::to_string(kind) + " " + std::to_string(quality));
        return FakeCapture::StartChannel(channel, interval, kind, quality);
    }
    int StopChannel(uint32_t channel) noexcept override {
        calls.push_back("Stop " + std::to_string(channel));
        return FakeCapture::StopChannel(channel);
    }
    std::vector<std::string> calls;
};

// Four cameras, CIF and 4CIF, with the given modes.
std::string IpModel(const std::string& modes) {
    return "<sony><cameraCount value=\"4\"/><mode value=\"" + modes +
           "\"/><resolutions><cif value=\"true\"/><cifx value=\"352\"/><cify value=\"288\"/>"
           "<cif4 value=\"true\"/><cif4x value=\"704\"/><cif4y value=\"576\"/></resolutions>"
           "<framerate><max value=\"25\"/><res1 value=\"25\"/></framerate></sony>";
}

class IPCapture : public ::testing::Test {
protected:
    IPCapture() {
        device.model.name = "HalyardTestIP";
        device.connection.address = "127.0.0.1";
        device.connection.port = 8080;
        device.connection.userName = "user";
        device.connection.password = "pw";
    }
    testhost::TestHostSink sink;
    testhost::TestFrameAllocator allocator;
    testhost::TestDeviceDescription device;
    RecordingLegacy legacy;
    kestrel::CNewCaptureApi api{&legacy};
};

TEST_F(IPCapture, InitializeSendsTheSettingsAndOpens) {
    struct Case {
        std::string modes;
        int32_t compression;
        const char* first;  // the first setting sent
    };
    const Case cases[] = {
        {"jpeg", 2, "Set IPSERVERADDRESS 127.0.0.1 9"},  // one mode: no "Compression"
        {"mpeg4,jpeg", 2, "Set Compression MPEG4 5"},
        {"mpeg4,jpeg", 1, "Set Compression MJPEG 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.modes + " " + std::to_string(c.compression));
        ModelFile model("HalyardTestIP", IpModel(c.modes));
        RecordingLegacy other;
        kestrel::CNewCaptureApi adapter(&other);
        device.connection.compression = c.compression;
        ASSERT_TRUE(adapter.Initialize(&sink, &allocator, &device));
        EXPECT_EQ(other.calls.front(), c.first);
        EXPECT_EQ(std::vector<std::string>(other.calls.end() - 5, other.calls.end()),
                  (std::vector<std::string>{"Set IPSERVERADDRESS 127.0.0.1 9", "Set IPSERVERTYPE HalyardTestIP 13",
                                            "Set IPSERVERPORT 8080 4", "Set IPSERVERUSERNAME user 4",
                                            "Set IPSERVERPASSWORD pw 2"}));
        EXPECT_TRUE(other.IsOpened());
        EXPECT_EQ(other.GetFrameAllocator(), &allocator);
        EXPECT_TRUE(sink.calls.Entries().empty()) << "no capture user yet: Initialize's messages are not delivered";
        EXPECT_EQ(adapter.GetIOApi(), nullptr) << "the model has no I/O";
        adapter.Shutdown();
        EXPECT_FALSE(other.IsOpened());
        adapter.Shutdown();
    }
}

TEST_F(IPCapture, RefusedInputs) {
    ModelFile model("HalyardTestIP", IpModel("jpeg"));
    EXPECT_FALSE(api.Initialize(nullptr, &allocator, &device));
    EXPECT_FALSE(api.Initialize(&sink, nullptr, &device));
    device.model.name = std::string(255, 'M');
    EXPECT_FALSE(api.Initialize(&sink, &allocator, &device));
    device.model.name = "NoSuchModelFile";
    EXPECT_FALSE(api.Initialize(&sink, &allocator, &device));
    EXPECT_TRUE(legacy.calls.empty());
    device.model.name = "HalyardTestIP";
    device.connection.nullPassword = true;
    EXPECT_FALSE(api.Initialize(&sink, &allocator, &device));
    EXPECT_FALSE(legacy.IsOpened());
}

TEST_F(IPCapture, VideoRequestsBecomeChannelOperations) {
    ModelFile model("HalyardTestIP", IpModel("jpeg"));
    ASSERT_TRUE(api.Initialize(&sink, &allocator, &device));
    kestrel::ipcapture::IIPVideoCapture* video = api.GetVideoCapture();
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->GetCameraCount(), 4u);
    legacy.calls.clear();
    testhost::TestVideoSink sink0, sink1;
    testhost::TestStreamFormat format;
    format.resolution = testhost::TestResolution(640, 480);  // not listed: CIF
    format.quality = 70;
    format.interval = 66;
    EXPECT_TRUE(video->StartVideo(0, &sink0, &format));
    EXPECT_FALSE(video->StartVideo(64, &sink1, &format));
    EXPECT_FALSE(video->StartVideo(1, &sink1, &format));  // 4 cameras in the model, one channel underneath
    EXPECT_EQ(legacy.calls, (std::vector<std::string>{"Start 0 66 2 70", "Start 1 66 2 70"}));
    // Frames reach the sink of their channel; the failed start's sink stays registered.
    CCaptureAPIUser* user = legacy.GetCaptureUser();
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->SendFrameCallback(1, nullptr, nullptr), 1);
    EXPECT_EQ(sink1.frames.load(), 1);
    EXPECT_EQ(user->SendFrameCallback(2, nullptr, nullptr), 0);
    EXPECT_EQ(user->SendFrameCallback(64, nullptr, nullptr), 0);
    sink0.accept = false;
    EXPECT_EQ(user->SendFrameCallback(0, nullptr, nullptr), 0);
    EXPECT_EQ(sink0.frames.load(), 1);
    // ChangeResolution has no default: an unlisted size leaves the channel running.
    testhost::TestResolution unlisted(640, 480), listed(704, 576);
    legacy.calls.clear();
    EXPECT_FALSE(video->ChangeResolution(0, &unlisted, 40));
    int state = -1;
    EXPECT_TRUE(video->GetChannelStatus(0, &state, nullptr, nullptr, 0));
    EXPECT_EQ(state, kestrel::StateRunning);
    EXPECT_TRUE(video->ChangeResolution(0, &listed, 40));
    EXPECT_EQ(legacy.calls, (std::vector<std::string>{"Stop 0", "Start 0 40 4 70"}));
    EXPECT_EQ(sink0.stopped.load(), 1);
    EXPECT_TRUE(video->StopVideo(0));
    EXPECT_FALSE(video->StopVideo(0));
    EXPECT_EQ(sink0.stopped.load(), 2);
    EXPECT_EQ(sink1.stopped.load(), 0);
    legacy.DebugMessage(1, "hello %d", 5);
    EXPECT_EQ(sink.calls.Entries().back(), "1 hello 5");
    api.Shutdown();
    EXPECT_EQ(legacy.GetCaptureUser(), nullptr) << "the capture user goes with the video capture object";
}

}  // namespace
