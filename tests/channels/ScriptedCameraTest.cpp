// The channel's start and signal-loss rules with the camera's answers
// scripted and its time simulated: every pass is one clock step, so the
// counts below are exact.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "capture/VideoChannelParams.h"
#include "channels/CSonyMJPEGChannelRTP.h"
#include "runtime/CSimulatedClock.h"
#include "tests/channels/ChannelTestSupport.h"
#include "tests/host/TestCaptureUser.h"

namespace {

using namespace kestrel;
using channeltest::FakeDriver;

// Answers 200 except for paths containing `failing`, which get `status`
// (0: the request cannot be sent). Records every path asked for.
class ScriptedSender : public Web::CBaseHttpSender {
public:
    struct Script {
        std::mutex lock;
        std::string failing;
        uint32_t status = 200;
        std::vector<std::string> paths;
    };

    ScriptedSender(const DEVICE_INFO& device, std::shared_ptr<Script> script)
        : CBaseHttpSender(device), m_script(std::move(script)) {}

    bool Send(const Web::HttpRequest& request) override {
        std::lock_guard<std::mutex> guard(m_script->lock);
        m_script->paths.push_back(request.path);
        const bool fails = !m_script->failing.empty() && request.path.find(m_script->failing) != std::string::npos;
        m_status = fails ? m_script->status : 200;
        m_error = m_status == 0 ? Web::ErrorCannotConnect : 0;
        return m_status != 0;
    }
    void Cancel() override {}
    uint32_t QueryDataAvailable() override { return 0; }
    uint32_t ReadResponse(std::vector<uint8_t>& out) override {
        out.clear();
        return 0;
    }
    uint32_t ReadData(std::vector<uint8_t>& out, uint32_t, bool) override { return ReadResponse(out); }
    uint32_t StatusCode() const override { return m_status; }
    uint32_t LastError() const override { return m_error; }
    uint32_t ReadFailure() const override { return 0; }
    void ForgetScheme() override {}

private:
    std::shared_ptr<Script> m_script;
    uint32_t m_status = 0;
    uint32_t m_error = 0;
};

constexpr uint32_t kStep = 1000;  // one pass of the channel loop
constexpr uint32_t kLimitMs = 10000;
// clang-format off
const std::vector<std::string> kStartRequests = {
    "system.cgi?VideoOutMode", "RtpExpire",        "PrivacyDispEach=1", "PrivacyDispEach=2", "PrivacyDispEach=3",
    "PrivacyDispEach=4",       "PrivacyDispEach=5", "PrivacyDispEach=6", "PrivacyDispEach=7", "ImageCodec",
    "mjpeg?UdpMode"};

class ScriptedCamera : public ::testing::Test {
protected:
    void Make() {
        VideoChannelParams params;
        params.keepAliveMs = 60000;
        channel = std::make_unique<CSonyMJPEGChannelRTP>(
            &driver, params, std::make_unique<ScriptedSender>(*driver.GetDeviceInfo(), script));
        channel->SetClock(clock);
    }
    // The requests of the passes so far, each shortened to the pattern of
    // kStartRequests it matches.
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> guard(script->lock);
        std::vector<std::string> out;
        for (const auto& path : script->paths) {
            std::string name = "?" + path;
            for (const auto& known : kStartRequests) {
                if (path.find(known) != std::string::npos) name = known;
            }
            out.push_back(name);
        }
        return out;
    }
    // A camera that accepts every request and sends no picture, its channel
    // started and its thread asleep.
    bool StartSilentCamera(uint32_t frameTimeLimitMs) {
        driver.captureUser = &user;
        driver.device.frameTimeLimitMs = frameTimeLimitMs;
        Make();
        return channel->Start(40, 704, 480, 60) && clock.WaitForSleepers(1, kLimitMs);
    }
    void TearDown() override { channel.reset(); }

    testhost::TestCaptureUser user;
    FakeDriver driver;
    CSimulatedClock clock;
    std::shared_ptr<ScriptedSender::Script> script = std::make_shared<ScriptedSender::Script>();
    std::unique_ptr<CSonyMJPEGChannelRTP> channel;
};
// clang-format on

// A refused request ends the pass there; each later pass starts over from
// the first request, and the failure is logged once however often it recurs.
TEST_F(ScriptedCamera, ARefusalEndsThePassAndEachPassStartsOver) {
    struct Row {
        const char* failing;
        uint32_t status;  // 0: not sent at all
        size_t requestsPerPass;
        const char* message;
    };
    const Row rows[] = {
        {"VideoOutMode", 401, 1, "credentials are invalid"},
        {"PrivacyDispEach=4", 404, 6, "URL was not found"},
        {"ImageCodec", 500, 10, "HTTP status code is 500"},
        {"mjpeg", 0, 11, "Device is inaccessible (12029)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failing);
        {
            std::lock_guard<std::mutex> guard(script->lock);
            script->failing = row.failing;
            script->status = row.status;
            script->paths.clear();
        }
        driver.Clear();
        Make();
        ASSERT_TRUE(channel->Start(40, 704, 480, 60));
        for (int pass = 0; pass < 3; ++pass) ASSERT_TRUE(clock.Step(kStep, kLimitMs)) << "pass " << pass;
        channel->Stop();
        const std::vector<std::string> onePass(kStartRequests.begin(),
                                               kStartRequests.begin() + static_cast<long>(row.requestsPerPass));
        std::vector<std::string> expected;
        for (int pass = 0; pass < 4; ++pass) expected.insert(expected.end(), onePass.begin(), onePass.end());
        EXPECT_EQ(Requests(), expected);
        // Logged once per text. The stream request names the RTP port, which is
        // the first free pair of a range other programs use too: a pass that
        // found another pair logs that request once more.
        std::set<std::string> texts;
        for (const auto& m : driver.Messages()) texts.insert(m.text);
        EXPECT_EQ(texts.size(), driver.Messages().size()) << driver.Dump();
        EXPECT_EQ(driver.Count(row.message, 1), texts.size()) << driver.Dump();
        EXPECT_TRUE(texts.size() == 1 || row.status == 0) << driver.Dump();
        EXPECT_GE(texts.size(), 1u);
        EXPECT_NE(channel->GetState(), StateRunning);
    }
}

// A camera that accepts every request but sends no picture: the signal is
// lost on the first pass past the frame time limit, the host is told, and
// the same pass asks for the stream again; the limit then counts afresh.
TEST_F(ScriptedCamera, SignalIsLostOnThePassBeyondTheLimit) {
    ASSERT_TRUE(StartSilentCamera(3000));
    const size_t oneStart = Requests().size();
    EXPECT_EQ(oneStart, kStartRequests.size());
    for (int second = 1; second <= 8; ++second) {
        ASSERT_TRUE(clock.AdvanceAndSettle(kStep, kLimitMs));
        const int losses = second / 4;  // at 4 s and at 8 s
        EXPECT_EQ(user.videoStopped.load(), losses) << "after " << second << " s";
        EXPECT_EQ(Requests().size(), (1 + static_cast<size_t>(losses)) * oneStart) << "after " << second << " s";
        EXPECT_EQ(channel->GetState(), StateRunning) << "after " << second << " s";
    }
    channel->Stop();
    // The camera never sent a picture, so it never was online: nothing to report.
    EXPECT_TRUE(driver.Messages().empty()) << driver.Dump();
}

// A running stream's thread sleeps until its frame timer would run out,
// not once a second: every camera's wake-ups add up. A stream ended by
// another thread (its socket closed) still starts again at once.
TEST_F(ScriptedCamera, RunningChannelSleepsUntilItsFrameTimerRunsOut) {
    ASSERT_TRUE(StartSilentCamera(5000));
    const size_t oneStart = Requests().size();
    const uint64_t waits = clock.WaitsBegun();
    for (int second = 1; second <= 5; ++second) ASSERT_TRUE(clock.AdvanceAndSettle(kStep, kLimitMs));
    EXPECT_EQ(clock.WaitsBegun(), waits) << "woke within the frame time limit";
    EXPECT_EQ(user.videoStopped.load(), 0);
    ASSERT_TRUE(clock.AdvanceAndSettle(kStep, kLimitMs));
    EXPECT_EQ(user.videoStopped.load(), 1) << "lost just past the limit";
    EXPECT_EQ(Requests().size(), 2 * oneStart);

    channel->ReceiverClosed(nullptr);
    EXPECT_TRUE(channeltest::WaitUntil([&] { return Requests().size() == 3 * oneStart; })) << "no time passed";
    EXPECT_TRUE(channeltest::WaitUntil([&] { return channel->GetState() == StateRunning; }));
    channel->Stop();
    EXPECT_EQ(driver.Count("socket for receiving video from camera", 1), 1u) << driver.Dump();
}

}  // namespace
