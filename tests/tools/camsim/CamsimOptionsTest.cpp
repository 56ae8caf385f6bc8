// halyard-camsim's command line: what each option turns into and which
// combinations are refused before any camera starts.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tools/camsim/CCamsimOptions.h"

using namespace camsim;

namespace {

struct Parsed {
    std::optional<int> status;
    std::string out, err;
    CCamsimOptions options;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "halyard-camsim");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    Parsed run;
    std::ostringstream out, err;
    run.status = run.options.Parse(static_cast<int>(argv.size()), argv.data(), out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::string TempFile(const std::string& name, const std::string& content) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

}  // namespace

TEST(CamsimOptions, RefusedCombinationsEndWithStatusAndReason) {
    const std::string pem = TempFile("camsim-options.pem", "not read here\n");
    const std::string longPassword = TempFile("camsim-options-long", std::string(5000, 'x'));
    struct Case {
        std::vector<std::string> args;
        int status;          // -1: any nonzero status
        const char* reason;  // in the error text
    } cases[] = {
        {{"--auth", "kerberos"}, -1, "--auth"},
        {{"--size", "big"}, 2, "--size"},
        {{"--https", "--cert", pem}, 2, "--cert and --key"},
        {{"--password", "secret"}, 2, "--password-file"},
        {{"--password-file", "/nonexistent/pw"}, -1, "--password-file"},
        {{"--password-file", longPassword}, 2, "at most 4096"},
        {{"--stream-to", "5000"}, 2, "--stream-to"},
        {{"--stream-to", "127.0.0.1:0"}, 2, "--stream-to"},
        {{"--stream-to", "127.0.0.1:x"}, 2, "--stream-to"},
        // Camera 2 would stream to 65536.
        {{"--stream-to", "127.0.0.1:65534", "--cameras", "2"}, 2, "--stream-to"},
        {{"--cameras", "0"}, -1, "--cameras"},
        {{"--settings-status", "201"}, -1, "--settings-status"},
    };
    for (const auto& c : cases) {
        const Parsed run = Parse(c.args);
        const std::string what = c.args[0] + " " + c.args[1];
        ASSERT_TRUE(run.status.has_value()) << what;
        if (c.status < 0)
            EXPECT_NE(*run.status, 0) << what;
        else
            EXPECT_EQ(*run.status, c.status) << what;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << what << ": " << run.err;
        EXPECT_EQ(run.err.find("secret"), std::string::npos) << "a password was printed";
    }
}

TEST(CamsimOptions, HelpEndsWithStatusZero) {
    const Parsed run = Parse({"--help"});
    ASSERT_EQ(run.status, 0);
    for (const char* part : {"Usage:", "--cameras", "--stream-to", "drop=F"})
        EXPECT_NE(run.out.find(part), std::string::npos) << part;
}

TEST(CamsimOptions, DefaultsGiveOneOpenCameraOnAFreePort) {
    const Parsed run = Parse({});
    ASSERT_FALSE(run.status.has_value()) << run.err;
    const CCamsimOptions& o = run.options;
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.cameras, 1u);
    EXPECT_EQ(o.streamPort, 0);
    EXPECT_EQ(o.camera.auth, AuthMode::None);
    EXPECT_EQ(o.camera.bindAddress, "127.0.0.1");
    EXPECT_EQ(o.camera.defaultWidth * 1000 + o.camera.defaultHeight, 352u * 1000 + 288);
    EXPECT_FALSE(o.camera.firstSequence.has_value());
    EXPECT_FALSE(o.camera.ssrc.has_value());
    EXPECT_TRUE(o.camera.controlEnabled);
    EXPECT_FALSE(o.camera.controlAnyPeer);
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST(CamsimOptions, EveryOptionReachesItsCameraSetting) {
    const std::string pw = TempFile("camsim-options-pw", "s3cret\r\nsecond line ignored\n");
    const Parsed run = Parse({"--bind",
                              "127.0.0.2",
                              "--base-port",
                              "18080",
                              "-n",
                              "3",
                              "--auth",
                              "digest",
                              "--user",
                              "admin",
                              "--password-file",
                              pw,
                              "--realm",
                              "r",
                              "--settings-status",
                              "204",
                              "--sensors",
                              "4",
                              "--alarm-outputs",
                              "3",
                              "--size",
                              "VGA",
                              "--quality",
                              "9",
                              "--fps",
                              "30",
                              "--ring",
                              "7",
                              "--payload",
                              "1000",
                              "--sr-interval",
                              "250",
                              "--rtp-expire",
                              "9000",
                              "--first-seq",
                              "65535",
                              "--ssrc",
                              "4294967295",
                              "--seed",
                              "42",
                              "--no-control",
                              "--simctl-any-peer",
                              "--http-threads",
                              "8",
                              "--sender-threads",
                              "2",
                              "--stream-to",
                              "10.0.0.1:40000",
                              "--duration",
                              "1.5",
                              "-q"});
    ASSERT_FALSE(run.status.has_value()) << run.err;
    const CCamsimOptions& o = run.options;
    const CameraConfig& c = o.camera;
    EXPECT_EQ(c.bindAddress, "127.0.0.2");
    EXPECT_EQ(o.port, 18080);
    EXPECT_EQ(o.cameras, 3u);
    EXPECT_EQ(c.auth, AuthMode::Digest);
    EXPECT_EQ(c.user, "admin");
    EXPECT_EQ(c.password, "s3cret");
    EXPECT_EQ(c.realm, "r");
    EXPECT_EQ(c.settingsStatus, 204);
    EXPECT_EQ(c.sensorCount, 4u);
    EXPECT_EQ(c.alarmOutputCount, 3u);
    EXPECT_EQ(c.defaultWidth * 1000 + c.defaultHeight, 640u * 1000 + 480);
    EXPECT_EQ(c.defaultQuality, 9u);
    EXPECT_EQ(c.defaultFrameRate, 30u);
    EXPECT_EQ(c.ringSize, 7u);
    EXPECT_EQ(c.maxPayload, 1000u);
    EXPECT_EQ(c.srIntervalMs, 250u);
    EXPECT_EQ(c.defaultRtpExpireMs, 9000u);
    EXPECT_EQ(c.firstSequence, std::optional<uint16_t>(65535));
    EXPECT_EQ(c.ssrc, std::optional<uint32_t>(0xFFFFFFFFu));
    EXPECT_EQ(c.faultSeed, 42u);
    EXPECT_FALSE(c.controlEnabled);
    EXPECT_TRUE(c.controlAnyPeer);
    EXPECT_EQ(c.httpThreads, 8u);
    EXPECT_EQ(o.senderThreads, 2u);
    EXPECT_EQ(o.streamHost, "10.0.0.1");
    EXPECT_EQ(o.streamPort, 40000);
    EXPECT_DOUBLE_EQ(o.durationSeconds, 1.5);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(run.err.find("s3cret"), std::string::npos);
}

TEST(CamsimOptions, AuthWithoutUserRunsWithANote) {
    const Parsed run = Parse({"--auth", "basic"});
    ASSERT_FALSE(run.status.has_value());
    EXPECT_EQ(run.options.camera.auth, AuthMode::Basic);
    EXPECT_NE(run.err.find("no client can log in"), std::string::npos) << run.err;
}
