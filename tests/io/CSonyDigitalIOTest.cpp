// The camera's digital I/O end to end, against a web server on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "io/CSonyDigitalIO.h"
#include "tests/host/TestIOUser.h"
#include "tests/io/TestCameraServer.h"
#include "tests/io/TestDriver.h"

namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;

const char* const kInquiry = "/command/inquiry.cgi?inq=sensor";

// Polls faster than the product's 1500 ms so that the tests stay quick.
class SonyIO : public kestrel::CSonyDigitalIO {
public:
    explicit SonyIO(kestrel::IDriver* driver) : CSonyDigitalIO(driver) { m_inputThread.SetPeriod(30); }
};

// The requests whose target contains one of `needles`, in arrival order.
Entries Requests(const iotest::TestCameraServer& server, std::initializer_list<const char*> needles) {
    Entries out;
    for (const std::string& target : server.requests.Entries()) {
        for (const char* needle : needles) {
            if (target.find(needle) != std::string::npos) {
                out.push_back(target);
                break;
            }
        }
    }
    return out;
}

std::string Sensor(int n) { return "/command/system.cgi?Sensor" + std::to_string(n) + "Mode=make"; }
std::string Alarm(int n) {
    return "/command/alarmout.cgi?AlarmOut" + std::to_string(n) + "Func=off&Ao" + std::to_string(n) + "ManualFunc=on";
}
std::string Trigger(int n, const char* word) { return "command/main.cgi?trigger=alarmout" + std::to_string(n) + word; }

TEST(CSonyDigitalIO, SetUpRequestsInOrder) {
    struct Row {
        int32_t inputs, outputs;
        Entries inputSide;    // sensor set-up and the first inquiry
        Entries outputSide;   // alarm output set-up and the start-up offs
    } rows[] = {
        {2, 0, {Sensor(1), Sensor(2), kInquiry}, {}},
        {0, 2, {}, {Alarm(1), Alarm(2), Trigger(1, "off"), Trigger(2, "off")}},
        {2, 2, {Sensor(1), Sensor(2), kInquiry}, {Alarm(1), Alarm(2), Trigger(1, "off"), Trigger(2, "off")}},
        {0, 0, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.inputs) + " inputs, " + std::to_string(row.outputs) + " outputs");
        iotest::TestCameraServer server;
        server.SetInquiry(200, "sensor1=0\r\nsensor2=0\r\n");
        iotest::TestDriver driver(row.inputs, row.outputs, server.Port());
        SonyIO io(&driver);
        ASSERT_TRUE(io.StartIO());
        if (!row.inputSide.empty()) {
            ASSERT_TRUE(server.requests.WaitFor(kInquiry));
        }
        if (!row.outputSide.empty()) {
            ASSERT_TRUE(server.requests.WaitFor("alarmout2off"));
        }
        if (row.inputs == 0 && row.outputs == 0) std::this_thread::sleep_for(200ms);
        ASSERT_TRUE(io.StopIO());

        Entries inputSide = Requests(server, {"Sensor", "inquiry"});
        if (!inputSide.empty()) inputSide.resize(row.inputSide.size());   // later ticks inquire again
        EXPECT_EQ(inputSide, row.inputSide);
        EXPECT_EQ(Requests(server, {"alarmout"}), row.outputSide);
        EXPECT_EQ(server.requests.Entries().size(), Requests(server, {"Sensor", "inquiry", "alarmout"}).size());
    }
}

TEST(CSonyDigitalIO, EveryInputChangeIsReportedOnce) {
    iotest::TestCameraServer server;
    server.SetInquiry(200, "sensor1=0\r\nsensor2=0\r\n");
    iotest::TestDriver driver(2, 0, server.Port());
    testhost::TestIOUser user;
    SonyIO io(&driver);
    ASSERT_TRUE(io.SetIOUser(&user));
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(user.calls.WaitFor("Input 1 1"));

    server.SetInquiry(200, "Sensor1=1\r\nSensor2=0\r\n");
    ASSERT_TRUE(user.calls.WaitFor("Input 0 2"));
    // Some more ticks with the same answer report nothing.
    const size_t inquiries = server.requests.Count(kInquiry);
    ASSERT_TRUE(server.requests.WaitFor(kInquiry, inquiries + 3));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(user.calls.Entries(), Entries({"Input 0 1", "Input 1 1", "Input 0 2"}));
    EXPECT_EQ(driver.messages.Entries(), Entries());
}

TEST(CSonyDigitalIO, OutputTriggersInOrder) {
    iotest::TestCameraServer server;
    iotest::TestDriver driver(0, 2, server.Port());
    SonyIO io(&driver);
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(server.requests.WaitFor("alarmout2off"));

    EXPECT_TRUE(io.RequestOutputState(1, 2));
    EXPECT_TRUE(io.RequestOutputState(0, 2));
    EXPECT_TRUE(io.RequestOutputState(1, 1));
    EXPECT_TRUE(io.RequestOutputState(1, 1));   // no change: nothing sent
    EXPECT_TRUE(io.RequestOutputState(0, 0));   // stored, but there is no word for it
    EXPECT_TRUE(io.RequestOutputState(0, 2));   // so "on" goes out again
    ASSERT_TRUE(server.requests.WaitFor("alarmout1on", 2));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(Requests(server, {"trigger"}),
              Entries({Trigger(1, "off"), Trigger(2, "off"), Trigger(2, "on"), Trigger(1, "on"), Trigger(2, "off"),
                       Trigger(1, "on")}));
}

TEST(CSonyDigitalIO, RefusedInquiryMakesInputsUndeterminedWithoutAFailure) {
    iotest::TestCameraServer server;
    server.SetInquiry(200, "sensor1=1\r\nsensor2=0\r\n");
    iotest::TestDriver driver(2, 0, server.Port());
    testhost::TestIOUser user;
    SonyIO io(&driver);
    ASSERT_TRUE(io.SetIOUser(&user));
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(user.calls.WaitFor("Input 1 1"));

    server.SetInquiry(401, "sensor1=1\r\nsensor2=0\r\n");
    ASSERT_TRUE(user.calls.WaitFor("Input 1 0"));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(user.calls.Entries(), Entries({"Input 0 2", "Input 1 1", "Input 0 0", "Input 1 0"}));
    EXPECT_EQ(user.resets.load(), 0);
    EXPECT_EQ(driver.messages.Entries(), Entries());
}

TEST(CSonyDigitalIO, FailedSensorSetUpRunsAgainAtTheNextTick) {
    iotest::TestCameraServer server;
    server.SetStatusFor("Sensor1Mode", 500);
    iotest::TestDriver driver(2, 0, server.Port());
    SonyIO io(&driver);
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(server.requests.WaitFor(kInquiry, 2));
    server.SetStatusFor("Sensor1Mode", 200);
    const size_t inquiries = server.requests.Count(kInquiry);
    ASSERT_TRUE(server.requests.WaitFor(kInquiry, inquiries + 3));
    ASSERT_TRUE(io.StopIO());

    // Both sensors are set up on every tick until a pass succeeds, then never again.
    const Entries seen = Requests(server, {"Sensor", "inquiry"});
    ASSERT_GE(seen.size(), 6u);
    EXPECT_EQ(Entries(seen.begin(), seen.begin() + 6),
              Entries({Sensor(1), Sensor(2), kInquiry, Sensor(1), Sensor(2), kInquiry}));
    EXPECT_EQ(Entries(seen.end() - 3, seen.end()), Entries({kInquiry, kInquiry, kInquiry}));
}

TEST(CSonyDigitalIO, UnreachableCameraIsReportedOnce) {
    uint16_t port = 0;
    {
        iotest::TestCameraServer gone;
        port = gone.Port();
    }
    iotest::TestDriver driver(1, 0, port);
    testhost::TestIOUser user;
    SonyIO io(&driver);
    ASSERT_TRUE(io.SetIOUser(&user));
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(user.calls.WaitFor("Reset", 3));
    ASSERT_TRUE(io.StopIO());
    EXPECT_EQ(driver.messages.Entries(),
              Entries({"1 kestrel::CIOBase::GetInputStatesWrapper: GetInputStates() method failed! Device 127.0.0.1:" +
                       std::to_string(port)}));
}

TEST(CSonyDigitalIO, StopEndsAHangingRequest) {
    struct Row {
        const char* hold;
        int32_t inputs, outputs;
        const char* neverSent;   // what a cut-short pass must not ask for
    } rows[] = {
        {"inquiry.cgi", 1, 1, nullptr},
        {"trigger=alarmout1off", 1, 1, nullptr},
        {"Sensor1Mode", 3, 0, "Sensor2Mode"},
        {"AlarmOut1Func", 0, 3, "AlarmOut2Func"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.hold);
        iotest::TestCameraServer server;
        server.HoldRequests(row.hold);
        iotest::TestDriver driver(row.inputs, row.outputs, server.Port());
        SonyIO io(&driver);
        ASSERT_TRUE(io.StartIO());
        ASSERT_TRUE(server.requests.WaitFor(row.hold));
        while (server.held.load() == 0) std::this_thread::sleep_for(1ms);

        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(io.StopIO());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("StopIO with a request held at \"%s\": %lld ms\n", row.hold, static_cast<long long>(took.count()));
        EXPECT_LT(took, 3s);
        EXPECT_EQ(driver.messages.Count("was not stopped"), 0u);
        EXPECT_EQ(driver.messages.Count("Stop "), 0u);
        if (row.neverSent != nullptr) {
            EXPECT_EQ(server.requests.Count(row.neverSent), 0u);
        }
        EXPECT_FALSE(io.RequestOutputState(0, 2));
    }
}

}  // namespace
