#include "transport/CUDPSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrel {

namespace {

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(endpoint.address);
    address.sin_port = htons(endpoint.port);
    return address;
}

}  // namespace

CUDPSocket::~CUDPSocket() { Close(); }

bool CUDPSocket::Create() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return false;
    m_fd.store(fd, std::memory_order_release);
    return true;
}

bool CUDPSocket::SetReceiveBufferSize(uint32_t bytes) {
    const int value = static_cast<int>(bytes);
    return ::setsockopt(m_fd.load(), SOL_SOCKET, SO_RCVBUF, &value, sizeof value) == 0;
}

int CUDPSocket::GetReceiveBufferSize() const {
    int value = 0;
    socklen_t size = sizeof value;
    if (::getsockopt(m_fd.load(), SOL_SOCKET, SO_RCVBUF, &value, &size) != 0) return -1;
    return value;
}

bool CUDPSocket::Bind(uint16_t port) {
    const sockaddr_in address = ToSockaddr(Ipv4Endpoint{INADDR_ANY, port});
    return ::bind(m_fd.load(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

uint16_t CUDPSocket::GetLocalPort() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (::getsockname(m_fd.load(), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

bool CUDPSocket::SetReceiveTimeout(int timeoutMs) {
    timeval limit{};  // zero: no limit
    if (timeoutMs >= 0) {
        // A zero limit would mean none; the shortest real one is 1 ms.
        const int ms = timeoutMs == 0 ? 1 : timeoutMs;
        limit.tv_sec = ms / 1000;
        limit.tv_usec = (ms % 1000) * 1000;
    }
    return ::setsockopt(m_fd.load(std::memory_order_acquire), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

CUDPSocket::ReadResult CUDPSocket::Receive(uint8_t* buffer, size_t size, size_t& length, Ipv4Endpoint& from) const {
    sockaddr_in source{};
    socklen_t sourceLength = sizeof source;
    length = 0;
    // recvfrom rather than recvmsg: no message header and vector to copy in
    // and out per datagram. MSG_TRUNC makes it answer a datagram's full
    // length, so a cut one is still told apart.
    const ssize_t received = ::recvfrom(m_fd.load(std::memory_order_acquire), buffer, size, MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&source), &sourceLength);
    if (received < 0) {
        switch (errno) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return ReadResult::TimedOut;
        case EBADF:
        case ENOTSOCK:
        case EFAULT:
        case ENETDOWN:
            return ReadResult::Fatal;
        default:
            // EINVAL, EINTR, ECONNREFUSED from an earlier send, ...
            return ReadResult::Failed;
        }
    }
    if (static_cast<size_t>(received) > size) return ReadResult::Truncated;
    if (received == 0) {
        // A shut-down socket reads as zero bytes from nobody; a datagram of
        // zero bytes still has a sender.
        return sourceLength == 0 ? ReadResult::EndOfStream : ReadResult::EmptyDatagram;
    }
    length = static_cast<size_t>(received);
    from.address = ntohl(source.sin_addr.s_addr);
    from.port = ntohs(source.sin_port);
    return ReadResult::Datagram;
}

void CUDPSocket::Drain() const {
    uint8_t scratch[1024];
    const int fd = m_fd.load(std::memory_order_acquire);
    while (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {}
}

CUDPSocket::SendResult CUDPSocket::SendTo(const uint8_t* data, size_t length, const Ipv4Endpoint& to,
                                          size_t& sent) const {
    const sockaddr_in address = ToSockaddr(to);
    sent = 0;
    ssize_t result;
    do {
        // No SIGPIPE from a socket that Close has shut down meanwhile.
        result = ::sendto(m_fd.load(std::memory_order_acquire), data, length, MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return errno == EMSGSIZE ? SendResult::TooLarge : SendResult::Failed;
    if (result == 0) return SendResult::NothingSent;
    sent = static_cast<size_t>(result);
    return SendResult::Sent;
}

void CUDPSocket::Shutdown() const {
    // An unconnected UDP socket answers ENOTCONN, yet the shutdown is
    // recorded and its waiters are woken.
    ::shutdown(m_fd.load(std::memory_order_acquire), SHUT_RDWR);
}

void CUDPSocket::Close() {
    const int fd = m_fd.exchange(-1, std::memory_order_acq_rel);
    if (fd >= 0) ::close(fd);
}

bool CUDPSocket::ParseDottedAddress(const std::string& text, uint32_t& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
    address = ntohl(parsed.s_addr);
    return true;
}

bool CUDPSocket::ResolveIpv4(const std::string& host, uint32_t& address) {
    if (host.empty()) return false;
    if (ParseDottedAddress(host, address)) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    bool ok = false;
    for (const addrinfo* a = found; a != nullptr && !ok; a = a->ai_next) {
        if (a->ai_family != AF_INET || a->ai_addr == nullptr || a->ai_addrlen < sizeof(sockaddr_in)) continue;
        sockaddr_in in{};
        std::memcpy(&in, a->ai_addr, sizeof in);
        address = ntohl(in.sin_addr.s_addr);
        ok = true;
    }
    ::freeaddrinfo(found);
    return ok;
}

void CUDPSocket::RaiseCurrentThreadPriority() {
    // Linux threads have a nice value each; lowering it needs privileges,
    // and a refusal leaves the thread at normal priority.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) return;
    (void)::setpriority(PRIO_PROCESS, tid, current - 1);
}

}  // namespace kestrel
