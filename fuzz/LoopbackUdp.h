#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzsupport {

// A UDP socket on 127.0.0.1 that plays the camera's end in a target: it
// receives what the driver sends and nothing else. Plain POSIX, so it shares
// no code with the transport it checks.
class LoopbackUdp {
public:
    LoopbackUdp() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            socklen_t n = sizeof a;
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n);
            m_port = ntohs(a.sin_port);
        }
    }
    ~LoopbackUdp() {
        if (m_fd >= 0) ::close(m_fd);
    }
    LoopbackUdp(const LoopbackUdp&) = delete;
    LoopbackUdp& operator=(const LoopbackUdp&) = delete;

    uint16_t Port() const { return m_port; }

    // One datagram within `timeoutMs`; false when none came.
    bool Receive(std::vector<uint8_t>& out, int timeoutMs) {
        timeval tv{};
        tv.tv_sec = timeoutMs / 1000;
        tv.tv_usec = (timeoutMs % 1000) * 1000;
        if (tv.tv_sec == 0 && tv.tv_usec == 0) tv.tv_usec = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        out.resize(2048);
        const ssize_t n = ::recv(m_fd, out.data(), out.size(), 0);
        if (n < 0) {
            out.clear();
            return false;
        }
        out.resize(static_cast<size_t>(n));
        return true;
    }
    // Throws away whatever is queued.
    void Drain() {
        uint8_t buffer[2048];
        while (::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT) >= 0) {}
    }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

}  // namespace fuzzsupport
