#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

}  // namespace webtest
