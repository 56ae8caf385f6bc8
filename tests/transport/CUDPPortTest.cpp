#include "transport/CUDPPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "tests/transport/PortTestSupport.h"

using namespace kestrel;
using namespace transporttest;

namespace {

std::vector<uint8_t> Bytes(size_t size, uint8_t fill = 0x5A) { return std::vector<uint8_t>(size, fill); }

long RmemMax() {
    std::ifstream in("/proc/sys/net/core/rmem_max");
    long value = 0;
    in >> value;
    return value;
}

TEST(CUDPPort, PortZeroBindsAChosenPortAndASecondOpenChangesNothing) {
    CUDPPort port;
    EXPECT_EQ(port.GetPort(), 0);
    EXPECT_FALSE(port.IsOpen());
    ASSERT_EQ(port.Open(0), UdpSuccess);
    const uint16_t chosen = port.GetPort();
    EXPECT_NE(chosen, 0);
    EXPECT_TRUE(port.IsOpen());

    EXPECT_EQ(port.Open(0), UdpAlreadyOpen);
    EXPECT_EQ(port.GetPort(), chosen);

    CUDPPort rival;
    EXPECT_EQ(rival.Open(chosen), UdpBindFailed);
    EXPECT_FALSE(rival.IsOpen());
    EXPECT_EQ(rival.GetPort(), 0);

    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.GetPort(), 0);
    // The number is free again and can be asked for by value.
    EXPECT_EQ(rival.Open(chosen), UdpSuccess);
    EXPECT_EQ(rival.GetPort(), chosen);
}

TEST(CUDPPort, KernelBufferIsThirtyTwoDatagramBuffersCappedBelow128k) {
    struct Row {
        uint32_t datagramBuffer;
        uint32_t request;
    };
    const Row rows[] = {
        {1024, 32768},
        {4095, 131040},
        {4096, 131070},    // 131072 is over the cap
        {65536, 131070},
        {0x10000000, 131070},  // x32 would overflow 32 bits
    };
    const bool kernelGrantsAll = RmemMax() >= 131070;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.datagramBuffer);
        CUDPPort port;
        port.SetReceiveBufferSize(row.datagramBuffer);
        ASSERT_EQ(port.Open(0), UdpSuccess);
        EXPECT_EQ(port.GetKernelBufferRequest(), row.request);
        // Linux books twice the request for its own overhead.
        if (kernelGrantsAll) {
            EXPECT_EQ(port.GetKernelReceiveBufferSize(), 2 * static_cast<int>(row.request));
        }
    }
}

TEST(CUDPPort, DatagramsArriveWithTheSendersAddress) {
    RecordingPortUser user;
    CUDPPort port;
    port.SetUser(&user);
    ASSERT_EQ(port.Open(0), UdpSuccess);
    LoopbackSender sender;
    ASSERT_EQ(sender.Send(port.GetPort(), {1, 2, 3}), UdpSuccess);
    ASSERT_TRUE(user.WaitForDatagrams(1));
    const auto got = user.Datagrams().at(0);
    EXPECT_EQ(got.bytes, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(got.from.address, kLoopback);
    EXPECT_EQ(got.from.port, sender.Port());
}

TEST(CUDPPort, OversizedDatagramIsLostAndTheNextReadHas1024MoreBytes) {
    RecordingPortUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.SetReceiveBufferSize(4096);
    ASSERT_EQ(port.Open(0), UdpSuccess);
    LoopbackSender sender;
    ASSERT_EQ(sender.Send(port.GetPort(), Bytes(5000, 1)), UdpSuccess);  // lost
    ASSERT_EQ(sender.Send(port.GetPort(), Bytes(5000, 2)), UdpSuccess);  // fits 5120
    ASSERT_TRUE(user.WaitForDatagrams(1));
    const auto got = user.Datagrams();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, Bytes(5000, 2));
    EXPECT_EQ(port.GetReceiveBufferSize(), 4096u + 1024u);
    EXPECT_EQ(port.GetActiveBufferSize(), 4096u + 1024u);
}

TEST(CUDPPort, ASmallerWantedBufferIsTakenOnlyWhenMoreThan2048Smaller) {
    struct Row {
        uint32_t wanted;
        uint32_t used;
    };
    const Row rows[] = {
        {4096 - 1, 4096},
        {4096 - 2048, 4096},
        {4096 - 2049, 4096 - 2049},
        {4097, 4097},  // growing always reallocates
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.wanted);
        RecordingPortUser user;
        CUDPPort port;
        port.SetUser(&user);
        port.SetReceiveBufferSize(4096);
        ASSERT_EQ(port.Open(0), UdpSuccess);
        LoopbackSender sender;
        ASSERT_EQ(sender.Send(port.GetPort(), Bytes(10)), UdpSuccess);
        ASSERT_TRUE(user.WaitForDatagrams(1));
        EXPECT_EQ(port.GetActiveBufferSize(), 4096u);

        port.SetReceiveBufferSize(row.wanted);
        // The read under way keeps its buffer; the next one is reconciled.
        ASSERT_EQ(sender.Send(port.GetPort(), Bytes(10)), UdpSuccess);
        ASSERT_TRUE(user.WaitForDatagrams(2));
        // A datagram between the wanted size and the kept buffer fits.
        const size_t size = std::min<size_t>(row.used, 3000);
        ASSERT_EQ(sender.Send(port.GetPort(), Bytes(size)), UdpSuccess);
        ASSERT_TRUE(user.WaitForDatagrams(3));
        EXPECT_EQ(port.GetActiveBufferSize(), row.used);
        EXPECT_EQ(user.Datagrams().at(2).bytes.size(), size);
    }
}

TEST(CUDPPort, ZeroWaitTimeoutWaitsWithoutReportingTimeouts) {
    RecordingPortUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.SetWaitTimeout(0, 0);
    ASSERT_EQ(port.Open(0), UdpSuccess);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(user.Timeouts(), 0);
    LoopbackSender sender;
    ASSERT_EQ(sender.Send(port.GetPort(), Bytes(8)), UdpSuccess);
    EXPECT_TRUE(user.WaitForDatagrams(1));
    // Close must wake the unlimited wait.
    port.Close();
    EXPECT_EQ(user.Timeouts(), 0);
    EXPECT_EQ(user.Closed(), 1);
}

TEST(CUDPPort, AShortWaitTimeoutIsReportedAndCanChangeWhileOpen) {
    RecordingPortUser user;
    CUDPPort port;
    port.SetUser(&user);
    port.SetWaitTimeout(0, 500);  // half a millisecond rounds up, never to "no limit"
    ASSERT_EQ(port.Open(0), UdpSuccess);
    EXPECT_TRUE(user.WaitForTimeouts(3));
    port.SetWaitTimeout(30, 0);
    const int seen = user.Timeouts();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LE(user.Timeouts(), seen + 1);  // at most the wait already under way
}

TEST(CUDPPort, CloseReportsPortClosedExactlyOnceOnTheCaller) {
    RecordingPortUser user;
    {
        CUDPPort port;
        port.SetUser(&user);
        port.Close();  // never opened
        EXPECT_EQ(user.Closed(), 0);
        ASSERT_EQ(port.Open(0), UdpSuccess);
        port.Close();
        EXPECT_EQ(user.Closed(), 1);
        EXPECT_EQ(user.ClosedOn(), std::this_thread::get_id());
        port.Close();
        EXPECT_EQ(user.Closed(), 1);
    }  // the destructor finds it closed
    EXPECT_EQ(user.Closed(), 1);
}

TEST(CUDPPort, CloseWakesTheWaitWellBeforeItsTimeout) {
    CUDPPort port;
    port.SetWaitTimeout(30, 0);
    ASSERT_EQ(port.Open(0), UdpSuccess);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(CUDPPort, SendToResults) {
    struct Row {
        const char* what;
        bool open;
        size_t size;
        UdpResult result;
    };
    const Row rows[] = {
        {"closed port", false, 10, UdpNotOpen},
        {"ordinary datagram", true, 10, UdpSuccess},
        {"larger than a UDP datagram can be", true, 70000, UdpTooLarge},
        {"nothing to send", true, 0, UdpSendFailed},
    };
    RecordingPortUser user;
    CUDPPort receiver;
    receiver.SetUser(&user);
    ASSERT_EQ(receiver.Open(0), UdpSuccess);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CUDPPort port;
        if (row.open) {
            ASSERT_EQ(port.Open(0), UdpSuccess);
        }
        const auto bytes = Bytes(row.size);
        EXPECT_EQ(port.SendTo(bytes.data(), bytes.size(), Ipv4Endpoint{kLoopback, receiver.GetPort()}), row.result);
    }
}

TEST(CUDPPort, AnEmptyDatagramDoesNotStopTheReceiver) {
    RecordingPortUser user;
    CUDPPort port;
    port.SetUser(&user);
    ASSERT_EQ(port.Open(0), UdpSuccess);
    LoopbackSender sender;
    ASSERT_EQ(sender.Send(port.GetPort(), {}), UdpSendFailed);  // zero bytes "sent"
    ASSERT_EQ(sender.Send(port.GetPort(), {7}), UdpSuccess);
    ASSERT_TRUE(user.WaitForDatagrams(1));
    EXPECT_EQ(user.Datagrams().at(0).bytes, std::vector<uint8_t>{7});
    EXPECT_EQ(user.Closed(), 0);
}

TEST(CUDPPort, CloseAndReopenFromInsideACallback) {
    RecordingPortUser user;
    CUDPPort port;
    port.SetUser(&user);
    ASSERT_EQ(port.Open(0), UdpSuccess);
    std::thread::id receiveThread;
    std::atomic<uint16_t> reopened{0};
    std::atomic<bool> done{false};
    user.onData = [&](CUDPPort* p) {
        if (done.exchange(true)) return;
        receiveThread = std::this_thread::get_id();
        p->Close();  // must neither join itself nor deadlock
        p->Open(0);
        reopened = p->GetPort();
    };
    LoopbackSender sender;
    ASSERT_EQ(sender.Send(port.GetPort(), {1}), UdpSuccess);
    ASSERT_TRUE(user.WaitForClosed(1));
    ASSERT_TRUE(user.WaitForDatagrams(1));
    for (int i = 0; i < 500 && reopened == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(user.ClosedOn(), receiveThread);
    ASSERT_NE(reopened, 0);
    EXPECT_EQ(port.GetPort(), reopened);

    // The new thread serves the new socket, and nothing is reported twice.
    ASSERT_EQ(sender.Send(reopened, {2}), UdpSuccess);
    ASSERT_TRUE(user.WaitForDatagrams(2));
    EXPECT_EQ(user.Datagrams().at(1).bytes, std::vector<uint8_t>{2});
    EXPECT_EQ(user.Closed(), 1);
    port.Close();
    EXPECT_EQ(user.Closed(), 2);
}

TEST(CUDPPort, CloseFromACallbackIsJoinedByTheDestructor) {
    RecordingPortUser user;
    {
        CUDPPort port;
        port.SetUser(&user);
        ASSERT_EQ(port.Open(0), UdpSuccess);
        user.onData = [&](CUDPPort* p) { p->Close(); };
        LoopbackSender sender;
        ASSERT_EQ(sender.Send(port.GetPort(), {1}), UdpSuccess);
        ASSERT_TRUE(user.WaitForClosed(1));
        EXPECT_FALSE(port.IsOpen());
    }
    EXPECT_EQ(user.Closed(), 1);
}

}  // namespace
