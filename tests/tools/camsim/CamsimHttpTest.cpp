// The camera's web server as the driver meets it, and the program as a user
// starts it.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "CamsimTestUtil.h"
#include "tools/camsim/CCamera.h"

using namespace camsim;
using namespace camsim_test;

namespace {

CameraConfig Config(AuthMode auth = AuthMode::None) {
    CameraConfig c;
    c.auth = auth;
    c.user = "admin";
    c.password = "s3cret:x";
    return c;
}

}  // namespace

TEST(CamsimHttp, DriverRequestsAreAnsweredAppliedAndLoggedExactly) {
    CameraConfig cfg = Config();
    cfg.sensorCount = 3;
    CCamera cam(cfg);
    ASSERT_TRUE(cam.Start());
    const std::vector<std::string> viaCurl = {
        "/command/system.cgi?VideoOutMode=PAL",
        "/command/camera.cgi?Color=color&Multicast=off&RtpExpire=60000&LightFunnel=off",
        "/command/camera.cgi?PrivacyDispEach=7,off",
        "/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=25&JpQuality=6",
        "/command/camera.cgi?JpImageSize=704,480",
        "/command/system.cgi?Sensor1Mode=make",
        "/command/alarmout.cgi?AlarmOut2Func=off&Ao2ManualFunc=on",
    };
    for (const auto& t : viaCurl) {
        const HttpAnswer a = Get(cam.BaseUrl() + t);
        EXPECT_EQ(a.status, 200) << t;
        EXPECT_EQ(a.headers.rfind("HTTP/1.0 200", 0), 0u) << a.headers;
    }
    // The driver writes these two without a leading slash.
    const std::vector<std::string> viaRaw = {"command/main.cgi?trigger=alarmout1on",
                                             "command/main.cgi?trigger=alarmout2off",
                                             "mjpeg?UdpMode=unicast&UdpPort=5000"};
    for (const auto& t : viaRaw)
        EXPECT_EQ(Raw(cam.Port(), "GET " + t + " HTTP/1.1\r\nHost: cam\r\n\r\n").rfind("HTTP/1.0 200 OK\r\n", 0), 0u)
            << t;
    auto all = viaCurl;
    all.insert(all.end(), viaRaw.begin(), viaRaw.end());
    EXPECT_EQ(cam.RequestTargets(), all);
    const auto log = cam.Requests();
    ASSERT_EQ(log.size(), all.size());
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].index, i);
        EXPECT_EQ(log[i].method + " " + std::to_string(log[i].status), "GET 200");
        EXPECT_EQ(log[i].remote.rfind("127.0.0.1:", 0), 0u);
    }
    const CameraSettings s = cam.Settings();
    EXPECT_EQ(s.videoOutMode + s.color + s.multicast + s.lightFunnel + s.imageCodec + s.jpBandwidth,
              "PALcoloroffoffjpeg0.0");
    EXPECT_EQ(s.rtpExpireMs, 60000u);
    EXPECT_EQ(s.privacyZones.at(7), "off");
    EXPECT_EQ(s.jpFrameRate, 25u);
    EXPECT_EQ(s.jpQuality, 6u);
    EXPECT_EQ(s.width * 1000 + s.height, 704480u);
    EXPECT_EQ(s.sensorModes.at(1), "make");
    const auto outputs = cam.AlarmOutputs();
    EXPECT_EQ(outputs.at(1).func + "/" + outputs.at(1).manualFunc, "off/on");
    EXPECT_EQ(outputs.at(0).lastTrigger, true);
    const auto triggers = cam.AlarmTriggers();
    ASSERT_EQ(triggers.size(), 2u);
    EXPECT_TRUE(triggers[0].output == 1 && triggers[0].on && triggers[1].output == 2 && !triggers[1].on);
    EXPECT_EQ(cam.GetStreamStats().destination, "127.0.0.1:5000");

    // The inquiry follows the sensors, set from code or through /simctl,
    // which stays out of the request log.
    const std::string inquiry = cam.BaseUrl() + "/command/inquiry.cgi?inq=sensor";
    EXPECT_EQ(Get(inquiry).body, "Sensor1=0\r\nSensor2=0\r\nSensor3=0\r\n");
    EXPECT_TRUE(cam.SetSensor(2, true));
    EXPECT_FALSE(cam.SetSensor(4, true));
    EXPECT_EQ(Get(inquiry).body, "Sensor1=0\r\nSensor2=1\r\nSensor3=0\r\n");
    EXPECT_EQ(Get(cam.BaseUrl() + "/simctl?sensor=3:1&sensor=2:0").status, 200);
    EXPECT_EQ(Get(inquiry).body, "Sensor1=0\r\nSensor2=0\r\nSensor3=1\r\n");
    EXPECT_EQ(Get(cam.BaseUrl() + "/simctl?sensor=9:1").status, 400);
    EXPECT_EQ(cam.Requests().size(), all.size() + 3);
    cam.Stop();
    EXPECT_EQ(cam.GetStreamStats().stopReason, "shutdown");
}

TEST(CamsimHttp, UnknownCommandsAndBadValuesChangeNothing) {
    CameraConfig cfg = Config();
    cfg.settingsStatus = 204;
    CCamera cam(cfg);
    ASSERT_TRUE(cam.Start());
    // clang-format off
    const std::pair<const char*, long> rows[] = {
        {"/command/camera.cgi?Color=color", 204},      {"/command/foo.cgi?a=1", 404},
        {"/command/camera.cgi?NoSuchThing=1", 404},    {"/command/camera.cgi", 404},
        {"/command/inquiry.cgi?inq=network", 404},     {"/command/system.cgi?Sensor3Mode=make", 400},  // two sensors
        {"/command/system.cgi?Sensor0Mode=make", 400}, {"/command/camera.cgi?RtpExpire=-5", 400},
        {"/command/camera.cgi?JpImageSize=huge", 400}, {"/command/camera.cgi?PrivacyDispEach=off", 400},
        {"/command/alarmout.cgi?AlarmOut3Func=off", 400}, {"/command/main.cgi?trigger=alarmout1maybe", 404},
        {"/command/main.cgi?trigger=alarmout9on", 400}, {"/mjpeg?UdpMode=multicast&UdpPort=5000", 400},
        {"/mjpeg?UdpMode=unicast&UdpPort=0", 400},     {"/index.html", 404},
    };
    // clang-format on
    for (const auto& [target, status] : rows) EXPECT_EQ(Get(cam.BaseUrl() + target).status, status) << target;
    EXPECT_EQ(cam.Settings().width, 352u);
    EXPECT_FALSE(cam.StreamActive());
    EXPECT_EQ(cam.Requests().size(), std::size(rows));
}

TEST(CamsimHttp, AuthenticationOverHttpAndHttps) {
    struct Row {
        AuthMode mode;
        bool https;
        Auth client;
        const char* password;
        long status;
        const char* challenge;  // expected in the answer's headers
    };
    // clang-format off
    const Row rows[] = {
        {AuthMode::Basic, false, Auth::None, "", 401, "WWW-Authenticate: Basic realm=\"camsim\""},
        {AuthMode::Basic, false, Auth::Basic, "wrong", 401, ""},
        {AuthMode::Basic, false, Auth::Basic, "s3cret:x", 200, ""},
        // Basic credentials get a Digest challenge: that is how a client learns the scheme.
        {AuthMode::Digest, false, Auth::Basic, "s3cret:x", 401, "WWW-Authenticate: Digest realm=\"camsim\", qop=\"auth\""},
        {AuthMode::Digest, false, Auth::Digest, "s3cret:x", 200, ""},
        {AuthMode::Digest, false, Auth::Digest, "nope", 401, ""},
        {AuthMode::Digest, false, Auth::Any, "s3cret:x", 200, ""},
        {AuthMode::Basic, true, Auth::Basic, "s3cret:x", 200, ""},
        {AuthMode::Digest, true, Auth::None, "", 401, ""},
        {AuthMode::Digest, true, Auth::Digest, "s3cret:x", 200, ""},
    };
    // clang-format on
    const std::string t = "/command/camera.cgi?JpFrameRate=12";
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(r.mode) << (r.https ? " https " : " http ") << r.password);
        CameraConfig cfg = Config(r.mode);
        cfg.https = r.https;
        CCamera cam(cfg);
        std::string error;
        ASSERT_TRUE(cam.Start(&error)) << error;
        EXPECT_EQ(cam.BaseUrl().rfind(r.https ? "https://127.0.0.1:" : "http://127.0.0.1:", 0), 0u);
        const HttpAnswer a = Get(cam.BaseUrl() + t, r.client, "admin", r.password);
        EXPECT_EQ(a.status, r.status);
        EXPECT_NE(a.headers.find(r.challenge), std::string::npos) << a.headers;
        EXPECT_EQ(cam.Settings().jpFrameRate.has_value(), r.status == 200);
        EXPECT_EQ(cam.RequestTargets(true).size(), r.status == 200 ? 1u : 0u);
        if (r.https) {
            EXPECT_NE(cam.CertificatePem().find("BEGIN CERTIFICATE"), std::string::npos);
            const std::string plain = "http://127.0.0.1:" + std::to_string(cam.Port()) + t;
            EXPECT_EQ(Get(plain, Auth::None, "", "", 2000).status, 0);  // no answer to plain HTTP
        }
    }
}

TEST(CamsimHttpFaults, StatusCloseAndCountedRules) {
    CCamera cam(Config());
    ASSERT_TRUE(cam.Start());
    const std::string cam1 = cam.BaseUrl() + "/command/camera.cgi?Color=color";
    const std::string sys = cam.BaseUrl() + "/command/system.cgi?VideoOutMode=PAL";
    for (int code : {401, 404, 500}) {
        cam.AddHttpFault({"camera.cgi", HttpFaultAction::Status, code, -1});
        EXPECT_EQ(Get(cam1).status, code);
        EXPECT_EQ(Get(cam1).status, code);
        EXPECT_EQ(Get(sys).status, 200);  // only matching targets
        cam.ClearHttpFaults();
        EXPECT_EQ(Get(cam1).status, 200);
    }
    EXPECT_EQ(cam.Requests()[0].fault + std::to_string(cam.Requests()[0].status), "status401");
    // Counted, for every target, through the control language.
    EXPECT_EQ(Get(cam.BaseUrl() + "/simctl?status=503&times=2").status, 200);
    EXPECT_EQ(Get(sys).status, 503);
    EXPECT_EQ(Get(cam1).status, 503);
    EXPECT_EQ(Get(sys).status, 200);
    EXPECT_TRUE(cam.HttpFaults().empty());

    cam.ClearRequests();
    cam.AddHttpFault({"inquiry", HttpFaultAction::Close, 0, 1});
    const std::string inquiry = "/command/inquiry.cgi?inq=sensor";
    EXPECT_EQ(Raw(cam.Port(), "GET " + inquiry + " HTTP/1.0\r\n\r\n"), "");
    EXPECT_EQ(Get(cam.BaseUrl() + inquiry).status, 200);  // the rule was for one request
    cam.AddHttpFault({"", HttpFaultAction::Close, 0, -1});
    const HttpAnswer closed = Get(cam.BaseUrl() + inquiry);
    EXPECT_EQ(closed.status, 0);
    EXPECT_NE(closed.curlCode, 0);
    const auto log = cam.Requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].fault + std::to_string(log[0].status), "close0");
    EXPECT_EQ(log[1].fault, "");
}

TEST(CamsimHttpFaults, HangEndsByClientLeavingByReleaseAndByStop) {
    CCamera cam(Config());
    ASSERT_TRUE(cam.Start());
    cam.AddHttpFault({"camera.cgi", HttpFaultAction::Hang, 0, 1});
    EXPECT_EQ(Get(cam.BaseUrl() + "/command/camera.cgi?Color=color", Auth::None, "", "", 500).status, 0);
    // The camera notices the client leave and frees the connection meanwhile.
    EXPECT_TRUE(WaitUntil([&] { return cam.Requests().at(0).fault == "hang"; }));
    EXPECT_EQ(Get(cam.BaseUrl() + "/command/system.cgi?VideoOutMode=PAL").status, 200);

    cam.AddHttpFault({"system.cgi", HttpFaultAction::Hang, 0, 1});
    auto released = std::async(std::launch::async, [&] {
        return Get(cam.BaseUrl() + "/command/system.cgi?VideoOutMode=NTSC", Auth::None, "", "", 10000);
    });
    ASSERT_TRUE(cam.WaitForRequest("VideoOutMode=NTSC", 5000).has_value());
    EXPECT_EQ(released.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    cam.ReleaseHangs();
    EXPECT_EQ(released.get().status, 200);  // answered as usual once released

    cam.AddHttpFault({"", HttpFaultAction::Hang, 0, -1});
    auto held = std::async(std::launch::async, [&] {
        return Get(cam.BaseUrl() + "/command/camera.cgi?Color=mono", Auth::None, "", "", 20000);
    });
    ASSERT_TRUE(cam.WaitForRequest("Color=mono", 5000).has_value());
    const auto t0 = std::chrono::steady_clock::now();
    cam.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(held.get().status, 0);
}

TEST(CamsimCli, HelpBadOptionsAndStandardInputCommands) {
    const std::string exe = CAMSIM_EXE;
    int status = 0;
    const std::string help = Shell(exe + " --help", &status);
    EXPECT_EQ(status, 0);
    for (const char* part : {"Usage:", "--cameras", "--base-port", "--auth", "--https", "--size", "drop=F",
                             "hang=PATTERN", "mjpeg?UdpMode=unicast&UdpPort=N"})
        EXPECT_NE(help.find(part), std::string::npos) << part;
    for (const char* bad : {" --auth kerberos", " --size big --duration 1"}) {
        Shell(exe + bad, &status);
        EXPECT_NE(status, 0) << bad;
    }
    // quit ends the run long before its duration.
    const std::string out = Shell("printf '1 sensor=1:1\\nall drop=0.5\\n3 pause=1\\nnonsense\\nquit\\n' | " + exe +
                                      " --cameras 2 --port 0 --duration 20 -q",
                                  &status);
    EXPECT_EQ(status, 0) << out;
    // Cameras count from 1 and are named as halyard-record names them.
    for (const char* part :
         {"2 camera(s) ready; first at http://127.0.0.1:", "camera1: ok sensor=1:1", "camera2: ok drop=0.5",
          "no camera 3 (1..2)", "error: unknown command nonsense", "halyard-camsim summary:", "total: 0 pictures"})
        EXPECT_NE(out.find(part), std::string::npos) << part << "\n" << out;
}
