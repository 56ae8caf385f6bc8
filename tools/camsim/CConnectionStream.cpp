#include "tools/camsim/CConnectionStream.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace camsim {
namespace {

void Address(const sockaddr_storage& ss, std::string& ip, int& port) {
    char buf[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&ss);
        inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf);
        port = ntohs(a->sin_port);
    } else if (ss.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&ss);
        inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof buf);
        port = ntohs(a->sin6_port);
    }
    ip = buf;
}

}  // namespace

CConnectionStream::CConnectionStream(int fd, SSL* ssl, uint32_t timeoutMs, const kestrel::CStopToken& stop)
    : m_fd(fd), m_ssl(ssl), m_timeoutMs(timeoutMs), m_stop(stop) {}

bool CConnectionStream::WaitFor(short events) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs);
    while (!m_stop.StopRequested()) {
        pollfd p{m_fd, events, 0};
        const int r = ::poll(&p, 1, 100);
        if (r > 0) return true;  // ready, or an error the next call reports
        if (r < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= end) return false;
    }
    return false;
}

bool CConnectionStream::is_readable() const {
    if (m_inPos < m_inLen) return true;
    if (m_ssl != nullptr && SSL_pending(m_ssl) > 0) return true;
    return WaitFor(POLLIN);
}

bool CConnectionStream::is_writable() const { return !m_stop.StopRequested(); }

ssize_t CConnectionStream::read(char* ptr, size_t size) {
    if (m_inPos == m_inLen) {
        if (!is_readable()) return -1;
        m_inPos = m_inLen = 0;
        if (m_ssl != nullptr) {
            const int r = SSL_read(m_ssl, m_in, sizeof m_in);
            if (r <= 0) return SSL_get_error(m_ssl, r) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
            m_inLen = static_cast<size_t>(r);
        } else {
            ssize_t r;
            do {
                r = ::recv(m_fd, m_in, sizeof m_in, 0);
            } while (r < 0 && errno == EINTR);
            if (r <= 0) return r;
            m_inLen = static_cast<size_t>(r);
        }
    }
    const size_t n = std::min(size, m_inLen - m_inPos);
    std::memcpy(ptr, m_in + m_inPos, n);
    m_inPos += n;
    return static_cast<ssize_t>(n);
}

ssize_t CConnectionStream::write(const char* ptr, size_t size) {
    if (m_stop.StopRequested()) return -1;
    m_out.append(ptr, size);
    return static_cast<ssize_t>(size);
}

bool CConnectionStream::Flush() {
    if (m_out.compare(0, 9, "HTTP/1.1 ") == 0) m_out[7] = '0';
    size_t done = 0;
    while (done < m_out.size()) {
        if (!WaitFor(POLLOUT)) return false;
        if (m_ssl != nullptr) {
            const int r = SSL_write(m_ssl, m_out.data() + done, static_cast<int>(m_out.size() - done));
            if (r <= 0) return false;
            done += static_cast<size_t>(r);
        } else {
            const ssize_t r = ::send(m_fd, m_out.data() + done, m_out.size() - done, MSG_NOSIGNAL);
            if (r < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return false;
            }
            done += static_cast<size_t>(r);
        }
    }
    m_out.clear();
    return true;
}

void CConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    port = 0;
    ip.clear();
    if (getpeername(m_fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0) Address(ss, ip, port);
}

void CConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    port = 0;
    ip.clear();
    if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0) Address(ss, ip, port);
}

}  // namespace camsim
