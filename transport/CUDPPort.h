#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "transport/Ipv4Endpoint.h"

namespace kestrel {

class IUDPPortUser;

// Result codes shared by Open and SendTo.
enum UdpResult : int32_t {
    UdpSuccess = 1,
    UdpAlreadyOpen = 2,
    UdpNotOpen = 3,
    UdpCannotCreate = 5,
    UdpBindFailed = 6,
    UdpBufferOptionFailed = 8,
    UdpThreadFailed = 9,
    UdpTooLarge = 11,
    UdpSendFailed = 13,
};

// One IPv4 UDP socket bound to a local port, with a receive thread that
// hands each datagram to the registered user.
class CUDPPort {
public:
    CUDPPort();
    virtual ~CUDPPort();  // closes the port
    CUDPPort(const CUDPPort&) = delete;
    CUDPPort& operator=(const CUDPPort&) = delete;

    void SetUser(IUDPPortUser* user);
    UdpResult Open(uint16_t port);  // 0 lets the system choose
    void Close();
    bool IsOpen() const;
    uint16_t GetPort();
    UdpResult SendTo(const uint8_t* data, size_t length, const Ipv4Endpoint& destination);

    // Wanted size of the datagram buffer; set before Open (may grow at run time).
    void SetReceiveBufferSize(uint32_t bytes);
    uint32_t GetReceiveBufferSize() const;
    // Readiness wait before ReceiveTimeout; {0, 0} means wait without limit.
    void SetWaitTimeout(uint32_t seconds, uint32_t microseconds);

    // Implementation members are private to transport/CUDPPort.cpp's needs.
private:
    void ReceiveLoop(uint16_t port);

    std::recursive_mutex m_lock;
    std::atomic<IUDPPortUser*> m_user{nullptr};
    std::atomic<int> m_socket{-1};
    uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<uint32_t> m_receiveBufferSize{65536};
    std::atomic<uint32_t> m_waitSeconds{5};
    std::atomic<uint32_t> m_waitMicroseconds{0};
    std::atomic<bool> m_running{false};
};

}  // namespace kestrel
