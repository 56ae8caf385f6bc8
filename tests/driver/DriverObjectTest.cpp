#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "driver/CSonyIPCapture.h"
#include "tests/driver/FakeCapture.h"
#include "tests/host/TestCaptureUser.h"

namespace {

using drivertest::FakeCapture;
using testhost::TestCaptureUser;

const void* PortValue(uintptr_t port) { return reinterpret_cast<const void*>(port); }

TEST(DriverSettings, PortTravelsInTheValueAndZeroIsRefused) {
    FakeCapture driver;
    EXPECT_EQ(driver.GetDeviceAddress(), ":80");
    EXPECT_EQ(driver.SetParameter("IPSERVERADDRESS", "10.1.2.3", 8), 1);
    EXPECT_EQ(driver.SetParameter("IPSERVERPORT", PortValue(81), 4), 1);
    EXPECT_EQ(driver.GetDeviceAddress(), "10.1.2.3:81");
    EXPECT_EQ(driver.SetParameter("IPSERVERPORT", PortValue(0), 4), 0);
    EXPECT_EQ(driver.GetDeviceInfo()->port, 81);
    // Only the low 16 bits count.
    EXPECT_EQ(driver.SetParameter("IPSERVERPORT", PortValue(0x10050), 4), 1);
    EXPECT_EQ(driver.GetDeviceInfo()->port, 0x50);
}

TEST(DriverSettings, NamesAreExactAndUnknownNamesAreAcceptedAndIgnored) {
    FakeCapture driver;
    EXPECT_EQ(driver.SetParameter("IPSERVERUSERNAME", "admin", 5), 1);
    EXPECT_EQ(driver.SetParameter("IPSERVERPASSWORD", "secret", 6), 1);
    EXPECT_EQ(driver.SetParameter("IPSERVERTYPE", "SNC-RZ50P", 9), 1);
    EXPECT_EQ(driver.SetParameter("ipserveraddress", "1.1.1.1", 7), 1);
    EXPECT_EQ(driver.SetParameter("Compression", "MJPEG", 5), 1);
    EXPECT_EQ(driver.SetParameter(nullptr, "x", 1), 0);
    EXPECT_EQ(driver.SetParameter("IPSERVERADDRESS", nullptr, 0), 0);
    const kestrel::DEVICE_INFO* device = driver.GetDeviceInfo();
    EXPECT_EQ(device->address, "");
    EXPECT_EQ(device->userName, "admin");
    EXPECT_EQ(device->password, "secret");
    EXPECT_EQ(device->serverType, "SNC-RZ50P");
    EXPECT_EQ(device->requestTimeLimitMs, 5000u);
    EXPECT_EQ(device->frameTimeLimitMs, 15000u);
}

TEST(DriverEnumerations, FourCCListHoldsJpegOnly) {
    FakeCapture driver;
    uint32_t fourcc = 0;
    EXPECT_EQ(driver.GetFirstFourCC(&fourcc), 1);
    EXPECT_EQ(std::memcmp(&fourcc, "JPEG", 4), 0);
    EXPECT_EQ(driver.GetNextFourCC(&fourcc), 0);
    EXPECT_EQ(driver.GetNextFourCC(&fourcc), 0);
    EXPECT_EQ(driver.SetFourCC(kestrel::kFourCCJpeg), 1);
    EXPECT_EQ(driver.SetFourCC(0x3447504D), 0);  // "MPG4"
    EXPECT_EQ(driver.SetFourCC(0), 0);
    // SetFourCC walks the shared cursor: an enumeration under way ends.
    EXPECT_EQ(driver.GetFirstFourCC(&fourcc), 1);
    driver.SetFourCC(kestrel::kFourCCJpeg);
    EXPECT_EQ(driver.GetNextFourCC(&fourcc), 0);
}

TEST(DriverEnumerations, EmptyBeforeTheFirstOpen) {
    FakeCapture driver;
    int kind = 0;
    uint32_t interval = 0;
    EXPECT_EQ(driver.GetFirstResolution(&kind), 0);
    EXPECT_EQ(driver.GetNextResolution(&kind), 0);
    EXPECT_EQ(driver.GetFirstFrameInterval(&interval), 0);
    EXPECT_EQ(driver.GetNextFrameInterval(&interval), 0);
}

TEST(DriverSlots, FixedAndGuardedAnswers) {
    FakeCapture driver;
    int width = -1, height = -1;
    EXPECT_EQ(driver.GetResolutionSize(5, &width, &height), 0);
    EXPECT_EQ(driver.GetResolutionSize(2, &width, &height), 0);  // not configured
    EXPECT_EQ(width, -1);
    char name[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(driver.GetChannelName(0, name, 1), 0);
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(driver.GetChannelName(0, name, 2), 1);
    EXPECT_EQ(name[0], '\0');
    EXPECT_EQ(driver.GetChannelName(1, name, 4), 0);
    EXPECT_EQ(driver.Init(), 1);
    EXPECT_EQ(driver.Fixed7(3), 0);
    EXPECT_EQ(driver.GetCameraCount(), 1u);
    EXPECT_EQ(driver.Fixed12(), 1);
    EXPECT_EQ(driver.Fixed17(), 0);
    EXPECT_EQ(driver.Fixed23(), 0);
    EXPECT_EQ(driver.Fixed24(), 1);
    EXPECT_EQ(driver.Fixed25(), 0);
    EXPECT_EQ(driver.Fixed26(1, 2, 3, 4, 5, 6, 7, 8, 9), 0);
    EXPECT_EQ(driver.Fixed27(), 0);
    EXPECT_EQ(driver.Fixed28(1), 0);
    int a = 5, b = 6;
    EXPECT_EQ(driver.Fixed32(&a, &b), 0);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(driver.Fixed33(1, 2), 0);
    EXPECT_EQ(driver.Fixed35(1), 0);
    EXPECT_EQ(driver.Fixed36(1, 2), 0);
    EXPECT_EQ(driver.Fixed37(1, 2), 0);
    int rate = -1;
    EXPECT_EQ(driver.GetMaxFrameRate(2, &rate), 0);
    EXPECT_EQ(driver.GetMaxFrameRate(1, &rate), 1);
    EXPECT_EQ(rate, 0);
    int state = -1;
    EXPECT_EQ(driver.GetChannelStatus(0, &state, &a, name, 4), 0);
    EXPECT_EQ(driver.StartChannel(0, 40, 2, 50), 0);  // not opened
    EXPECT_EQ(driver.StopChannel(0), 0);
}

TEST(DriverParameters, NamedQueries) {
    FakeCapture driver;
    uint8_t buffer[16];
    struct Case {
        const char* name;
        int32_t size;
        int expected;
        int32_t value;  // checked when expected is 1 and size >= 4
    };
    const Case cases[] = {
        {"isIPCamera", 8, 1, 1},
        {"isIPCamera", 4, 1, 1},
        {"isIPCamera", 2, 0, 0},
        {"CCaptureApiEx", 4, 1, 1},
        {"CCaptureApiEx", 8, 0, 0},
        {"ICaptureIOApi", 4, 0, 0},   // pointer-sized buffers only
        {"ICaptureIOApi", 8, 0, 0},   // no digital I/O object
        {"ipAddress", 16, 0, 0},      // empty address falls through to 0
        {"MAXFPS_RES2", 4, 0, 0},
        {"CanChangeFrInAlm", 4, 1, 0},
        {"CanChangeResInAlm", 4, 1, 0},
        {"CanChangeResInAlm", 8, 0, 0},
        {"Unknown", 4, 0, 0},
    };
    for (const Case& c : cases) {
        std::memset(buffer, 0xAB, sizeof(buffer));
        EXPECT_EQ(driver.GetParameter(c.name, buffer, c.size), c.expected) << c.name << " size " << c.size;
        if (c.expected == 1) {
            int32_t value = 0;
            std::memcpy(&value, buffer, 4);
            EXPECT_EQ(value, c.value) << c.name;
        }
    }
    EXPECT_EQ(driver.GetParameter(nullptr, buffer, 4), 0);
    EXPECT_EQ(driver.GetParameter("isIPCamera", nullptr, 4), 0);
    EXPECT_EQ(driver.GetParameter("isIPCamera", buffer, 0), 0);

    driver.SetParameter("IPSERVERADDRESS", "192.168.0.10", 12);
    char text[13];
    EXPECT_EQ(driver.GetParameter("ipAddress", text, 12), 0);  // no room for the terminator
    EXPECT_EQ(driver.GetParameter("ipAddress", text, 13), 1);
    EXPECT_STREQ(text, "192.168.0.10");
}

TEST(DriverMessages, LevelsFollowTheHostVersion) {
    struct Case {
        kestrel::HostVersion version;
        int level;
        int delivered;
    };
    const Case cases[] = {
        {{5, 11, 9, 9}, 3, 2}, {{5, 11, 0, 0}, 100, 2}, {{5, 11, 0, 0}, 1, 1}, {{5, 11, 0, 0}, 2, 2},
        {{5, 12, 0, 0}, 3, 3}, {{5, 12, 0, 0}, 100, 3}, {{6, 2, 0, 0}, 100, 3}, {{6, 3, 0, 0}, 100, 100},
        {{6, 3, 0, 0}, 3, 3},  {{7, 0, 0, 0}, 1, 1},    {{4, 99, 0, 0}, 3, 2},
    };
    for (const Case& c : cases) {
        FakeCapture driver;
        TestCaptureUser user;
        driver.SetCaptureUser(&user);
        driver.SetHostVersion(c.version);
        driver.DebugMessage(c.level, "message %d", 1);
        const auto messages = user.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].level, c.delivered)
            << c.version.major << "." << c.version.minor << " level " << c.level;
        EXPECT_EQ(messages[0].text, "message 1");
    }
}

TEST(DriverMessages, EmptyTextsLevelFourAndNoUserDeliverNothing) {
    FakeCapture driver;
    driver.DebugMessage(1, "dropped before a user is registered");
    TestCaptureUser user;
    driver.SetCaptureUser(&user);
    driver.DebugMessage(1, "%s", "");
    driver.DebugMessage(4, "never delivered");
    driver.DeliverMessage(1, "100% literal %s");
    driver.SetCaptureUser(nullptr);
    driver.DebugMessage(1, "after the user left");
    const auto messages = user.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "100% literal %s");
}

TEST(DriverMessages, HostThatThrowsDoesNotEscape) {
    class ThrowingUser : public TestCaptureUser {
    public:
        void DebugInfo(CDebugInfoIf*) override { throw 42; }
    };
    FakeCapture driver;
    ThrowingUser user;
    driver.SetCaptureUser(&user);
    EXPECT_NO_THROW(driver.DebugMessage(1, "boom"));
}

TEST(DriverObject, DefaultHostVersionWithoutTheCoreModule) {
    FakeCapture driver;
    const kestrel::HostVersion version = driver.GetHostVersion();
    EXPECT_EQ(version.major, 5);
    EXPECT_EQ(version.minor, 12);
    EXPECT_EQ(version.build, 0);
    EXPECT_EQ(version.revision, 0);
    EXPECT_EQ(driver.GetCreationValue(), 7);
}

TEST(DriverObject, SonyFrameIntervals) {
    using V = std::vector<uint32_t>;
    EXPECT_EQ(kestrel::SonyFrameIntervals(25, 0), (V{40, 50, 66, 100, 125, 166, 200, 250, 333, 500, 1000}));
    EXPECT_EQ(kestrel::SonyFrameIntervals(30, 1), (V{33, 40, 50, 66, 100, 125, 166, 200, 250, 333, 500, 1000}));
    EXPECT_EQ(kestrel::SonyFrameIntervals(30, 0), (V{40, 50, 66, 100, 125, 166, 200, 250, 333, 500, 1000}));
    EXPECT_EQ(kestrel::SonyFrameIntervals(7, 1), (V{166, 200, 250, 333, 500, 1000}));
    EXPECT_EQ(kestrel::SonyFrameIntervals(0, 1), V{});
    EXPECT_EQ(kestrel::SonyFrameIntervals(-3, 0), V{});
}

TEST(DriverObject, ReadAtoiSaturatesInsteadOfOverflowing) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {{"", 0}, {"abc", 0}, {"42", 42}, {" 7x", 7}, {"-3", -3}, {"+5", 5},
                          {"99999999999999999999", INT32_MAX}, {"-99999999999999999999", INT32_MIN}};
    for (const Case& c : cases) EXPECT_EQ(kestrel::ReadAtoi(c.text), c.value) << c.text;
}

}  // namespace
