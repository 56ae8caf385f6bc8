// Proves that a datagram in steady state allocates nothing on the receive
// thread: this executable replaces the global operator new and counts the
// calls made on a thread that has switched counting on.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/transport/RtcpTestSupport.h"
#include "transport/CRTPReceiver.h"

// The thread sanitizer brings its own operator new, which cannot be
// replaced; the traffic still runs under it, uncounted.
#if defined(__SANITIZE_THREAD__)
#define HALYARD_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HALYARD_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef HALYARD_COUNT_ALLOCATIONS
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

// Turns counting on for its thread once warmed up, and off at the end.
class CountingWindow {
public:
    void Seen() {
        const int n = ++m_seen;
        if (n == kWarmUp) t_counting = true;
        if (n == kWarmUp + kMeasured) t_counting = false;
    }
    int Count() const { return m_seen.load(); }
    bool WaitFor(int n) const {
        for (int i = 0; i < 50000 && m_seen.load() < n; ++i) std::this_thread::sleep_for(std::chrono::microseconds(100));
        return m_seen.load() >= n;
    }

private:
    std::atomic<int> m_seen{0};
};

class VideoUser : public IRTPReceiverUser {
public:
    explicit VideoUser(CRTCPSendReceive& rtcp) : m_rtcp(rtcp) {}
    void PacketReceived(CRTPReceiver*, const Ipv4Endpoint&, const RtpPacket& packet) override {
        m_rtcp.RtpSequenceSeen(packet.sequenceNumber);  // as the channel does
        bytes += packet.payloadLength;
        window.Seen();
    }
    void ReceiveTimeout() override {}
    void ReceiverClosed(CRTPReceiver*) override {}

    CountingWindow window;
    std::atomic<uint64_t> bytes{0};

private:
    CRTCPSendReceive& m_rtcp;
};

// Sits between the RTCP port and the RTCP object to mark its thread.
class RtcpTap : public IUDPPortUser {
public:
    explicit RtcpTap(CRTCPSendReceive& rtcp) : m_rtcp(rtcp) {}
    void DataReceived(CUDPPort* port, const Ipv4Endpoint& from, const uint8_t* data, size_t length) override {
        m_rtcp.DataReceived(port, from, data, length);
        window.Seen();
    }
    void ReceiveTimeout() override {}
    void PortClosed(CUDPPort*) override {}

    CountingWindow window;

private:
    CRTCPSendReceive& m_rtcp;
};

std::vector<uint8_t> RtpDatagram(uint16_t sequence) {
    std::vector<uint8_t> d = {0x80, 0x1A, static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence),
                              0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44};
    d.resize(12 + 1400, 0xAB);
    return d;
}

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

    FakeCamera camera;
    const uint16_t videoPort = receiver.GetPort().GetPort();
    const uint16_t rtcpPort = rtcp.GetPort().GetPort();
    const auto sr = SenderReport(0xCA3E4A01, 1, 2);
    for (int i = 0; i < kWarmUp + kMeasured; ++i) {
        // Lock-step, so that nothing is lost in the kernel buffers.
        ASSERT_EQ(camera.Send(videoPort, RtpDatagram(static_cast<uint16_t>(i))), UdpSuccess);
        ASSERT_EQ(camera.Send(rtcpPort, sr), UdpSuccess);
        ASSERT_TRUE(video.window.WaitFor(i + 1));
        ASSERT_TRUE(tap.window.WaitFor(i + 1));
    }
    EXPECT_EQ(video.bytes, uint64_t{1400} * (kWarmUp + kMeasured));
    EXPECT_EQ(rtcp.GetLastSequenceNumber(), kWarmUp + kMeasured - 1);
    rtcp.StopReports();
    rtcp.GetPort().SetUser(&rtcp);
    rtcp.Close();
    receiver.SetUser(nullptr);
    if (!HALYARD_COUNT_ALLOCATIONS) GTEST_SKIP() << "operator new cannot be replaced under this sanitizer";
    EXPECT_EQ(g_allocations.load(), 0u);
}

// The counter itself works: the same window catches an allocation.
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
