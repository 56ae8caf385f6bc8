// The camera's web server as the driver meets it: commands, their log,
// authentication, HTTPS, inputs and outputs, and HTTP faults.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "HttpProbe.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CCameraFarm.h"

using namespace camsim;
using camsim_test::HttpAnswer;
using camsim_test::HttpProbe;

namespace {

CameraConfig Config(AuthMode auth = AuthMode::None) {
    CameraConfig c;
    c.auth = auth;
    c.user = "admin";
    c.password = "s3cret:x";
    c.defaultFrameRate = 50;
    return c;
}

std::string Url(const CCamera& cam, const std::string& target) { return cam.BaseUrl() + target; }

}  // namespace

TEST(CamsimHttp, DriverStartSequenceIsAnsweredAndLoggedExactly) {
    CCamera cam(Config());
    ASSERT_TRUE(cam.Start());
    ASSERT_NE(cam.Port(), 0);
    const std::vector<std::string> targets = {
        "/command/system.cgi?VideoOutMode=PAL",
        "/command/camera.cgi?Color=color&Multicast=off&RtpExpire=60000&LightFunnel=off",
        "/command/camera.cgi?PrivacyDispEach=1,off",
        "/command/camera.cgi?PrivacyDispEach=7,off",
        "/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=25&JpQuality=6",
        "/command/camera.cgi?JpImageSize=704,480",
        "/command/system.cgi?Sensor1Mode=make",
        "/command/alarmout.cgi?AlarmOut2Func=off&Ao2ManualFunc=on",
    };
    for (const auto& t : targets) {
        const HttpAnswer a = HttpProbe::Get(Url(cam, t));
        EXPECT_EQ(a.status, 200) << t;
        EXPECT_NE(a.headers.find("HTTP/1.0 200"), std::string::npos) << a.headers;
    }
    EXPECT_EQ(cam.RequestTargets(), targets);
    const auto log = cam.Requests();
    ASSERT_EQ(log.size(), targets.size());
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].index, i);
        EXPECT_EQ(log[i].method, "GET");
        EXPECT_EQ(log[i].status, 200);
        EXPECT_TRUE(log[i].authorized);
        EXPECT_EQ(log[i].remote.rfind("127.0.0.1:", 0), 0u);
    }
    const CameraSettings s = cam.Settings();
    EXPECT_EQ(s.videoOutMode, "PAL");
    EXPECT_EQ(s.color, "color");
    EXPECT_EQ(s.multicast, "off");
    EXPECT_EQ(s.rtpExpireMs, 60000u);
    EXPECT_EQ(s.lightFunnel, "off");
    EXPECT_EQ(s.privacyZones.at(1), "off");
    EXPECT_EQ(s.privacyZones.at(7), "off");
    EXPECT_EQ(s.imageCodec, "jpeg");
    EXPECT_EQ(s.jpBandwidth, "0.0");
    EXPECT_EQ(s.jpFrameRate, 25u);
    EXPECT_EQ(s.jpQuality, 6u);
    EXPECT_EQ(s.width, 704u);
    EXPECT_EQ(s.height, 480u);
    EXPECT_EQ(s.sensorModes.at(1), "make");
    EXPECT_EQ(cam.AlarmOutputs().at(1).func, "off");
    EXPECT_EQ(cam.AlarmOutputs().at(1).manualFunc, "on");
}

TEST(CamsimHttp, UnknownCommandsAndBadValues) {
    CameraConfig cfg = Config();
    cfg.settingsStatus = 204;
    CCamera cam(cfg);
    ASSERT_TRUE(cam.Start());
    struct Row {
        const char* target;
        long status;
    };
    const Row rows[] = {
        {"/command/camera.cgi?Color=color", 204},
        {"/command/foo.cgi?a=1", 404},
        {"/command/camera.cgi?NoSuchThing=1", 404},
        {"/command/camera.cgi", 404},
        {"/command/inquiry.cgi?inq=network", 404},
        {"/command/system.cgi?Sensor3Mode=make", 400},  // two sensors
        {"/command/system.cgi?Sensor0Mode=make", 400},
        {"/command/camera.cgi?RtpExpire=-5", 400},
        {"/command/camera.cgi?JpImageSize=huge", 400},
        {"/command/camera.cgi?PrivacyDispEach=off", 400},
        {"/command/alarmout.cgi?AlarmOut3Func=off", 400},
        {"/command/main.cgi?trigger=alarmout1maybe", 404},
        {"/command/main.cgi?trigger=alarmout9on", 400},
        {"/mjpeg?UdpMode=multicast&UdpPort=5000", 400},
        {"/mjpeg?UdpMode=unicast&UdpPort=0", 400},
        {"/index.html", 404},
    };
    for (const auto& r : rows) EXPECT_EQ(HttpProbe::Get(Url(cam, r.target)).status, r.status) << r.target;
    // A refused request changes nothing: JpImageSize stayed at the default.
    EXPECT_EQ(cam.Settings().width, 352u);
    EXPECT_EQ(cam.Requests().size(), std::size(rows));
}

TEST(CamsimHttp, TargetsWithoutLeadingSlashOverRawSocket) {
    CCamera cam(Config());
    ASSERT_TRUE(cam.Start());
    const std::string trigger =
        HttpProbe::Raw(cam.Port(), "GET command/main.cgi?trigger=alarmout1on HTTP/1.1\r\nHost: cam\r\n\r\n");
    EXPECT_EQ(trigger.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << trigger;
    const std::string off =
        HttpProbe::Raw(cam.Port(), "GET command/main.cgi?trigger=alarmout2off HTTP/1.0\r\n\r\n");
    EXPECT_EQ(off.rfind("HTTP/1.0 200", 0), 0u) << off;
    const std::string stream =
        HttpProbe::Raw(cam.Port(), "GET mjpeg?UdpMode=unicast&UdpPort=5000 HTTP/1.1\r\nHost: cam\r\n\r\n");
    EXPECT_EQ(stream.rfind("HTTP/1.0 200", 0), 0u) << stream;
    const std::vector<std::string> expected = {"command/main.cgi?trigger=alarmout1on",
                                               "command/main.cgi?trigger=alarmout2off",
                                               "mjpeg?UdpMode=unicast&UdpPort=5000"};
    EXPECT_EQ(cam.RequestTargets(), expected);
    EXPECT_TRUE(cam.StreamActive());
    EXPECT_EQ(cam.GetStreamStats().destination, "127.0.0.1:5000");
    const auto triggers = cam.AlarmTriggers();
    ASSERT_EQ(triggers.size(), 2u);
    EXPECT_EQ(triggers[0].output, 1u);
    EXPECT_TRUE(triggers[0].on);
    EXPECT_EQ(triggers[1].output, 2u);
    EXPECT_FALSE(triggers[1].on);
    EXPECT_EQ(cam.AlarmOutputs()[0].lastTrigger, true);
    cam.Stop();
    EXPECT_FALSE(cam.StreamActive());
    EXPECT_EQ(cam.GetStreamStats().stopReason, "shutdown");
}

TEST(CamsimHttp, SensorInquiryFollowsTheSensors) {
    CameraConfig cfg = Config();
    cfg.sensorCount = 3;
    CCamera cam(cfg);
    ASSERT_TRUE(cam.Start());
    EXPECT_EQ(HttpProbe::Get(Url(cam, "/command/inquiry.cgi?inq=sensor")).body, "Sensor1=0\r\nSensor2=0\r\nSensor3=0\r\n");
    EXPECT_TRUE(cam.SetSensor(2, true));
    EXPECT_FALSE(cam.SetSensor(4, true));
    EXPECT_EQ(HttpProbe::Get(Url(cam, "/command/inquiry.cgi?inq=sensor")).body, "Sensor1=0\r\nSensor2=1\r\nSensor3=0\r\n");
    // The control path sets them too and is not part of the request log.
    const HttpAnswer ctl = HttpProbe::Get(Url(cam, "/simctl?sensor=3:1&sensor=2:0"));
    EXPECT_EQ(ctl.status, 200) << ctl.body;
    EXPECT_EQ(HttpProbe::Get(Url(cam, "/command/inquiry.cgi?inq=sensor")).body, "Sensor1=0\r\nSensor2=0\r\nSensor3=1\r\n");
    EXPECT_EQ(HttpProbe::Get(Url(cam, "/simctl?sensor=9:1")).status, 400);
    EXPECT_EQ(cam.Requests().size(), 3u);
}

TEST(CamsimHttp, BasicAuthentication) {
    CCamera cam(Config(AuthMode::Basic));
    ASSERT_TRUE(cam.Start());
    const std::string t = "/command/inquiry.cgi?inq=sensor";
    const HttpAnswer none = HttpProbe::Get(Url(cam, t));
    EXPECT_EQ(none.status, 401);
    EXPECT_NE(none.headers.find("WWW-Authenticate: Basic realm=\"camsim\""), std::string::npos) << none.headers;
    EXPECT_EQ(HttpProbe::Get(Url(cam, t), HttpProbe::Auth::Basic, "admin", "wrong").status, 401);
    EXPECT_EQ(HttpProbe::Get(Url(cam, t), HttpProbe::Auth::Basic, "admin", "s3cret:x").status, 200);
    const auto log = cam.Requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_FALSE(log[0].authorized);
    EXPECT_FALSE(log[1].authorized);
    EXPECT_TRUE(log[2].authorized);
    EXPECT_EQ(cam.RequestTargets(true), std::vector<std::string>{t});
}

TEST(CamsimHttp, DigestAuthentication) {
    CCamera cam(Config(AuthMode::Digest));
    ASSERT_TRUE(cam.Start());
    const std::string t = "/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=25&JpQuality=6";
    // Basic credentials are refused with a Digest challenge, which is how a
    // client learns the scheme.
    const HttpAnswer basic = HttpProbe::Get(Url(cam, t), HttpProbe::Auth::Basic, "admin", "s3cret:x");
    EXPECT_EQ(basic.status, 401);
    EXPECT_NE(basic.headers.find("WWW-Authenticate: Digest realm=\"camsim\", qop=\"auth\""), std::string::npos)
        << basic.headers;
    EXPECT_EQ(HttpProbe::Get(Url(cam, t), HttpProbe::Auth::Digest, "admin", "s3cret:x").status, 200);
    EXPECT_EQ(HttpProbe::Get(Url(cam, t), HttpProbe::Auth::Digest, "admin", "nope").status, 401);
    EXPECT_EQ(HttpProbe::Get(Url(cam, t), HttpProbe::Auth::Any, "admin", "s3cret:x").status, 200);
    EXPECT_EQ(cam.Settings().jpFrameRate, 25u);
}

TEST(CamsimHttp, HttpsWithGeneratedCertificate) {
    CameraConfig cfg = Config(AuthMode::Basic);
    cfg.https = true;
    CCamera cam(cfg);
    std::string error;
    ASSERT_TRUE(cam.Start(&error)) << error;
    EXPECT_EQ(cam.BaseUrl().rfind("https://127.0.0.1:", 0), 0u);
    EXPECT_NE(cam.CertificatePem().find("BEGIN CERTIFICATE"), std::string::npos);
    const std::string t = "/command/system.cgi?VideoOutMode=NTSC";
    EXPECT_EQ(HttpProbe::Get(Url(cam, t), HttpProbe::Auth::Basic, "admin", "s3cret:x").status, 200);
    EXPECT_EQ(HttpProbe::Get(Url(cam, t)).status, 401);
    // Plain HTTP to the HTTPS port gets no answer.
    EXPECT_EQ(HttpProbe::Get("http://127.0.0.1:" + std::to_string(cam.Port()) + t, HttpProbe::Auth::None, "", "", 2000)
                  .status,
              0);
    EXPECT_EQ(cam.Settings().videoOutMode, "NTSC");
}

TEST(CamsimHttpFaults, StatusRulesByPatternAndCount) {
    CCamera cam(Config());
    ASSERT_TRUE(cam.Start());
    const std::string cam1 = "/command/camera.cgi?Color=color";
    const std::string sys = "/command/system.cgi?VideoOutMode=PAL";
    for (int code : {401, 404, 500}) {
        cam.AddHttpFault({"camera.cgi", HttpFaultAction::Status, code, -1});
        EXPECT_EQ(HttpProbe::Get(Url(cam, cam1)).status, code);
        EXPECT_EQ(HttpProbe::Get(Url(cam, cam1)).status, code);
        EXPECT_EQ(HttpProbe::Get(Url(cam, sys)).status, 200);
        cam.ClearHttpFaults();
        EXPECT_EQ(HttpProbe::Get(Url(cam, cam1)).status, 200);
    }
    // A counted rule through the control language, for every target.
    EXPECT_EQ(HttpProbe::Get(Url(cam, "/simctl?status=503&times=2")).status, 200);
    EXPECT_EQ(HttpProbe::Get(Url(cam, sys)).status, 503);
    EXPECT_EQ(HttpProbe::Get(Url(cam, cam1)).status, 503);
    EXPECT_EQ(HttpProbe::Get(Url(cam, sys)).status, 200);
    EXPECT_TRUE(cam.HttpFaults().empty());
    const auto log = cam.Requests();
    EXPECT_EQ(log[0].fault, "status");
    EXPECT_EQ(log[0].status, 401);
}

TEST(CamsimHttpFaults, CloseWithoutAnswer) {
    CCamera cam(Config());
    ASSERT_TRUE(cam.Start());
    cam.AddHttpFault({"inquiry", HttpFaultAction::Close, 0, 1});
    const std::string t = "/command/inquiry.cgi?inq=sensor";
    EXPECT_EQ(HttpProbe::Raw(cam.Port(), "GET " + t + " HTTP/1.0\r\n\r\n"), "");
    EXPECT_EQ(HttpProbe::Get(Url(cam, t)).status, 200);  // the rule was for one request
    cam.AddHttpFault({"", HttpFaultAction::Close, 0, -1});
    const HttpAnswer a = HttpProbe::Get(Url(cam, t));
    EXPECT_EQ(a.status, 0);
    EXPECT_NE(a.curlCode, 0);
    const auto log = cam.Requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].fault, "close");
    EXPECT_EQ(log[0].status, 0);
    EXPECT_EQ(log[1].fault, "");
}

TEST(CamsimHttpFaults, HangEndsWhenTheClientGivesUp) {
    CCamera cam(Config());
    ASSERT_TRUE(cam.Start());
    cam.AddHttpFault({"camera.cgi", HttpFaultAction::Hang, 0, -1});
    const HttpAnswer a = HttpProbe::Get(Url(cam, "/command/camera.cgi?Color=color"), HttpProbe::Auth::None, "", "", 500);
    EXPECT_EQ(a.status, 0);
    // The camera sees the client go and frees the connection.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (cam.Requests().at(0).fault != "hang" && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(cam.Requests().at(0).fault, "hang");
    // Other requests are served meanwhile and after.
    EXPECT_EQ(HttpProbe::Get(Url(cam, "/command/system.cgi?VideoOutMode=PAL")).status, 200);
}

TEST(CamsimHttpFaults, HangIsReleasedOrEndedByStop) {
    CCamera cam(Config());
    ASSERT_TRUE(cam.Start());
    cam.AddHttpFault({"system.cgi", HttpFaultAction::Hang, 0, 1});
    auto released = std::async(std::launch::async, [&] {
        return HttpProbe::Get(Url(cam, "/command/system.cgi?VideoOutMode=PAL"), HttpProbe::Auth::None, "", "", 10000);
    });
    ASSERT_TRUE(cam.WaitForRequest("system.cgi", 5000).has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(released.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    cam.ReleaseHangs();
    EXPECT_EQ(released.get().status, 200);  // answered as usual once released

    cam.AddHttpFault({"", HttpFaultAction::Hang, 0, -1});
    auto held = std::async(std::launch::async, [&] {
        return HttpProbe::Get(Url(cam, "/command/camera.cgi?Color=color"), HttpProbe::Auth::None, "", "", 20000);
    });
    ASSERT_TRUE(cam.WaitForRequest("camera.cgi", 5000).has_value());
    const auto t0 = std::chrono::steady_clock::now();
    cam.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(held.get().status, 0);
}

TEST(CamsimHttp, ManyCamerasEachWithItsOwnPortAndLog) {
    CCameraFarm farm(2);
    std::string error;
    ASSERT_TRUE(farm.Start(Config(), 4, 0, &error)) << error;
    ASSERT_EQ(farm.Size(), 4u);
    for (size_t i = 0; i < farm.Size(); ++i)
        for (size_t j = i + 1; j < farm.Size(); ++j) EXPECT_NE(farm.At(i).Port(), farm.At(j).Port());
    for (size_t i = 0; i < farm.Size(); ++i)
        EXPECT_EQ(HttpProbe::Get(Url(farm.At(i), "/command/camera.cgi?JpFrameRate=" + std::to_string(i + 1))).status,
                  200);
    for (size_t i = 0; i < farm.Size(); ++i) {
        EXPECT_EQ(farm.At(i).Requests().size(), 1u);
        EXPECT_EQ(farm.At(i).Settings().jpFrameRate, i + 1);
        EXPECT_EQ(farm.At(i).Config().name, "cam" + std::to_string(i));
    }
}
