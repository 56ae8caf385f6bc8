// Other hosts on the camera network, and a camera that breaks its stream,
// against the library as a recorder loads it and the camera simulator.
// The camera lives on the program's loopback address (CameraAddress());
// strangers send from other ones (127.0.0.2, 127.0.0.3): to the receiver
// they are other hosts. Every picture the host accepts must be
// one the simulator stamped, whole.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/hardening/DriverHost.h"
#include "tests/transport/TransportTestSupport.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CPictureStamp.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kInterval = 40;
constexpr int32_t kCif = 2;
constexpr int32_t kQuality = 50;
const char kModel[] = "SNC-RZ50P";
// The same camera with a keep-alive of 4 s, so that a stream whose receiver
// reports go astray expires within seconds.
const char kShortKeepAliveModel[] = "SNC-HOSTILE4";

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// A host of its own on the loopback network.
using Stranger = transporttest::ForeignSender;

// One RTP datagram carrying a whole picture of the stranger's: marker set,
// SOI, a CIF frame header, EOI.
Bytes ForeignPicture(uint16_t seq) {
    const uint8_t header[] = {
        0x80, 0x80 | 26, static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq), 0, 0, 0, 0, 0xBA, 0xD0, 0xBA, 0xD0};
    const uint8_t picture[] = {0xFF, 0xD8,                                                         // SOI
                               0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0x20, 0x01, 0x60, 0x03,         // SOF0 352x288
                               0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xFF, 0xD9};  // EOI
    Bytes d(sizeof header + sizeof picture);
    std::memcpy(d.data(), header, sizeof header);
    std::memcpy(d.data() + sizeof header, picture, sizeof picture);
    return d;
}

// A model file beside the executable, where the driver looks for it: the
// shipped SNC-RZ50P with another keep-alive. Entries of this program run
// side by side, so the file is renamed into place and left there: one
// process never takes it from under another's driver.
class ShortKeepAliveModel {
public:
    ShortKeepAliveModel() {
        const std::string dir = Directory();
        std::ifstream in(dir + kModel + ".xml");
        std::stringstream text;
        text << in.rdbuf();
        std::string body = text.str();
        const std::string from = "<keepalive value=\"60\"/>";
        const size_t at = body.find(from);
        ok = at != std::string::npos;
        if (ok) body.replace(at, from.size(), "<keepalive value=\"4\"/>");
        const std::string path = dir + kShortKeepAliveModel + ".xml";
        const std::string part = path + "." + std::to_string(::getpid());
        std::ofstream(part) << body;
        ok = ok && std::rename(part.c_str(), path.c_str()) == 0;
    }
    bool ok = false;

private:
    static std::string Directory() {
        char exe[4096] = {0};
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        const std::string path = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string("./x");
        return path.substr(0, path.find_last_of('/') + 1);
    }
};

// The recording host, keeping every message the driver sends.
class RecordingHost : public hardening::Host {
public:
    void DebugInfo(CDebugInfoIf* message) override {
        hardening::Host::DebugInfo(message);
        const char* text = message->GetText();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(text != nullptr ? text : "");
    }
    size_t Count(const std::string& needle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (const auto& m : m_messages) n += m.find(needle) != std::string::npos;
        return n;
    }
    std::string Dump() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string out;
        for (const auto& m : m_messages) out += "\n  " + m;
        return out;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

class HostileRtp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.Loaded());
        ASSERT_TRUE(model.ok);
        // Every accepted picture is one the simulator sent, whole.
        host.check = [](uint32_t, const uint8_t* data, uint32_t size) {
            return camsim::CPictureStamp::Verify(data, size, nullptr) == camsim::StampResult::Ok;
        };
        ASSERT_TRUE(stranger.Bound() && jammer.Bound()) << "127.0.0.2 and 127.0.0.3 are not usable here";
    }
    void TearDown() override {
        if (driver != nullptr) lib.destroy(&driver);
        if (camera) camera->Stop();
    }

    // On `address`: the camera given by name must live where the name leads.
    void StartCamera(const std::string& address = hardening::CameraAddress()) {
        camsim::CameraConfig config;
        config.defaultFrameRate = 25;
        config.bindAddress = address;
        config.srIntervalMs = 1000;
        camera = std::make_unique<camsim::CCamera>(config);
        ASSERT_TRUE(camera->Start());
    }
    // A driver for the camera at `address`, its channel started.
    void Open(const char* address = hardening::CameraAddress().c_str(), const char* modelName = kModel) {
        driver = lib.create(0);
        ASSERT_NE(driver, nullptr);
        driver->SetCaptureUser(&host);
        driver->SetFrameAllocator(&pool);
        driver->SetParameter("IPSERVERADDRESS", address, static_cast<int32_t>(std::strlen(address)));
        driver->SetParameter("IPSERVERPORT", reinterpret_cast<const void*>(uintptr_t{camera->Port()}), 4);
        driver->SetParameter("IPSERVERTYPE", modelName, static_cast<int32_t>(std::strlen(modelName)));
        ASSERT_EQ(driver->Open(""), 1);
        ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
        ASSERT_TRUE(host.WaitForAccepted(3));
    }
    void Close() {
        ASSERT_EQ(driver->StopChannel(0), 1);
        lib.destroy(&driver);
    }
    uint16_t RtpPort() {
        const std::string d = camera->GetStreamStats().destination;
        const size_t colon = d.rfind(':');
        return colon == std::string::npos ? 0 : static_cast<uint16_t>(std::stoul(d.substr(colon + 1)));
    }
    size_t Expired() {
        size_t n = 0;
        for (const auto& s : camera->StreamHistory()) n += s.stopReason == "expired";
        return n;
    }

    hardening::Library lib;
    RecordingHost host;
    hardening::FramePool pool;
    ShortKeepAliveModel model;
    std::unique_ptr<camsim::CCamera> camera;
    CCaptureAPIEx* driver = nullptr;
    Stranger stranger{"127.0.0.2"};
    Stranger jammer{"127.0.0.3"};
};

// Three datagrams in a row (one to break the sequence, one to end the
// discarding, one picture) would put a stranger's picture in the recording.
TEST_F(HostileRtp, InjectedPicturesNeverReachTheHost) {
    StartCamera();
    Open();
    const uint16_t port = RtpPort();
    const size_t before = host.Accepted();
    for (uint16_t i = 0; i < 60; ++i) {
        const auto s = static_cast<uint16_t>(i * 7919);
        for (uint16_t k = 0; k < 3; ++k) stranger.Send(port, ForeignPicture(static_cast<uint16_t>(s + k)));
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(host.WaitForAccepted(before + 10));
    Close();
    EXPECT_EQ(host.bad.load(), 0) << "pictures of the stranger's were recorded";
    EXPECT_EQ(host.Count("dropped 180 RTP and 0 RTCP datagrams not sent by camera " + hardening::CameraAddress()), 1u)
        << host.Dump();
}

// One datagram every 10 ms from another host must not blank the stream.
TEST_F(HostileRtp, JammingSenderDoesNotBlankTheStream) {
    StartCamera();
    Open();
    const uint16_t port = RtpPort();
    const uint64_t sentBefore = camera->GetStreamStats().pictures;
    const size_t before = host.Accepted();
    for (uint16_t i = 0; i < 300; ++i) {
        Bytes jam = ForeignPicture(static_cast<uint16_t>(i * 31337));
        jam[1] = 26;  // no marker: breaks the sequence, ends nothing
        jammer.Send(port, jam);
        std::this_thread::sleep_for(10ms);
    }
    const uint64_t sent = camera->GetStreamStats().pictures - sentBefore;
    const size_t accepted = host.Accepted() - before;
    const int stopped = host.videoStopped.load();
    Close();
    std::printf("jammed: %zu of %llu pictures recorded\n", accepted, static_cast<unsigned long long>(sent));
    EXPECT_GE(accepted * 10, sent * 9) << accepted << " of " << sent << " pictures reached the host";
    EXPECT_EQ(stopped, 0) << "the signal was lost";
    EXPECT_EQ(host.bad.load(), 0);
}

// The camera goes quiet and a stranger feeds pictures in its place: the
// host hears that the signal was lost, and records none of them.
TEST_F(HostileRtp, FeedAfterTheCameraStopsIsNotTheCamera) {
    StartCamera();
    Open();
    const uint16_t port = RtpPort();
    camera->SetPaused(true);
    // The driver's signal limit is 15 s; fed for 18 s.
    uint16_t seq = 0;
    const auto end = std::chrono::steady_clock::now() + 18s;
    while (std::chrono::steady_clock::now() < end && host.videoStopped.load() == 0) {
        for (int k = 0; k < 3; ++k) stranger.Send(port, ForeignPicture(seq++));
        std::this_thread::sleep_for(40ms);
    }
    EXPECT_GE(host.videoStopped.load(), 1) << "the host was never told the camera stopped";
    EXPECT_EQ(host.bad.load(), 0) << "pictures of the stranger's were recorded";
    camera->SetPaused(false);
    Close();
}

// The camera's RTCP port changes with every stream it starts. After a
// restart the reports must follow it, or the stream expires at every
// keep-alive period.
TEST_F(HostileRtp, ReportsFollowTheCameraAcrossARestart) {
    StartCamera();
    Open(hardening::CameraAddress().c_str(), kShortKeepAliveModel);
    const uint16_t firstRtcpPort = camera->GetStreamStats().rtcpSourcePort;
    camera->StopStream("stopped");
    // Signal lost after 15 s, then a new stream from new sockets.
    ASSERT_TRUE(WaitFor([&] { return camera->StreamStarts() >= 2 && camera->StreamActive(); }, 25s));
    EXPECT_NE(camera->GetStreamStats().rtcpSourcePort, firstRtcpPort);
    const size_t before = host.Accepted();
    std::this_thread::sleep_for(12s);  // three keep-alive periods
    const camsim::StreamStats stats = camera->GetStreamStats();
    Close();
    std::printf("after the restart: %zu pictures in 12 s, %llu receiver reports, %zu expiries\n",
                host.Accepted() - before, static_cast<unsigned long long>(stats.receiverReports), Expired());
    EXPECT_EQ(Expired(), 0u) << "the restarted stream expired " << Expired() << " times";
    EXPECT_EQ(camera->StreamStarts(), 2u);
    EXPECT_GE(stats.receiverReports, 6u);
    EXPECT_GE(host.Accepted() - before, 250u);
    EXPECT_EQ(host.bad.load(), 0);
}

// A camera given by name has its RTCP accepted like one given by address,
// so its stream is kept alive. "localhost" is 127.0.0.1, shared with other
// programs: this test's ctest entry takes the RTP port range alone.
TEST_F(HostileRtp, NamedCameraIsKeptAlive) {
    StartCamera("127.0.0.1");
    Open("localhost", kShortKeepAliveModel);
    const size_t before = host.Accepted();
    std::this_thread::sleep_for(10s);  // two and a half keep-alive periods
    const camsim::StreamStats stats = camera->GetStreamStats();
    Close();
    std::printf("by name: %zu pictures in 10 s, %llu receiver reports, %zu expiries\n", host.Accepted() - before,
                static_cast<unsigned long long>(stats.receiverReports), Expired());
    EXPECT_EQ(Expired(), 0u) << host.Dump();
    EXPECT_EQ(camera->StreamStarts(), 1u);
    EXPECT_GE(stats.receiverReports, 5u);
    EXPECT_GE(host.Accepted() - before, 200u);
}

// Pictures cut short (their EOI, or more, missing) never reach the host;
// whole ones go on being recorded.
TEST_F(HostileRtp, CutShortPicturesNeverReachTheHost) {
    StartCamera();
    Open();
    for (const unsigned cut : {1u, 2u, 100u, 1000u}) {
        SCOPED_TRACE(cut);
        camsim::RtpFaults faults = camera->GetRtpFaults();
        faults.cutBytes = cut;
        camera->SetRtpFaults(faults);
        const uint64_t sentBefore = camera->GetStreamStats().pictures;
        ASSERT_TRUE(WaitFor([&] { return camera->GetStreamStats().pictures >= sentBefore + 25; }, 10s));
        faults.cutBytes = 0;
        camera->SetRtpFaults(faults);
        ASSERT_TRUE(host.WaitForAccepted(host.Accepted() + 3)) << "whole pictures are recorded again";
    }
    const int stopped = host.videoStopped.load();
    Close();
    EXPECT_EQ(host.bad.load(), 0) << "cut pictures were recorded";
    EXPECT_EQ(stopped, 0);
}

}  // namespace
