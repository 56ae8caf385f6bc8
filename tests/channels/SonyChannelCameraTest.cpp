// The channel against a camera played by the test on loopback: its CGI
// interface over real HTTP, its RTP and RTCP over real UDP sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "channels/CSonyMJPEGChannelRTP.h"
#include "driver/VideoChannelParams.h"
#include "tests/channels/FakeCamera.h"
#include "tests/channels/FakeDriver.h"
#include "tests/channels/UdpPeer.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestFrameAllocator.h"

namespace {

using namespace kestrel;
using namespace channeltest;
using namespace std::chrono_literals;

std::vector<uint8_t> MakePicture(size_t size, uint8_t tag) {
    // Appended byte by byte: g++ 12 at -O3 sees a false bound in a range
    // insert after a short initialiser.
    std::vector<uint8_t> p;
    p.reserve(size + 30);
    for (uint8_t b : {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}) p.push_back(b);
    for (int i = 0; i < 14; ++i) p.push_back(tag);
    for (uint8_t b : {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03}) p.push_back(b);
    for (size_t i = p.size(); i < size; ++i) p.push_back(static_cast<uint8_t>((i * 13 + tag) & 0x7F));
    p.resize(size);
    return p;
}

std::string Dump(const std::vector<Message>& messages) {
    std::string out;
    for (const auto& m : messages) out += "\n  " + std::to_string(m.level) + " " + m.text;
    return out;
}

template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class SonyChannel : public ::testing::Test {
protected:
    SonyChannel() {
        driver.device.address = "127.0.0.1";
        driver.device.port = camera.HttpPort();
        driver.device.requestTimeLimitMs = 3000;
        driver.allocator = &allocator;
        driver.captureUser = &user;
        params.channelIndex = 0;
        params.keepAliveMs = 60000;
        params.videoStandard = 0;
        params.qualityMin = 1;
        params.qualityMax = 10;
    }
    ~SonyChannel() override { channel.reset(); }

    void Make() { channel = std::make_unique<CSonyMJPEGChannelRTP>(&driver, params); }
    bool WaitRunning() {
        return WaitUntil([&] { return channel->GetState() == StateRunning; });
    }
    std::string Address() { return "127.0.0.1:" + std::to_string(driver.device.port); }

    FakeCamera camera;
    FakeDriver driver;
    testhost::TestFrameAllocator allocator;
    testhost::TestCaptureUser user;
    VideoChannelParams params;
    std::unique_ptr<CSonyMJPEGChannelRTP> channel;
};

TEST_F(SonyChannel, StartSendsTheRequestSequence) {
    struct Case {
        const char* name;
        int32_t videoMode;
        uint32_t interval;
        int32_t quality;
        int32_t qualityMin, qualityMax;
        int32_t keepAlive;
        const char* mode;
        const char* rate;
        const char* cameraQuality;
    };
    const Case cases[] = {
        {"PAL, 40 ms, 60% of 1..10", 0, 40, 60, 1, 10, 60000, "PAL", "25", "6"},
        {"NTSC, 1000 ms, 60% of 10..1", 1, 1000, 60, 10, 1, 30000, "NTSC", "1", "5"},
        {"other mode, interval 0, 100%", 2, 0, 100, 1, 10, 60000, "IP", "1", "10"},
        {"PAL, 2000 ms, 0% of 20..80", 0, 2000, 0, 20, 80, 5000, "PAL", "0", "20"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        channel.reset();
        camera.Clear();
        params.videoStandard = c.videoMode;
        params.qualityMin = c.qualityMin;
        params.qualityMax = c.qualityMax;
        params.keepAliveMs = c.keepAlive;
        Make();
        ASSERT_TRUE(channel->Start(c.interval, 704, 480, c.quality));
        ASSERT_TRUE(WaitRunning());
        const uint16_t port = camera.StreamPort();
        EXPECT_EQ(port % 2, 0);
        EXPECT_GE(port, 3556);
        EXPECT_LE(port, 4554);
        EXPECT_TRUE(ProcessHoldsUdpPort(port)) << "RTP port held";
        EXPECT_TRUE(ProcessHoldsUdpPort(static_cast<uint16_t>(port + 1))) << "RTCP port held";

        const std::vector<std::string> expected = {
            std::string("/command/system.cgi?VideoOutMode=") + c.mode,
            "/command/camera.cgi?Color=color&Multicast=off&RtpExpire=" + std::to_string(c.keepAlive) +
                "&LightFunnel=off",
            "/command/camera.cgi?PrivacyDispEach=1,off",
            "/command/camera.cgi?PrivacyDispEach=2,off",
            "/command/camera.cgi?PrivacyDispEach=3,off",
            "/command/camera.cgi?PrivacyDispEach=4,off",
            "/command/camera.cgi?PrivacyDispEach=5,off",
            "/command/camera.cgi?PrivacyDispEach=6,off",
            "/command/camera.cgi?PrivacyDispEach=7,off",
            std::string("/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=") + c.rate +
                "&JpQuality=" + c.cameraQuality,
            "/mjpeg?UdpMode=unicast&UdpPort=" + std::to_string(port),
        };
        EXPECT_EQ(camera.Requests(), expected);
        channel->Stop();
        EXPECT_EQ(channel->GetState(), StateStopped);
        EXPECT_FALSE(ProcessHoldsUdpPort(port)) << "RTP port released";
        EXPECT_FALSE(ProcessHoldsUdpPort(static_cast<uint16_t>(port + 1))) << "RTCP port released";
    }
    EXPECT_TRUE(driver.Messages().empty());
}

TEST_F(SonyChannel, DeliversPicturesAsSent) {
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(WaitRunning());
    const uint16_t port = camera.StreamPort();
    UdpPeer rtp;
    RtpSender sender;

    const auto cut = MakePicture(9000, 1);
    sender.SendPicture(rtp, port, cut, 1400, 4200);  // the stream begins mid-picture
    std::vector<std::vector<uint8_t>> sent;
    for (uint8_t tag = 2; tag < 6; ++tag) {
        sent.push_back(MakePicture(20000 + tag * 1000, tag));
        sender.SendPicture(rtp, port, sent.back(), 1400);
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(user.WaitForFrames(sent.size()));
    std::vector<std::vector<uint8_t>> received;
    for (const auto& f : user.Frames()) {
        received.push_back(f.data);
        EXPECT_EQ(f.fourcc, 0x4745504Au);
        EXPECT_EQ(f.width, 704);
        EXPECT_EQ(f.height, 480);
        EXPECT_EQ(f.resolution, 4);
    }
    EXPECT_EQ(received, sent);
    EXPECT_EQ(driver.Count("kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online", 3), 1u);

    // A datagram longer than the port's first buffer (4096) is lost and shows
    // as a gap; the buffer grows, and the next such picture comes through.
    sender.SendPicture(rtp, port, MakePicture(15000, 7), 5000);
    const auto big = MakePicture(15000, 8);
    sender.SendPicture(rtp, port, big, 5000);
    ASSERT_TRUE(user.WaitForFrames(sent.size() + 1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(user.FrameCount(), sent.size() + 1);
    EXPECT_EQ(user.Frames().back().data, big);

    channel->Stop();
    EXPECT_EQ(driver.Count("kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is offline. Channel was stopped", 3),
              1u);
    EXPECT_EQ(driver.Messages().size(), 2u);
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

TEST_F(SonyChannel, FailedRequestsAreLoggedOnceOverRetries) {
    struct Case {
        const char* name;
        const char* failing;  // target prefix that fails
        int status;
        std::string message;  // the text, or its beginning when the port is in it
        bool portInText;      // the local port may change between passes
    };
    // The address text with the camera's port (filled in per case).
    const std::string a = Address();
    const Case cases[] = {
        {"401", "/command/system.cgi", 401,
         "kestrel::CSonyMJPEGChannelRTP::SetCameraVideoMode: Device " + a +
             " is unable to process \"/command/system.cgi?VideoOutMode=PAL\" request: credentials are invalid", false},
        {"404", "/command/camera.cgi?PrivacyDispEach=3", 404,
         "kestrel::CSonyMJPEGChannelRTP::DisablePrivaceZones: The \"/command/camera.cgi?PrivacyDispEach=3,off\" URL was "
         "not found on device " + a, false},
        {"500", "/command/camera.cgi?ImageCodec", 500,
         "kestrel::CSonyMJPEGChannelRTP::StartJPEGStream: " + a +
             " is unable to process \"/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=25&JpQuality=6\" "
             "request. HTTP status code is 500", false},
        {"503 on the stream request", "/mjpeg", 503,
         "kestrel::CSonyMJPEGChannelRTP::StartJPEGStream: " + a + " is unable to process \"mjpeg?UdpMode=unicast&UdpPort=",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        channel.reset();
        driver.Clear();
        camera.Clear();
        const std::string failing = c.failing;
        const int status = c.status;
        camera.SetAnswer([failing, status](const std::string& target) {
            return target.rfind(failing, 0) == 0 ? status : 200;
        });
        Make();
        ASSERT_TRUE(channel->Start(40, 704, 480, 60));
        ASSERT_TRUE(camera.WaitFor(failing, 3)) << "the channel retries about once a second";
        // Stopped while it waits for its next pass: a request cut short by
        // the stop would be logged as well.
        std::this_thread::sleep_for(300ms);
        EXPECT_NE(channel->GetState(), StateRunning);
        channel->Stop();
        const auto messages = driver.Messages();
        ASSERT_FALSE(messages.empty());
        // Once per distinct text: with other programs on the port range the
        // stream request may name another port in the next pass.
        if (!c.portInText) {
            EXPECT_EQ(messages.size(), 1u) << Dump(messages);
        }
        for (size_t i = 0; i < messages.size(); ++i) {
            EXPECT_EQ(messages[i].level, 1);
            EXPECT_EQ(messages[i].text.rfind(c.message, 0), 0u) << messages[i].text;
            if (i > 0) {
                EXPECT_NE(messages[i].text, messages[i - 1].text) << Dump(messages);
            }
        }
        EXPECT_LE(messages.size(), camera.Count(failing)) << Dump(messages);
    }
    camera.SetAnswer(nullptr);
}

TEST_F(SonyChannel, UnreachableCameraIsLoggedOnce) {
    // A TCP port that was just free: nobody listens there.
    uint16_t closedPort = 0;
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length), 0);
        closedPort = ntohs(a.sin_port);
        ::close(fd);
    }
    driver.device.port = closedPort;
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    std::this_thread::sleep_for(2500ms);
    channel->Stop();
    const auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 1u) << Dump(messages);
    EXPECT_EQ(messages[0].level, 1);
    EXPECT_EQ(messages[0].text, "kestrel::CSonyMJPEGChannelRTP::SetCameraVideoMode: 127.0.0.1:" +
                                    std::to_string(closedPort) +
                                    " is unable to process \"/command/system.cgi?VideoOutMode=PAL\" request. Device is "
                                    "inaccessible (12029)");
}

TEST_F(SonyChannel, StopEndsAHungRequestPromptly) {
    for (const char* hang : {"/command/system.cgi", "/command/camera.cgi?PrivacyDispEach=5", "/mjpeg"}) {
        SCOPED_TRACE(hang);
        channel.reset();
        camera.Clear();
        camera.HangOn(hang);
        Make();
        ASSERT_TRUE(channel->Start(40, 704, 480, 60));
        ASSERT_TRUE(camera.WaitFor(hang));
        std::this_thread::sleep_for(100ms);
        const auto begin = std::chrono::steady_clock::now();
        channel->Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
        EXPECT_EQ(channel->GetState(), StateStopped);
        const size_t seen = camera.Requests().size();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(camera.Requests().size(), seen) << "no request after the stop";
        camera.ReleaseHangs();
    }
}

TEST_F(SonyChannel, NoFrameWithinTheLimitLosesTheSignalAndStartsAgain) {
    driver.device.frameTimeLimitMs = 1500;
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(WaitRunning());
    UdpPeer rtp;
    RtpSender sender;
    const uint16_t port = camera.StreamPort();
    sender.SendPicture(rtp, port, MakePicture(3000, 1), 1400);  // ends the discarding
    sender.SendPicture(rtp, port, MakePicture(3000, 2), 1400);
    ASSERT_TRUE(user.WaitForFrames(1));

    // The camera falls silent: the signal is lost, the host told, and the
    // channel starts the stream again (and again, logging nothing more).
    ASSERT_TRUE(driver.WaitFor("kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1"));
    EXPECT_GE(user.videoStopped.load(), 1);
    ASSERT_TRUE(camera.WaitFor("/mjpeg", 3));
    EXPECT_GE(user.videoStopped.load(), 2);
    ASSERT_TRUE(WaitRunning());  // not inside a request, whose cancelling would be logged
    channel->Stop();
    const auto messages = driver.Messages();
    ASSERT_EQ(messages.size(), 2u) << Dump(messages);
    EXPECT_EQ(messages[0].level, 3);
    EXPECT_EQ(messages[1].level, 1);
    EXPECT_EQ(messages[1].text, "kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1");
}

TEST_F(SonyChannel, RtpPortWhoseRtcpPartnerIsTakenIsSkipped) {
    // The lowest even port whose pair is free right now; hold its RTCP half.
    uint16_t first = 0;
    for (uint16_t p = 3556; p <= 4554 && first == 0; p += 2) {
        if (UdpPeer::IsFree(p) && UdpPeer::IsFree(static_cast<uint16_t>(p + 1))) first = p;
    }
    ASSERT_NE(first, 0);
    UdpPeer rtcpHolder(static_cast<uint16_t>(first + 1));
    ASSERT_TRUE(rtcpHolder.Bound());

    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(WaitRunning());
    EXPECT_GT(camera.StreamPort(), first);
    EXPECT_EQ(camera.StreamPort() % 2, 0);
    EXPECT_FALSE(ProcessHoldsUdpPort(first)) << "the RTP port of the broken pair was closed again";
    EXPECT_TRUE(ProcessHoldsUdpPort(camera.StreamPort()));
}

TEST_F(SonyChannel, AllPortsTakenMeansRetryingUntilOneIsFree) {
    // Hold every even port of the range. Ports other programs hold are
    // taken over as soon as they free them, until the channel has tried a
    // few passes.
    std::vector<std::unique_ptr<UdpPeer>> held;
    for (uint16_t p = 3556; p <= 4554; p += 2) held.push_back(std::make_unique<UdpPeer>(p));
    std::atomic<bool> grabbing{true};
    std::thread grabber([&] {
        while (grabbing.load()) {
            for (size_t i = 0; i < held.size(); ++i) {
                if (!held[i]->Bound()) held[i] = std::make_unique<UdpPeer>(static_cast<uint16_t>(3556 + 2 * i));
            }
            std::this_thread::sleep_for(2ms);
        }
    });
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    std::this_thread::sleep_for(2500ms);
    grabbing = false;
    grabber.join();
    if (!camera.Requests().empty()) {
        GTEST_SKIP() << "another program released a port of the range before the test could hold it";
    }
    EXPECT_EQ(channel->GetState(), StateStopped);

    // Free one pair near the end of the range.
    size_t index = held.size();
    while (index > 0 && !(held[index - 1]->Bound() && UdpPeer::IsFree(static_cast<uint16_t>(3556 + 2 * index - 1)))) {
        --index;
    }
    ASSERT_GT(index, 0u);
    --index;
    const uint16_t freed = static_cast<uint16_t>(3556 + 2 * index);
    held[index].reset();
    if (!WaitRunning()) {
        if (!ProcessHoldsUdpPort(freed) && !UdpPeer::IsFree(freed)) {
            GTEST_SKIP() << "another program took the freed port " << freed;
        }
        FAIL() << "the channel did not take the freed port " << freed;
    }
    // Normally the freed pair; another program on the range may free one too.
    const uint16_t port = camera.StreamPort();
    EXPECT_EQ(port % 2, 0);
    EXPECT_TRUE(ProcessHoldsUdpPort(port));
    if (port != freed) std::printf("stream port %u, not the freed %u: another program released one\n", port, freed);
    EXPECT_TRUE(driver.Messages().empty());
}

TEST_F(SonyChannel, AnswersSenderReportsAndSaysGoodbye) {
    params.keepAliveMs = 4000;  // reports at least every 2000 ms
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(WaitRunning());
    const uint16_t rtcpPort = static_cast<uint16_t>(camera.StreamPort() + 1);
    UdpPeer rtcp;

    // Before the camera's first sender report, nothing is sent.
    EXPECT_FALSE(rtcp.Receive(300ms).has_value());
    ASSERT_TRUE(rtcp.SendTo(rtcpPort, SenderReport()));
    auto report = rtcp.Receive(2000ms);
    ASSERT_TRUE(report.has_value());
    ASSERT_EQ(report->size(), 32u);
    EXPECT_EQ((*report)[0], 0x81);
    EXPECT_EQ((*report)[1], 201);
    // Without further sender reports, one per interval.
    report = rtcp.Receive(4000ms);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ((*report)[1], 201);

    channel->Stop();
    std::optional<std::vector<uint8_t>> bye;
    for (int i = 0; i < 5 && !(bye && bye->size() == 8); ++i) bye = rtcp.Receive(1000ms);
    ASSERT_TRUE(bye.has_value());
    ASSERT_EQ(bye->size(), 8u);
    EXPECT_EQ((*bye)[1], 203);
}

}  // namespace
