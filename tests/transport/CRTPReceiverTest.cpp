// The receiver on a real port, fed by the camera's address and a stranger's.
#include "transport/CRTPReceiver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/transport/TransportTestSupport.h"
#include "transport/CUDPSocket.h"

using namespace kestrel;
using namespace transporttest;

namespace {

class RecordingRtpUser : public IRTPReceiverUser {
public:
    void PacketReceived(CRTPReceiver*, const Ipv4Endpoint&, const RtpPacket& packet) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sequence.push_back(packet.sequenceNumber);
        }
        m_cv.notify_all();
    }
    void ReceiveTimeout() override {}
    void ReceiverClosed(CRTPReceiver*) override {}
    // Waits for `seq` to arrive; returns every number seen by then.
    std::vector<uint16_t> WaitFor(uint16_t seq) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, kGenerous, [&] { return !m_sequence.empty() && m_sequence.back() == seq; });
        return m_sequence;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<uint16_t> m_sequence;
};

// V=2, PT=26, the sequence number, time stamp 0, SSRC 1, two payload bytes.
Bytes Rtp(uint16_t seq) {
    return {0x80, 26, static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq), 0, 0, 0, 0, 0, 0, 0, 1, 0xAB, 0xCD};
}

TEST(CRTPReceiver, OnlyTheSourceAddressIsReadAndStrangersAreCounted) {
    RecordingRtpUser user;  // outlives the receiver's thread
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_EQ(receiver.GetPort().Open(0), UdpSuccess);
    const uint16_t port = receiver.GetPort().GetPort();
    Peer camera;
    ForeignSender stranger;
    ASSERT_TRUE(stranger.Bound()) << "127.0.0.2 is not usable here";

    // Not yet told its source: everybody is read.
    ASSERT_EQ(camera.Send(port, Rtp(1)), UdpSuccess);
    ASSERT_TRUE(stranger.Send(port, Rtp(2)));
    ASSERT_TRUE(camera.Send(port, Rtp(3)) == UdpSuccess);
    EXPECT_EQ(user.WaitFor(3), (std::vector<uint16_t>{1, 2, 3}));
    Ipv4Endpoint last;
    EXPECT_EQ(receiver.TakeDropped(last), 0u);

    // Told: the stranger's datagrams, good or malformed, go nowhere; the
    // camera's last one is the fence that they were all read.
    receiver.SetSourceAddress(kLoopback);
    for (const Bytes& datagram : {Rtp(4), Bytes{0x00}, Bytes{0x80, 26}, Rtp(4)})
        ASSERT_TRUE(stranger.Send(port, datagram));
    ASSERT_EQ(camera.Send(port, Rtp(5)), UdpSuccess);
    EXPECT_EQ(user.WaitFor(5), (std::vector<uint16_t>{1, 2, 3, 5}));
    EXPECT_EQ(receiver.TakeDropped(last), 4u);
    EXPECT_EQ(last.address, 0x7F000002u);
    EXPECT_EQ(last.port, stranger.Port());
    EXPECT_EQ(receiver.TakeDropped(last), 0u) << "taken once";

    // A new source starts the count again.
    ASSERT_TRUE(stranger.Send(port, Rtp(6)));
    ASSERT_EQ(camera.Send(port, Rtp(7)), UdpSuccess);
    user.WaitFor(7);
    receiver.SetSourceAddress(0x7F000002);
    EXPECT_EQ(receiver.TakeDropped(last), 0u);
    // Now the former camera is the stranger.
    ASSERT_EQ(camera.Send(port, Rtp(8)), UdpSuccess);
    ASSERT_TRUE(stranger.Send(port, Rtp(9)));
    EXPECT_EQ(user.WaitFor(9), (std::vector<uint16_t>{1, 2, 3, 5, 7, 9}));
    EXPECT_EQ(receiver.TakeDropped(last), 1u);
    EXPECT_EQ(last.address, kLoopback);

    receiver.AcceptAnySource();
    ASSERT_EQ(camera.Send(port, Rtp(10)), UdpSuccess);
    EXPECT_EQ(user.WaitFor(10).back(), 10);
}

// The kernel receive time-out of this process's UDP socket bound to `port`,
// in ms; -1 when there is no such socket.
int SocketWaitLimitMs(uint16_t port) {
    for (int fd = 0; fd < 4096; ++fd) {
        sockaddr_in local{};
        socklen_t size = sizeof local;
        int type = 0;
        socklen_t typeSize = sizeof type;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 || local.sin_family != AF_INET ||
            ntohs(local.sin_port) != port || ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeSize) != 0 ||
            type != SOCK_DGRAM)
            continue;
        timeval limit{};
        socklen_t limitSize = sizeof limit;
        if (::getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, &limitSize) != 0) return -1;
        return static_cast<int>(limit.tv_sec * 1000 + limit.tv_usec / 1000);
    }
    return -1;
}

// The video socket's read sleeps without a kernel timer: nothing acts on a
// quiet video port, and a timer would be set and cleared per datagram. An
// owner that asks for a limit still gets it.
TEST(CRTPReceiver, VideoSocketWaitsWithoutATimerUnlessAsked) {
    RecordingRtpUser user;
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    ASSERT_EQ(receiver.GetPort().Open(0), UdpSuccess);
    const uint16_t port = receiver.GetPort().GetPort();
    Peer camera;
    // Each datagram read means the thread has passed its time-out step.
    ASSERT_EQ(camera.Send(port, Rtp(1)), UdpSuccess);
    user.WaitFor(1);
    EXPECT_EQ(SocketWaitLimitMs(port), 0) << "no limit";

    receiver.GetPort().SetWaitTimeout(0, 20000);
    ASSERT_EQ(camera.Send(port, Rtp(2)), UdpSuccess);
    user.WaitFor(2);
    ASSERT_EQ(camera.Send(port, Rtp(3)), UdpSuccess);
    user.WaitFor(3);
    EXPECT_EQ(SocketWaitLimitMs(port), 20);
}

TEST(CUDPSocket, ResolvesDottedTextAndNamesToIpv4) {
    struct Case {
        const char* host;
        bool resolved;
        uint32_t address;
    };
    // clang-format off
    const Case cases[] = {
        {"127.0.0.1", true, 0x7F000001},
        {"10.1.2.3", true, 0x0A010203},
        {"localhost", true, 0x7F000001},
        {"", false, 0},
        {"no-such-camera.invalid", false, 0},
        {"::1", false, 0},  // IPv6 only
        {"127.0.0.1:80", false, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        uint32_t address = 0;
        EXPECT_EQ(CUDPSocket::ResolveIpv4(c.host, address), c.resolved) << c.host;
        if (c.resolved) {
            EXPECT_EQ(address, c.address) << c.host;
        }
    }
}

}  // namespace
