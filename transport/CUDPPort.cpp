#include "transport/CUDPPort.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>

#include "transport/IUDPPortUser.h"

namespace kestrel {

namespace {

constexpr uint32_t kKernelBufferFactor = 32;
constexpr uint32_t kKernelBufferCap = 131070;
// A wanted size this much smaller than the buffer in hand keeps the buffer.
constexpr uint32_t kShrinkSlack = 2048;
constexpr uint32_t kTruncationGrowth = 1024;

}  // namespace

CUDPPort::CUDPPort() = default;

CUDPPort::~CUDPPort() {
    Close();
    // A port is never destroyed from its own callbacks: its thread would
    // return into freed memory.
    std::unique_lock<std::recursive_mutex> guard(m_lock);
    ReapThreads(guard);
}

void CUDPPort::SetUser(IUDPPortUser* user) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_user.store(user);
}

bool CUDPPort::IsOpen() const { return m_socket.IsValid(); }

uint16_t CUDPPort::GetPort() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_port.load();
}

void CUDPPort::SetReceiveBufferSize(uint32_t bytes) { m_receiveBufferSize.store(bytes); }

uint32_t CUDPPort::GetReceiveBufferSize() const { return m_receiveBufferSize.load(); }

void CUDPPort::SetWaitTimeout(uint32_t seconds, uint32_t microseconds) {
    m_waitTimeout.store((uint64_t{seconds} << 32) | microseconds);
}

int CUDPPort::GetKernelReceiveBufferSize() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_socket.IsValid() ? m_socket.GetReceiveBufferSize() : -1;
}

int CUDPPort::WaitTimeoutMs() const {
    const uint64_t packed = m_waitTimeout.load(std::memory_order_relaxed);
    const uint64_t seconds = packed >> 32;
    const uint64_t microseconds = packed & 0xFFFFFFFFu;
    if (seconds == 0 && microseconds == 0) return -1;
    // Rounded up, so a short time-out never becomes "no limit" or a spin.
    const uint64_t ms = seconds * 1000 + (microseconds + 999) / 1000;
    return static_cast<int>(std::min<uint64_t>(ms, INT_MAX));
}

bool CUDPPort::StillRunning(uint32_t generation) const {
    return m_running.load(std::memory_order_acquire) && m_generation.load(std::memory_order_acquire) == generation;
}

void CUDPPort::ReapThreads(std::unique_lock<std::recursive_mutex>& guard) {
    const auto self = std::this_thread::get_id();
    std::thread retired;
    std::thread last;
    if (m_retiredThread.joinable() && m_retiredThread.get_id() != self) retired = std::move(m_retiredThread);
    if (m_thread.joinable()) {
        if (m_thread.get_id() != self) {
            last = std::move(m_thread);
        } else {
            // Open from a callback of the thread it replaces: that thread
            // ends when the callback returns and is joined later.
            m_retiredThread = std::move(m_thread);
        }
    }
    if (!retired.joinable() && !last.joinable()) return;
    // Joined without the lock: a thread still inside a callback after its
    // port was closed may yet call the port.
    guard.unlock();
    if (retired.joinable()) retired.join();
    if (last.joinable()) last.join();
    guard.lock();
}

UdpResult CUDPPort::Open(uint16_t port) {
    std::unique_lock<std::recursive_mutex> guard(m_lock);
    if (m_socket.IsValid()) return UdpAlreadyOpen;
    ReapThreads(guard);
    if (m_socket.IsValid()) return UdpAlreadyOpen;  // opened while we joined
    if (!m_socket.Create()) return UdpCannotCreate;

    const uint64_t wanted = uint64_t{m_receiveBufferSize.load()} * kKernelBufferFactor;
    const auto request = static_cast<uint32_t>(std::min<uint64_t>(wanted, kKernelBufferCap));
    m_kernelBufferRequest.store(request);
    if (!m_socket.SetReceiveBufferSize(request)) {
        m_socket.Close();
        return UdpBufferOptionFailed;
    }
    if (!m_socket.Bind(port)) {
        m_socket.Close();
        return UdpBindFailed;
    }
    m_port.store(port != 0 ? port : m_socket.GetLocalPort());

    m_running.store(true, std::memory_order_release);
    const uint32_t generation = m_generation.fetch_add(1, std::memory_order_acq_rel) + 1;
    try {
        m_thread = std::thread([this, generation] { ReceiveLoop(generation); });
    } catch (...) {
        m_running.store(false);
        m_socket.Close();
        m_port.store(0);
        return UdpThreadFailed;
    }
    return UdpSuccess;
}

void CUDPPort::Close() {
    std::unique_lock<std::recursive_mutex> guard(m_lock);
    // A Close already under way (another thread, or this thread's own
    // callback) finishes the job and reports once.
    if (!m_socket.IsValid() || m_closing) return;
    m_closing = true;
    m_running.store(false, std::memory_order_release);
    m_socket.Shutdown();
    m_socket.Drain();

    // The socket is closed only after its thread has ended, so the thread
    // never reads a descriptor number that has been given out again. The
    // lock is released for the join: a callback that is sending through
    // this port on its way out must not wait for us while we wait for it.
    std::thread finished;
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        finished = std::move(m_thread);
    }
    guard.unlock();
    if (finished.joinable()) finished.join();
    guard.lock();

    m_socket.Close();
    m_closing = false;
    if (IUDPPortUser* user = m_user.load()) {
        try {
            user->PortClosed(this);
        } catch (...) {}
    }
    m_port.store(0);
}

UdpResult CUDPPort::SendTo(const uint8_t* data, size_t length, const Ipv4Endpoint& destination) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_socket.IsValid()) return UdpNotOpen;
    size_t offset = 0;
    do {
        size_t sent = 0;
        switch (m_socket.SendTo(data + offset, length - offset, destination, sent)) {
        case CUDPSocket::SendResult::Sent:
            break;
        case CUDPSocket::SendResult::NothingSent:
            return UdpSendFailed;
        case CUDPSocket::SendResult::TooLarge:
            return UdpTooLarge;
        case CUDPSocket::SendResult::Failed:
            return UdpSendFailed;
        }
        offset += sent;
    } while (offset < length);
    return UdpSuccess;
}

void CUDPPort::ReceiveLoop(uint32_t generation) {
    char name[16];
    std::snprintf(name, sizeof name, "udp:%u", static_cast<unsigned>(m_port.load()));
    CUDPSocket::NameCurrentThread(name);
    CUDPSocket::RaiseCurrentThreadPriority();

    uint32_t bufferSize = m_receiveBufferSize.load();
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(bufferSize);

    // The readiness wait and the read are one kernel call whose wait is
    // bounded by the socket's receive time-out: a poll before every read
    // would double the system calls per datagram. The time-out is applied
    // whenever it has changed.
    int appliedTimeoutMs = -1;  // a new socket waits without limit
    while (StillRunning(generation)) {
        if (!m_socket.IsValid()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        const int timeoutMs = WaitTimeoutMs();
        if (timeoutMs != appliedTimeoutMs && m_socket.SetReceiveTimeout(timeoutMs)) appliedTimeoutMs = timeoutMs;

        const uint32_t wanted = m_receiveBufferSize.load(std::memory_order_relaxed);
        if (wanted > bufferSize || bufferSize - wanted > kShrinkSlack) {
            buffer = std::make_unique_for_overwrite<uint8_t[]>(wanted);
            bufferSize = wanted;
        }
        m_activeBufferSize.store(bufferSize, std::memory_order_relaxed);

        size_t length = 0;
        Ipv4Endpoint from;
        const CUDPSocket::ReadResult read = m_socket.Receive(buffer.get(), bufferSize, length, from);
        if (!StillRunning(generation)) break;
        switch (read) {
        case CUDPSocket::ReadResult::Datagram:
            if (IUDPPortUser* user = m_user.load()) user->DataReceived(this, from, buffer.get(), length);
            break;
        case CUDPSocket::ReadResult::TimedOut:
            if (IUDPPortUser* user = m_user.load()) user->ReceiveTimeout();
            break;
        case CUDPSocket::ReadResult::Truncated:
            m_receiveBufferSize.store(bufferSize + kTruncationGrowth, std::memory_order_relaxed);
            break;
        case CUDPSocket::ReadResult::Fatal:
            if (IUDPPortUser* user = m_user.load()) user->PortClosed(this);
            return;
        case CUDPSocket::ReadResult::EndOfStream:
            return;
        case CUDPSocket::ReadResult::EmptyDatagram:
            // Anyone can send zero bytes; that must not stop the stream.
            break;
        case CUDPSocket::ReadResult::Failed:
            std::this_thread::yield();
            break;
        }
    }
}

}  // namespace kestrel
