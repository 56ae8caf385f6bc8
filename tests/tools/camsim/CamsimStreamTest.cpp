// The stream as the driver receives it: RTP layout, whole stamped pictures,
// RTCP (checked by tshark), expiry, BYE, the packet faults and farms.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "CamsimTestUtil.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CCameraFarm.h"
#include "tools/camsim/CFaultState.h"
#include "tools/camsim/CPictureCache.h"
#include "tools/camsim/CPictureStamp.h"
#include "tools/camsim/CRtpStream.h"

using namespace camsim;
using namespace camsim_test;

namespace {

CameraConfig StreamConfig() {
    CameraConfig c;
    c.defaultFrameRate = 50;
    c.defaultWidth = 176;
    c.defaultHeight = 144;
    c.ringSize = 5;
    c.srIntervalMs = 300;
    c.maxPayload = 300;  // about 20 packets per picture
    return c;
}

// The request as the driver writes it.
void RequestStream(CCamera& cam, uint16_t port) {
    const std::string answer =
        Raw(cam.Port(), "GET mjpeg?UdpMode=unicast&UdpPort=" + std::to_string(port) + " HTTP/1.0\r\n\r\n");
    ASSERT_EQ(answer.rfind("HTTP/1.0 200", 0), 0u) << answer;
}

// tshark's full dissection of datagrams sent to the given port.
std::string Tshark(const std::vector<std::vector<uint8_t>>& datagrams, uint16_t port, const char* protocol) {
    char path[] = "/tmp/camsim-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "mkstemp failed";
    FILE* hex = fdopen(fd, "w");
    for (const auto& d : datagrams)
        for (size_t i = 0; i < d.size(); ++i) {
            if (i % 16 == 0) std::fprintf(hex, "\n%06zx", i);  // offset 0 starts a packet
            std::fprintf(hex, " %02x", d[i]);
        }
    std::fclose(hex);
    const std::string p = std::to_string(port), file(path);
    int status = 0;
    std::string out = Shell("text2pcap -q -u 40000," + p + " " + file + " " + file + ".pcap && tshark -r " + file +
                                ".pcap -V -d udp.port==" + p + "," + protocol,
                            &status);
    std::remove(path);
    std::remove((file + ".pcap").c_str());
    return status == 0 ? out : "failed: " + out;
}

}  // namespace

namespace {

struct SequenceFacts {
    size_t gaps = 0, repeats = 0, backwards = 0;
};

SequenceFacts Look(const std::vector<Datagram>& raw) {
    SequenceFacts f;
    for (size_t i = 1; i < raw.size(); ++i) {
        const uint16_t step = static_cast<uint16_t>(Seq(raw[i].data) - Seq(raw[i - 1].data));
        if (step != 1) ++(step == 0 ? f.repeats : step > 0x8000 ? f.backwards : f.gaps);
    }
    return f;
}

// A camera streaming to the test from sequence 65530 on.
class CamsimStream : public ::testing::Test {
protected:
    void SetUp() override {
        CameraConfig cfg = StreamConfig();
        cfg.firstSequence = 65530;  // wraps inside the tests
        cfg.ssrc = 0x01020304;
        cam = std::make_unique<CCamera>(cfg);
        ASSERT_TRUE(cam->Start());
        RequestStream(*cam, sink.RtpPort());
    }
    // Whole, unchanged pictures of consecutive packets once a fault is off.
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

TEST_F(CamsimStream, PacketLayoutAndWholeStampedPictures) {
    std::vector<Datagram> raw;
    const auto pictures = sink.CollectPictures(6, 5000, &raw);
    ASSERT_EQ(pictures.size(), 6u);
    ASSERT_EQ(Seq(raw[0].data), 65530);
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto& d = raw[i].data;
        ASSERT_GT(d.size(), 12u);
        EXPECT_EQ(d[0], 0x80);  // V=2, no padding, extension or CSRC
        EXPECT_EQ(d[1] & 0x7F, 26);
        EXPECT_EQ(Be32(d, 8), 0x01020304u);
        EXPECT_LE(d.size() - 12, 300u);
        if (i == 0) continue;
        EXPECT_EQ(Seq(d), static_cast<uint16_t>(Seq(raw[i - 1].data) + 1));
        if ((raw[i - 1].data[1] & 0x80) == 0) {
            EXPECT_EQ(Be32(d, 4), Be32(raw[i - 1].data, 4));  // one timestamp per picture
        }
    }
    for (size_t i = 0, first = 0; i < pictures.size(); ++i) {
        const JoinedPicture& p = pictures[i];
        PictureStampInfo info;
        ASSERT_EQ(CPictureStamp::Verify(p.bytes.data(), p.bytes.size(), &info), StampResult::Ok) << i;
        first = i ? first : info.frameNumber;
        EXPECT_EQ(info.frameNumber, first + i);
        EXPECT_EQ(info.ringIndex, info.frameNumber % 5);
        EXPECT_EQ(p.timestamp - (i ? pictures[i - 1].timestamp : p.timestamp - 1800), 1800u);  // 90 kHz, 50 fps
        int w = 0, h = 0;
        ASSERT_TRUE(Decodes(p.bytes, &w, &h));
        EXPECT_EQ(w * 1000 + h, 176144);
    }
}

TEST_F(CamsimStream, SenderReportsReceiverReportsByeAndTsharksReading) {
    std::vector<Datagram> raw;
    ASSERT_EQ(sink.CollectPictures(3, 5000, &raw).size(), 3u);
    const auto sr = sink.ReceiveRtcp(3000);
    ASSERT_TRUE(sr.has_value());
    const auto& b = sr->data;
    ASSERT_GE(b.size(), 28u);
    EXPECT_EQ(Be32(b, 0), 0x80C80006u);  // V=2, SR, length 6
    EXPECT_EQ(Be32(b, 4), 0x01020304u);
    EXPECT_EQ(ntohs(sr->from.sin_port), cam->GetStreamStats().rtcpSourcePort);
    EXPECT_NEAR(Be32(b, 8), static_cast<double>(std::time(nullptr) + 2208988800ll), 5.0);  // NTP seconds

    const uint32_t lsr = Be32(b, 10);  // the middle 32 bits of the NTP time
    ASSERT_TRUE(sink.SendRtcp(UdpSink::ReceiverReport(0xAABBCCDD, 0x01020304, 70000, lsr, 98304), sr->from));
    ASSERT_TRUE(WaitUntil([&] { return cam->GetStreamStats().receiverReports >= 1; }));
    const ReceiverReport r = cam->GetStreamStats().lastReport.value();
    EXPECT_EQ(std::tie(r.reporterSsrc, r.sourceSsrc, r.extendedHighestSeq, r.lsr, r.dlsr),
              std::make_tuple(0xAABBCCDDu, 0x01020304u, 70000u, lsr, 98304u));
    const auto next = sink.ReceiveRtcp(3000);  // at the interval, with counts that grow
    ASSERT_TRUE(next.has_value());
    EXPECT_GT(Be32(next->data, 20), Be32(b, 20));
    EXPECT_GT(Be32(next->data, 24), Be32(b, 24));
    ASSERT_TRUE(sink.SendRtcp(UdpSink::Bye(9), sr->from));
    ASSERT_TRUE(WaitUntil([&] { return !cam->StreamActive(); }));
    EXPECT_EQ(cam->GetStreamStats().stopReason, "bye");
    EXPECT_EQ(cam->GetStreamStats().byes, 1u);

    if (std::system("command -v tshark >/dev/null && command -v text2pcap >/dev/null") != 0)
        GTEST_SKIP() << "tshark is not installed";
    std::vector<std::vector<uint8_t>> rtp;
    for (const auto& d : raw) rtp.push_back(d.data);
    const std::string rtpText = Tshark(rtp, sink.RtpPort(), "rtp");
    const std::string rtcpText = Tshark({b}, static_cast<uint16_t>(sink.RtpPort() + 1), "rtcp");
    EXPECT_NE(rtpText.find("Payload type: JPEG-compressed video (26)"), std::string::npos) << rtpText.substr(0, 3000);
    EXPECT_NE(rtcpText.find("Packet type: Sender Report (200)"), std::string::npos) << rtcpText;
    for (const std::string* text : {&rtpText, &rtcpText})
        for (const char* bad : {"failed:", "Malformed", "Expert Info (Warn", "Expert Info (Error"})
            EXPECT_EQ(text->find(bad), std::string::npos) << bad << "\n" << text->substr(0, 3000);
}

TEST_F(CamsimStream, ExpiresWithoutReceiverReportsAndLivesWithThem) {
    ASSERT_EQ(Get(cam->BaseUrl() + "/command/camera.cgi?RtpExpire=800").status, 200);
    RequestStream(*cam, sink.RtpPort());  // the setting counts from the next stream
    const sockaddr_in rtcp = Loopback(cam->GetStreamStats().rtcpSourcePort);
    for (int i = 0; i < 10; ++i) {  // reports every 200 ms: well past the expiry time
        sink.SendRtcp(UdpSink::ReceiverReport(7, 0x01020304, 1, 0, 0), rtcp);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(cam->StreamActive());
    EXPECT_GE(cam->GetStreamStats().receiverReports, 5u);
    ASSERT_TRUE(WaitUntil([&] { return !cam->StreamActive(); }));  // silence
    EXPECT_EQ(cam->GetStreamStats().stopReason, "expired");
    sink.Flush();
    EXPECT_FALSE(sink.ReceiveRtp(300).has_value());

    ASSERT_EQ(Get(cam->BaseUrl() + "/command/camera.cgi?RtpExpire=0").status, 200);  // never expires
    RequestStream(*cam, sink.RtpPort());
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_TRUE(cam->StreamActive());
    EXPECT_EQ(cam->StreamStarts(), 3u);
}

TEST_F(CamsimStream, RtcpFromAnotherAddressIsNotCounted) {
    ASSERT_TRUE(cam->StartStream("127.0.0.2", sink.RtpPort()));  // RTCP from 127.0.0.1 is now foreign
    ASSERT_TRUE(sink.SendRtcp(UdpSink::Bye(1), Loopback(cam->GetStreamStats().rtcpSourcePort)));
    ASSERT_TRUE(WaitUntil([&] { return cam->GetStreamStats().otherRtcp >= 1; }));
    EXPECT_TRUE(cam->StreamActive());
    EXPECT_EQ(cam->GetStreamStats().byes, 0u);
}

TEST_F(CamsimStream, DropDuplicateReorderSwitchOnAndOff) {
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
        SCOPED_TRACE(r.name);
        cam->SetRtpFaults(r.faults);
        sink.Flush();
        EXPECT_GT(Look(sink.Packets(200)).*(r.seen), 0u);
        EXPECT_GT(cam->GetStreamStats().*(r.counted), 0u);
        cam->SetRtpFaults(RtpFaults{});
        ExpectClean();
    }
}

TEST_F(CamsimStream, SequenceJumpAndNewSsrcHappenOnce) {
    ASSERT_GE(sink.Packets(5).size(), 5u);
    cam->JumpSequence(1000);  // no flush: the packets before the jump show it
    auto raw = sink.Packets(120);
    EXPECT_EQ(Look(raw).gaps, 1u);
    bool sawJump = false;
    for (size_t i = 1; i < raw.size(); ++i)
        sawJump |= static_cast<uint16_t>(Seq(raw[i].data) - Seq(raw[i - 1].data)) == 1001;
    EXPECT_TRUE(sawJump);

    cam->ChangeSsrc(0x55667788);
    sink.Flush();
    raw = sink.Packets(120);
    EXPECT_EQ(Look(raw).gaps, 0u);
    EXPECT_EQ(Be32(raw.back().data, 8), 0x55667788u);
    EXPECT_EQ(cam->GetStreamStats().ssrc, 0x55667788u);
}

TEST_F(CamsimStream, PauseKeepsRtcpAndStopEndsTheStreamUntilTheNextRequest) {
    cam->SetPaused(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    sink.Flush();
    EXPECT_FALSE(sink.ReceiveRtp(400).has_value());
    EXPECT_TRUE(cam->StreamActive());
    EXPECT_TRUE(sink.ReceiveRtcp(2000).has_value());
    cam->SetPaused(false);
    ExpectClean();

    EXPECT_EQ(cam->Control("stop=1"), "ok stop=1\n");
    EXPECT_FALSE(cam->StreamActive());
    sink.Flush();
    EXPECT_FALSE(sink.ReceiveRtp(300).has_value());
    RequestStream(*cam, sink.RtpPort());
    EXPECT_TRUE(sink.ReceiveRtp(2000).has_value());
    EXPECT_EQ(cam->StreamStarts(), 2u);
    EXPECT_EQ(cam->StreamHistory().front().stopReason, "stopped");
}

TEST_F(CamsimStream, LongDatagramAndOversizedPictureOnce) {
    cam->SendLongDatagram(5000);
    std::vector<size_t> longOnes;
    for (const auto& d : sink.Packets(150))
        if (d.data.size() > 4096) longOnes.push_back(d.data.size());
    EXPECT_EQ(longOnes, std::vector<size_t>{5000});
    ExpectClean();

    ASSERT_TRUE(cam->SendOversizedPicture());
    size_t big = 0;
    for (const auto& p : sink.CollectPictures(8, 10000)) {
        PictureStampInfo info;
        ASSERT_EQ(CPictureStamp::Verify(p.bytes.data(), p.bytes.size(), &info), StampResult::Ok);
        int w = 0, h = 0;
        big += p.bytes.size() > 786432 && info.padded && Decodes(p.bytes, &w, &h);
    }
    EXPECT_EQ(big, 1u);
}

// A camera cutting its pictures short: each picture lacks exactly its last
// N bytes (first its EOI) until the fault is switched off.
TEST_F(CamsimStream, CutPicturesLackTheirEndUntilSwitchedOff) {
    for (const unsigned cut : {2u, 1000u}) {
        SCOPED_TRACE(cut);
        bool ok = false;
        cam->Control("cut=" + std::to_string(cut), &ok);
        ASSERT_TRUE(ok);
        const auto cutPictures = sink.CollectPictures(6, 5000);
        ASSERT_EQ(cutPictures.size(), 6u);
        for (size_t i = 2; i < cutPictures.size(); ++i) {  // the first may have been under way
            const auto& b = cutPictures[i].bytes;
            PictureStampInfo info;
            ASSERT_TRUE(CPictureStamp::Find(b.data(), b.size(), &info));
            EXPECT_EQ(b.size() + cut, info.fileSize);
            EXPECT_FALSE(b.size() >= 2 && b[b.size() - 2] == 0xFF && b.back() == 0xD9);
        }
        cam->Control("cut=0", &ok);
        const auto whole = sink.CollectPictures(6, 5000);
        ASSERT_EQ(whole.size(), 6u);
        for (size_t i = 2; i < whole.size(); ++i) {
            EXPECT_EQ(CPictureStamp::Verify(whole[i].bytes.data(), whole[i].bytes.size(), nullptr), StampResult::Ok);
        }
    }
}

TEST_F(CamsimStream, ControlLanguageSwitchesFaults) {
    bool ok = false;
    EXPECT_EQ(cam->Control("drop=0.5&dup=0.25&reorder=0.1", &ok), "ok drop=0.5\nok dup=0.25\nok reorder=0.1\n");
    EXPECT_TRUE(ok);
    const RtpFaults f = cam->GetRtpFaults();
    EXPECT_EQ(std::tie(f.dropFraction, f.duplicateFraction, f.reorderFraction), std::make_tuple(0.5, 0.25, 0.1));
    for (const char* command : {"drop=1.5", "nonsense=1", "hang=camera.cgi&close=inquiry&times=3"})
        EXPECT_EQ((cam->Control(command, &ok), ok), command[0] == 'h') << command;
    ASSERT_EQ(cam->HttpFaults().size(), 2u);
    EXPECT_EQ(cam->HttpFaults()[0].remaining, 3);
    cam->Control("reset=1", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(cam->GetRtpFaults().dropFraction, 0.0);
    EXPECT_TRUE(cam->HttpFaults().empty());
    EXPECT_NE(cam->Control("stats=1").find("stream active"), std::string::npos);
}

// Each camera of a farm streams with its own settings: rate (0 is the
// camera's default, 50) and picture size.
TEST(CamsimFarm, CamerasWithOwnPortsSettingsAndStreamsOnOneSenderThread) {
    CCameraFarm farm(1);
    std::string error;
    ASSERT_TRUE(farm.Start(StreamConfig(), 3, 0, &error)) << error;
    ASSERT_EQ(farm.Size(), 3u);
    const unsigned rates[] = {20, 0, 25}, widths[] = {352, 176, 208}, ticks[] = {4500, 1800, 3600};
    std::set<uint16_t> ports;
    std::vector<std::unique_ptr<UdpSink>> sinks;
    for (size_t i = 0; i < farm.Size(); ++i) {
        ports.insert(farm.At(i).Port());
        const std::string set = "/command/camera.cgi?JpFrameRate=" + std::to_string(rates[i]) +
                                "&JpImageSize=" + std::to_string(widths[i]) + ",144";
        EXPECT_EQ(Get(farm.At(i).BaseUrl() + set).status, 200);
        sinks.push_back(std::make_unique<UdpSink>());
        RequestStream(farm.At(i), sinks.back()->RtpPort());
    }
    EXPECT_EQ(ports.size(), 3u);
    for (size_t i = 0; i < farm.Size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(farm.At(i).Requests().size(), 2u);
        const auto pics = sinks[i]->CollectPictures(3, 5000);
        ASSERT_EQ(pics.size(), 3u);
        EXPECT_EQ(pics[2].timestamp - pics[1].timestamp, ticks[i]);
        int w = 0, h = 0;
        ASSERT_TRUE(Decodes(pics[2].bytes, &w, &h));
        EXPECT_EQ(static_cast<unsigned>(w), widths[i]);
        for (const auto& p : pics)
            EXPECT_EQ(CPictureStamp::Verify(p.bytes.data(), p.bytes.size(), nullptr), StampResult::Ok);
    }
    const auto t0 = std::chrono::steady_clock::now();
    farm.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    for (size_t i = 0; i < farm.Size(); ++i) EXPECT_EQ(farm.At(i).GetStreamStats().stopReason, "shutdown");
}

// A phase puts the first picture, and so every later one, at its place in
// the frame interval (40 ms at 25 pictures/s) whenever the stream starts;
// without one the stream sends at once.
TEST(CamsimStreamPhase, FirstPictureWaitsForItsPlaceInTheFrameInterval) {
    struct Case {
        std::optional<double> phase;
        int startMs;  // into the frame interval
        int waitMs;
    };
    const Case cases[] = {
        {std::nullopt, 10, 0}, {0.0, 0, 0},    {0.5, 10, 10},
        {0.5, 20, 0},          {0.25, 30, 20},  // this interval's place has gone: the next one's
    };
    CPictureCache cache;
    std::string error;
    const auto ring = cache.Get(176, 144, 60, 2, &error);
    ASSERT_TRUE(ring) << error;
    using Clock = CRtpStream::Clock;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startMs);
        UdpSink sink;
        CRtpStream::Params p;
        p.destination = "127.0.0.1";
        p.rtpPort = sink.RtpPort();
        p.frameRate = 25;
        p.ring = ring;
        p.faults = std::make_shared<CFaultState>();
        p.phase = c.phase;
        CRtpStream stream(std::move(p));
        ASSERT_TRUE(stream.Open(&error)) << error;

        const Clock::time_point start{std::chrono::milliseconds(40 * 1000 + c.startMs)};
        Clock::time_point next;
        ASSERT_TRUE(stream.Service(start, &next));
        if (c.waitMs == 0) {
            EXPECT_EQ(stream.Stats().pictures, 1u);
            EXPECT_EQ(next, start + std::chrono::milliseconds(40));
            continue;
        }
        EXPECT_EQ(stream.Stats().pictures, 0u);
        EXPECT_EQ(next, start + std::chrono::milliseconds(c.waitMs));
        ASSERT_TRUE(stream.Service(next, &next));
        EXPECT_EQ(stream.Stats().pictures, 1u);
    }
}
