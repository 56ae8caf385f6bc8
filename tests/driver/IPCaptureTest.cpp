#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/CNewCaptureApi.h"
#include "host/CCaptureAPIUser.h"
#include "host/IIPVideoCapture.h"
#include "tests/driver/FakeCapture.h"
#include "tests/driver/ModelFile.h"
#include "tests/host/TestDeviceDescription.h"
#include "tests/host/TestFrameAllocator.h"
#include "tests/host/TestHostSink.h"
#include "tests/host/TestStreamFormat.h"
#include "tests/host/TestVideoSink.h"

namespace {

using drivertest::ModelFile;

// The legacy object under the adapter: records the settings it is given.
class RecordingLegacy : public drivertest::FakeCapture {
public:
    int SetParameter(const char* name, const void* value, int32_t length) override {
        std::string entry = std::string("Set ") + (name ? name : "(null)");
        if (name != nullptr && std::strcmp(name, "IPSERVERPORT") == 0) {
            entry += " " + std::to_string(reinterpret_cast<uintptr_t>(value)) + " " + std::to_string(length);
        } else if (value != nullptr) {
            entry += std::string(" ") + static_cast<const char*>(value) + " " + std::to_string(length);
        }
        settings.push_back(entry);
        return FakeCapture::SetParameter(name, value, length);
    }
    int StartChannel(uint32_t channel, uint32_t interval, int32_t kind, int32_t quality) override {
        settings.push_back("StartChannel " + std::to_string(channel) + " " + std::to_string(interval) + " " +
                           std::to_string(kind) + " " + std::to_string(quality));
        return FakeCapture::StartChannel(channel, interval, kind, quality);
    }
    int StopChannel(uint32_t channel) override {
        settings.push_back("StopChannel " + std::to_string(channel));
        return FakeCapture::StopChannel(channel);
    }
    std::vector<std::string> settings;
};

std::string IpModel(const std::string& mode, const std::string& extra = "") {
    return "<sony><cameraCount value=\"4\"/>" + mode +
           "<resolutions><cif value=\"true\"/><cifx value=\"352\"/><cify value=\"288\"/>"
           "<cif4 value=\"true\"/><cif4x value=\"704\"/><cif4y value=\"576\"/></resolutions>"
           "<framerate><max value=\"25\"/><res1 value=\"25\"/></framerate>" +
           extra + "</sony>";
}

class IPCapture : public ::testing::Test {
protected:
    void SetUp() override {
        device.model.name = "HalyardTestIP";
        device.connection.address = "127.0.0.1";
        device.connection.port = 8080;
        device.connection.userName = "user";
        device.connection.password = "pw";
    }
    RecordingLegacy* legacy = new RecordingLegacy();  // owned by the adapter's test below
    testhost::TestHostSink sink;
    testhost::TestFrameAllocator allocator;
    testhost::TestDeviceDescription device;
};

struct Adapter {
    explicit Adapter(RecordingLegacy* l) : legacy(l), api(l) {}
    ~Adapter() {
        api.Shutdown();
        delete legacy;
    }
    RecordingLegacy* legacy;
    kestrel::CNewCaptureApi api;
};

TEST_F(IPCapture, InitializeSendsTheFiveSettingsAndOpens) {
    ModelFile model("HalyardTestIP", IpModel("<mode value=\"jpeg\"/>"));
    Adapter adapter(legacy);
    ASSERT_TRUE(adapter.api.Initialize(&sink, &allocator, &device));
    const std::vector<std::string> expected = {"Set IPSERVERADDRESS 127.0.0.1 9", "Set IPSERVERTYPE HalyardTestIP 13",
                                               "Set IPSERVERPORT 8080 4", "Set IPSERVERUSERNAME user 4",
                                               "Set IPSERVERPASSWORD pw 2"};
    EXPECT_EQ(legacy->settings, expected);
    EXPECT_TRUE(legacy->IsOpened());
    EXPECT_EQ(legacy->GetFrameAllocator(), &allocator);
    // Messages of Initialize are not delivered: no capture user yet.
    EXPECT_TRUE(sink.calls.Entries().empty());
    EXPECT_EQ(adapter.api.GetIOApi(), nullptr);
    adapter.api.Shutdown();
    EXPECT_FALSE(legacy->IsOpened());
    adapter.api.Shutdown();
}

TEST_F(IPCapture, CompressionOnlyWithASecondMode) {
    struct Case {
        std::string mode;
        int32_t compression;
        const char* expected;  // null: not sent
    };
    const Case cases[] = {
        {"<mode value=\"jpeg\"/>", 2, nullptr},
        {"<mode value=\"mpeg4,jpeg\"/>", 2, "Set Compression MPEG4 5"},
        {"<mode value=\"mpeg4,jpeg\"/>", 1, "Set Compression MJPEG 5"},
    };
    for (const Case& c : cases) {
        ModelFile model("HalyardTestIP", IpModel(c.mode));
        Adapter adapter(new RecordingLegacy());
        device.connection.compression = c.compression;
        ASSERT_TRUE(adapter.api.Initialize(&sink, &allocator, &device)) << c.mode;
        const auto& settings = adapter.legacy->settings;
        if (c.expected == nullptr) {
            EXPECT_EQ(settings.front(), "Set IPSERVERADDRESS 127.0.0.1 9") << c.mode;
        } else {
            EXPECT_EQ(settings.front(), c.expected) << c.mode;
        }
    }
    delete legacy;
}

TEST_F(IPCapture, RefusedInputs) {
    ModelFile model("HalyardTestIP", IpModel("<mode value=\"jpeg\"/>"));
    Adapter adapter(legacy);
    EXPECT_FALSE(adapter.api.Initialize(nullptr, &allocator, &device));
    EXPECT_FALSE(adapter.api.Initialize(&sink, nullptr, &device));
    device.model.name = std::string(255, 'M');
    EXPECT_FALSE(adapter.api.Initialize(&sink, &allocator, &device));
    EXPECT_TRUE(legacy->settings.empty());
    device.model.name = "NoSuchModelFile";
    EXPECT_FALSE(adapter.api.Initialize(&sink, &allocator, &device));
    EXPECT_TRUE(legacy->settings.empty());
    device.model.name = "HalyardTestIP";
    device.connection.nullPassword = true;
    EXPECT_FALSE(adapter.api.Initialize(&sink, &allocator, &device));
    EXPECT_FALSE(legacy->IsOpened());
}

TEST_F(IPCapture, VideoRequestsBecomeChannelOperations) {
    ModelFile model("HalyardTestIP", IpModel("<mode value=\"jpeg\"/>"));
    Adapter adapter(legacy);
    ASSERT_TRUE(adapter.api.Initialize(&sink, &allocator, &device));
    kestrel::ipcapture::IIPVideoCapture* video = adapter.api.GetVideoCapture();
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(adapter.api.GetVideoCapture(), video);
    EXPECT_EQ(video->GetCameraCount(), 4u);
    legacy->settings.clear();

    testhost::TestVideoSink sink0, sink1;
    testhost::TestStreamFormat format;
    format.resolution = testhost::TestResolution(640, 480);  // not listed: CIF
    format.quality = 70;
    format.interval = 66;
    EXPECT_TRUE(video->StartVideo(0, &sink0, &format));
    EXPECT_FALSE(video->StartVideo(64, &sink1, &format));
    // The model says 4 cameras, the legacy driver runs channel 0 only.
    EXPECT_FALSE(video->StartVideo(1, &sink1, &format));
    EXPECT_EQ(legacy->settings,
              (std::vector<std::string>{"StartChannel 0 66 2 70", "StartChannel 1 66 2 70"}));

    // Frames and stop notices reach the sink of their channel.
    CCaptureAPIUser* user = legacy->GetCaptureUser();
    ASSERT_NE(user, nullptr);
    // The sink stays registered even though the start failed.
    EXPECT_EQ(user->SendFrameCallback(1, nullptr, nullptr), 1);
    EXPECT_EQ(sink1.frames.load(), 1);
    EXPECT_EQ(user->SendFrameCallback(2, nullptr, nullptr), 0);  // no sink at 2
    EXPECT_EQ(user->SendFrameCallback(64, nullptr, nullptr), 0);
    sink0.accept = false;
    EXPECT_EQ(user->SendFrameCallback(0, nullptr, nullptr), 0);
    sink0.accept = true;
    EXPECT_EQ(user->SendFrameCallback(0, nullptr, nullptr), 1);
    EXPECT_EQ(sink0.frames.load(), 2);

    testhost::TestResolution unlisted(640, 480), listed(704, 576);
    legacy->settings.clear();
    EXPECT_FALSE(video->ChangeResolution(0, &unlisted, 40));
    EXPECT_TRUE(legacy->settings.empty());
    int state = -1;
    EXPECT_TRUE(video->GetChannelStatus(0, &state, nullptr, nullptr, 0));
    EXPECT_EQ(state, kestrel::StateRunning);
    EXPECT_TRUE(video->ChangeResolution(0, &listed, 40));
    EXPECT_EQ(legacy->settings, (std::vector<std::string>{"StopChannel 0", "StartChannel 0 40 4 70"}));
    EXPECT_EQ(sink0.stopped.load(), 1);
    EXPECT_EQ(sink1.stopped.load(), 0);
    EXPECT_TRUE(video->StopVideo(0));
    EXPECT_FALSE(video->StopVideo(0));
    EXPECT_EQ(sink0.stopped.load(), 2);

    uint8_t buffer[8];
    EXPECT_TRUE(video->GetParameter("isIPCamera", buffer, 8));
    EXPECT_TRUE(video->SetParameter("Unknown", "x", 1));
    EXPECT_FALSE(video->Fixed5());

    // Debug messages reach the host sink once the video capture exists.
    legacy->DebugMessage(1, "hello %d", 5);
    EXPECT_EQ(sink.calls.Entries().back(), "1 hello 5");

    adapter.api.Shutdown();
    // The capture user is gone with the video capture object.
    EXPECT_EQ(legacy->GetCaptureUser(), nullptr);
}

}  // namespace
