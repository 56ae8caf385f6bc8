#pragma once
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/DEVICE_INFO.h"

namespace webtest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms) {
    for (const auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(2ms)) {
        if (condition()) return true;
    }
    return condition();
}

// One accepted connection of a RawServer; everything read is recorded.
class RawConnection {
public:
    RawConnection(int fd, const std::atomic<bool>& stopping, std::function<void(const std::string&)> record)
        : m_fd(fd), m_stopping(stopping), m_record(std::move(record)) {}
    // The next request head plus `bodyBytes` more; empty when the peer closed.
    std::string ReadRequest(size_t bodyBytes = 0) {
        for (;;) {
            const size_t end = m_buffer.find("\r\n\r\n");
            if (end != std::string::npos && m_buffer.size() >= end + 4 + bodyBytes) {
                std::string request = m_buffer.substr(0, end + 4 + bodyBytes);
                m_buffer.erase(0, request.size());
                return request;
            }
            if (!ReadSome()) return {};
        }
    }
    bool Write(const std::string& bytes) {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    // The first byte the peer sends, left unread; -1 when none comes.
    int PeekByte() {
        unsigned char byte = 0;
        return WaitReadable() && ::recv(m_fd, &byte, 1, MSG_PEEK) == 1 ? byte : -1;
    }
    void Hang() {  // reads on until the peer closes or the server stops
        while (ReadSome()) {}
    }
    void Stall() {  // reads nothing more until the server stops
        while (!m_stopping.load()) std::this_thread::sleep_for(10ms);
    }

private:
    bool WaitReadable() {
        while (!m_stopping.load()) {
            pollfd p{m_fd, POLLIN, 0};
            const int r = ::poll(&p, 1, 20);
            if (r != 0) return r > 0;
        }
        return false;
    }
    bool ReadSome() {
        char chunk[4096];
        const ssize_t n = WaitReadable() ? ::recv(m_fd, chunk, sizeof chunk, 0) : 0;
        if (n <= 0) return false;
        m_buffer.append(chunk, static_cast<size_t>(n));
        m_record(std::string(chunk, static_cast<size_t>(n)));
        return true;
    }
    int m_fd;
    const std::atomic<bool>& m_stopping;
    std::function<void(const std::string&)> m_record;
    std::string m_buffer;
};

// A TCP listener whose connections are each served by a script on a thread
// of their own; it records every byte it received. With accept false (and
// backlog 0) connections are never taken, so a connect can stall.
class RawServer {
public:
    using Script = std::function<void(RawConnection&)>;
    explicit RawServer(Script script, const std::string& address = "127.0.0.1", uint16_t port = 0, bool accept = true)
        : m_script(std::move(script)) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
        socklen_t len = sizeof sa;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0 || ::listen(fd, accept ? 16 : 0) != 0) {
            ::close(fd);
            return;
        }
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        m_port = ntohs(sa.sin_port);
        m_listenFd = fd;
        if (accept) m_acceptThread = std::thread([this] { AcceptLoop(); });
    }
    ~RawServer() {
        m_stopping.store(true);
        if (m_acceptThread.joinable()) m_acceptThread.join();
        for (auto& t : m_threads) t.join();  // the accept thread, which adds to them, has ended
        for (int fd : m_fds) ::close(fd);
        if (m_listenFd >= 0) ::close(m_listenFd);
    }
    bool Ok() const { return m_listenFd >= 0; }
    uint16_t Port() const { return m_port; }
    int Accepted() const { return m_accepted.load(); }
    std::string Wire() const {  // all bytes of all connections
        std::lock_guard<std::mutex> g(m_lock);
        std::string all;
        for (const auto& w : m_wire) all += w;
        return all;
    }
    std::vector<std::string> Heads() const {  // request heads, connection by connection
        std::vector<std::string> heads;
        std::lock_guard<std::mutex> g(m_lock);
        for (const auto& w : m_wire) {
            for (size_t pos = 0, end; (end = w.find("\r\n\r\n", pos)) != std::string::npos; pos = end + 4) {
                heads.push_back(w.substr(pos, end + 4 - pos));
            }
        }
        return heads;
    }

private:
    void AcceptLoop() {
        while (!m_stopping.load()) {
            pollfd p{m_listenFd, POLLIN, 0};
            const int fd = ::poll(&p, 1, 20) > 0 ? ::accept(m_listenFd, nullptr, nullptr) : -1;
            if (fd < 0) continue;
            std::lock_guard<std::mutex> g(m_lock);
            const size_t index = m_wire.size();
            m_wire.emplace_back();
            m_fds.push_back(fd);
            ++m_accepted;
            m_threads.emplace_back([this, fd, index] {
                RawConnection c(fd, m_stopping, [this, index](const std::string& bytes) {
                    std::lock_guard<std::mutex> g2(m_lock);
                    m_wire[index] += bytes;
                });
                m_script(c);
                ::shutdown(fd, SHUT_WR);
                c.Hang();  // until the client lets go
            });
        }
    }
    Script m_script;
    int m_listenFd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_accepted{0};
    mutable std::mutex m_lock;
    std::vector<int> m_fds;
    std::vector<std::thread> m_threads;
    std::vector<std::string> m_wire;
    std::thread m_acceptThread;
};

// An in-process httplib server on loopback (port 0: a free one).
struct HttplibServer {
    explicit HttplibServer(std::unique_ptr<httplib::Server> s, const std::string& address = "127.0.0.1",
                           uint16_t wanted = 0)
        : server(std::move(s)) {
        port = wanted == 0 ? static_cast<uint16_t>(std::max(0, server->bind_to_any_port(address.c_str())))
                           : (server->bind_to_port(address.c_str(), wanted) ? wanted : 0);
        if (port == 0) return;
        thread = std::thread([this] { server->listen_after_bind(); });
        while (!server->is_running()) std::this_thread::sleep_for(1ms);
    }
    ~HttplibServer() {
        server->stop();
        if (thread.joinable()) thread.join();
    }
    std::unique_ptr<httplib::Server> server;
    uint16_t port = 0;
    std::thread thread;
};

inline std::string ReadFile(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

// A fresh temporary directory, removed with its contents.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/halyard-web-XXXXXX";
        m_path = ::mkdtemp(name) != nullptr ? name : "";
    }
    ~TempDir() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A self-signed certificate and its key as PEM files.
inline bool MakeSelfSignedCertificate(const std::string& certPath, const std::string& keyPath) {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 "
        "-subj /CN=camera.invalid -keyout " +
        keyPath + " -out " + certPath + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

// A port on 127.0.0.1 that was free a moment ago.
inline uint16_t FreePort() {
    RawServer probe([](RawConnection&) {}, "127.0.0.1", 0, false);
    return probe.Port();
}

// 127.x.y.z at random, so that parallel runs do not collide on port 443.
inline std::string RandomLoopbackAddress() {
    std::random_device rd;
    std::uniform_int_distribution<int> byte(1, 254);
    return "127." + std::to_string(byte(rd)) + "." + std::to_string(byte(rd)) + "." + std::to_string(byte(rd));
}

inline std::string RequestLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

// The scheme of a request head's credentials, "" when it has none.
inline std::string AuthorizationScheme(const std::string& head) {
    const std::string key = "\r\nAuthorization: ";
    const size_t at = head.find(key);
    return at == std::string::npos ? ""
                                   : head.substr(at + key.size(), head.find(' ', at + key.size()) - at - key.size());
}

inline kestrel::DEVICE_INFO Device(uint16_t port, const std::string& user = "", const std::string& password = "",
                                   uint32_t limitMs = 3000, const std::string& address = "127.0.0.1") {
    kestrel::DEVICE_INFO device;
    device.address = address;
    device.port = port;
    device.userName = user;
    device.password = password;
    device.requestTimeLimitMs = limitMs;
    return device;
}

inline std::string Response(const std::string& status, const std::string& headers, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

// Answers every request of a connection with the same bytes.
inline RawServer::Script Always(const std::string& response) {
    return [response](RawConnection& c) {
        while (!c.ReadRequest().empty() && c.Write(response)) {}
    };
}

inline std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

inline std::string BigText(size_t size) {
    std::string s(size, ' ');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

}  // namespace webtest
