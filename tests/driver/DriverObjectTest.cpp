#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/driver/DriverTestSupport.h"
#include "tests/host/TestCaptureUser.h"

namespace {

using drivertest::FakeCapture;
using drivertest::ModelFile;
using drivertest::PalModel;
using testhost::TestCaptureUser;
using Intervals = std::vector<uint32_t>;

const void* PortValue(uintptr_t port) { return reinterpret_cast<const void*>(port); }

TEST(DriverSettings, ExactNamesPortInTheValueAndRefusals) {
    FakeCapture driver;
    EXPECT_EQ(driver.SetParameter("IPSERVERADDRESS", "10.1.2.3", 8), 1);
    EXPECT_EQ(driver.SetParameter("IPSERVERPORT", PortValue(81), 4), 1);
    EXPECT_EQ(driver.SetParameter("IPSERVERPORT", PortValue(0), 4), 0);
    EXPECT_EQ(driver.GetDeviceAddress(), "10.1.2.3:81");
    EXPECT_EQ(driver.SetParameter("IPSERVERPORT", PortValue(0x10050), 4), 1);  // the low 16 bits count
    EXPECT_EQ(driver.GetDeviceInfo()->port, 0x50);
    EXPECT_EQ(driver.SetParameter("ipserveraddress", "1.1.1.1", 7), 1);  // unknown: accepted, ignored
    EXPECT_EQ(driver.SetParameter(nullptr, "x", 1), 0);
    EXPECT_EQ(driver.SetParameter("IPSERVERADDRESS", nullptr, 0), 0);
    EXPECT_EQ(driver.GetDeviceInfo()->address, "10.1.2.3");
    EXPECT_EQ(driver.GetDeviceInfo()->requestTimeLimitMs, 5000u);
    EXPECT_EQ(driver.GetDeviceInfo()->frameTimeLimitMs, 15000u);
}

TEST(DriverSlots, GuardedAnswersBeforeTheFirstOpen) {
    FakeCapture driver;
    uint32_t fourcc = 0, interval = 0;
    EXPECT_EQ(driver.GetFirstFourCC(&fourcc), 1);
    EXPECT_EQ(std::memcmp(&fourcc, "JPEG", 4), 0);
    EXPECT_EQ(driver.GetNextFourCC(&fourcc), 0);
    EXPECT_EQ(driver.SetFourCC(0x3447504D), 0);  // "MPG4"
    // SetFourCC walks the shared cursor: an enumeration under way ends.
    EXPECT_EQ(driver.GetFirstFourCC(&fourcc), 1);
    EXPECT_EQ(driver.SetFourCC(kestrel::kFourCCJpeg), 1);
    EXPECT_EQ(driver.GetNextFourCC(&fourcc), 0);
    int kind = 0, width = -1, height = -1, state = -1, a = 5, b = 6;
    EXPECT_EQ(driver.GetFirstResolution(&kind), 0);
    EXPECT_EQ(driver.GetFirstFrameInterval(&interval), 0);
    EXPECT_EQ(driver.GetResolutionSize(5, &width, &height), 0);
    EXPECT_EQ(driver.GetResolutionSize(2, &width, &height), 0);  // not configured
    EXPECT_EQ(width, -1);
    char name[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(driver.GetChannelName(0, name, 1), 0);  // no room for the empty name
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(driver.GetChannelName(0, name, 2), 1);
    EXPECT_EQ(name[0], '\0');
    EXPECT_EQ(driver.GetChannelName(1, name, 4), 0);
    EXPECT_EQ(driver.Fixed32(&a, &b), 0);
    EXPECT_EQ(a + b, 0);
    EXPECT_EQ(driver.GetMaxFrameRate(2, &a), 0);
    EXPECT_EQ(driver.GetChannelStatus(0, &state, &a, name, 4), 0);
    EXPECT_EQ(driver.StartChannel(0, 40, 2, 50), 0);
    EXPECT_EQ(driver.StopChannel(0), 0);
}

TEST(DriverParameters, NamedQueriesRespectTheBufferSize) {
    FakeCapture driver;
    struct Case {
        const char* name;
        int32_t size;
        int expected;
        int32_t value;
    };
    // clang-format off
    const Case cases[] = {
        {"isIPCamera", 8, 1, 1},       {"isIPCamera", 4, 1, 1},        {"isIPCamera", 2, 0, 0},
        {"CCaptureApiEx", 4, 1, 1},    {"CCaptureApiEx", 8, 0, 0},     {"CanChangeFrInAlm", 4, 1, 0},
        {"CanChangeResInAlm", 4, 1, 0}, {"CanChangeResInAlm", 8, 0, 0},
        {"ICaptureIOApi", 4, 0, 0},    // pointer-sized buffers only
        {"ICaptureIOApi", 8, 0, 0},    // no digital I/O object
        {"ipAddress", 16, 0, 0},       // empty address
    };
    // clang-format on
    for (const Case& c : cases) {
        uint8_t buffer[16];
        std::memset(buffer, 0xAB, sizeof(buffer));
        EXPECT_EQ(driver.GetParameter(c.name, buffer, c.size), c.expected) << c.name << " size " << c.size;
        int32_t value = 0;
        std::memcpy(&value, buffer, 4);
        EXPECT_TRUE(c.expected == 0 || value == c.value) << c.name;
    }
    uint8_t buffer[4];
    EXPECT_EQ(driver.GetParameter(nullptr, buffer, 4), 0);
    EXPECT_EQ(driver.GetParameter("isIPCamera", nullptr, 4), 0);
    driver.SetParameter("IPSERVERADDRESS", "192.168.0.10", 12);
    char text[13];
    EXPECT_EQ(driver.GetParameter("ipAddress", text, 12), 0);  // no room for the terminator
    EXPECT_EQ(driver.GetParameter("ipAddress", text, 13), 1);
    EXPECT_STREQ(text, "192.168.0.10");
}

TEST(DriverMessages, LevelsTextsAndHostFailures) {
    class ThrowingUser : public TestCaptureUser {
    public:
        void DebugInfo(CDebugInfoIf* message) override {
            TestCaptureUser::DebugInfo(message);
            throw 42;
        }
    };
    FakeCapture driver;
    EXPECT_EQ(driver.GetHostVersion().minor, 12) << "5.12.0.0 without the host's core module";
    driver.DebugMessage(1, "dropped before a user is registered");
    ThrowingUser user;
    driver.SetCaptureUser(&user);
    driver.DebugMessage(1, "%s", "");
    driver.DebugMessage(4, "never delivered");
    EXPECT_NO_THROW(driver.DeliverMessage(1, "100% literal %s"));
    // The level table (tested with the runtime) follows the version this object holds.
    driver.SetHostVersion({5, 11, 0, 0});
    driver.DebugMessage(3, "as %d", 2);
    driver.SetHostVersion({6, 3, 0, 0});
    driver.DebugMessage(100, "as %d", 100);
    driver.SetCaptureUser(nullptr);
    driver.DebugMessage(1, "after the user left");
    const auto m = user.Messages();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].text, "100% literal %s");
    EXPECT_EQ(m[1].level, 2);
    EXPECT_EQ(m[2].level, 100);
    EXPECT_EQ(m[2].text, "as 100");
}

class DriverOpen : public ::testing::Test {
protected:
    DriverOpen() {
        driver.SetCaptureUser(&user);
        driver.SetParameter("IPSERVERADDRESS", "127.0.0.1", 9);
    }
    bool OpenModel(FakeCapture& d, const std::string& model) {
        d.SetParameter("IPSERVERTYPE", model.c_str(), static_cast<int32_t>(model.size()));
        return d.Open("") == 1;
    }
    static Intervals ListIntervals(FakeCapture& d) {
        Intervals out;
        uint32_t v = 0;
        for (int more = d.GetFirstFrameInterval(&v); more; more = d.GetNextFrameInterval(&v)) out.push_back(v);
        return out;
    }
    static std::vector<int> ListResolutions(FakeCapture& d) {
        std::vector<int> out;
        int v = 0;
        for (int more = d.GetFirstResolution(&v); more; more = d.GetNextResolution(&v)) out.push_back(v);
        return out;
    }
    FakeCapture driver;
    TestCaptureUser user;
};

TEST_F(DriverOpen, FailuresLeaveTheDriverClosed) {
    EXPECT_FALSE(OpenModel(driver, ""));
    EXPECT_EQ(user.MessageCount("kestrel::CIPCapture::Open: IP Server Type hasn't been set", 1), 1u);
    EXPECT_EQ(driver.log, (std::vector<std::string>{"DeleteDigitalIO"}));
    EXPECT_FALSE(OpenModel(driver, "NoSuchModel-1"));
    EXPECT_EQ(
        user.MessageCount("kestrel::CIPCapture::Open: Unable to read configuration from NoSuchModel-1.xml file", 1),
        1u);
    {
        ModelFile model("HalyardTestZero", PalModel("", 0));
        EXPECT_FALSE(OpenModel(driver, "HalyardTestZero"));  // no frame interval: no message
    }
    EXPECT_EQ(user.Messages().size(), 2u);
    ModelFile model("HalyardTestPal", PalModel());
    driver.digitalIOResult = false;
    EXPECT_FALSE(OpenModel(driver, "HalyardTestPal"));
    EXPECT_FALSE(driver.IsOpened());
}

TEST_F(DriverOpen, OpensReportsAndBuildsTheLists) {
    ModelFile model("HalyardTestPal", PalModel("<io><input value=\"2\"/><output value=\"1\"/></io>", 30));
    ASSERT_TRUE(OpenModel(driver, "HalyardTestPal"));
    // Host 5.12 receives level 100 as 3.
    EXPECT_EQ(
        user.MessageCount("DRIVER IS OPENED (name: Halyard, device model: HalyardTestPal, address: 127.0.0.1:80)", 3),
        1u);
    EXPECT_EQ(ListResolutions(driver), (std::vector<int>{1, 2}));
    EXPECT_EQ(ListIntervals(driver).front(), 40u);  // PAL at most 25 per second
    EXPECT_EQ(driver.GetIOCounts(), (std::pair<int32_t, int32_t>{2, 1}));
    int width = 0, height = 0, fps = 0;
    EXPECT_EQ(driver.GetResolutionSize(2, &width, &height), 1);
    EXPECT_EQ(width * 1000 + height, 352288);
    EXPECT_EQ(driver.GetResolutionSize(4, &width, &height), 0);
    EXPECT_EQ(driver.GetParameter("MAXFPS_RES1", &fps, 4), 1);
    EXPECT_EQ(fps, 25);
    EXPECT_EQ(driver.GetParameter("MAXFPS_RES2", &fps, 4), 0);
    // A new standard empties the intervals; a second Open changes nothing and says nothing.
    const size_t messages = user.Messages().size();
    EXPECT_EQ(driver.SetVideoStandard(1), 1);
    EXPECT_TRUE(ListIntervals(driver).empty());
    EXPECT_TRUE(OpenModel(driver, "HalyardTestPal"));
    EXPECT_TRUE(ListIntervals(driver).empty());
    EXPECT_EQ(user.Messages().size(), messages);
    // After Close the intervals are rebuilt, the resolutions are not.
    EXPECT_EQ(driver.Close(), 1);
    ModelFile four("HalyardTestFour",
                   "<sony><resolutions><cif4 value=\"true\"/><cif4x value=\"704\"/>"
                   "<cif4y value=\"576\"/></resolutions><framerate><max value=\"30\"/></framerate></sony>");
    ASSERT_TRUE(OpenModel(driver, "HalyardTestFour"));
    EXPECT_EQ(ListIntervals(driver).front(), 33u);
    EXPECT_EQ(ListResolutions(driver), (std::vector<int>{1, 2}));
}

TEST_F(DriverOpen, FrameIntervals) {
    EXPECT_EQ(kestrel::SonyFrameIntervals(25, 0), (Intervals{40, 50, 66, 100, 125, 166, 200, 250, 333, 500, 1000}));
    EXPECT_EQ(kestrel::SonyFrameIntervals(30, 1), (Intervals{33, 40, 50, 66, 100, 125, 166, 200, 250, 333, 500, 1000}));
    EXPECT_EQ(kestrel::SonyFrameIntervals(30, 0).front(), 40u);
    EXPECT_EQ(kestrel::SonyFrameIntervals(7, 1), (Intervals{166, 200, 250, 333, 500, 1000}));
    EXPECT_EQ(kestrel::SonyFrameIntervals(0, 1), Intervals{});
    EXPECT_EQ(kestrel::SonyFrameIntervals(-3, 0), Intervals{});
    // The generic object's thresholds ignore the standard.
    const std::pair<int, Intervals> generic[] = {
        {25, {40, 50, 66, 83, 100, 111, 125, 142, 166, 200, 250, 333, 1000}},
        {30, {33, 40, 50, 66, 83, 100, 111, 125, 142, 166, 200, 250, 333, 1000}},
        {7, {142, 166, 200, 250, 333, 1000}},
        {1, {1000}},
    };
    for (const auto& [maxRate, expected] : generic) {
        FakeCapture d;
        d.sonyIntervals = false;
        d.SetVideoStandard(maxRate == 25 ? 1 : 0);
        ModelFile model("HalyardTestPal", PalModel("", maxRate));
        ASSERT_TRUE(OpenModel(d, "HalyardTestPal"));
        EXPECT_EQ(ListIntervals(d), expected) << "max " << maxRate;
    }
}

TEST_F(DriverOpen, ChannelControl) {
    ModelFile model("HalyardTestPal", PalModel());
    ASSERT_TRUE(OpenModel(driver, "HalyardTestPal"));
    driver.log.clear();
    EXPECT_EQ(driver.StartChannel(0, 40, 4, 50), 0);
    EXPECT_EQ(
        user.MessageCount("kestrel::CIPCapture::StartChannel: 4CIF resolution not supported. Channel not started.", 1),
        1u);
    EXPECT_EQ(driver.StartChannel(0, 40, 0, 50), 0);
    EXPECT_EQ(driver.StartChannel(1, 40, 2, 50), 0);  // index equal to the camera count
    driver.startResult = false;
    EXPECT_EQ(driver.StartChannel(0, 40, 2, 50), 0);
    driver.startResult = true;
    EXPECT_EQ(driver.StartChannel(0, 40, 2, 50), 1);
    EXPECT_EQ(driver.StartChannel(0, 66, 1, 10), 0);  // already running: the new one is destroyed
    int state = -1, second = -1;
    char text[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(driver.GetChannelStatus(0, &state, &second, text, 4), 1);
    EXPECT_EQ(state, kestrel::StateRunning);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(driver.StopChannel(0), 1);
    EXPECT_EQ(driver.StopChannel(0), 0);
    EXPECT_EQ(user.videoStopped.load(), 1);
    EXPECT_EQ(driver.log, (std::vector<std::string>{"Create 0", "Start 40 352x288 50", "Destroy", "Create 0",
                                                    "Start 40 352x288 50", "Create 0", "Destroy", "Stop", "Destroy"}));
    // Close stops a running channel without telling the host.
    ASSERT_EQ(driver.StartChannel(0, 40, 2, 50), 1);
    driver.log.clear();
    EXPECT_EQ(driver.Close(), 1);
    EXPECT_EQ(driver.log, (std::vector<std::string>{"DeleteDigitalIO", "Stop", "Destroy"}));
    EXPECT_EQ(user.videoStopped.load(), 1);
    EXPECT_EQ(driver.Close(), 1);
}

TEST_F(DriverOpen, ChannelParametersFromTheModelFile) {
    const std::string bare =
        "<sony><quality><min value=\"0\"/><max value=\"0\"/></quality><rtp><keepalive value=\"0\"/>"
        "</rtp><resolutions><cif value=\"true\"/><cifx value=\"352\"/><cify value=\"288\"/>"
        "</resolutions><framerate><max value=\"25\"/></framerate></sony>";
    struct Case {
        std::string model;
        int32_t driverStandard, keepAlive, standard, qmin, qmax;
    };
    const Case cases[] = {
        {bare, 0, 60000, 0, 1, 10},  // zeros fall back to 60 s and 1..10
        {PalModel(), 1, 30000, 1, 20, 80},
        {PalModel("<videomode value=\"ntsc\"/>"), 0, 30000, 1, 20, 80},
        {PalModel("<videomode value=\"Pal\"/>"), 1, 30000, 0, 20, 80},
        {PalModel("<videomode value=\"SECAM\"/>"), 1, 30000, 1, 20, 80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        FakeCapture d;
        ModelFile model("HalyardTestModel", c.model);
        d.SetVideoStandard(c.driverStandard);
        ASSERT_TRUE(OpenModel(d, "HalyardTestModel"));
        ASSERT_EQ(d.StartChannel(0, 40, 2, 50), 1);
        EXPECT_EQ(d.lastParams.channelIndex, 0);
        EXPECT_EQ(d.lastParams.keepAliveMs, c.keepAlive);
        EXPECT_EQ(d.lastParams.videoStandard, c.standard);
        EXPECT_EQ(d.lastParams.qualityMin, c.qmin);
        EXPECT_EQ(d.lastParams.qualityMax, c.qmax);
    }
}

}  // namespace
