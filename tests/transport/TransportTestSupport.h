#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "transport/CRTCPSendReceive.h"
#include "transport/CUDPPort.h"
#include "transport/IUDPPortUser.h"

namespace transporttest {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kLoopback = 0x7F000001;
constexpr auto kGenerous = std::chrono::seconds(5);

// Records what a port reports. Wait's condition and Read's function see
// the fields under the lock.
class RecordingPortUser : public kestrel::IUDPPortUser {
public:
    struct Datagram {
        kestrel::Ipv4Endpoint from;
        Bytes bytes;
    };
    // Runs on the receive thread. Set under the lock: the datagram that
    // calls it is ordered after the setting only through the kernel, which
    // the thread sanitizer cannot see.
    void SetOnData(std::function<void(kestrel::CUDPPort*)> callback) {
        Change([&] { m_onData = std::move(callback); });
    }

    void DataReceived(kestrel::CUDPPort* port, const kestrel::Ipv4Endpoint& from, const uint8_t* data,
                      size_t length) override {
        std::function<void(kestrel::CUDPPort*)> callback;
        Change([&] {
            datagrams.push_back({from, Bytes(data, data + length)});
            callback = m_onData;
        });
        if (callback) callback(port);
    }
    void ReceiveTimeout() override {
        Change([&] { ++timeouts; });
    }
    void PortClosed(kestrel::CUDPPort*) override {
        Change([&] { closed++, closedOn = std::this_thread::get_id(); });
    }
    bool Wait(const std::function<bool()>& done, std::chrono::milliseconds limit = kGenerous) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, limit, done);
    }
    bool WaitForDatagrams(size_t n, std::chrono::milliseconds limit = kGenerous) {
        return Wait([&] { return datagrams.size() >= n; }, limit);
    }
    template <typename F>
    auto Read(F f) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return f();
    }
    std::vector<Datagram> Datagrams() {
        return Read([&] { return datagrams; });
    }

    std::vector<Datagram> datagrams;
    int timeouts = 0;
    int closed = 0;
    std::thread::id closedOn;

private:
    template <typename F>
    void Change(F change) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            change();
        }
        m_cv.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::function<void(kestrel::CUDPPort*)> m_onData;
};

// The far end on loopback (a camera or a plain sender) with a port of its own.
class Peer {
public:
    Peer() {
        m_port.SetUser(&received);
        m_port.Open(0);
    }
    kestrel::UdpResult Send(uint16_t to, const Bytes& bytes) {
        return m_port.SendTo(bytes.data(), bytes.size(), kestrel::Ipv4Endpoint{kLoopback, to});
    }
    uint16_t Port() { return m_port.GetPort(); }
    RecordingPortUser received;

private:
    kestrel::CUDPPort m_port;
};

// A sender on another loopback address (127.0.0.2 and so on): another host
// as far as a receiver can tell.
class ForeignSender {
public:
    explicit ForeignSender(const char* address = "127.0.0.2") : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &a.sin_addr);
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~ForeignSender() {
        if (m_fd >= 0) ::close(m_fd);
    }
    ForeignSender(const ForeignSender&) = delete;
    ForeignSender& operator=(const ForeignSender&) = delete;
    bool Bound() const { return m_fd >= 0; }
    bool Send(uint16_t to, const Bytes& bytes) const {
        sockaddr_in d{};
        d.sin_family = AF_INET;
        d.sin_addr.s_addr = htonl(kLoopback);
        d.sin_port = htons(to);
        return ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&d), sizeof d) ==
               static_cast<ssize_t>(bytes.size());
    }
    uint16_t Port() const {
        sockaddr_in a{};
        socklen_t size = sizeof a;
        return ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &size) == 0 ? ntohs(a.sin_port) : 0;
    }

private:
    int m_fd;
};

inline void PutBigEndian32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}
inline uint32_t GetBigEndian32(const Bytes& in, size_t at) {
    return (uint32_t{in.at(at)} << 24) | (uint32_t{in.at(at + 1)} << 16) | (uint32_t{in.at(at + 2)} << 8) |
           uint32_t{in.at(at + 3)};
}

// A sender report without report blocks, as a camera sends it.
inline Bytes SenderReport(uint32_t ssrc, uint32_t ntpHigh, uint32_t ntpLow) {
    Bytes sr = {0x80, 200, 0x00, 0x06};  // V=2 RC=0, SR, 7 words
    for (uint32_t word : {ssrc, ntpHigh, ntpLow, 90000u, 25u, 50000u}) PutBigEndian32(sr, word);
    return sr;  // SSRC, NTP high/low, RTP time stamp, packet and octet counts
}

}  // namespace transporttest
