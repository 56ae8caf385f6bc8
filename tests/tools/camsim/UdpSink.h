#pragma once
#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camsim_test {

struct Datagram {
    std::vector<uint8_t> data;
    sockaddr_in from{};
};

// One picture joined from RTP packets up to a marker.
struct JoinedPicture {
    std::vector<uint8_t> bytes;
    std::vector<uint16_t> sequences;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
};

// The receiving side of a stream: an RTP socket on an even port of
// 127.0.0.1 and the RTCP socket above it.
class UdpSink {
public:
    UdpSink();
    ~UdpSink();
    UdpSink(const UdpSink&) = delete;
    UdpSink& operator=(const UdpSink&) = delete;

    uint16_t RtpPort() const { return m_port; }
    std::optional<Datagram> ReceiveRtp(int timeoutMs) { return Receive(m_rtp, timeoutMs); }
    std::optional<Datagram> ReceiveRtcp(int timeoutMs) { return Receive(m_rtcp, timeoutMs); }
    bool SendRtcp(const std::vector<uint8_t>& data, const sockaddr_in& to);
    // Drains queued datagrams of both sockets.
    void Flush();
    // Packets joined into pictures; stops after count pictures or the time.
    // Packets before the first marker are skipped, so pictures start whole.
    std::vector<JoinedPicture> CollectPictures(size_t count, int timeoutMs, std::vector<Datagram>* raw = nullptr);

    // The driver's receiver report: 32 bytes, one block.
    static std::vector<uint8_t> ReceiverReport(uint32_t ownSsrc, uint32_t peerSsrc, uint32_t extendedHighest,
                                               uint32_t lsr, uint32_t dlsr);
    static std::vector<uint8_t> Bye(uint32_t ownSsrc);

private:
    static std::optional<Datagram> Receive(int fd, int timeoutMs);
    int m_rtp = -1;
    int m_rtcp = -1;
    uint16_t m_port = 0;
};

}  // namespace camsim_test
