#include "fuzz/web/ScriptedPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace fuzzweb {

namespace {
constexpr size_t kHeadLimit = 65536;
constexpr int kIdleMs = 500;  // a client silent this long is given up
}  // namespace

ScriptedPeer::ScriptedPeer() {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_listen, 16) == 0) {
        socklen_t n = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &n);
        m_port = ntohs(a.sin_port);
    }
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
    Finish();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
    if (m_listen >= 0) ::close(m_listen);
    if (m_wake >= 0) ::close(m_wake);
}

void ScriptedPeer::Play(std::vector<Reply> script) {
    Finish();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script = std::move(script);
        m_next.store(0);
        m_playing = true;
    }
    m_changed.notify_all();
}

size_t ScriptedPeer::Finish() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_playing) {
        const uint64_t one = 1;
        (void)!::write(m_wake, &one, sizeof one);
        m_changed.wait(lock, [this] { return !m_playing; });
    }
    return m_next.load();
}

void ScriptedPeer::Run() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_playing || m_quit; });
            if (m_quit) return;
        }
        Serve();
        EndPlay();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_playing = false;
        }
        m_changed.notify_all();
    }
}

// Closes what the play left: hung connections, and connections the client
// made that were never accepted (the next play would read their requests).
// The client is gone by now, so the backlog holds all it ever will.
void ScriptedPeer::EndPlay() {
    for (int fd : m_held) ::close(fd);
    m_held.clear();
    for (;;) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0) break;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) break;
        ::close(fd);
    }
    uint64_t drained = 0;
    while (::read(m_wake, &drained, sizeof drained) > 0) {}
}

// True when the play is being finished; otherwise waits up to timeoutUs.
bool ScriptedPeer::Stopping(unsigned timeoutUs) {
    pollfd p{m_wake, POLLIN, 0};
    const timespec wait{static_cast<time_t>(timeoutUs / 1000000), static_cast<long>(timeoutUs % 1000000) * 1000};
    return ::ppoll(&p, 1, &wait, nullptr) > 0;
}

void ScriptedPeer::Serve() {
    for (;;) {
        pollfd p[2] = {{m_wake, POLLIN, 0}, {m_listen, POLLIN, 0}};
        if (::poll(p, 2, -1) <= 0) continue;
        if (p[0].revents != 0) return;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        if (ServeConnection(fd)) {
            ::close(fd);
        }
    }
}

// False when the connection was kept (hung or reset by us).
bool ScriptedPeer::ServeConnection(int fd) {
    for (;;) {
        if (!ReadRequest(fd) || m_next >= m_script.size()) return true;
        const Reply& r = m_script[m_next.fetch_add(1)];
        const size_t total = std::min(r.bytes.size(), r.cutAt);
        const size_t chunk = r.chunk == 0 ? std::max<size_t>(total, 1) : r.chunk;
        for (size_t at = 0; at < total; at += chunk) {
            if (r.delayUs != 0 && Stopping(r.delayUs)) return true;
            if (!WriteAll(fd, r.bytes.data() + at, std::min(chunk, total - at))) return true;
        }
        if (r.reset) {
            const linger hard{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(fd);
            return false;
        }
        if (r.hang) {
            m_held.push_back(fd);
            return false;
        }
        if (!r.keepOpen) return true;
    }
}

// Reads one request head (to the blank line), or a TLS record's first bytes.
bool ScriptedPeer::ReadRequest(int fd) {
    std::string head;
    char buffer[4096];
    for (;;) {
        pollfd p[2] = {{m_wake, POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(p, 2, kIdleMs) <= 0 || p[0].revents != 0) return false;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        head.append(buffer, static_cast<size_t>(n));
        if (static_cast<uint8_t>(head[0]) == 0x16) return true;  // a TLS hello
        if (head.find("\r\n\r\n") != std::string::npos || head.size() > kHeadLimit) return true;
    }
}

bool ScriptedPeer::WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd p[2] = {{m_wake, POLLIN, 0}, {fd, POLLOUT, 0}};
        if (::poll(p, 2, kIdleMs) <= 0 || p[0].revents != 0) return false;
    }
    return true;
}

}  // namespace fuzzweb
