#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace channeltest {

// A loopback UDP socket playing the camera's side of RTP and RTCP, or
// simply holding a local port so that the channel cannot take it.
class UdpPeer {
public:
    // Binds any local address on `port` (0: the system chooses).
    explicit UdpPeer(uint16_t port = 0) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(port);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            if (m_fd >= 0) ::close(m_fd);
            m_fd = -1;
        }
    }
    ~UdpPeer() {
        if (m_fd >= 0) ::close(m_fd);
    }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool Bound() const { return m_fd >= 0; }

    bool SendTo(uint16_t port, const std::vector<uint8_t>& data) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        return ::sendto(m_fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
               static_cast<ssize_t>(data.size());
    }

    std::optional<std::vector<uint8_t>> Receive(std::chrono::milliseconds timeout) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        std::vector<uint8_t> buffer(65536);
        const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (n < 0) return std::nullopt;
        buffer.resize(static_cast<size_t>(n));
        return buffer;
    }

    // True when `port` can be bound right now (both UDP and nobody holding it).
    static bool IsFree(uint16_t port) { return UdpPeer(port).Bound(); }

private:
    int m_fd = -1;
};

// True when a UDP socket of this process is bound to `port`. Other
// programs on the machine may take a port this process released, so
// "the port is free again" is asked this way, not by binding it.
inline bool ProcessHoldsUdpPort(uint16_t port) {
    std::set<std::string> inodes;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (dirent* entry = ::readdir(dir)) {
            char target[64] = {};
            const std::string path = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            const std::string link(target, static_cast<size_t>(n));
            if (link.rfind("socket:[", 0) == 0) inodes.insert(link.substr(8, link.size() - 9));
        }
        ::closedir(dir);
    }
    // sl local_address rem_address st tx:rx tr:tm retrnsmt uid timeout inode
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        const size_t colon = local.find(':');
        if (colon == std::string::npos) continue;
        if (std::stoul(local.substr(colon + 1), nullptr, 16) == port && inodes.count(inode) != 0) return true;
    }
    return false;
}

// Sends pictures as the camera does: RTP (version 2, payload type 26),
// one picture per run of packets, the marker on the last.
class RtpSender {
public:
    explicit RtpSender(uint16_t firstSequence = 1000) : m_seq(firstSequence) {}

    static std::vector<uint8_t> Packet(uint16_t seq, bool marker, const uint8_t* payload, size_t length) {
        std::vector<uint8_t> p = {0x80, static_cast<uint8_t>((marker ? 0x80 : 0x00) | 26),
                                  static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq & 0xFF),
                                  0x00, 0x01, 0x5F, 0x90,   // timestamp
                                  0x12, 0x34, 0x56, 0x78};  // SSRC
        p.insert(p.end(), payload, payload + length);
        return p;
    }

    // The bytes from `offset` on, in packets of `packetSize` payload bytes.
    void SendPicture(UdpPeer& peer, uint16_t port, const std::vector<uint8_t>& picture, size_t packetSize,
                     size_t offset = 0) {
        for (size_t off = offset; off < picture.size(); off += packetSize) {
            const size_t end = std::min(picture.size(), off + packetSize);
            peer.SendTo(port, Packet(m_seq++, end == picture.size(), picture.data() + off, end - off));
        }
    }

    uint16_t NextSequence() const { return m_seq; }

private:
    uint16_t m_seq;
};

// An RTCP sender report as the camera sends it: version 2, no report
// blocks, SSRC, NTP and RTP time stamps and counts.
inline std::vector<uint8_t> SenderReport() {
    return {0x80, 200, 0x00, 0x06,                            // V=2, SR, length 6
            0x12, 0x34, 0x56, 0x78,                           // SSRC
            0xE0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x00, 0x00,   // NTP time stamp
            0x00, 0x01, 0x5F, 0x90,                           // RTP time stamp
            0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x40, 0x00};  // packet and octet counts
}

}  // namespace channeltest
