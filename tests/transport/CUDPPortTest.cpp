#include "transport/CUDPPort.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "tests/transport/TransportTestSupport.h"

using namespace kestrel;
using namespace transporttest;

namespace {

// A port with a recording user, opened on a port the system picks.
struct OpenPort {
    explicit OpenPort(uint32_t bufferSize = 65536, uint32_t waitSeconds = 5, uint32_t waitMicros = 0) {
        port.SetUser(&user);
        port.SetReceiveBufferSize(bufferSize);
        port.SetWaitTimeout(waitSeconds, waitMicros);
        EXPECT_EQ(port.Open(0), UdpSuccess);
    }
    // Sends and waits until the user has seen `total` datagrams.
    void Deliver(const Bytes& bytes, size_t total) {
        ASSERT_EQ(peer.Send(port.GetPort(), bytes), UdpSuccess);
        ASSERT_TRUE(user.WaitForDatagrams(total));
    }
    RecordingPortUser user;
    CUDPPort port;
    Peer peer;
};

TEST(CUDPPort, OpenCloseAndSendToResults) {
    RecordingPortUser user;
    Peer receiver;
    const auto sendTo = [&](CUDPPort& port, size_t size) {
        const Bytes bytes(size);
        return port.SendTo(bytes.data(), size, Ipv4Endpoint{kLoopback, receiver.Port()});
    };
    {
        CUDPPort port;
        port.SetUser(&user);
        port.Close();  // never opened: nothing to report
        EXPECT_EQ(sendTo(port, 10), UdpNotOpen);
        ASSERT_EQ(port.Open(0), UdpSuccess);  // port 0: the system picks one
        const uint16_t chosen = port.GetPort();
        EXPECT_NE(chosen, 0);
        EXPECT_EQ(port.Open(0), UdpAlreadyOpen);
        EXPECT_EQ(port.GetPort(), chosen);
        EXPECT_EQ(sendTo(port, 10), UdpSuccess);
        EXPECT_EQ(sendTo(port, 70000), UdpTooLarge);
        EXPECT_EQ(sendTo(port, 0), UdpSendFailed);  // nothing sent
        CUDPPort rival;
        EXPECT_EQ(rival.Open(chosen), UdpBindFailed);
        port.Close();
        port.Close();
        EXPECT_EQ(port.GetPort(), 0);
        EXPECT_EQ(sendTo(port, 10), UdpNotOpen);
        EXPECT_EQ(user.Read([&] { return user.closedOn; }), std::this_thread::get_id());
        EXPECT_EQ(rival.Open(chosen), UdpSuccess);         // freed by Close
    }                                                      // the destructor finds it closed
    EXPECT_EQ(user.Read([&] { return user.closed; }), 1);  // exactly once
}

TEST(CUDPPort, KernelBufferIsThirtyTwoDatagramBuffersCappedAt131070) {
    long rmemMax = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
    // clang-format off
    const std::pair<uint32_t, uint32_t> rows[] = {
        {1024, 32768}, {4095, 131040},
        {4096, 131070},        // 131072 is over the cap
        {0x10000000, 131070},  // x32 would overflow 32 bits
    };
    // clang-format on
    for (const auto& [datagramBuffer, request] : rows) {
        SCOPED_TRACE(datagramBuffer);
        CUDPPort port;
        port.SetReceiveBufferSize(datagramBuffer);
        ASSERT_EQ(port.Open(0), UdpSuccess);
        EXPECT_EQ(port.GetKernelBufferRequest(), request);
        // Linux books twice the request for its own overhead.
        if (rmemMax >= 131070) {
            EXPECT_EQ(port.GetKernelReceiveBufferSize(), 2 * static_cast<int>(request));
        }
    }
}

TEST(CUDPPort, OversizedDatagramIsLostAndTheNextReadHas1024MoreBytes) {
    OpenPort p(4096);
    ASSERT_EQ(p.peer.Send(p.port.GetPort(), Bytes(5000, 1)), UdpSuccess);  // lost
    p.Deliver(Bytes(5000, 2), 1);                                          // fits 5120
    const auto got = p.user.Datagrams();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, Bytes(5000, 2));
    EXPECT_EQ(p.port.GetActiveBufferSize(), 4096u + 1024u);
}

TEST(CUDPPort, ASmallerWantedBufferIsTakenOnlyWhenMoreThan2048Smaller) {
    // clang-format off
    const std::pair<uint32_t, uint32_t> rows[] = {
        {4096 - 2048, 4096}, {4096 - 2049, 4096 - 2049},
        {4097, 4097},  // growing always reallocates
    };
    // clang-format on
    for (const auto& [wanted, used] : rows) {
        SCOPED_TRACE(wanted);
        OpenPort p(4096);
        p.Deliver(Bytes(10), 1);
        EXPECT_EQ(p.port.GetActiveBufferSize(), 4096u);
        p.port.SetReceiveBufferSize(wanted);
        p.Deliver(Bytes(10), 2);  // the read under way keeps its buffer
        // A datagram between the wanted size and the kept buffer still fits.
        const size_t size = std::min<size_t>(used, 3000);
        p.Deliver(Bytes(size), 3);
        EXPECT_EQ(p.port.GetActiveBufferSize(), used);
        EXPECT_EQ(p.user.Datagrams().at(2).bytes.size(), size);
    }
}

TEST(CUDPPort, WaitTimeoutZeroNeverReportsAndCloseStillWakesIt) {
    OpenPort unlimited(65536, 0, 0);
    OpenPort shortWait(65536, 0, 500);  // half a millisecond rounds up, never to "no limit"
    EXPECT_TRUE(shortWait.user.Wait([&] { return shortWait.user.timeouts >= 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    unlimited.Deliver({8}, 1);
    unlimited.port.Close();
    EXPECT_EQ(unlimited.user.Read([&] { return unlimited.user.timeouts; }), 0);
    EXPECT_EQ(unlimited.user.Read([&] { return unlimited.user.closed; }), 1);
}

// Any host on the network can send one; it must not end the video.
TEST(CUDPPort, AnEmptyDatagramDoesNotStopTheReceiver) {
    OpenPort p;
    // SendTo reports zero bytes sent as a failure, but the datagram goes out.
    ASSERT_EQ(p.peer.Send(p.port.GetPort(), {}), UdpSendFailed);
    p.Deliver({7}, 1);
    EXPECT_EQ(p.user.Datagrams().at(0).bytes, Bytes{7});
    EXPECT_EQ(p.user.Read([&] { return p.user.closed; }), 0);
}

TEST(CUDPPort, CloseAndReopenFromInsideACallback) {
    OpenPort p;
    std::atomic<uint16_t> reopened{0};
    std::thread::id receiveThread;
    p.user.SetOnData([&](CUDPPort* port) {
        if (reopened != 0) return;
        receiveThread = std::this_thread::get_id();
        port->Close();  // must neither join itself nor deadlock
        port->Open(0);
        reopened = port->GetPort();
    });
    p.Deliver({1}, 1);
    ASSERT_TRUE(p.user.Wait([&] { return p.user.closed == 1; }));
    for (int i = 0; i < 500 && reopened == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(reopened, 0);
    EXPECT_EQ(p.user.Read([&] { return p.user.closedOn; }), receiveThread);
    // The new thread serves the new socket, and nothing is reported twice.
    ASSERT_EQ(p.peer.Send(reopened, {2}), UdpSuccess);
    ASSERT_TRUE(p.user.WaitForDatagrams(2));
    p.port.Close();
    EXPECT_EQ(p.user.Read([&] { return p.user.closed; }), 2);
}

// The receive thread cannot join itself; the destructor must, or the
// sanitizers see a thread outlive its port.
TEST(CUDPPort, CloseFromACallbackIsJoinedByTheDestructor) {
    OpenPort p;
    p.user.SetOnData([](CUDPPort* port) { port->Close(); });
    p.Deliver({1}, 1);
    ASSERT_TRUE(p.user.Wait([&] { return p.user.closed == 1; }));
}

// A callback held on the receive thread while others close and reopen the
// port: the joins happen without the port's lock, so the callback may still
// send, and each close is reported once.
struct HeldCallback {
    explicit HeldCallback(OpenPort& p, bool closeFirst) {
        p.user.SetOnData([this, &p, closeFirst](CUDPPort* port) {
            if (entered.exchange(true)) return;
            if (closeFirst) port->Close();
            while (!release.load()) std::this_thread::yield();
            sent = port->SendTo(Bytes{9}.data(), 1, Ipv4Endpoint{kLoopback, p.peer.Port()});
        });
        p.Deliver({1}, 1);
        EXPECT_TRUE(p.user.Wait([&] { return entered.load(); }));
    }
    std::atomic<bool> entered{false}, release{false};
    std::atomic<int> sent{0};
};

TEST(CUDPPort, TwoClosesWhileACallbackSendsReportOnce) {
    OpenPort p;
    HeldCallback held(p, false);
    std::thread first([&] { p.port.Close(); });
    std::thread second([&] { p.port.Close(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let both reach the join
    held.release = true;
    first.join();
    second.join();
    EXPECT_EQ(p.user.Read([&] { return p.user.closed; }), 1);
    // Shut down under it the send fails cleanly (or it went out first); what matters is that it returned.
    EXPECT_TRUE(held.sent == UdpSendFailed || held.sent == UdpNotOpen || held.sent == UdpSuccess) << held.sent;
    EXPECT_FALSE(p.port.IsOpen());
}

// Closed from its callback, the old thread is still in it when another
// thread opens the port: Open waits for it, then serves the new socket.
TEST(CUDPPort, OpenFromAnotherThreadWaitsForTheThreadOfACloseFromItsCallback) {
    OpenPort p;
    HeldCallback held(p, true);
    ASSERT_TRUE(p.user.Wait([&] { return p.user.closed == 1; }));
    std::atomic<int> opened{0};
    std::thread opener([&] { opened = p.port.Open(0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(opened.load(), 0) << "Open must wait for the old thread";
    held.release = true;
    opener.join();
    ASSERT_EQ(opened.load(), UdpSuccess);
    EXPECT_EQ(held.sent.load(), UdpNotOpen);  // its port was closed under it
    p.Deliver({2}, 2);
    p.port.Close();  // the new thread may still be in the callback, which refers to held
}

// Destroyed from another thread while a callback is still running: the
// destructor waits for it, whether the callback runs on the port's thread
// or on a thread the port let go when the callback reopened it. Meanwhile
// the callback may still send through the port.
TEST(CUDPPort, DestructorWaitsForACallbackOnAnotherThread) {
    // clang-format off
    const struct { const char* name; bool reopenFirst; int closes; } rows[] = {
        {"the port's own thread",                          false, 1},
        {"a thread let go by a reopen from its callback",  true,  2},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingPortUser user;  // outlives the port: it hears the last PortClosed
        Peer peer;
        const uint16_t peerPort = peer.Port();
        std::atomic<bool> entered{false}, release{false}, destroyed{false};
        std::atomic<int> sent{0};
        user.SetOnData([&, reopen = row.reopenFirst](CUDPPort* self) {
            if (entered.exchange(true)) return;
            if (reopen) {
                self->Close();
                EXPECT_EQ(self->Open(0), UdpSuccess);
            }
            while (!release.load()) std::this_thread::yield();
            sent = self->SendTo(Bytes{9}.data(), 1, Ipv4Endpoint{kLoopback, peerPort});
        });
        auto port = std::make_unique<CUDPPort>();
        port->SetUser(&user);
        ASSERT_EQ(port->Open(0), UdpSuccess);
        ASSERT_EQ(peer.Send(port->GetPort(), {1}), UdpSuccess);
        ASSERT_TRUE(user.Wait([&] { return entered.load(); }));

        std::thread destroyer([&] {
            port.reset();
            destroyed = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(destroyed.load()) << "the destructor must wait for the callback";
        release = true;
        destroyer.join();
        EXPECT_NE(sent.load(), 0);  // the send returned before the port went
        EXPECT_EQ(user.Read([&] { return user.closed; }), row.closes);
    }
}

}  // namespace
