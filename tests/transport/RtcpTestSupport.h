#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "tests/transport/PortTestSupport.h"
#include "transport/CRTCPSendReceive.h"

namespace transporttest {

inline void PutBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

inline uint32_t GetBigEndian32(const std::vector<uint8_t>& in, size_t offset) {
    return (uint32_t{in.at(offset)} << 24) | (uint32_t{in.at(offset + 1)} << 16) |
           (uint32_t{in.at(offset + 2)} << 8) | uint32_t{in.at(offset + 3)};
}

// A sender report without report blocks, as a camera sends it.
inline std::vector<uint8_t> SenderReport(uint32_t ssrc, uint32_t ntpHigh, uint32_t ntpLow) {
    std::vector<uint8_t> sr = {0x80, 200, 0x00, 0x06};  // V=2 RC=0, SR, 7 words
    PutBigEndian32(sr, ssrc);
    PutBigEndian32(sr, ntpHigh);
    PutBigEndian32(sr, ntpLow);
    PutBigEndian32(sr, 90000);  // RTP time stamp
    PutBigEndian32(sr, 25);     // sender's packet count
    PutBigEndian32(sr, 50000);  // sender's octet count
    return sr;
}

// The camera's side of RTCP: a port of its own on loopback.
class FakeCamera {
public:
    FakeCamera() {
        m_port.SetUser(&received);
        m_port.Open(0);
    }
    kestrel::UdpResult Send(uint16_t rtcpPort, const std::vector<uint8_t>& bytes) {
        return m_port.SendTo(bytes.data(), bytes.size(), kestrel::Ipv4Endpoint{kLoopback, rtcpPort});
    }
    uint16_t Port() { return m_port.GetPort(); }

    RecordingPortUser received;

private:
    kestrel::CUDPPort m_port;
};

// A tick clock the test moves by hand.
struct ManualClock {
    std::atomic<uint32_t> now{10000};
    kestrel::CRTCPSendReceive::TickSource Source() {
        return [this] { return now.load(); };
    }
};

}  // namespace transporttest
