#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "transport/Ipv4Endpoint.h"

namespace kestrel {

// The platform's IPv4 UDP socket, reduced to what a port needs. Every socket
// call of the transport lives here, so another socket layer replaces this
// file only. Errors are sorted into the groups the receive loop acts on.
class CUDPSocket {
public:
    enum class ReadResult {
        Datagram,       // length bytes from `from`
        EmptyDatagram,  // a peer sent a datagram of zero bytes
        EndOfStream,    // the socket was shut down
        Truncated,      // the datagram did not fit and is lost
        TimedOut,       // nothing arrived within the receive time-out
        Fatal,          // the socket is gone: end the receive thread
        Failed,         // anything else: try again
    };
    enum class SendResult { Sent, NothingSent, TooLarge, Failed };

    CUDPSocket() = default;
    ~CUDPSocket();
    CUDPSocket(const CUDPSocket&) = delete;
    CUDPSocket& operator=(const CUDPSocket&) = delete;

    bool Create();
    bool IsValid() const { return m_fd.load(std::memory_order_acquire) >= 0; }
    bool SetReceiveBufferSize(uint32_t bytes);
    // What the kernel granted (Linux reports twice the request); -1 on failure.
    int GetReceiveBufferSize() const;
    bool Bind(uint16_t port);
    // The bound local port, 0 when it cannot be read.
    uint16_t GetLocalPort() const;

    // How long Receive waits for a datagram; < 0 waits without limit.
    bool SetReceiveTimeout(int timeoutMs);
    // Waits for one datagram (the readiness wait and the read are one call,
    // bounded by the receive time-out) and reads it.
    ReadResult Receive(uint8_t* buffer, size_t size, size_t& length, Ipv4Endpoint& from) const;
    // Reads and discards queued datagrams without blocking.
    void Drain() const;
    // One send call; `sent` is the byte count the platform reported.
    SendResult SendTo(const uint8_t* data, size_t length, const Ipv4Endpoint& to, size_t& sent) const;
    // Wakes a thread blocked in Receive.
    void Shutdown() const;
    void Close();

    // Dotted IPv4 text to a host-order address; false when it is not one.
    static bool ParseDottedAddress(const std::string& text, uint32_t& address);
    // Dotted text or a host name to the first IPv4 address it names
    // (host order); false when it names none. A name may block on the
    // system's resolver.
    static bool ResolveIpv4(const std::string& host, uint32_t& address);
    // Raises the calling thread above normal priority if the system allows.
    static void RaiseCurrentThreadPriority();

private:
    std::atomic<int> m_fd{-1};
};

}  // namespace kestrel
