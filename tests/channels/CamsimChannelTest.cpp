// The channel against the camera simulator on loopback: HTTP set-up, RTP
// pictures checked against the simulator's stamps, RTCP, local ports.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

#include "capture/VideoChannelParams.h"
#include "channels/CSonyMJPEGChannelRTP.h"
#include "runtime/CSimulatedClock.h"
#include "tests/channels/ChannelTestSupport.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestFrameAllocator.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CPictureStamp.h"

namespace {

using namespace kestrel;
using namespace channeltest;
using namespace std::chrono_literals;

constexpr uint16_t kFirstPort = 3556, kLastPort = 4554;
const std::string kOnline = "kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online";
const std::string kSignalLost = "kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1";

// A stranger on 127.0.0.2 that keeps sending an RTP header to the first
// ports of the range, as a hostile device beside the camera would.
class StrangerSpray {
public:
    StrangerSpray() : m_thread([this] { Run(); }) {}
    ~StrangerSpray() {
        m_stop = true;
        m_thread.join();
    }
    StrangerSpray(const StrangerSpray&) = delete;
    StrangerSpray& operator=(const StrangerSpray&) = delete;

private:
    void Run() {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7F000002);
        if (fd < 0) return;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            ::close(fd);
            return;
        }
        const uint8_t rtp[] = {0x80, 26, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
        while (!m_stop) {
            for (uint16_t port = kFirstPort; port < kFirstPort + 32; ++port) {
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = htonl(0x7F000001);
                to.sin_port = htons(port);
                ::sendto(fd, rtp, sizeof rtp, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            }
            std::this_thread::sleep_for(5ms);
        }
        ::close(fd);
    }
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class CamsimChannel : public ::testing::Test {
protected:
    void StartCamera(camsim::CameraConfig config = {}) {
        if (camera) camera->Stop();
        camera = std::make_unique<camsim::CCamera>(std::move(config));
        std::string error;
        ASSERT_TRUE(camera->Start(&error)) << error;
        driver.device.port = camera->Port();
        driver.allocator = &allocator;
        driver.captureUser = &user;
    }
    void Make(int32_t videoMode = 0, int32_t keepAliveMs = 60000, int32_t qualityMin = 1, int32_t qualityMax = 10) {
        channel.reset();
        VideoChannelParams params;
        params.keepAliveMs = keepAliveMs;
        params.videoStandard = videoMode;
        params.qualityMin = qualityMin;
        params.qualityMax = qualityMax;
        channel = std::make_unique<CSonyMJPEGChannelRTP>(&driver, params);
        if (simulatedTime) channel->SetClock(clock);
    }
    // With simulated time: steps one pass of the channel loop at a time (the
    // simulator still acts in real time within each) until `done`.
    template <typename Predicate>
    bool PassUntil(Predicate done, int maxPasses = 30) {
        for (int pass = 0; !done(); ++pass) {
            if (pass == maxPasses || !clock.AdvanceAndSettle(1000, 10000)) return false;
        }
        return true;
    }
    void TearDown() override {
        channel.reset();
        if (camera) camera->Stop();
    }
    bool WaitRunning() {
        return WaitUntil([&] { return channel->GetState() == StateRunning; });
    }
    size_t RequestsWith(const std::string& pattern) {
        size_t n = 0;
        for (const auto& t : camera->RequestTargets()) n += t.find(pattern) != std::string::npos;
        return n;
    }
    uint16_t StreamPort() {
        const auto targets = camera->RequestTargets();
        const size_t at = targets.empty() ? std::string::npos : targets.back().find("UdpPort=");
        return at == std::string::npos ? 0 : static_cast<uint16_t>(std::stoul(targets.back().substr(at + 8)));
    }
    // Every delivered picture is one the simulator sent, byte for byte;
    // returns their frame numbers.
    std::vector<uint32_t> CheckedFrameNumbers() {
        std::vector<uint32_t> numbers;
        for (const auto& f : user.Frames()) {
            camsim::PictureStampInfo info;
            const auto result = camsim::CPictureStamp::Verify(f.data.data(), f.data.size(), &info);
            EXPECT_EQ(result, camsim::StampResult::Ok) << camsim::CPictureStamp::ResultText(result);
            EXPECT_FALSE(info.padded) << "an oversized picture was delivered";
            numbers.push_back(info.frameNumber);
        }
        return numbers;
    }

    FakeDriver driver;
    testhost::TestFrameAllocator allocator;
    testhost::TestCaptureUser user;
    std::unique_ptr<camsim::CCamera> camera;
    std::unique_ptr<CSonyMJPEGChannelRTP> channel;
    // The channel's timers; set before Make. RTCP and the simulator keep
    // real time.
    bool simulatedTime = false;
    CSimulatedClock clock;
};

TEST_F(CamsimChannel, StartSendsTheRequestsInOrderOnAPortPair) {
    struct Case {
        const char* name;
        int32_t videoMode;
        uint32_t interval;
        int32_t quality, qualityMin, qualityMax, keepAlive;
        std::string mode, rate, cameraQuality;
    };
    const Case cases[] = {
        {"PAL, 40 ms, 60% of 1..10", 0, 40, 60, 1, 10, 60000, "PAL", "25", "6"},
        {"NTSC, 1000 ms, 60% of 10..1", 1, 1000, 60, 10, 1, 30000, "NTSC", "1", "5"},
        {"other mode, interval 0, 100%", 2, 0, 100, 1, 10, 60000, "IP", "1", "10"},
        {"PAL, 2000 ms, 0% of 20..80", 0, 2000, 0, 20, 80, 5000, "PAL", "0", "20"},
    };
    StartCamera();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        camera->ClearRequests();
        Make(c.videoMode, c.keepAlive, c.qualityMin, c.qualityMax);
        ASSERT_TRUE(channel->Start(c.interval, 704, 480, c.quality));
        ASSERT_TRUE(WaitRunning());
        const uint16_t port = StreamPort();
        EXPECT_EQ(port % 2, 0);
        EXPECT_GE(port, kFirstPort);
        EXPECT_LE(port, kLastPort);
        EXPECT_TRUE(ProcessHoldsUdpPort(port) && ProcessHoldsUdpPort(uint16_t(port + 1))) << "RTP and RTCP held";
        // clang-format off
        std::vector<std::string> expected = {
            "/command/system.cgi?VideoOutMode=" + c.mode,
            "/command/camera.cgi?Color=color&Multicast=off&RtpExpire=" + std::to_string(c.keepAlive) + "&LightFunnel=off"};
        for (int zone = 1; zone <= 7; ++zone) {
            expected.push_back("/command/camera.cgi?PrivacyDispEach=" + std::to_string(zone) + ",off");
        }
        // clang-format on
        expected.push_back("/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=" + c.rate +
                           "&JpQuality=" + c.cameraQuality);
        // The sender puts the leading slash the stream path lacks.
        expected.push_back("/mjpeg?UdpMode=unicast&UdpPort=" + std::to_string(port));
        EXPECT_EQ(camera->RequestTargets(true), expected);
        channel->Stop();
        EXPECT_EQ(channel->GetState(), StateStopped);
        EXPECT_FALSE(ProcessHoldsUdpPort(port) || ProcessHoldsUdpPort(uint16_t(port + 1))) << "both released";
    }
}

TEST_F(CamsimChannel, PicturesArriveWholeAcrossTheWrapAndDamageCostsOnlyPictures) {
    camsim::CameraConfig config;
    config.firstSequence = 65500;  // wraps within the first pictures
    StartCamera(config);
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(user.WaitForFrames(20));
    auto numbers = CheckedFrameNumbers();
    EXPECT_GE(numbers.front(), 1u) << "the first picture of the stream is never delivered";
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(numbers[i], numbers.front() + i) << "none lost";
    EXPECT_LT(camera->GetStreamStats().nextSequence, 65500) << "the numbering wrapped";
    const auto frame = user.Frames().front();
    EXPECT_EQ(frame.fourcc, 0x4745504Au);
    EXPECT_EQ(frame.width * 1000 + frame.height, 704480);
    EXPECT_EQ(frame.resolution, 4);
    // Lost, repeated and swapped packets, a jump in the numbering, a datagram
    // longer than the port's first buffer and a picture over the size limit:
    // each costs pictures, none gives a damaged one.
    camsim::RtpFaults faults;
    faults.dropFraction = faults.duplicateFraction = faults.reorderFraction = 0.02;
    camera->SetRtpFaults(faults);
    std::this_thread::sleep_for(1500ms);
    camera->ResetFaults();
    camera->JumpSequence(1000);
    camera->SendLongDatagram(5000);
    ASSERT_TRUE(camera->SendOversizedPicture());
    ASSERT_TRUE(user.WaitForFrames(user.FrameCount() + 10));
    channel->Stop();
    numbers = CheckedFrameNumbers();
    EXPECT_LT(numbers.size(), numbers.back() + 1 - numbers.front()) << "some pictures were lost on purpose";
    EXPECT_EQ(driver.Count(kOnline, 3), 1u);
    EXPECT_EQ(driver.Count(
                  "kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is offline. Channel was stopped", 3),
              1u);
    EXPECT_EQ(driver.Messages().size(), 2u) << driver.Dump();
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return camera->GetStreamStats().byes == 1; })) << "RTCP said goodbye";
}

TEST_F(CamsimChannel, SilentCameraLosesTheSignalAndIsStartedAgain) {
    StartCamera();
    driver.device.frameTimeLimitMs = 1500;
    simulatedTime = true;
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(user.WaitForFrames(3));
    camera->SetPaused(true);
    ASSERT_TRUE(PassUntil([&] { return driver.Count(kSignalLost) == 1; }));
    EXPECT_GE(user.videoStopped.load(), 1);
    ASSERT_TRUE(PassUntil([&] { return camera->StreamStarts() >= 3; })) << "started again, and again";
    camera->SetPaused(false);
    // No time passes once it runs: the pictures need not race the clock.
    ASSERT_TRUE(PassUntil([&] { return channel->GetState() == StateRunning; }));
    ASSERT_TRUE(user.WaitForFrames(user.FrameCount() + 3));
    channel->Stop();
    CheckedFrameNumbers();
    EXPECT_EQ(driver.Count(kSignalLost, 1), 1u) << driver.Dump();
    EXPECT_EQ(driver.Count(kOnline, 3), 2u) << driver.Dump();
}

// The stream started again runs on a new receive thread; a host stopping
// the channel from that thread's frame callback must not be made to wait
// for the thread it is on.
TEST_F(CamsimChannel, StopFromTheFrameCallbackOfAStreamStartedAgain) {
    struct HookUser : testhost::TestCaptureUser {
        int SendFrameCallback(uint32_t index, IFrameBuffer* alternate, IFrameBuffer* frame) override {
            if (armed.exchange(false)) hook();
            return TestCaptureUser::SendFrameCallback(index, alternate, frame);
        }
        std::function<void()> hook;  // set before armed
        std::atomic<bool> armed{false};
    } hookUser;
    StartCamera();
    driver.captureUser = &hookUser;
    driver.device.frameTimeLimitMs = 1500;
    simulatedTime = true;
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(hookUser.WaitForFrames(3));
    camera->SetPaused(true);
    ASSERT_TRUE(PassUntil([&] { return camera->StreamStarts() >= 2; }));
    camera->SetPaused(false);
    ASSERT_TRUE(PassUntil([&] { return channel->GetState() == StateRunning; }));
    ASSERT_TRUE(hookUser.WaitForFrames(hookUser.FrameCount() + 2));
    std::atomic<bool> returned{false};
    hookUser.hook = [&] {
        channel->Stop();
        returned = true;
    };
    hookUser.armed = true;
    EXPECT_TRUE(WaitUntil([&] { return returned.load(); })) << "Stop inside the frame callback never returned";
    channel->Stop();
    EXPECT_EQ(channel->GetState(), StateStopped);
    channel.reset();
    driver.captureUser = &user;
}

// Another host on the camera network sends to both ports of the stream:
// nothing of it reaches the host, and the stop reports it once.
TEST_F(CamsimChannel, StrangersAreDroppedAndReportedOncePerStreamStart) {
    StartCamera();
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(user.WaitForFrames(2));
    const uint16_t port = StreamPort();
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000002);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    auto send = [&](uint16_t to, const std::vector<uint8_t>& bytes) {
        sockaddr_in d{};
        d.sin_family = AF_INET;
        d.sin_addr.s_addr = htonl(0x7F000001);
        d.sin_port = htons(to);
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&d), sizeof d);
    };
    // RTP with the marker set and a whole tiny JPEG; RTCP sender reports.
    const std::vector<uint8_t> rtp = {0x80, 0x80 | 26, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0xD8, 0xFF, 0xD9};
    const std::vector<uint8_t> sr = {0x80, 200, 0, 6, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0,
                                     0,    3,   0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6};
    for (int i = 0; i < 30; ++i) send(port, rtp);
    for (int i = 0; i < 4; ++i) send(static_cast<uint16_t>(port + 1), sr);
    ASSERT_TRUE(user.WaitForFrames(user.FrameCount() + 5));
    channel->Stop();
    ::close(fd);
    CheckedFrameNumbers();
    EXPECT_EQ(driver.Count("datagrams not sent by camera", 3), 1u) << driver.Dump();
    // At least ours: a hostile test running beside this one sends from
    // 127.0.0.2 into the same port range and may hit this port too.
    const std::regex report(
        "dropped ([0-9]+) RTP and ([0-9]+) RTCP datagrams not sent by camera 127\\.0\\.0\\.1 \\(127\\.0\\.0\\.1\\), "
        "the last from 127\\.0\\.0\\.2:[0-9]+$");
    size_t reports = 0;
    for (const auto& m : driver.Messages()) {
        std::smatch counts;
        if (!std::regex_search(m.text, counts, report)) continue;
        ++reports;
        EXPECT_GE(std::stoul(counts[1]), 30u) << m.text;
        EXPECT_GE(std::stoul(counts[2]), 4u) << m.text;
    }
    EXPECT_EQ(reports, 1u) << driver.Dump();
    EXPECT_EQ(driver.Messages().size(), 3u) << "online, offline, the drops and nothing else" << driver.Dump();
}

// The camera given by name: resolved at the stream start, so that its RTCP
// is accepted and answered; a name that resolves to nothing starts nothing
// and says so once over many tries.
TEST_F(CamsimChannel, CameraByName) {
    camsim::CameraConfig config;
    config.srIntervalMs = 200;
    StartCamera(config);
    driver.device.address = "localhost";
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(user.WaitForFrames(3));
    EXPECT_TRUE(WaitUntil([&] { return camera->GetStreamStats().receiverReports >= 2; }))
        << "the camera's sender reports were not answered";
    channel->Stop();
    CheckedFrameNumbers();

    driver.device.address = "no-such-camera.invalid";
    driver.Clear();
    camera->ClearRequests();
    simulatedTime = true;
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(WaitUntil([&] { return driver.Count("names no IPv4 address") >= 1; }));
    for (int retry = 0; retry < 2; ++retry) ASSERT_TRUE(clock.AdvanceAndSettle(1000, 10000));
    channel->Stop();
    EXPECT_EQ(
        driver.Count("kestrel::CSonyMJPEGChannelRTP::OpenPorts: camera address \"no-such-camera.invalid\" names no "
                     "IPv4 address",
                     1),
        1u)
        << driver.Dump();
    EXPECT_TRUE(camera->RequestTargets().empty());
}

TEST_F(CamsimChannel, FailedRequestsAreLoggedOnceOverRetries) {
    const std::string c = "kestrel::CSonyMJPEGChannelRTP::";
    struct Case {
        const char* name;
        const char* pattern;  // the failing request, null: no camera
        int status;           // 401: the password is refused
        std::string text;     // the message, or its beginning when it names a local port
    };
    const Case cases[] = {
        {"401", "VideoOutMode", 401,
         c + "SetCameraVideoMode: Device @ is unable to process \"/command/system.cgi?VideoOutMode=PAL\" request: "
             "credentials are invalid"},
        {"404", "PrivacyDispEach=3", 404,
         c + "DisablePrivaceZones: The \"/command/camera.cgi?PrivacyDispEach=3,off\" URL was not found on device @"},
        {"500", "ImageCodec", 500,
         c + "StartJPEGStream: @ is unable to process \"/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&"
             "JpFrameRate=25&JpQuality=6\" request. HTTP status code is 500"},
        // With other programs on the port range, each pass may name another port.
        {"503", "mjpeg", 503, c + "StartJPEGStream: @ is unable to process \"mjpeg?UdpMode=unicast&UdpPort="},
        {"no camera", nullptr, 0,
         c + "SetCameraVideoMode: @ is unable to process \"/command/system.cgi?VideoOutMode=PAL\" request. Device is "
             "inaccessible (12029)"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        camsim::CameraConfig config;
        if (row.status == 401) {
            config.auth = camsim::AuthMode::Digest;
            config.user = driver.device.userName = "admin";
            config.password = "secret";
            driver.device.password = "wrong";
        }
        StartCamera(config);
        std::string text = row.text;
        text.replace(text.find('@'), 1, "127.0.0.1:" + std::to_string(camera->Port()));
        if (row.status > 401) camera->AddHttpFault({row.pattern, camsim::HttpFaultAction::Status, row.status, -1});
        if (row.pattern == nullptr) camera->Stop();  // nobody listens on its port now
        driver.Clear();
        simulatedTime = true;
        Make();
        // Strangers reported between passes do not make the failure new.
        const StrangerSpray stranger;
        ASSERT_TRUE(channel->Start(40, 704, 480, 60));
        // Stopped between passes: a request cut short by the stop would be
        // logged too.
        if (row.pattern == nullptr) {
            for (int retry = 0; retry < 2; ++retry) ASSERT_TRUE(clock.AdvanceAndSettle(1000, 10000));
        } else {
            ASSERT_TRUE(PassUntil([&] { return RequestsWith(row.pattern) >= 3; })) << "retried once a pass";
        }
        EXPECT_NE(channel->GetState(), StateRunning);
        channel->Stop();
        // The strangers' reports are right; they are not a second log.
        auto m = driver.Messages();
        std::erase_if(m, [&](const auto& x) { return x.text.rfind(c + "ClosePorts: dropped ", 0) == 0; });
        ASSERT_FALSE(m.empty());
        if (row.status != 503) {
            EXPECT_EQ(m.size(), 1u) << driver.Dump();
        }
        for (size_t i = 0; i < m.size(); ++i) {
            EXPECT_EQ(m[i].level, 1);
            EXPECT_EQ(m[i].text.rfind(text, 0), 0u) << m[i].text;
            EXPECT_TRUE(i == 0 || m[i].text != m[i - 1].text) << driver.Dump();
            EXPECT_EQ(m[i].text.find("wrong"), std::string::npos) << "a password is never logged";
        }
        driver.device.userName = driver.device.password = "";
    }
}

TEST_F(CamsimChannel, StopEndsAHungRequestPromptly) {
    StartCamera();
    for (const char* hang : {"VideoOutMode", "PrivacyDispEach=5", "mjpeg"}) {
        SCOPED_TRACE(hang);
        camera->AddHttpFault({hang, camsim::HttpFaultAction::Hang, 0, -1});
        const uint64_t from = camera->Requests().size();
        Make();
        ASSERT_TRUE(channel->Start(40, 704, 480, 60));
        ASSERT_TRUE(camera->WaitForRequest(hang, 10000, from).has_value());
        std::this_thread::sleep_for(100ms);
        const auto begin = std::chrono::steady_clock::now();
        channel->Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
        EXPECT_EQ(channel->GetState(), StateStopped);
        const size_t seen = camera->Requests().size();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(camera->Requests().size(), seen) << "no request after the stop";
        camera->ClearHttpFaults();
    }
}

TEST_F(CamsimChannel, RtpPortWhoseRtcpPartnerIsTakenIsSkipped) {
    uint16_t first = 0;  // the lowest pair free right now; its RTCP half is held
    for (uint16_t p = kFirstPort; p <= kLastPort && first == 0; p += 2) {
        if (HeldUdpPort::IsFree(p) && HeldUdpPort::IsFree(uint16_t(p + 1))) first = p;
    }
    ASSERT_NE(first, 0);
    HeldUdpPort rtcpHolder(uint16_t(first + 1));
    ASSERT_TRUE(rtcpHolder.Bound());
    StartCamera();
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    ASSERT_TRUE(WaitRunning());
    // Not "above first": a test running beside this one may free a lower pair meanwhile.
    EXPECT_NE(StreamPort(), first);
    EXPECT_FALSE(ProcessHoldsUdpPort(first)) << "the RTP half of the broken pair was closed again";
}

TEST_F(CamsimChannel, AllPortsTakenMeansRetryingUntilOneIsFree) {
    // Hold every even port; ports other programs hold are taken over as soon
    // as they free them, while the channel tries a few passes.
    std::vector<std::unique_ptr<HeldUdpPort>> held;
    auto portAt = [](size_t i) { return static_cast<uint16_t>(kFirstPort + 2 * i); };
    for (size_t i = 0; portAt(i) <= kLastPort; ++i) held.push_back(std::make_unique<HeldUdpPort>(portAt(i)));
    std::atomic<bool> grabbing{true};
    std::thread grabber([&] {
        while (grabbing.load()) {
            for (size_t i = 0; i < held.size(); ++i) {
                if (!held[i]->Bound()) held[i] = std::make_unique<HeldUdpPort>(portAt(i));
            }
            std::this_thread::sleep_for(2ms);
        }
    });
    StartCamera();
    simulatedTime = true;
    Make();
    ASSERT_TRUE(channel->Start(40, 704, 480, 60));
    for (int pass = 0; pass < 2; ++pass) ASSERT_TRUE(clock.AdvanceAndSettle(1000, 10000));
    grabbing = false;
    grabber.join();
    if (RequestsWith("mjpeg") != 0) GTEST_SKIP() << "another program released a port before the test could hold it";
    EXPECT_EQ(channel->GetState(), StateStopped);
    // Free a pair near the end of the range.
    size_t index = held.size();
    while (index > 0 && !(held[index - 1]->Bound() && HeldUdpPort::IsFree(uint16_t(portAt(index - 1) + 1)))) --index;
    ASSERT_GT(index, 0u);
    const uint16_t freed = portAt(--index);
    held[index].reset();
    if (!PassUntil([&] { return channel->GetState() == StateRunning; }, 5)) {
        if (!ProcessHoldsUdpPort(freed) && !HeldUdpPort::IsFree(freed))
            GTEST_SKIP() << "another program took " << freed;
        FAIL() << "the channel did not take the freed port " << freed;
    }
    EXPECT_TRUE(ProcessHoldsUdpPort(StreamPort()));  // normally the freed pair
    EXPECT_TRUE(driver.Messages().empty()) << driver.Dump();
}

TEST_F(CamsimChannel, ReceiverReportsKeepTheStreamPastItsExpiry) {
    camsim::CameraConfig config;
    config.srIntervalMs = 1000;
    StartCamera(config);
    Make(0, 3000);  // RtpExpire 3000 ms: reports at least every 1500 ms
    ASSERT_TRUE(channel->Start(100, 704, 480, 60));
    ASSERT_TRUE(WaitRunning());
    std::this_thread::sleep_for(7s);
    const auto stats = camera->GetStreamStats();
    EXPECT_TRUE(stats.active) << "stopped: " << stats.stopReason;
    EXPECT_GE(stats.receiverReports, 3u);
    EXPECT_EQ(camera->StreamStarts(), 1u) << "never restarted";
    EXPECT_TRUE(user.WaitForFrames(user.FrameCount() + 3));
}

}  // namespace
