#include "transport/CRTCPSendReceive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <set>

#include "runtime/CSimulatedClock.h"
#include "tests/transport/TransportTestSupport.h"
#include "transport/IRTCPSendReceiveUser.h"

using namespace kestrel;
using namespace transporttest;

namespace {

using std::chrono::milliseconds;

constexpr uint32_t kCameraSsrc = 0xCA3E4A01;
constexpr uint32_t kOwnSsrc = 0x0DDBA11;

CRTCPSendReceive::GuidSource FixedGuid(uint32_t first) {
    return [first] { return std::array<uint32_t, 4>{first, 0x1111, 0x2222, 0x3333}; };
}

// An RTCP object reporting to a fake camera on loopback.
class RtcpSession {
public:
    explicit RtcpSession(int32_t interval) : rtcp(clock, FixedGuid(kOwnSsrc)) {
        EXPECT_TRUE(rtcp.Open(0));
        rtcp.SetRemoteAddress("127.0.0.1");
        rtcp.SetReportInterval(interval);
        EXPECT_TRUE(rtcp.StartReports());
    }
    ~RtcpSession() {
        rtcp.StopReports();
        rtcp.Close();
    }
    UdpResult CameraSends(const Bytes& bytes) { return camera.Send(rtcp.GetPort().GetPort(), bytes); }

    CSimulatedClock clock;
    Peer camera;
    CRTCPSendReceive rtcp;
};

// Until the camera's first sender report from its own address nobody is
// known to report to.
TEST(CRTCPSendReceive, NoReportBeforeASenderReportFromTheCamerasAddress) {
    RtcpSession session(1001);
    // A receiver report from the camera does not make it a known peer.
    ASSERT_EQ(session.CameraSends({0x80, 201, 0x00, 0x01, 0xCA, 0x3E, 0x4A, 0x01}), UdpSuccess);
    for (const std::string other : {"127.0.0.2", "", "not an address"}) {
        session.rtcp.SetRemoteAddress(other);
        ASSERT_EQ(session.CameraSends(SenderReport(kCameraSsrc, 1, 2)), UdpSuccess);
        // Dropped by the port's thread before the address changes again.
        Ipv4Endpoint from;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (session.rtcp.TakeDropped(from) == 0 && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        ASSERT_EQ(from.port, session.camera.Port()) << other;
    }
    // Two report intervals, each landing on the report thread's wait.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(session.clock.WaitForSleepers(1, 5000));
        session.clock.Advance(1001);
    }
    ASSERT_TRUE(session.clock.WaitForSleepers(1, 5000));
    EXPECT_EQ(session.camera.received.Datagrams().size(), 0u);
    EXPECT_FALSE(session.rtcp.IsPeerKnown());

    session.rtcp.SetRemoteAddress("127.0.0.1");
    ASSERT_EQ(session.CameraSends(SenderReport(kCameraSsrc, 3, 4)), UdpSuccess);
    EXPECT_TRUE(session.camera.received.WaitForDatagrams(1));
    EXPECT_TRUE(session.rtcp.IsPeerKnown());
    // The first report answers this sender report, not an earlier one.
    EXPECT_EQ(GetBigEndian32(session.camera.received.Datagrams().front().bytes, 24), 0x00030000u);
}

TEST(CRTCPSendReceive, EachCameraPacketIsAnsweredAtOnceAndCloseSaysBye) {
    RtcpSession session(30000);
    session.rtcp.RtpSequenceSeen(65535);
    session.rtcp.RtpSequenceSeen(0);
    for (uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(session.CameraSends(SenderReport(kCameraSsrc, 0x83AA7E80 + i, 0x12345678)), UdpSuccess);
        // Far sooner than the 30 s interval: the packet woke the report.
        ASSERT_TRUE(session.camera.received.WaitForDatagrams(i + 1, milliseconds(3000)));
        const Bytes rr = session.camera.received.Datagrams().at(i).bytes;
        ASSERT_EQ(rr.size(), 32u);
        EXPECT_EQ(GetBigEndian32(rr, 0), 0x81C90007u);  // V=2 RC=1, RR (201), 7 words
        EXPECT_EQ(GetBigEndian32(rr, 4), kOwnSsrc);
        EXPECT_EQ(GetBigEndian32(rr, 8), kCameraSsrc);
        EXPECT_EQ(GetBigEndian32(rr, 12), 0u);                               // fraction and cumulative lost
        EXPECT_EQ(GetBigEndian32(rr, 16), 65536u);                           // one cycle + 0
        EXPECT_EQ(GetBigEndian32(rr, 20), 0u);                               // jitter
        EXPECT_EQ(GetBigEndian32(rr, 24), ((0x7E80u + i) << 16) | 0x1234u);  // middle of the NTP time
        EXPECT_EQ(GetBigEndian32(rr, 28), 0u);                               // the clock stood still
    }
    // 1 to 13 bytes: none reaches both the SSRC and the time stamp, yet each wakes a report.
    for (size_t length = 1; length <= 13; ++length) {
        ASSERT_EQ(session.CameraSends(Bytes(length, 0x80)), UdpSuccess);
    }
    ASSERT_TRUE(session.camera.received.WaitForDatagrams(4));
    EXPECT_EQ(GetBigEndian32(session.camera.received.Datagrams().back().bytes, 24), 0x7E821234u);

    session.rtcp.StopReports();
    session.rtcp.Close();
    ASSERT_TRUE(session.camera.received.Wait([&] {
        const auto& all = session.camera.received.datagrams;
        return !all.empty() && all.back().bytes.size() == 8;
    }));
    const auto sent = session.camera.received.Datagrams();
    const Bytes bye = {0x81, 203, 0x00, 0x01, 0x00, 0xDD, 0xBA, 0x11};  // V=2 SC=1, BYE, 1 word, own SSRC
    EXPECT_EQ(sent.back().bytes, bye);
    EXPECT_EQ(sent.back().from.port, sent.front().from.port);
}

// The camera's RTCP socket changes with every stream it starts: reports go
// where its latest sender report came from, never to a stranger, and a
// closed object knows nobody.
TEST(CRTCPSendReceive, ReportsFollowTheCamerasLatestSenderReportAndCloseForgetsIt) {
    RtcpSession session(30000);
    const uint16_t port = session.rtcp.GetPort().GetPort();
    Peer restarted;  // the camera's address, another port
    ForeignSender stranger;
    ASSERT_TRUE(stranger.Bound()) << "127.0.0.2 is not usable here";

    ASSERT_EQ(session.CameraSends(SenderReport(kCameraSsrc, 1, 2)), UdpSuccess);
    ASSERT_TRUE(session.camera.received.WaitForDatagrams(1));
    // A stranger's sender report is dropped; a receiver report from the
    // camera's address wakes a report but does not move it.
    ASSERT_TRUE(stranger.Send(port, SenderReport(kCameraSsrc, 3, 4)));
    ASSERT_EQ(restarted.Send(port, {0x80, 201, 0x00, 0x01, 0xCA, 0x3E, 0x4A, 0x01}), UdpSuccess);
    ASSERT_TRUE(session.camera.received.WaitForDatagrams(2));
    // The camera's next stream reports from the new port.
    ASSERT_EQ(restarted.Send(port, SenderReport(kCameraSsrc, 5, 6)), UdpSuccess);
    ASSERT_TRUE(restarted.received.WaitForDatagrams(1)) << "the report went to the old port";
    EXPECT_EQ(GetBigEndian32(restarted.received.Datagrams().at(0).bytes, 4), kOwnSsrc);
    // And back: the latest wins.
    ASSERT_EQ(session.CameraSends(SenderReport(kCameraSsrc, 7, 8)), UdpSuccess);
    ASSERT_TRUE(session.camera.received.WaitForDatagrams(3));
    EXPECT_EQ(restarted.received.Datagrams().size(), 1u);

    Ipv4Endpoint last;
    EXPECT_EQ(session.rtcp.TakeDropped(last), 1u);
    EXPECT_EQ(last.address, 0x7F000002u);
    EXPECT_EQ(last.port, stranger.Port());
    EXPECT_EQ(session.rtcp.TakeDropped(last), 0u);

    session.rtcp.StopReports();
    session.rtcp.Close();
    ASSERT_TRUE(session.camera.received.Wait([&] {
        return session.camera.received.datagrams.back().bytes.size() == 8;
    })) << "BYE to the latest sender";
    EXPECT_FALSE(session.rtcp.IsPeerKnown());
    // Opened again, nobody is reported to before a sender report.
    ASSERT_TRUE(session.rtcp.Open(0));
    EXPECT_FALSE(session.rtcp.IsPeerKnown());
}

// The report thread's use of it, 1500 ms on the injected clock, is decoded
// by tshark in RtcpWiresharkTest.
TEST(CRTCPSendReceive, DelayInSixtyFourThousandthsAndTheIntervalAboveOneSecond) {
    // clang-format off
    const std::pair<uint32_t, uint32_t> rows[] = {
        {0, 0}, {1, 65}, {15, 983}, {1000, 65536}, {1500, 98304}, {65535999, 0xFFFFFFBE},
        {65536000, 0},  // 65536 s fills the 32-bit field and wraps
    };
    // clang-format on
    for (const auto& [ms, units] : rows) EXPECT_EQ(CRTCPSendReceive::DelayUnits(ms), units) << ms;
    // The report interval is kept only above one second.
    for (const auto& [asked, kept] : {std::pair{1000, 10000}, {1001, 1001}, {-5000, 10000}, {30000, 30000}}) {
        CRTCPSendReceive rtcp;
        rtcp.SetReportInterval(asked);
        EXPECT_EQ(rtcp.GetReportInterval(), kept) << asked;
    }
}

// The statistics themselves are tested in CSequenceStatisticsTest; here
// only that the RTP thread's numbers reach what the report thread reads.
TEST(CRTCPSendReceive, SequenceNumbersFeedTheStatisticsAndThePublishedHighest) {
    CRTCPSendReceive rtcp;
    EXPECT_FALSE(rtcp.IsSequenceStarted());
    for (uint16_t s : {65534, 65535, 0, 3}) rtcp.RtpSequenceSeen(s);
    EXPECT_TRUE(rtcp.IsSequenceStarted());
    EXPECT_EQ(rtcp.GetSequenceState().received, 4u);
    EXPECT_EQ(rtcp.GetExtendedHighestSequence(), 65536u + 3u);
    EXPECT_EQ(rtcp.GetLastSequenceNumber(), 3);
}

TEST(CRTCPSendReceive, OwnSsrcIsTheFirstGuidFieldOrRandWhenTheGeneratorFails) {
    EXPECT_EQ(CRTCPSendReceive(ITickClock::System(), FixedGuid(0x12345678)).GetOwnSsrc(), 0x12345678u);
    // Only an all-zero GUID is a failure.
    auto firstFieldZero = [] { return std::array<uint32_t, 4>{0, 0, 0, 1}; };
    EXPECT_EQ(CRTCPSendReceive(ITickClock::System(), firstFieldZero).GetOwnSsrc(), 0u);

    const auto before = std::time(nullptr);
    const CRTCPSendReceive failed(ITickClock::System(), [] { return std::array<uint32_t, 4>{}; });
    const auto after = std::time(nullptr);
    std::set<uint32_t> candidates;
    for (auto t = before; t <= after; ++t) {
        std::srand(static_cast<unsigned>(t));
        candidates.insert(static_cast<uint32_t>(std::rand()));
    }
    EXPECT_EQ(candidates.count(failed.GetOwnSsrc()), 1u);

    // The system's generator differs from object to object.
    EXPECT_NE(CRTCPSendReceive().GetOwnSsrc(), CRTCPSendReceive().GetOwnSsrc());
}

struct RecordingRtcpUser : IRTCPSendReceiveUser {
    void RtcpTimeout() override { ++timeouts; }
    void RtcpSocketClosed(CRTCPSendReceive* rtcp) override { closedBy = rtcp; }
    std::atomic<int> timeouts{0};
    std::atomic<CRTCPSendReceive*> closedBy{nullptr};
};

TEST(CRTCPSendReceive, OpenTwiceFailsStopWakesTheWaitAndThePortReachesItsUser) {
    RecordingRtcpUser user;
    CRTCPSendReceive rtcp;
    ASSERT_TRUE(rtcp.Open(0));
    EXPECT_FALSE(rtcp.Open(0));
    rtcp.SetUser(&user);
    rtcp.SetReportInterval(60000);
    EXPECT_TRUE(rtcp.StartReports());
    EXPECT_TRUE(rtcp.StartReports());  // restarts
    const auto start = std::chrono::steady_clock::now();
    rtcp.StopReports();  // must not sit out the 60 s wait
    rtcp.StopReports();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    rtcp.ReceiveTimeout();  // as the port calls it
    EXPECT_EQ(user.timeouts, 1);
    rtcp.Close();
    EXPECT_EQ(user.closedBy, &rtcp);
    EXPECT_TRUE(rtcp.Open(0));  // a closed object opens again
    rtcp.SetUser(nullptr);
}

}  // namespace
