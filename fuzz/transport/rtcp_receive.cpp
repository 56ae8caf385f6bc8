// The RTCP object fed the camera's datagrams directly (DataReceived, with a
// fixed camera address), RTP sequence numbers and clock steps, then made to
// answer: the receiver report it sends and the BYE of its Close must carry
// exactly what it was told, and every report sent meanwhile must be well
// formed.
//
// Input, after 4 bytes of GUID, 4 of start time and 2 of the delay before
// the answer, a list of records:
//   op 0  datagram: source (bit 0: another address, bit 1: another port
//         of the camera's address, bit 2: data pointer null), length, bytes
//   op 1  RTP sequence number (2 bytes)
//   op 2  clock step in milliseconds (2 bytes)
// The reports go to a loopback socket of this target, which stands for the
// camera; nothing leaves 127.0.0.1.
//
// One RTCP object, opened once, serves every input: a new one per input
// meant a socket, two thread starts and the BYE's linger each time. Each
// input starts it from a clean state and ends with its BYE.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/LoopbackUdp.h"
#include "runtime/CStopToken.h"
#include "runtime/ITickClock.h"
#include "transport/CRTCPSendReceive.h"

namespace {

constexpr uint32_t kCamera = 0x7F000001;  // 127.0.0.1
constexpr uint32_t kStranger = 0x7F000002;
constexpr uint16_t kOtherPort = 9;  // discard: nobody listens
constexpr size_t kMaxRecords = 64;

uint32_t Get32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// What the object must remember of the camera's accepted datagrams.
struct Peer {
    bool known = false;
    kestrel::Ipv4Endpoint address;
    uint8_t versionBits = 0;
    uint32_t ssrc = 0;
    uint32_t lastReport = 0;
    uint32_t arrival = 0;
};

void Accept(Peer& peer, const kestrel::Ipv4Endpoint& from, const uint8_t* d, size_t n, uint32_t now) {
    // Reports go where the latest sender report came from (the port is
    // open throughout).
    if (n >= 2 && d[1] == 200) {
        peer.address = from;
        peer.known = true;
    }
    peer.versionBits = d[0] & 0xC0;
    if (n >= 8) peer.ssrc = Get32(d + 4);
    if (n >= 14) peer.lastReport = Get32(d + 10);
    peer.arrival = now;
}

bool IsReportShape(const std::vector<uint8_t>& r, uint32_t ownSsrc) {
    return r.size() == 32 && r[1] == 201 && r[2] == 0 && r[3] == 7 && (r[0] & 0x3F) == 0x01 &&
           Get32(r.data() + 4) == ownSsrc && Get32(r.data() + 12) == 0 && Get32(r.data() + 20) == 0;
}

// The clock every input sets and steps.
std::atomic<uint32_t> g_now{0};

// Reads g_now; waits take real time, as the interval is never reached.
class CInputClock final : public kestrel::ITickClock {
public:
    uint32_t NowMs() override { return g_now.load(); }
    bool WaitFor(kestrel::CStopToken& stop, uint32_t ms) override { return stop.WaitFor(ms); }
};
CInputClock g_clock;

// The open RTCP object kept across inputs, its report thread running.
class ReusedRtcp : public kestrel::CRTCPSendReceive {
public:
    ReusedRtcp() : CRTCPSendReceive(g_clock, [] { return std::array<uint32_t, 4>{1, 0, 0, 7}; }) {
        // The lock as on one processor: the feed and the report thread meet
        // on it at every camera packet, and on two shared cores spinning
        // for it took a quarter of the time. Waiting on its event instead
        // changes no outcome.
        m_lock.SetSpinCount(0);
        // Only a packet of the camera's wakes the report thread.
        SetReportInterval(1 << 30);
        SetRemoteAddress("127.0.0.1");
        m_open = Open(0);
    }
    ~ReusedRtcp() override {
        StopReports();
        Close();
    }
    ReusedRtcp(const ReusedRtcp&) = delete;
    ReusedRtcp& operator=(const ReusedRtcp&) = delete;

    bool IsUsable() const { return m_open; }

    // Everything a run leaves behind, back to what construction gives, the
    // own SSRC as a new object with `ssrc` would take it. Under the lock: a
    // report under way is sent before, and none is built after until the
    // camera's next sender report.
    void StartOver(uint32_t ssrc) {
        CLockGuard guard(m_lock);
        m_ownSsrc = ssrc;
        m_peerKnown.store(false);
        m_peerAddress = kestrel::Ipv4Endpoint{};
        m_peerVersionBits = 0;
        m_peerSsrc = 0;
        m_lastReportTimestamp = 0;
        m_packetArrival = 0;
        m_statistics.Reset();
        m_extendedHighest.store(0);
        m_lastSequenceNumber.store(0);
        m_scheduler.ReportDone();
    }
    // The BYE of Close, without closing the port.
    using CRTCPSendReceive::SendBye;

private:
    bool m_open = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzsupport::LoopbackUdp camera;
    static ReusedRtcp rtcp;
    if (!rtcp.IsUsable()) return 0;  // no port left: not this input's fault
    fuzzsupport::FuzzInput in(data, size);

    const uint32_t guidFirst = in.U32();
    std::atomic<uint32_t>& now = g_now;
    now.store(in.U32());
    const uint16_t answerDelay = in.U16();
    // The own SSRC as construction takes it from the GUID (a bare object
    // costs no socket and no thread).
    const uint32_t ownSsrc = kestrel::CRTCPSendReceive(kestrel::ITickClock::System(), [guidFirst] {
                                 return std::array<uint32_t, 4>{guidFirst, 0, 0, 7};
                             }).GetOwnSsrc();
    FUZZ_CHECK(ownSsrc == guidFirst);
    rtcp.StartOver(ownSsrc);
    // Whatever the last input's thread sent went out before StartOver.
    camera.Drain();
    FUZZ_CHECK(!rtcp.IsPeerKnown() && rtcp.GetExtendedHighestSequence() == 0 && !rtcp.IsSequenceStarted());

    kestrel::Ipv4Endpoint lastStranger;
    (void)rtcp.TakeDropped(lastStranger);  // the last input's
    uint64_t strangers = 0;
    Peer peer;
    std::set<uint32_t> extendedSeen{0};
    for (size_t records = 0; !in.Empty() && records < kMaxRecords; ++records) {
        switch (in.U8() % 3) {
        case 0: {
            const uint8_t source = in.U8();
            size_t length = 0;
            const uint8_t* bytes = in.Bytes(in.U8(), length);
            const kestrel::Ipv4Endpoint from{(source & 1) ? kStranger : kCamera,
                                             (source & 2) ? kOtherPort : camera.Port()};
            const uint8_t* passed = (source & 4) ? nullptr : bytes;
            rtcp.DataReceived(&rtcp.GetPort(), from, passed, length);
            strangers += from.address == kStranger;
            if (from.address == kCamera && length != 0 && passed != nullptr) {
                Accept(peer, from, bytes, length, now.load());
            }
            break;
        }
        case 1:
            rtcp.RtpSequenceSeen(in.U16());
            extendedSeen.insert(rtcp.GetExtendedHighestSequence());
            break;
        default:
            now.fetch_add(in.U16());
            break;
        }
    }
    FUZZ_CHECK(rtcp.IsPeerKnown() == peer.known);
    // Every stranger's datagram was counted, whatever it held.
    FUZZ_CHECK(rtcp.TakeDropped(lastStranger) == strangers);
    FUZZ_CHECK(strangers == 0 || lastStranger.address == kStranger);

    // The camera's sender report from our port: wherever reports went
    // before, they follow it here.
    std::vector<uint8_t> got;
    {
        // The answer must echo it exactly.
        const uint8_t sr[28] = {0x80, 200,  0,    6,     // V=2, SR, 7 words
                                0xCA, 0xFE, 0xBA, 0xBE,  // camera SSRC
                                0x11, 0x22, 0x33, 0x44,  // NTP high
                                0x55, 0x66, 0x77, 0x88,  // NTP low
                                0,    0,    0,    1,    0, 0, 0, 2, 0, 0, 0, 3};
        const kestrel::Ipv4Endpoint from{kCamera, camera.Port()};
        rtcp.DataReceived(&rtcp.GetPort(), from, sr, sizeof sr);
        Accept(peer, from, sr, sizeof sr, now.load());
        const uint32_t extended = rtcp.GetExtendedHighestSequence();
        // 1/65536 s units: 1500 ms give 98304.
        uint32_t delay = peer.arrival == 0 ? 0 : static_cast<uint32_t>(uint64_t{answerDelay} * 65536 / 1000);
        now.fetch_add(answerDelay);

        // A packet that came while the thread was between sending and
        // re-arming only waits for the interval: knock again, waiting a
        // little longer each time (the thread normally answers in well under
        // a millisecond).
        static constexpr int kRoundWaitMs[] = {3, 30, 300, 5000};
        bool answered = false;
        for (int round = 0; round < 4 && !answered; ++round) {
            if (round > 0) {
                rtcp.DataReceived(&rtcp.GetPort(), from, sr, sizeof sr);
                delay = 0;  // arrived just now
            }
            while (camera.Receive(got, kRoundWaitMs[round])) {
                FUZZ_CHECK(IsReportShape(got, ownSsrc));
                FUZZ_CHECK(extendedSeen.count(Get32(got.data() + 16)) == 1 || Get32(got.data() + 16) == extended);
                if (got[0] == (peer.versionBits | 1) && Get32(got.data() + 8) == peer.ssrc &&
                    Get32(got.data() + 16) == extended && Get32(got.data() + 24) == peer.lastReport &&
                    // The thread may have answered before the clock moved on.
                    (Get32(got.data() + 28) == delay || Get32(got.data() + 28) == 0)) {
                    answered = true;
                    break;
                }
            }
        }
        FUZZ_CHECK(answered);
    }

    rtcp.SendBye();
    {
        // Reports still under way, then the BYE.
        bool bye = false;
        while (!bye && camera.Receive(got, 5000)) {
            if (got.size() == 8 && got[1] == 203) {
                FUZZ_CHECK(got[0] == (peer.versionBits | 1) && got[2] == 0 && got[3] == 1 &&
                           Get32(got.data() + 4) == ownSsrc);
                bye = true;
            } else {
                FUZZ_CHECK(IsReportShape(got, ownSsrc));
            }
        }
        FUZZ_CHECK(bye);
    }
    return 0;
}
