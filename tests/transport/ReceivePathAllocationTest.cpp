// Proves that a datagram in steady state allocates nothing on the receive
// thread: this executable replaces the global operator new and counts the
// calls made on a thread that has switched counting on.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/transport/TransportTestSupport.h"
#include "transport/CRTPReceiver.h"

// The thread sanitizer brings its own operator new, which cannot be
// replaced; the traffic still runs under it, uncounted.
#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_THREAD__) || __has_feature(thread_sanitizer)
#define HALYARD_COUNT_ALLOCATIONS 0
#else
#define HALYARD_COUNT_ALLOCATIONS 1
#endif

namespace {
thread_local bool t_counting = false;
std::atomic<uint64_t> g_allocations{0};
}  // namespace

#if HALYARD_COUNT_ALLOCATIONS
// The replacements pair malloc with free; GCC cannot see that they match.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    if (t_counting) g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

using namespace kestrel;
using namespace transporttest;

namespace {

constexpr int kWarmUp = 50;
constexpr int kMeasured = 1000;

// Counts the datagrams its thread has seen; counting allocations is on for
// that thread once warmed up, and off again at the end.
struct CountingWindow {
    std::atomic<int> seen{0};
    void Seen() {
        const int n = ++seen;
        if (n == kWarmUp) t_counting = true;
        if (n == kWarmUp + kMeasured) t_counting = false;
    }
    bool WaitFor(int n) const {
        for (int i = 0; i < 50000 && seen < n; ++i) std::this_thread::sleep_for(std::chrono::microseconds(100));
        return seen >= n;
    }
};

// The video side does what the channel does with each packet.
struct VideoUser : IRTPReceiverUser {
    explicit VideoUser(CRTCPSendReceive& r) : rtcp(r) {}
    void PacketReceived(CRTPReceiver*, const Ipv4Endpoint&, const RtpPacket& packet) override {
        rtcp.RtpSequenceSeen(packet.sequenceNumber);
        bytes += packet.payloadLength;
        window.Seen();
    }
    void ReceiveTimeout() override {}
    void ReceiverClosed(CRTPReceiver*) override {}
    CRTCPSendReceive& rtcp;
    CountingWindow window;
    std::atomic<uint64_t> bytes{0};
};

// Sits between the RTCP port and the RTCP object to mark its thread.
struct RtcpTap : IUDPPortUser {
    explicit RtcpTap(CRTCPSendReceive& r) : rtcp(r) {}
    void DataReceived(CUDPPort* port, const Ipv4Endpoint& from, const uint8_t* data, size_t length) override {
        rtcp.DataReceived(port, from, data, length);
        window.Seen();
    }
    void ReceiveTimeout() override {}
    void PortClosed(CUDPPort*) override {}
    CRTCPSendReceive& rtcp;
    CountingWindow window;
};

TEST(ReceivePath, ADatagramAllocatesNothingInSteadyState) {
    CRTCPSendReceive rtcp;
    VideoUser video(rtcp);
    RtcpTap tap(rtcp);
    CRTPReceiver receiver;
    receiver.SetUser(&video);
    ASSERT_EQ(receiver.GetPort().Open(0), UdpSuccess);
    ASSERT_TRUE(rtcp.Open(0));
    rtcp.SetRemoteAddress("127.0.0.1");
    rtcp.GetPort().SetUser(&tap);

    Peer camera;
    const auto sr = SenderReport(0xCA3E4A01, 1, 2);
    Bytes rtp = {0x80, 0x1A, 0, 0, 0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44};  // V=2, PT=26, sequence in bytes 2-3
    rtp.resize(12 + 1400, 0xAB);
    for (int i = 0; i < kWarmUp + kMeasured; ++i) {
        rtp[2] = static_cast<uint8_t>(i >> 8);
        rtp[3] = static_cast<uint8_t>(i);
        // Lock-step, so that nothing is lost in the kernel buffers.
        ASSERT_EQ(camera.Send(receiver.GetPort().GetPort(), rtp), UdpSuccess);
        ASSERT_EQ(camera.Send(rtcp.GetPort().GetPort(), sr), UdpSuccess);
        ASSERT_TRUE(video.window.WaitFor(i + 1));
        ASSERT_TRUE(tap.window.WaitFor(i + 1));
    }
    EXPECT_EQ(video.bytes, uint64_t{1400} * (kWarmUp + kMeasured));
    rtcp.GetPort().SetUser(&rtcp);
    rtcp.Close();
    receiver.SetUser(nullptr);
    if (!HALYARD_COUNT_ALLOCATIONS) GTEST_SKIP() << "operator new cannot be replaced under this sanitizer";
    EXPECT_EQ(g_allocations.load(), 0u);
}

// The counter itself works: the same switch catches an allocation.
TEST(ReceivePath, TheCounterSeesAnAllocationOnACountingThread) {
    if (!HALYARD_COUNT_ALLOCATIONS) GTEST_SKIP() << "operator new cannot be replaced under this sanitizer";
    const uint64_t before = g_allocations.load();
    std::thread([] {
        t_counting = true;
        void* volatile p = ::operator new(64);
        ::operator delete(p);
        t_counting = false;
    }).join();
    EXPECT_EQ(g_allocations.load(), before + 1);
}

}  // namespace
