// The simulator's control channel is as guarded as the camera it controls:
// only this machine, only with the camera's credentials, no value that
// takes the simulator's memory; and its password never on a command line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "CamsimTestUtil.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CControlCommand.h"

using namespace camsim;
using namespace camsim_test;

namespace {

const char kPassword[] = "s3cret:x";

CameraConfig Config(AuthMode auth = AuthMode::None) {
    CameraConfig c;
    c.auth = auth;
    c.user = "admin";
    c.password = kPassword;
    return c;
}

std::string Sensors(const CCamera& cam) { return Get(cam.BaseUrl() + "/command/inquiry.cgi?inq=sensor").body; }

// An IPv4 address of this machine off the loopback network, or "".
std::string OffLoopbackAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "";
    std::string found;
    for (ifaddrs* i = list; i != nullptr && found.empty(); i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        if ((ntohl(a->sin_addr.s_addr) >> 24) == 127) continue;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        found = text;
    }
    freeifaddrs(list);
    return found;
}

}  // namespace

TEST(CamsimControl, LoopbackPeers) {
    const struct {
        const char* address;
        bool loopback;
        // clang-format off
    } cases[] = {
        {"127.0.0.1", true},        {"127.0.0.2", true},         {"127.255.255.254", true},
        {"::1", true},              {"::ffff:127.0.0.2", true},  {"126.255.255.255", false},
        {"128.0.0.1", false},       {"10.0.0.1", false},         {"192.0.2.2", false},
        {"::ffff:10.0.0.1", false}, {"::2", false},              {"fe80::1", false},
        {"", false},                {"localhost", false},        {"127.0.0.1 ", false},
        {"127.0.0.1:80", false},
    };
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(CControlCommand::IsLoopbackPeer(c.address), c.loopback) << c.address;
}

TEST(CamsimControl, AsksForTheCamerasCredentials) {
    for (const AuthMode mode : {AuthMode::Basic, AuthMode::Digest}) {
        SCOPED_TRACE(mode == AuthMode::Basic ? "basic" : "digest");
        const Auth auth = mode == AuthMode::Basic ? Auth::Basic : Auth::Digest;
        CCamera cam(Config(mode));
        ASSERT_TRUE(cam.Start());
        const std::string control = cam.BaseUrl() + "/simctl?sensor=1:1";
        const HttpAnswer anonymous = Get(control);
        EXPECT_EQ(anonymous.status, 401);
        EXPECT_NE(anonymous.headers.find("WWW-Authenticate"), std::string::npos);
        EXPECT_EQ(Get(control, auth, "admin", "wrong").status, 401);
        EXPECT_FALSE(Get(cam.BaseUrl() + "/command/inquiry.cgi?inq=sensor", auth, "admin", kPassword)
                         .body.starts_with("Sensor1=1"));
        EXPECT_EQ(Get(control, auth, "admin", kPassword).status, 200);
        EXPECT_TRUE(Get(cam.BaseUrl() + "/command/inquiry.cgi?inq=sensor", auth, "admin", kPassword)
                        .body.starts_with("Sensor1=1"));
    }
    // A camera without credentials asks for none.
    CCamera open(Config());
    ASSERT_TRUE(open.Start());
    EXPECT_EQ(Get(open.BaseUrl() + "/simctl?sensor=2:1").status, 200);
    EXPECT_EQ(Sensors(open), "Sensor1=0\r\nSensor2=1\r\n");
}

TEST(CamsimControl, AnswersOnlyLoopbackUnlessToldOtherwise) {
    const std::string address = OffLoopbackAddress();
    if (address.empty()) GTEST_SKIP() << "this machine has no address off the loopback network";
    for (const bool anyPeer : {false, true}) {
        SCOPED_TRACE(anyPeer ? "--simctl-any-peer" : "default");
        CameraConfig config = Config();
        config.bindAddress = "0.0.0.0";
        config.controlAnyPeer = anyPeer;
        CCamera cam(config);
        ASSERT_TRUE(cam.Start());
        // Connected to that address, the request comes from it too.
        const std::string remote = "http://" + address + ":" + std::to_string(cam.Port());
        EXPECT_EQ(Get(remote + "/simctl?sensor=1:1").status, anyPeer ? 200 : 403);
        EXPECT_EQ(Get(remote + "/command/inquiry.cgi?inq=sensor").body.starts_with("Sensor1=1"), anyPeer);
        // The camera's own commands answer everyone, and loopback controls.
        EXPECT_EQ(Get(cam.BaseUrl() + "/simctl?sensor=2:1").status, 200);
        EXPECT_EQ(Get(remote + "/command/inquiry.cgi?inq=sensor").status, 200);
    }
}

TEST(CamsimControl, EveryValueHasAnUpperBound) {
    CCamera cam(Config());
    ASSERT_TRUE(cam.Start());
    const std::string longPattern(CControlCommand::kMaxPattern + 1, 'p');
    const struct {
        std::string command;
        long status;
    } cases[] = {
        {"cut=65535", 200},
        {"cut=65536", 400},
        {"oversize=16777216", 200},
        {"oversize=16777217", 400},
        {"oversize=4294967295", 400},  // once past 3 GB of padding
        {"times=1000000&status=500:never", 200},
        {"times=1000001&status=500:never", 400},
        {"times=4294967295&status=500:never", 400},
        {"hang=" + longPattern, 400},
        {"status=500:" + longPattern, 400},
        {"close=" + longPattern.substr(1), 200},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Get(cam.BaseUrl() + "/simctl?" + c.command).status, c.status) << c.command.substr(0, 40);
    }
    EXPECT_EQ(cam.HttpFaults().size(), 2u);  // the refused commands left no rule
    // Rules in force at once.
    EXPECT_EQ(Get(cam.BaseUrl() + "/simctl?clearhttp=1").status, 200);
    for (size_t i = 0; i < CControlCommand::kMaxHttpRules; ++i) {
        ASSERT_EQ(Get(cam.BaseUrl() + "/simctl?status=500:rule" + std::to_string(i)).status, 200) << i;
    }
    EXPECT_EQ(Get(cam.BaseUrl() + "/simctl?close=one-more").status, 400);
    EXPECT_EQ(cam.HttpFaults().size(), CControlCommand::kMaxHttpRules);
    // The whole command, from standard input as from HTTP.
    bool ok = true;
    cam.Control(std::string(CControlCommand::kMaxCommand + 1, 'x'), &ok);
    EXPECT_FALSE(ok);
}

TEST(CamsimCli, PasswordComesFromAFileNeverTheCommandLine) {
    const std::string exe = CAMSIM_EXE;
    const std::string file = ::testing::TempDir() + "camsim-password";
    std::ofstream(file) << kPassword << "\r\nsecond line ignored\n";
    int status = 0;
    const std::string refused = Shell(exe + " --auth basic --user admin --password p --duration 1", &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(refused.find("--password-file"), std::string::npos) << refused;
    Shell(exe + " --auth basic --user admin --password-file /nonexistent/pw --duration 1", &status);
    EXPECT_NE(status, 0);

    FILE* run = popen(
        (exe + " --auth basic --user admin --password-file " + file + " --port 0 --duration 4 -q < /dev/null 2>&1")
            .c_str(),
        "r");
    ASSERT_NE(run, nullptr);
    std::string url;
    char line[1024];
    while (url.empty() && std::fgets(line, sizeof line, run) != nullptr) {
        const std::string text = line;
        const size_t at = text.find("first at ");
        if (at != std::string::npos) url = text.substr(at + 9, text.find("/ ;") - at - 9);
    }
    ASSERT_FALSE(url.empty());
    const std::string inquiry = url + "/command/inquiry.cgi?inq=sensor";
    EXPECT_EQ(Get(inquiry).status, 401);
    EXPECT_EQ(Get(inquiry, Auth::Basic, "admin", kPassword).status, 200);
    EXPECT_EQ(Get(inquiry, Auth::Basic, "admin", std::string(kPassword) + "\r").status, 401);
    std::string rest;
    while (std::fgets(line, sizeof line, run) != nullptr) rest += line;
    EXPECT_EQ(pclose(run), 0);
    EXPECT_EQ(rest.find(kPassword), std::string::npos);
    std::remove(file.c_str());
}
