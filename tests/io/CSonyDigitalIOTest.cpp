// The camera's digital I/O end to end, against the camera simulator.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "io/CSonyDigitalIO.h"
#include "tests/host/TestIOUser.h"
#include "tests/io/TestDriver.h"
#include "tools/camsim/CCamera.h"

namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;

const char* const kInquiry = "/command/inquiry.cgi?inq=sensor";

// Polls faster than the product's 1500 ms so that the tests stay quick.
struct SonyIO : kestrel::CSonyDigitalIO {
    explicit SonyIO(kestrel::IDriver* driver) : CSonyDigitalIO(driver) { m_inputThread.SetPeriod(30); }
};

// A camera that wants the driver's credentials (those of TestDriver).
struct Camera {
    explicit Camera(unsigned sensors = 2, unsigned outputs = 2)
        : cam([&] {
              camsim::CameraConfig config;
              config.auth = camsim::AuthMode::Basic;
              config.user = "admin";
              config.password = "secret";
              config.sensorCount = sensors;
              config.alarmOutputCount = outputs;
              return config;
          }()) {
        EXPECT_TRUE(cam.Start());
    }
    bool WaitFor(const std::string& pattern, uint64_t from = 0) {
        return cam.WaitForRequest(pattern, 10000, from).has_value();
    }
    // A request is recorded when it arrives; its trigger only once it has been handled.
    bool WaitForTriggers(size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (cam.AlarmTriggers().size() < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // The targets containing one of `patterns`, in arrival order.
    Entries Targets(std::initializer_list<const char*> patterns) const {
        Entries out;
        for (const std::string& target : cam.RequestTargets()) {
            for (const char* pattern : patterns) {
                if (target.find(pattern) != std::string::npos) {
                    out.push_back(target);
                    break;
                }
            }
        }
        return out;
    }
    camsim::CCamera cam;
};

std::string Sensor(int n) { return "/command/system.cgi?Sensor" + std::to_string(n) + "Mode=make"; }
std::string Alarm(int n) {
    return "/command/alarmout.cgi?AlarmOut" + std::to_string(n) + "Func=off&Ao" + std::to_string(n) + "ManualFunc=on";
}
// Handed over without a leading slash; the request line carries one.
std::string Trigger(int n, const char* word) { return "/command/main.cgi?trigger=alarmout" + std::to_string(n) + word; }

TEST(CSonyDigitalIO, SetUpRequestsInOrder) {
    struct Row {
        int32_t inputs, outputs;
        Entries inputSide;   // sensor set-up and the first inquiry
        Entries outputSide;  // alarm output set-up and the start-up offs
    } rows[] = {
        {2, 0, {Sensor(1), Sensor(2), kInquiry}, {}},
        {0, 2, {}, {Alarm(1), Alarm(2), Trigger(1, "off"), Trigger(2, "off")}},
        {2, 2, {Sensor(1), Sensor(2), kInquiry}, {Alarm(1), Alarm(2), Trigger(1, "off"), Trigger(2, "off")}},
        {0, 0, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.inputs) + " inputs, " + std::to_string(row.outputs) + " outputs");
        Camera camera;
        iotest::TestDriver driver(row.inputs, row.outputs, camera.cam.Port());
        SonyIO io(&driver);
        ASSERT_TRUE(io.StartIO());
        if (row.inputs > 0) {
            ASSERT_TRUE(camera.WaitFor(kInquiry));
        }
        if (row.outputs > 0) {
            ASSERT_TRUE(camera.WaitFor("alarmout2off"));
        }
        if (row.inputs + row.outputs == 0) std::this_thread::sleep_for(200ms);
        ASSERT_TRUE(io.StopIO());
        Entries inputSide = camera.Targets({"Sensor", "inquiry"});
        if (!inputSide.empty()) inputSide.resize(row.inputSide.size());  // later ticks inquire again
        EXPECT_EQ(inputSide, row.inputSide);
        EXPECT_EQ(camera.Targets({"alarmout"}), row.outputSide);
        EXPECT_EQ(camera.cam.RequestTargets().size(), camera.Targets({"Sensor", "inquiry", "alarmout"}).size());
        for (const camsim::RequestRecord& r : camera.cam.Requests()) {
            // Answered after Basic authentication, or cut short by the stop.
            EXPECT_TRUE(r.status == 0 || (r.status == 200 && r.authorized)) << r.target << " " << r.status;
        }
        EXPECT_EQ(driver.messages.Entries(), Entries());
    }
}

TEST(CSonyDigitalIO, EveryInputChangeIsReportedOnce) {
    Camera camera;
    iotest::TestDriver driver(2, 0, camera.cam.Port());
    testhost::TestIOUser user;
    SonyIO io(&driver);
    ASSERT_TRUE(io.SetIOUser(&user));
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(user.calls.WaitFor("Input 1 1"));
    camera.cam.SetSensor(1, true);
    ASSERT_TRUE(user.calls.WaitFor("Input 0 2"));
    camera.cam.SetSensor(2, true);
    ASSERT_TRUE(user.calls.WaitFor("Input 1 2"));
    camera.cam.SetSensor(1, false);
    ASSERT_TRUE(user.calls.WaitFor("Input 0 1", 2));
    // Two more inquiries with the same answer report nothing.
    ASSERT_TRUE(camera.WaitFor(kInquiry, camera.cam.RequestTargets().size() + 1));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(user.calls.Entries(), Entries({"Input 0 1", "Input 1 1", "Input 0 2", "Input 1 2", "Input 0 1"}));
    EXPECT_EQ(driver.messages.Entries(), Entries());
}

TEST(CSonyDigitalIO, OutputTriggersInOrder) {
    Camera camera;
    iotest::TestDriver driver(0, 2, camera.cam.Port());
    SonyIO io(&driver);
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(camera.WaitFor("alarmout2off"));
    EXPECT_TRUE(io.RequestOutputState(1, 2));
    EXPECT_TRUE(io.RequestOutputState(0, 2));
    EXPECT_TRUE(io.RequestOutputState(1, 1));
    EXPECT_TRUE(io.RequestOutputState(1, 1));        // no change: nothing sent
    EXPECT_TRUE(io.RequestOutputState(0, 0));        // stored, but there is no word for it
    ASSERT_TRUE(camera.WaitFor("alarmout2off", 4));  // past the start-up off
    const uint64_t before = camera.cam.RequestTargets().size();
    EXPECT_TRUE(io.RequestOutputState(0, 2));  // so "on" goes out again
    ASSERT_TRUE(camera.WaitFor("alarmout1on", before));
    ASSERT_TRUE(camera.WaitForTriggers(6));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(camera.Targets({"trigger"}), Entries({Trigger(1, "off"), Trigger(2, "off"), Trigger(2, "on"),
                                                    Trigger(1, "on"), Trigger(2, "off"), Trigger(1, "on")}));
    std::string triggers;
    for (const camsim::AlarmTrigger& t : camera.cam.AlarmTriggers())
        triggers += std::to_string(t.output) + (t.on ? "on " : "off ");
    EXPECT_EQ(triggers, "1off 2off 2on 1on 2off 1on ");
}

TEST(CSonyDigitalIO, RefusedInquiryMakesInputsUndeterminedWithoutAFailure) {
    Camera camera;
    camera.cam.SetSensor(1, true);
    iotest::TestDriver driver(2, 0, camera.cam.Port());
    testhost::TestIOUser user;
    SonyIO io(&driver);
    ASSERT_TRUE(io.SetIOUser(&user));
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(user.calls.WaitFor("Input 1 1"));
    camera.cam.AddHttpFault({.pattern = "inquiry.cgi", .action = camsim::HttpFaultAction::Status, .status = 401});
    ASSERT_TRUE(user.calls.WaitFor("Input 1 0"));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(user.calls.Entries(), Entries({"Input 0 2", "Input 1 1", "Input 0 0", "Input 1 0"}));
    EXPECT_EQ(user.resets.load(), 0);
    EXPECT_EQ(driver.messages.Entries(), Entries());
}

TEST(CSonyDigitalIO, FailedSensorSetUpRunsAgainAtTheNextTickOnly) {
    Camera camera;
    camera.cam.AddHttpFault(
        {.pattern = "Sensor1Mode", .action = camsim::HttpFaultAction::Status, .status = 500, .remaining = 1});
    iotest::TestDriver driver(2, 0, camera.cam.Port());
    SonyIO io(&driver);
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(camera.WaitFor(kInquiry));
    ASSERT_TRUE(camera.WaitFor(kInquiry, camera.cam.RequestTargets().size() + 4));
    ASSERT_TRUE(io.StopIO());
    const Entries seen = camera.Targets({"Sensor", "inquiry"});
    ASSERT_GE(seen.size(), 8u);
    EXPECT_EQ(Entries(seen.begin(), seen.begin() + 8),
              Entries({Sensor(1), Sensor(2), kInquiry, Sensor(1), Sensor(2), kInquiry, kInquiry, kInquiry}));
}

TEST(CSonyDigitalIO, UnreachableCameraIsReportedOnce) {
    uint16_t port = Camera().cam.Port();  // gone again
    iotest::TestDriver driver(1, 0, port);
    testhost::TestIOUser user;
    SonyIO io(&driver);
    ASSERT_TRUE(io.SetIOUser(&user));
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(user.calls.WaitFor("Reset", 3));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(driver.messages.Entries(), Entries({"1 kestrel::CIOBase::GetInputStatesWrapper: GetInputStates() method "
                                                  "failed! Device 127.0.0.1:" +
                                                  std::to_string(port)}));
}

TEST(CSonyDigitalIO, StopEndsAHangingRequest) {
    struct Row {
        const char* hang;
        int32_t inputs, outputs;
        const char* neverSent;  // what a cut-short pass must not ask for
    } rows[] = {
        {"inquiry.cgi", 1, 1, nullptr},
        {"trigger=alarmout1off", 1, 1, nullptr},
        {"Sensor1Mode", 3, 0, "Sensor2Mode"},
        {"AlarmOut1Func", 0, 3, "AlarmOut2Func"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.hang);
        Camera camera(3, 3);
        camera.cam.AddHttpFault({.pattern = row.hang, .action = camsim::HttpFaultAction::Hang});
        iotest::TestDriver driver(row.inputs, row.outputs, camera.cam.Port());
        SonyIO io(&driver);
        ASSERT_TRUE(io.StartIO());
        ASSERT_TRUE(camera.WaitFor(row.hang));
        std::this_thread::sleep_for(50ms);  // well inside the hang
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(io.StopIO());
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("StopIO with a request hanging at \"%s\": %lld ms\n", row.hang,
                    static_cast<long long>(took.count()));
        EXPECT_LT(took, 3s);
        EXPECT_EQ(driver.messages.Entries(), Entries()) << "no late thread, no camera failure";
        if (row.neverSent != nullptr) {
            EXPECT_EQ(camera.Targets({row.neverSent}), Entries());
        }
        EXPECT_FALSE(io.RequestOutputState(0, 2));
    }
}

}  // namespace
