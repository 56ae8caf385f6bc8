#include "UdpSink.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace camsim_test {
namespace {

int BindUdp(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    int big = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    return fd;
}

uint16_t PortOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (24 - 8 * i)));
}

}  // namespace

UdpSink::UdpSink() {
    // An even port with a free odd one above it.
    for (int attempt = 0; attempt < 200 && m_rtp < 0; ++attempt) {
        int probe = BindUdp(0);
        uint16_t p = PortOf(probe);
        ::close(probe);
        p &= 0xFFFE;
        if (p < 1024 || p == 0xFFFE) continue;
        int rtp = BindUdp(p);
        if (rtp < 0) continue;
        int rtcp = BindUdp(static_cast<uint16_t>(p + 1));
        if (rtcp < 0) {
            ::close(rtp);
            continue;
        }
        m_rtp = rtp;
        m_rtcp = rtcp;
        m_port = p;
    }
    if (m_rtp < 0) throw std::runtime_error("no free UDP port pair");
}

UdpSink::~UdpSink() {
    ::close(m_rtp);
    ::close(m_rtcp);
}

std::optional<Datagram> UdpSink::Receive(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    Datagram d;
    d.data.resize(70000);
    socklen_t len = sizeof d.from;
    const ssize_t r = ::recvfrom(fd, d.data.data(), d.data.size(), 0, reinterpret_cast<sockaddr*>(&d.from), &len);
    if (r < 0) return std::nullopt;
    d.data.resize(static_cast<size_t>(r));
    return d;
}

bool UdpSink::SendRtcp(const std::vector<uint8_t>& data, const sockaddr_in& to) {
    return ::sendto(m_rtcp, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(data.size());
}

void UdpSink::Flush() {
    while (Receive(m_rtp, 0)) {
    }
    while (Receive(m_rtcp, 0)) {
    }
}

std::vector<JoinedPicture> UdpSink::CollectPictures(size_t count, int timeoutMs, std::vector<Datagram>* raw) {
    std::vector<JoinedPicture> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool synced = false;
    JoinedPicture cur;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        auto d = ReceiveRtp(static_cast<int>(left.count()));
        if (!d) break;
        if (raw) raw->push_back(*d);
        const auto& b = d->data;
        if (b.size() < 12) continue;
        const bool marker = (b[1] & 0x80) != 0;
        if (!synced) {
            synced = marker;
            continue;
        }
        cur.sequences.push_back(static_cast<uint16_t>((b[2] << 8) | b[3]));
        cur.timestamp = (uint32_t{b[4]} << 24) | (uint32_t{b[5]} << 16) | (uint32_t{b[6]} << 8) | b[7];
        cur.ssrc = (uint32_t{b[8]} << 24) | (uint32_t{b[9]} << 16) | (uint32_t{b[10]} << 8) | b[11];
        cur.bytes.insert(cur.bytes.end(), b.begin() + 12, b.end());
        if (marker) {
            out.push_back(std::move(cur));
            cur = JoinedPicture{};
        }
    }
    return out;
}

std::vector<uint8_t> UdpSink::ReceiverReport(uint32_t ownSsrc, uint32_t peerSsrc, uint32_t extendedHighest,
                                             uint32_t lsr, uint32_t dlsr) {
    std::vector<uint8_t> v{0x81, 201, 0, 7};
    Put32(v, ownSsrc);
    Put32(v, peerSsrc);
    Put32(v, 0);  // fraction lost, cumulative lost
    Put32(v, extendedHighest);
    Put32(v, 0);  // jitter
    Put32(v, lsr);
    Put32(v, dlsr);
    return v;
}

std::vector<uint8_t> UdpSink::Bye(uint32_t ownSsrc) {
    std::vector<uint8_t> v{0x81, 203, 0, 1};
    Put32(v, ownSsrc);
    return v;
}

}  // namespace camsim_test
