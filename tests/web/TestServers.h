#pragma once
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/DEVICE_INFO.h"

namespace webtest {

// One accepted connection of a RawServer, served on its own thread.
class RawConnection {
public:
    using Recorder = std::function<void(const char*, size_t)>;
    RawConnection(int fd, const std::atomic<bool>& stopping, Recorder record)
        : m_fd(fd), m_stopping(stopping), m_record(std::move(record)) {}
    // The next request head (through the blank line) plus `bodyBytes` more;
    // empty when the peer closed or the server stops.
    std::string ReadRequest(size_t bodyBytes = 0);
    bool Write(const std::string& bytes);
    // The first byte the peer sends, left unread; -1 when none comes.
    int PeekByte();
    // Reads on until the peer closes or the server stops.
    void Hang();
    // Reads nothing more until the server stops.
    void Stall();
    // Everything received so far, as it came off the wire.
    const std::string& Received() const { return m_received; }
    int Fd() const { return m_fd; }

private:
    bool WaitReadable();
    int m_fd;
    const std::atomic<bool>& m_stopping;
    Recorder m_record;
    std::string m_received;
    std::string m_buffer;
};

// A TCP listener on 127.0.0.1 whose connections are served by a script; it
// records every byte it received.
class RawServer {
public:
    using Script = std::function<void(RawConnection&)>;
    explicit RawServer(Script script, const std::string& address = "127.0.0.1", uint16_t port = 0,
                       int backlog = 16, bool accept = true);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    bool Ok() const { return m_listenFd >= 0; }
    uint16_t Port() const { return m_port; }
    int Accepted() const { return m_accepted.load(); }
    std::string Wire() const;           // all bytes of all connections
    std::vector<std::string> Heads() const;  // request heads in order of arrival

private:
    void AcceptLoop();
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

// A fresh temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A self-signed certificate and its key as PEM files in `dir`.
bool MakeSelfSignedCertificate(const std::string& certPath, const std::string& keyPath);

// A port on 127.0.0.1 that was free a moment ago.
uint16_t FreePort();

// A loopback address 127.x.y.z with x,y,z picked at random so that parallel
// test runs do not collide on fixed ports such as 443.
std::string RandomLoopbackAddress();

// Text of the request heads' "Authorization:" scheme, "" when absent.
std::string AuthorizationScheme(const std::string& head);

std::string RequestLine(const std::string& head);

// Reads a file whole.
std::string ReadFile(const std::string& path);

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline kestrel::DEVICE_INFO Device(uint16_t port, const std::string& user = "", const std::string& password = "",
                            uint32_t limitMs = 3000, const std::string& address = "127.0.0.1")
{
    kestrel::DEVICE_INFO device;
    device.address = address;
    device.port = port;
    device.userName = user;
    device.password = password;
    device.requestTimeLimitMs = limitMs;
    return device;
}

inline std::string Response(const std::string& status, const std::string& headers, const std::string& body)
{
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

// Answers every request of a connection with the same bytes.
inline RawServer::Script Always(const std::string& response)
{
    return [response](RawConnection& c) {
        while (!c.ReadRequest().empty()) {
            if (!c.Write(response)) return;
        }
    };
}

inline std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

inline std::string BigText(size_t size)
{
    std::string s(size, ' ');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms)
{
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return condition();
}

// An in-process httplib server on a free loopback port.
class HttplibServer {
public:
    explicit HttplibServer(std::unique_ptr<httplib::Server> server, const std::string& address = "127.0.0.1",
                           uint16_t port = 0)
        : m_server(std::move(server))
    {
        if (port == 0) {
            const int bound = m_server->bind_to_any_port(address.c_str());
            m_port = bound > 0 ? static_cast<uint16_t>(bound) : 0;
        } else if (m_server->bind_to_port(address.c_str(), port)) {
            m_port = port;
        }
        if (m_port == 0) return;
        m_thread = std::thread([this] { m_server->listen_after_bind(); });
        while (!m_server->is_running()) std::this_thread::sleep_for(1ms);
    }
    ~HttplibServer()
    {
        m_server->stop();
        if (m_thread.joinable()) m_thread.join();
    }
    HttplibServer(const HttplibServer&) = delete;
    HttplibServer& operator=(const HttplibServer&) = delete;
    bool Ok() const { return m_port != 0; }
    httplib::Server& Get() { return *m_server; }
    uint16_t Port() const { return m_port; }

private:
    std::unique_ptr<httplib::Server> m_server;
    uint16_t m_port = 0;
    std::thread m_thread;
};

}  // namespace webtest
