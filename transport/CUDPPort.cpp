#include "transport/CUDPPort.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <string>
#include <thread>

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

// A port is never destroyed from its own callbacks. Close joins the current
// thread; a thread still in a callback after a Close or a reopen from that
// callback is waited for here.
CUDPPort::~CUDPPort() {
    Close();
    std::unique_lock<std::mutex> hold(m_loopLock);
    m_loopEnded.wait(hold, [this] { return m_loops == 0; });
}

void CUDPPort::LoopEnded() {
    // Notified under the lock: the destructor may free it once we let go.
    std::lock_guard<std::mutex> guard(m_loopLock);
    --m_loops;
    m_loopEnded.notify_all();
}

void CUDPPort::SetUser(IUDPPortUser* user) {
    CLockGuard guard(m_lock);
    m_user.store(user);
}

bool CUDPPort::IsOpen() const { return m_socket.IsValid(); }

bool CUDPPort::IsReceiveThread() const { return m_worker.IsCurrentThread(); }

uint16_t CUDPPort::GetPort() {
    CLockGuard guard(m_lock);
    return m_port.load();
}

void CUDPPort::SetReceiveBufferSize(uint32_t bytes) { m_receiveBufferSize.store(bytes); }

uint32_t CUDPPort::GetReceiveBufferSize() const { return m_receiveBufferSize.load(); }

void CUDPPort::SetWaitTimeout(uint32_t seconds, uint32_t microseconds) {
    m_waitTimeout.store((uint64_t{seconds} << 32) | microseconds);
}

int CUDPPort::GetKernelReceiveBufferSize() {
    CLockGuard guard(m_lock);
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

void CUDPPort::JoinWithoutLock(CLockGuard& guard) {
    m_joining = true;
    guard.Unlock();
    m_worker.Join(UINT32_MAX);
    guard.Lock();
    m_joining = false;
}

UdpResult CUDPPort::Open(uint16_t port) {
    CLockGuard guard(m_lock);
    if (m_socket.IsValid() || m_joining) return UdpAlreadyOpen;
    // The thread of a port closed from its own callback may still be in
    // that callback; from that very thread the worker lets it go instead.
    if (m_worker.IsRunning() && !m_worker.IsCurrentThread()) {
        JoinWithoutLock(guard);
        if (m_socket.IsValid()) return UdpAlreadyOpen;  // opened while we joined
    }
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

    const std::string name = "udp:" + std::to_string(m_port.load());
    {
        std::lock_guard<std::mutex> hold(m_loopLock);
        ++m_loops;
    }
    const auto body = [this](CStopToken& token) {
        try {
            ReceiveLoop(token);
        } catch (...) {
            // A throwing user ends the thread as a return would.
        }
        LoopEnded();
    };
    if (!m_worker.Start(name, body)) {
        LoopEnded();
        m_socket.Close();
        m_port.store(0);
        return UdpThreadFailed;
    }
    return UdpSuccess;
}

void CUDPPort::Close() {
    CLockGuard guard(m_lock);
    // A Close already under way (another thread, or this thread's own
    // callback) finishes the job and reports once.
    if (!m_socket.IsValid() || m_joining) return;
    m_worker.RequestStop();
    m_socket.Shutdown();  // wakes the thread's read
    m_socket.Drain();

    // The socket is closed only after its thread has ended, so the thread
    // never reads a descriptor number that has been given out again. From
    // the thread itself there is nothing to wait for: it is in a callback
    // and ends when that returns.
    if (!m_worker.IsCurrentThread()) JoinWithoutLock(guard);

    m_socket.Close();
    if (IUDPPortUser* user = m_user.load()) {
        try {
            user->PortClosed(this);
        } catch (...) {}
    }
    m_port.store(0);
}

UdpResult CUDPPort::SendTo(const uint8_t* data, size_t length, const Ipv4Endpoint& destination) {
    CLockGuard guard(m_lock);
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

// After the token is stopped the loop touches nothing of the port: a port
// reopened from its own callback already belongs to a new thread.
void CUDPPort::ReceiveLoop(CStopToken& token) {
    CUDPSocket::RaiseCurrentThreadPriority();

    uint32_t bufferSize = m_receiveBufferSize.load();
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(bufferSize);

    // The readiness wait and the read are one kernel call whose wait is
    // bounded by the socket's receive time-out: a poll before every read
    // would double the system calls per datagram. The time-out is applied
    // whenever it has changed.
    int appliedTimeoutMs = -1;  // a new socket waits without limit
    while (!token.StopRequested()) {
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
        if (token.StopRequested()) break;
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
