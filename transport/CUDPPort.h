#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "runtime/CRecursiveLock.h"
#include "runtime/CWorkerThread.h"
#include "transport/CUDPSocket.h"
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
// hands each datagram to the registered user. The user may close, reopen and
// send through the port from its callbacks. Open while another Open is
// finishing the thread of a port closed from its own callback answers
// UdpAlreadyOpen, as it does while a Close is under way.
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
    // Whether the caller is the port's receive thread.
    bool IsReceiveThread() const;
    uint16_t GetPort();
    UdpResult SendTo(const uint8_t* data, size_t length, const Ipv4Endpoint& destination);

    // Wanted size of the datagram buffer; set before Open (may grow at run time).
    void SetReceiveBufferSize(uint32_t bytes);
    uint32_t GetReceiveBufferSize() const;
    // Readiness wait before ReceiveTimeout; {0, 0} means wait without limit.
    void SetWaitTimeout(uint32_t seconds, uint32_t microseconds);

    // For tests: the kernel receive buffer size asked for at the last Open,
    // what the kernel granted (Linux doubles it; -1 while closed), and the
    // size of the buffer the receive thread last read into (0 before any).
    uint32_t GetKernelBufferRequest() const { return m_kernelBufferRequest.load(); }
    int GetKernelReceiveBufferSize();
    uint32_t GetActiveBufferSize() const { return m_activeBufferSize.load(); }

private:
    void ReceiveLoop(CStopToken& token);
    // The last touch of the port by a receive thread.
    void LoopEnded();
    int WaitTimeoutMs() const;
    // Joins the receive thread without the lock: a thread still inside a
    // callback may yet call the port. m_joining keeps other joins out.
    void JoinWithoutLock(CLockGuard& guard);

    // Recursive: Close reports PortClosed under it, and users call back in.
    CRecursiveLock m_lock;
    std::atomic<IUDPPortUser*> m_user{nullptr};
    CUDPSocket m_socket;
    std::atomic<uint16_t> m_port{0};
    bool m_joining = false;
    std::atomic<uint32_t> m_receiveBufferSize{65536};
    // Seconds in the high half, microseconds in the low half: one load
    // gives a consistent pair.
    std::atomic<uint64_t> m_waitTimeout{uint64_t{5} << 32};
    std::atomic<uint32_t> m_kernelBufferRequest{0};
    std::atomic<uint32_t> m_activeBufferSize{0};
    // Receive threads not yet out of their loop, one let go by a reopen from
    // its own callback among them: the worker no longer owns that one, and
    // its callback may still use the port, so the destructor waits for it.
    std::mutex m_loopLock;
    std::condition_variable m_loopEnded;
    int m_loops = 0;
    // Last: destroyed first, so the thread has ended before what it reads goes.
    CWorkerThread m_worker;
};

}  // namespace kestrel
