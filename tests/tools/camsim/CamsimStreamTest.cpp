// The stream as the driver receives it: RTP packet layout, whole stamped
// pictures, RTCP sender reports (checked by tshark), expiry, BYE and the
// packet faults.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "HttpProbe.h"
#include "PcapFile.h"
#include "UdpSink.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CCameraFarm.h"
#include "tools/camsim/CPictureStamp.h"

using namespace camsim;
using camsim_test::Datagram;
using camsim_test::HttpProbe;
using camsim_test::JoinedPicture;
using camsim_test::UdpSink;

namespace {

uint16_t Seq(const Datagram& d) { return static_cast<uint16_t>((d.data[2] << 8) | d.data[3]); }
uint32_t Ssrc(const Datagram& d) {
    return (uint32_t{d.data[8]} << 24) | (uint32_t{d.data[9]} << 16) | (uint32_t{d.data[10]} << 8) | d.data[11];
}
uint32_t Get32(const std::vector<uint8_t>& v, size_t at) {
    return (uint32_t{v[at]} << 24) | (uint32_t{v[at + 1]} << 16) | (uint32_t{v[at + 2]} << 8) | v[at + 3];
}

CameraConfig StreamConfig() {
    CameraConfig c;
    c.defaultFrameRate = 50;
    c.defaultWidth = 176;
    c.defaultHeight = 144;
    c.ringSize = 5;
    c.srIntervalMs = 300;
    return c;
}

// The request the driver sends, over a raw socket as it is written.
void RequestStream(CCamera& cam, uint16_t port) {
    const std::string answer =
        HttpProbe::Raw(cam.Port(), "GET mjpeg?UdpMode=unicast&UdpPort=" + std::to_string(port) + " HTTP/1.0\r\n\r\n");
    ASSERT_EQ(answer.rfind("HTTP/1.0 200", 0), 0u) << answer;
}

template <typename Pred>
bool WaitUntil(Pred pred, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Receives packets for a while, keeping them all.
std::vector<Datagram> Packets(UdpSink& sink, size_t count, int timeoutMs = 5000) {
    std::vector<Datagram> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count && std::chrono::steady_clock::now() < end) {
        if (auto d = sink.ReceiveRtp(100)) out.push_back(std::move(*d));
    }
    return out;
}

bool Decodes(const std::vector<uint8_t>& jpeg, int* w, int* h) {
    tjhandle tj = tjInitDecompress();
    int sub = 0, cs = 0;
    std::vector<uint8_t> rgb;
    bool ok = tjDecompressHeader3(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), w, h, &sub, &cs) == 0;
    if (ok) {
        rgb.resize(static_cast<size_t>(*w) * *h * 3);
        ok = tjDecompress2(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), rgb.data(), *w, 0, *h, TJPF_RGB, 0) ==
             0;
    }
    tjDestroy(tj);
    return ok;
}

}  // namespace

TEST(CamsimStream, PacketLayoutAndWholePictures) {
    CameraConfig cfg = StreamConfig();
    cfg.firstSequence = 65530;  // the sequence wraps inside the test
    cfg.ssrc = 0x01020304;
    cfg.maxPayload = 500;
    CCamera cam(cfg);
    ASSERT_TRUE(cam.Start());
    UdpSink sink;
    RequestStream(cam, sink.RtpPort());
    std::vector<Datagram> raw;
    const auto pictures = sink.CollectPictures(6, 5000, &raw);
    ASSERT_EQ(pictures.size(), 6u);

    // Every datagram: V=2, no padding/extension/CSRC, PT 26, the SSRC, at
    // most 500 payload bytes, consecutive sequence numbers from 65530.
    ASSERT_FALSE(raw.empty());
    EXPECT_EQ(Seq(raw[0]), 65530);
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto& d = raw[i].data;
        ASSERT_GT(d.size(), 12u);
        EXPECT_EQ(d[0], 0x80);
        EXPECT_EQ(d[1] & 0x7F, 26);
        EXPECT_EQ(Ssrc(raw[i]), 0x01020304u);
        EXPECT_LE(d.size() - 12, 500u);
        if (i > 0) {
            EXPECT_EQ(Seq(raw[i]), static_cast<uint16_t>(Seq(raw[i - 1]) + 1));
        }
        if (i > 0 && (raw[i - 1].data[1] & 0x80) == 0) {  // inside a picture: one timestamp
            EXPECT_EQ(Get32(d, 4), Get32(raw[i - 1].data, 4));
        }
    }
    // Pictures: 90 kHz clock at 50 fps, stamped, decodable, numbered in order.
    uint32_t firstFrame = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const JoinedPicture& p = pictures[i];
        PictureStampInfo info;
        ASSERT_EQ(CPictureStamp::Verify(p.bytes.data(), p.bytes.size(), &info), StampResult::Ok) << i;
        if (i == 0) firstFrame = info.frameNumber;
        EXPECT_EQ(info.frameNumber, firstFrame + i);
        EXPECT_EQ(info.ringIndex, info.frameNumber % 5);
        if (i > 0) {
            EXPECT_EQ(p.timestamp - pictures[i - 1].timestamp, 1800u);
        }
        int w = 0, h = 0;
        ASSERT_TRUE(Decodes(p.bytes, &w, &h));
        EXPECT_EQ(w, 176);
        EXPECT_EQ(h, 144);
    }
}

TEST(CamsimStream, FollowsFrameRateAndPictureSizeSettings) {
    CCamera cam(StreamConfig());
    ASSERT_TRUE(cam.Start());
    EXPECT_EQ(HttpProbe::Get(cam.BaseUrl() + "/command/camera.cgi?JpFrameRate=20&JpImageSize=352,288&JpQuality=9").status,
              200);
    UdpSink sink;
    RequestStream(cam, sink.RtpPort());
    auto pics = sink.CollectPictures(3, 5000);
    ASSERT_EQ(pics.size(), 3u);
    EXPECT_EQ(pics[2].timestamp - pics[1].timestamp, 4500u);  // 20 fps
    int w = 0, h = 0;
    ASSERT_TRUE(Decodes(pics[0].bytes, &w, &h));
    EXPECT_EQ(w, 352);
    // Changed while streaming: JpFrameRate=0 is the camera's default (50).
    EXPECT_EQ(HttpProbe::Get(cam.BaseUrl() + "/command/camera.cgi?JpFrameRate=0&JpImageSize=QCIF").status, 200);
    sink.Flush();
    pics = sink.CollectPictures(4, 5000);
    ASSERT_EQ(pics.size(), 4u);
    EXPECT_EQ(pics[3].timestamp - pics[2].timestamp, 1800u);
    ASSERT_TRUE(Decodes(pics[3].bytes, &w, &h));
    EXPECT_EQ(w, 176);
    EXPECT_EQ(cam.GetStreamStats().frameRate, 50u);
}

TEST(CamsimStream, SenderReportsAndReceiverReports) {
    CCamera cam(StreamConfig());
    ASSERT_TRUE(cam.Start());
    UdpSink sink;
    RequestStream(cam, sink.RtpPort());
    auto sr = sink.ReceiveRtcp(3000);
    ASSERT_TRUE(sr.has_value());
    const auto& b = sr->data;
    ASSERT_GE(b.size(), 28u);
    EXPECT_EQ(b[0], 0x80);
    EXPECT_EQ(b[1], 200);
    EXPECT_EQ((b[2] << 8) | b[3], 6);
    const StreamStats s = cam.GetStreamStats();
    EXPECT_EQ(Get32(b, 4), s.ssrc);
    EXPECT_EQ(ntohs(sr->from.sin_port), s.rtcpSourcePort);
    const uint64_t unixNow = static_cast<uint64_t>(std::time(nullptr));
    EXPECT_NEAR(static_cast<double>(Get32(b, 8)), static_cast<double>(unixNow + 2208988800ull), 5.0);

    // Receiver reports are recorded field by field.
    // LSR: the middle 32 bits of the sender report's NTP time.
    const uint32_t lsr = Get32(b, 10);
    const auto report = UdpSink::ReceiverReport(0xAABBCCDD, s.ssrc, 70000, lsr, 98304);
    ASSERT_TRUE(sink.SendRtcp(report, sr->from));
    ASSERT_TRUE(WaitUntil([&] { return cam.GetStreamStats().receiverReports >= 1; }));
    const StreamStats after = cam.GetStreamStats();
    ASSERT_TRUE(after.lastReport.has_value());
    EXPECT_EQ(after.lastReport->reporterSsrc, 0xAABBCCDDu);
    EXPECT_EQ(after.lastReport->sourceSsrc, s.ssrc);
    EXPECT_EQ(after.lastReport->extendedHighestSeq, 70000u);
    EXPECT_EQ(after.lastReport->lsr, lsr);
    EXPECT_EQ(after.lastReport->dlsr, 98304u);

    // Sender reports keep coming at the configured interval, with counts
    // that grow.
    auto next = sink.ReceiveRtcp(3000);
    ASSERT_TRUE(next.has_value());
    EXPECT_GE(Get32(next->data, 20), Get32(b, 20));
    EXPECT_GT(Get32(next->data, 24), Get32(b, 24));
}

TEST(CamsimStream, TsharkDecodesPacketsAndSenderReportWithoutWarnings) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
    CCamera cam(StreamConfig());
    ASSERT_TRUE(cam.Start());
    UdpSink sink;
    RequestStream(cam, sink.RtpPort());
    std::vector<Datagram> raw;
    auto pics = sink.CollectPictures(3, 5000, &raw);
    ASSERT_EQ(pics.size(), 3u);
    auto sr = sink.ReceiveRtcp(3000);
    ASSERT_TRUE(sr.has_value());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    camsim_test::PcapFile pcap;
    to.sin_port = htons(sink.RtpPort());
    for (const auto& d : raw) pcap.Add(d.data, d.from, to);
    to.sin_port = htons(static_cast<uint16_t>(sink.RtpPort() + 1));
    pcap.Add(sr->data, sr->from, to);
    char path[] = "/tmp/camsim-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_TRUE(pcap.Write(path));
    const std::string cmd = "tshark -r " + std::string(path) + " -V -d udp.port==" + std::to_string(sink.RtpPort()) +
                            ",rtp -d udp.port==" + std::to_string(sink.RtpPort() + 1) + ",rtcp 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = pclose(p);
    unlink(path);
    EXPECT_EQ(rc, 0) << out.substr(0, 2000);
    EXPECT_NE(out.find("Real-Time Transport Protocol"), std::string::npos);
    EXPECT_NE(out.find("Payload type: JPEG-compressed video (26)"), std::string::npos);
    EXPECT_NE(out.find("Packet type: Sender Report (200)"), std::string::npos);
    EXPECT_EQ(out.find("Malformed"), std::string::npos);
    EXPECT_EQ(out.find("Expert Info (Warn"), std::string::npos);
    EXPECT_EQ(out.find("Expert Info (Error"), std::string::npos);
    if (HasFailure()) {
        const size_t at = out.find("Expert Info");
        ADD_FAILURE() << out.substr(at == std::string::npos ? 0 : (at > 1500 ? at - 1500 : 0), 3000);
    }
}

TEST(CamsimStream, ExpiresWithoutReceiverReportsAndLivesWithThem) {
    CCamera cam(StreamConfig());
    ASSERT_TRUE(cam.Start());
    ASSERT_EQ(HttpProbe::Get(cam.BaseUrl() + "/command/camera.cgi?RtpExpire=800").status, 200);

    // Reports every 200 ms keep it going well past the expiry time.
    UdpSink sink;
    RequestStream(cam, sink.RtpPort());
    auto sr = sink.ReceiveRtcp(3000);
    ASSERT_TRUE(sr.has_value());
    const uint32_t ssrc = cam.GetStreamStats().ssrc;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
    while (std::chrono::steady_clock::now() < until) {
        sink.SendRtcp(UdpSink::ReceiverReport(7, ssrc, 1, 0, 0), sr->from);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(cam.StreamActive());
    EXPECT_GE(cam.GetStreamStats().receiverReports, 5u);

    // Silence: it stops by itself.
    ASSERT_TRUE(WaitUntil([&] { return !cam.StreamActive(); }));
    EXPECT_EQ(cam.GetStreamStats().stopReason, "expired");
    sink.Flush();
    EXPECT_FALSE(sink.ReceiveRtp(300).has_value());

    // RtpExpire=0 never expires.
    ASSERT_EQ(HttpProbe::Get(cam.BaseUrl() + "/command/camera.cgi?RtpExpire=0").status, 200);
    RequestStream(cam, sink.RtpPort());
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_TRUE(cam.StreamActive());
    EXPECT_EQ(cam.StreamStarts(), 2u);
}

TEST(CamsimStream, ByeEndsTheStream) {
    CCamera cam(StreamConfig());
    ASSERT_TRUE(cam.Start());
    UdpSink sink;
    RequestStream(cam, sink.RtpPort());
    auto sr = sink.ReceiveRtcp(3000);
    ASSERT_TRUE(sr.has_value());
    ASSERT_TRUE(sink.SendRtcp(UdpSink::Bye(9), sr->from));
    ASSERT_TRUE(WaitUntil([&] { return !cam.StreamActive(); }));
    const StreamStats s = cam.GetStreamStats();
    EXPECT_EQ(s.stopReason, "bye");
    EXPECT_EQ(s.byes, 1u);
}

TEST(CamsimStream, ReportsFromAnotherAddressAreNotCounted) {
    CCamera cam(StreamConfig());
    ASSERT_TRUE(cam.Start());
    // Stream to 127.0.0.2; reports from 127.0.0.1 are foreign.
    UdpSink sink;
    ASSERT_TRUE(cam.StartStream("127.0.0.2", sink.RtpPort()));
    const StreamStats s = cam.GetStreamStats();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(s.rtcpSourcePort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_TRUE(sink.SendRtcp(UdpSink::Bye(1), to));
    ASSERT_TRUE(WaitUntil([&] { return cam.GetStreamStats().otherRtcp >= 1; }));
    EXPECT_TRUE(cam.StreamActive());
    EXPECT_EQ(cam.GetStreamStats().byes, 0u);
}

// ------------------------------------------------------------------ faults

namespace {

struct SequenceFacts {
    size_t gaps = 0;        // forward steps of more than one
    size_t repeats = 0;     // same number twice in a row
    size_t backwards = 0;   // a smaller number than the one before
    std::set<uint32_t> ssrcs;
};

SequenceFacts Look(const std::vector<Datagram>& raw) {
    SequenceFacts f;
    for (size_t i = 0; i < raw.size(); ++i) {
        f.ssrcs.insert(Ssrc(raw[i]));
        if (i == 0) continue;
        const uint16_t step = static_cast<uint16_t>(Seq(raw[i]) - Seq(raw[i - 1]));
        if (step == 0)
            ++f.repeats;
        else if (step > 0x8000)
            ++f.backwards;
        else if (step > 1)
            ++f.gaps;
    }
    return f;
}

class CamsimStreamFault : public ::testing::Test {
protected:
    void SetUp() override {
        CameraConfig cfg = StreamConfig();
        cfg.maxPayload = 300;  // about 20 packets per picture
        cam = std::make_unique<CCamera>(cfg);
        ASSERT_TRUE(cam->Start());
        RequestStream(*cam, sink.RtpPort());
        ASSERT_GE(Packets(sink, 5).size(), 5u);
    }
    // Clean packets after switching a fault off.
    void ExpectClean() {
        sink.Flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(60));  // a picture in flight
        sink.Flush();
        const auto pics = sink.CollectPictures(4, 5000);
        ASSERT_EQ(pics.size(), 4u);
        for (const auto& p : pics) {
            EXPECT_EQ(CPictureStamp::Verify(p.bytes.data(), p.bytes.size(), nullptr), StampResult::Ok);
            for (size_t i = 1; i < p.sequences.size(); ++i)
                EXPECT_EQ(p.sequences[i], static_cast<uint16_t>(p.sequences[i - 1] + 1));
        }
    }
    UdpSink sink;
    std::unique_ptr<CCamera> cam;
};

}  // namespace

TEST_F(CamsimStreamFault, DropDuplicateReorderSwitchOnAndOff) {
    struct Row {
        const char* name;
        RtpFaults faults;
        size_t SequenceFacts::*seen;
        uint64_t StreamStats::*counted;
    };
    const Row rows[] = {
        {"drop", {0.2, 0, 0, false}, &SequenceFacts::gaps, &StreamStats::dropped},
        {"duplicate", {0, 0.2, 0, false}, &SequenceFacts::repeats, &StreamStats::duplicated},
        {"reorder", {0, 0, 0.2, false}, &SequenceFacts::backwards, &StreamStats::reordered},
    };
    for (const Row& r : rows) {
        cam->SetRtpFaults(r.faults);
        sink.Flush();
        const auto raw = Packets(sink, 200);
        const SequenceFacts f = Look(raw);
        EXPECT_GT(f.*(r.seen), 0u) << r.name;
        EXPECT_GT(cam->GetStreamStats().*(r.counted), 0u) << r.name;
        cam->SetRtpFaults(RtpFaults{});
        ExpectClean();
    }
    const StreamStats s = cam->GetStreamStats();
    EXPECT_GT(s.dropped, 0u);
    EXPECT_GT(s.duplicated, 0u);
    EXPECT_GT(s.reordered, 0u);
}

TEST_F(CamsimStreamFault, SequenceJumpAndNewSsrcHappenOnce) {
    const uint32_t before = cam->GetStreamStats().ssrc;
    // No flush: the packets before the jump are needed to see it.
    cam->JumpSequence(1000);
    auto raw = Packets(sink, 120);
    SequenceFacts f = Look(raw);
    EXPECT_EQ(f.gaps, 1u);
    bool sawJump = false;
    for (size_t i = 1; i < raw.size(); ++i)
        sawJump |= static_cast<uint16_t>(Seq(raw[i]) - Seq(raw[i - 1])) == 1001;
    EXPECT_TRUE(sawJump);

    cam->ChangeSsrc(0x55667788);
    sink.Flush();
    raw = Packets(sink, 120);
    f = Look(raw);
    EXPECT_EQ(f.gaps, 0u);
    EXPECT_EQ(f.ssrcs.count(0x55667788u), 1u);
    EXPECT_EQ(Ssrc(raw.back()), 0x55667788u);
    EXPECT_NE(before, 0x55667788u);
    EXPECT_EQ(cam->GetStreamStats().ssrc, 0x55667788u);
}

TEST_F(CamsimStreamFault, PauseAndResume) {
    cam->SetPaused(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    sink.Flush();
    EXPECT_FALSE(sink.ReceiveRtp(400).has_value());
    EXPECT_TRUE(cam->StreamActive());
    EXPECT_TRUE(sink.ReceiveRtcp(2000).has_value());  // RTCP goes on
    cam->SetPaused(false);
    ExpectClean();
}

TEST_F(CamsimStreamFault, StopEndsTheStreamUntilTheNextRequest) {
    std::string answer = cam->Control("stop=1");
    EXPECT_EQ(answer, "ok stop=1\n");
    EXPECT_FALSE(cam->StreamActive());
    sink.Flush();
    EXPECT_FALSE(sink.ReceiveRtp(300).has_value());
    RequestStream(*cam, sink.RtpPort());
    EXPECT_TRUE(sink.ReceiveRtp(2000).has_value());
    EXPECT_EQ(cam->StreamStarts(), 2u);
    EXPECT_EQ(cam->StreamHistory().front().stopReason, "stopped");
}

TEST_F(CamsimStreamFault, LongDatagramOnce) {
    sink.Flush();
    cam->SendLongDatagram(5000);
    auto raw = Packets(sink, 150);
    size_t longOnes = 0;
    for (const auto& d : raw) {
        if (d.data.size() > 4096) {
            ++longOnes;
            EXPECT_EQ(d.data.size(), 5000u);
        }
    }
    EXPECT_EQ(longOnes, 1u);
    ExpectClean();
}

TEST_F(CamsimStreamFault, OversizedPictureOnce) {
    ASSERT_TRUE(cam->SendOversizedPicture());
    const auto pics = sink.CollectPictures(8, 10000);
    size_t big = 0;
    for (const auto& p : pics) {
        PictureStampInfo info;
        ASSERT_EQ(CPictureStamp::Verify(p.bytes.data(), p.bytes.size(), &info), StampResult::Ok);
        if (p.bytes.size() > 786432) {
            ++big;
            EXPECT_TRUE(info.padded);
        }
    }
    EXPECT_EQ(big, 1u);
}

TEST_F(CamsimStreamFault, ControlLanguageSwitchesFaults) {
    bool ok = false;
    EXPECT_EQ(cam->Control("drop=0.5&dup=0.25&reorder=0.1", &ok), "ok drop=0.5\nok dup=0.25\nok reorder=0.1\n");
    EXPECT_TRUE(ok);
    RtpFaults f = cam->GetRtpFaults();
    EXPECT_DOUBLE_EQ(f.dropFraction, 0.5);
    EXPECT_DOUBLE_EQ(f.duplicateFraction, 0.25);
    EXPECT_DOUBLE_EQ(f.reorderFraction, 0.1);
    cam->Control("drop=1.5", &ok);
    EXPECT_FALSE(ok);
    cam->Control("nonsense=1", &ok);
    EXPECT_FALSE(ok);
    cam->Control("hang=camera.cgi&close=inquiry&times=3", &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(cam->HttpFaults().size(), 2u);
    EXPECT_EQ(cam->HttpFaults()[0].remaining, 3);
    cam->Control("reset=1", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(cam->GetRtpFaults().dropFraction, 0.0);
    EXPECT_TRUE(cam->HttpFaults().empty());
    EXPECT_NE(cam->Control("stats=1").find("stream active"), std::string::npos);
}

TEST(CamsimStream, FarmStreamsFromOneSenderThread) {
    CCameraFarm farm(1);
    std::string error;
    ASSERT_TRUE(farm.Start(StreamConfig(), 3, 0, &error)) << error;
    std::vector<std::unique_ptr<UdpSink>> sinks;
    for (size_t i = 0; i < farm.Size(); ++i) {
        sinks.push_back(std::make_unique<UdpSink>());
        RequestStream(farm.At(i), sinks.back()->RtpPort());
    }
    for (size_t i = 0; i < farm.Size(); ++i) {
        const auto pics = sinks[i]->CollectPictures(3, 5000);
        ASSERT_EQ(pics.size(), 3u) << i;
        for (const auto& p : pics) EXPECT_EQ(CPictureStamp::Verify(p.bytes.data(), p.bytes.size(), nullptr), StampResult::Ok);
    }
    const auto t0 = std::chrono::steady_clock::now();
    farm.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    for (size_t i = 0; i < farm.Size(); ++i) EXPECT_EQ(farm.At(i).GetStreamStats().stopReason, "shutdown");
}
