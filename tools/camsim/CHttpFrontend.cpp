#include "tools/camsim/CHttpFrontend.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "tools/camsim/CConnectionStream.h"

namespace camsim {
namespace {

constexpr uint32_t kNoLimitMs = 0xFFFFFFFF;  // the loop ends once stop() is called

// TLS writes to a peer that has gone raise SIGPIPE on the writing thread;
// these threads keep it blocked and discard it.
void BlockSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void DiscardSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    timespec zero{0, 0};
    while (sigtimedwait(&set, nullptr, &zero) > 0) {}
}

}  // namespace

CHttpFrontend::CHttpFrontend(SSL_CTX* tls, unsigned threads, uint32_t ioTimeoutMs)
    : m_tls(tls), m_threads(threads == 0 ? 1 : threads), m_ioTimeoutMs(ioTimeoutMs) {
    const unsigned n = m_threads;
    new_task_queue = [n] { return new httplib::ThreadPool(n); };
    const time_t sec = static_cast<time_t>(ioTimeoutMs / 1000);
    const time_t usec = static_cast<time_t>((ioTimeoutMs % 1000) * 1000);
    set_read_timeout(sec, usec);
    set_write_timeout(sec, usec);
}

CHttpFrontend::~CHttpFrontend() { Close(); }

bool CHttpFrontend::Open(const std::string& address, uint16_t port, std::string* error) {
    if (m_listener.IsRunning()) {
        if (error) *error = "already open";
        return false;
    }
    int bound;
    if (port == 0) {
        bound = bind_to_any_port(address);
    } else {
        bound = bind_to_port(address, port) ? port : -1;
    }
    if (bound <= 0) {
        if (error) *error = "cannot listen on " + address + ":" + std::to_string(port);
        return false;
    }
    m_port = static_cast<uint16_t>(bound);
    const bool started = m_listener.Start("camsim-http", [this](kestrel::CStopToken&) {
        BlockSigpipe();  // inherited by the pool's threads
        listen_after_bind();
    });
    // httplib's stop() only works once the loop runs.
    while (started && !is_running() && m_listener.IsRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!is_running()) {
        m_listener.Stop(kNoLimitMs);
        if (error) *error = "listener ended at once";
        return false;
    }
    return true;
}

void CHttpFrontend::Close() {
    if (!m_listener.IsRunning()) return;
    m_listener.RequestStop();
    {
        // Wake every connection blocked in a read, a write or a hang.
        std::lock_guard<std::mutex> lock(m_connMutex);
        for (auto& [id, c] : m_connections) ::shutdown(c->fd, SHUT_RDWR);
    }
    stop();
    m_listener.Join(kNoLimitMs);
}

CHttpFrontend::Connection* CHttpFrontend::CurrentConnection() {
    std::lock_guard<std::mutex> lock(m_connMutex);
    auto it = m_connections.find(std::this_thread::get_id());
    return it == m_connections.end() ? nullptr : it->second;
}

bool CHttpFrontend::process_and_close_socket(socket_t sock) {
    BlockSigpipe();
    Connection conn;
    conn.fd = sock;
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        if (m_listener.Token().StopRequested()) {
            ::close(sock);
            return false;
        }
        m_connections[std::this_thread::get_id()] = &conn;
    }
    int one = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in local{};
    socklen_t localLen = sizeof local;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&local), &localLen) == 0 && local.sin_family == AF_INET) {
        char ip[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &local.sin_addr, ip, sizeof ip);
        conn.localAddress = ip;
    }

    SSL* ssl = nullptr;
    bool ok = true;
    if (m_tls != nullptr) {
        ssl = SSL_new(m_tls);
        ok = ssl != nullptr && SSL_set_fd(ssl, sock) == 1 && SSL_accept(ssl) == 1;
    }
    if (ok) {
        CConnectionStream stream(sock, ssl, m_ioTimeoutMs, m_listener.Token());
        bool closed = false;
        ok = process_request(stream, true, closed, [ssl](httplib::Request& req) { req.ssl = ssl; });
        if (conn.drop)
            stream.Discard();
        else
            ok = stream.Flush() && ok;
    }
    if (ssl != nullptr) {
        if (ok && !conn.drop) SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        m_connections.erase(std::this_thread::get_id());
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
    }
    DiscardSigpipe();
    return ok;
}

}  // namespace camsim
