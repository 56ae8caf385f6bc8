#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "transport/CUDPPort.h"
#include "transport/IUDPPortUser.h"

namespace transporttest {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr auto kGenerous = std::chrono::seconds(5);

// Records what a port reports; tests wait on it.
class RecordingPortUser : public kestrel::IUDPPortUser {
public:
    struct Datagram {
        kestrel::Ipv4Endpoint from;
        std::vector<uint8_t> bytes;
    };

    // Runs on the receive thread after a datagram has been recorded.
    std::function<void(kestrel::CUDPPort*)> onData;

    void DataReceived(kestrel::CUDPPort* port, const kestrel::Ipv4Endpoint& from, const uint8_t* data,
                      size_t length) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_datagrams.push_back({from, std::vector<uint8_t>(data, data + length)});
        }
        m_cv.notify_all();
        if (onData) onData(port);
    }
    void ReceiveTimeout() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_timeouts;
        }
        m_cv.notify_all();
    }
    void PortClosed(kestrel::CUDPPort* /*port*/) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_closed;
            m_closedOn = std::this_thread::get_id();
        }
        m_cv.notify_all();
    }

    bool WaitForDatagrams(size_t count, std::chrono::milliseconds limit = kGenerous) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, limit, [&] { return m_datagrams.size() >= count; });
    }
    bool WaitForTimeouts(int count, std::chrono::milliseconds limit = kGenerous) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, limit, [&] { return m_timeouts >= count; });
    }
    bool WaitForClosed(int count, std::chrono::milliseconds limit = kGenerous) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, limit, [&] { return m_closed >= count; });
    }
    std::vector<Datagram> Datagrams() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_datagrams;
    }
    size_t DatagramCount() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_datagrams.size();
    }
    int Timeouts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_timeouts;
    }
    int Closed() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closed;
    }
    std::thread::id ClosedOn() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closedOn;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Datagram> m_datagrams;
    int m_timeouts = 0;
    int m_closed = 0;
    std::thread::id m_closedOn;
};

// Sends to a local port from a port of its own.
class LoopbackSender {
public:
    LoopbackSender() { m_port.Open(0); }
    kestrel::UdpResult Send(uint16_t to, const std::vector<uint8_t>& bytes) {
        return m_port.SendTo(bytes.data(), bytes.size(), kestrel::Ipv4Endpoint{kLoopback, to});
    }
    uint16_t Port() { return m_port.GetPort(); }

private:
    kestrel::CUDPPort m_port;
};

}  // namespace transporttest
