// Receive cost on loopback: CUDPPort + CRTPReceiver against a plain
// blocking recvfrom loop on a thread of its own, fed the same datagrams by
// the same sender in the same run. What counts is the CPU time of the
// receiving thread per datagram it delivered.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "transport/CRTPReceiver.h"

using namespace kestrel;

namespace {

constexpr int kKernelBuffer = 131070;  // what CUDPPort asks for with a 4096-byte buffer
constexpr size_t kPayload = 1400;

uint64_t ThreadCpuNs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return uint64_t(t.tv_sec) * 1000000000u + uint64_t(t.tv_nsec);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// What the receiving side counts, and the clock of the thread doing it.
struct Tally {
    std::atomic<uint64_t> datagrams{0};
    std::atomic<uint64_t> bytes{0};
    std::atomic<bool> haveClock{false};
    clockid_t clock{};

    void Count(size_t length) {
        if (!haveClock.load(std::memory_order_relaxed)) {
            pthread_getcpuclockid(pthread_self(), &clock);
            haveClock.store(true, std::memory_order_release);
        }
        bytes.fetch_add(length, std::memory_order_relaxed);
        datagrams.fetch_add(1, std::memory_order_release);
    }
};

class CountingUser : public IRTPReceiverUser {
public:
    explicit CountingUser(Tally& tally) : m_tally(tally) {}
    void PacketReceived(CRTPReceiver*, const Ipv4Endpoint&, const RtpPacket& packet) override {
        m_tally.Count(packet.payloadLength);
    }
    void ReceiveTimeout() override {}
    void ReceiverClosed(CRTPReceiver*) override {}

private:
    Tally& m_tally;
};

// The baseline: one thread, one socket, blocking recvfrom, the same parse.
class PlainLoop {
public:
    PlainLoop() {
        m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &kKernelBuffer, sizeof kKernelBuffer);
        sockaddr_in any = Loopback(0);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        bind(m_socket, reinterpret_cast<sockaddr*>(&any), sizeof any);
        socklen_t size = sizeof any;
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&any), &size);
        m_port = ntohs(any.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~PlainLoop() {
        m_stop.store(true);
        shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        close(m_socket);
    }
    uint16_t Port() const { return m_port; }
    Tally tally;

private:
    void Run() {
        // The same scheduling as the port's receive thread, which raises
        // itself above normal: the comparison is of the code path alone.
        const auto tid = id_t(syscall(SYS_gettid));
        setpriority(PRIO_PROCESS, tid, getpriority(PRIO_PROCESS, tid) - 1);
        std::vector<uint8_t> buffer(4096);
        while (!m_stop.load(std::memory_order_relaxed)) {
            sockaddr_in from{};
            socklen_t size = sizeof from;
            const ssize_t n =
                recvfrom(m_socket, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &size);
            if (n <= 0) continue;
            RtpPacket packet;
            if (ParseRtpPacket(buffer.data(), size_t(n), packet)) tally.Count(packet.payloadLength);
        }
    }
    int m_socket = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class Sender {
public:
    Sender() : m_socket(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
        const uint8_t header[] = {0x80, 0x9A, 0, 0, 0, 1, 0x5F, 0x90, 0x11, 0x22, 0x33, 0x44};
        m_datagram.assign(sizeof header + kPayload, 0xAB);
        std::memcpy(m_datagram.data(), header, sizeof header);
    }
    ~Sender() { close(m_socket); }
    void Send(uint16_t port, uint16_t sequence) {
        m_datagram[2] = uint8_t(sequence >> 8);
        m_datagram[3] = uint8_t(sequence);
        const sockaddr_in to = Loopback(port);
        sendto(m_socket, m_datagram.data(), m_datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

private:
    int m_socket;
    std::vector<uint8_t> m_datagram;
};

// Sends one datagram and waits for it: starts the receiver's clock.
bool Prime(Sender& sender, uint16_t port, Tally& tally) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        sender.Send(port, 0);
        for (int i = 0; i < 100; ++i) {
            if (tally.haveClock.load(std::memory_order_acquire)) return true;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
    return false;
}

struct Blast {
    uint64_t delivered = 0;
    uint64_t cpuNs = 0;
    double seconds = 0;
};

// Sends `count` datagrams back to back and waits until the receiver has
// been quiet for 20 ms (what the kernel dropped never comes).
Blast BlastAt(Sender& sender, uint16_t port, Tally& tally, int count, int gapUs) {
    const uint64_t before = tally.datagrams.load(std::memory_order_acquire);
    const uint64_t cpuBefore = ThreadCpuNs(tally.clock);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        sender.Send(port, uint16_t(i));
        if (gapUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(gapUs));
    }
    auto lastChange = std::chrono::steady_clock::now();
    auto end = lastChange;
    uint64_t seen = tally.datagrams.load(std::memory_order_acquire);
    while (seen - before < uint64_t(count) &&
           std::chrono::steady_clock::now() - lastChange < std::chrono::milliseconds(20)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        const uint64_t now = tally.datagrams.load(std::memory_order_acquire);
        if (now != seen) {
            seen = now;
            lastChange = end = std::chrono::steady_clock::now();
        }
    }
    Blast result;
    result.delivered = seen - before;
    result.cpuNs = ThreadCpuNs(tally.clock) - cpuBefore;
    result.seconds = std::chrono::duration<double>(end - start).count();
    return result;
}

void BM_LoopbackReceive(benchmark::State& state) {
    const int count = int(state.range(0));
    const int gapUs = int(state.range(1));
    Sender sender;
    PlainLoop plain;
    Tally portTally;
    CountingUser user(portTally);
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    if (receiver.GetPort().Open(0) != UdpSuccess) {
        state.SkipWithError("cannot open the port");
        return;
    }
    const uint16_t port = receiver.GetPort().GetPort();
    if (!Prime(sender, plain.Port(), plain.tally) || !Prime(sender, port, portTally)) {
        state.SkipWithError("no datagram arrived");
        return;
    }

    Blast plainTotal;
    Blast portTotal;
    bool plainFirst = true;
    for (auto _ : state) {
        // Alternate the order so that neither always runs on a warm cache.
        for (int turn = 0; turn < 2; ++turn) {
            const bool doPlain = (turn == 0) == plainFirst;
            const Blast b = doPlain ? BlastAt(sender, plain.Port(), plain.tally, count, gapUs)
                                    : BlastAt(sender, port, portTally, count, gapUs);
            Blast& total = doPlain ? plainTotal : portTotal;
            total.delivered += b.delivered;
            total.cpuNs += b.cpuNs;
            total.seconds += b.seconds;
        }
        plainFirst = !plainFirst;
    }
    receiver.SetUser(nullptr);
    receiver.GetPort().Close();

    const double portCpu = double(portTotal.cpuNs) / double(portTotal.delivered);
    const double plainCpu = double(plainTotal.cpuNs) / double(plainTotal.delivered);
    state.counters["port_dgram_per_s"] = double(portTotal.delivered) / portTotal.seconds;
    state.counters["plain_dgram_per_s"] = double(plainTotal.delivered) / plainTotal.seconds;
    state.counters["port_cpu_ns_per_dgram"] = portCpu;
    state.counters["plain_cpu_ns_per_dgram"] = plainCpu;
    state.counters["cpu_ratio"] = portCpu / plainCpu;
    state.counters["port_delivered_pct"] = 100.0 * double(portTotal.delivered) / double(count * state.iterations());
    state.counters["plain_delivered_pct"] = 100.0 * double(plainTotal.delivered) / double(count * state.iterations());
}
// Back to back, as fast as one sender goes: the receiver rarely waits.
BENCHMARK(BM_LoopbackReceive)
    ->Name("BM_LoopbackReceive/blast")
    ->Args({20000, 0})
    ->Iterations(10)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// A camera's pace (a few thousand per second): every datagram wakes the receiver.
BENCHMARK(BM_LoopbackReceive)
    ->Name("BM_LoopbackReceive/paced")
    ->Args({2000, 200})
    ->Iterations(3)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The camera's source check: two receivers on loopback, one reading every
// sender and one only the camera's address, fed alternately by the same
// sender in the same run. The check's share is the difference in CPU time
// of the receiving thread per datagram.
void BM_SourceCheckLoopback(benchmark::State& state) {
    const int count = int(state.range(0));
    const int gapUs = int(state.range(1));
    Sender sender;
    Tally anyTally;
    Tally checkedTally;
    CountingUser anyUser(anyTally);
    CountingUser checkedUser(checkedTally);
    CRTPReceiver any;
    CRTPReceiver checked;
    any.SetUser(&anyUser);
    checked.SetUser(&checkedUser);
    checked.SetSourceAddress(INADDR_LOOPBACK);
    if (any.GetPort().Open(0) != UdpSuccess || checked.GetPort().Open(0) != UdpSuccess) {
        state.SkipWithError("cannot open the ports");
        return;
    }
    const uint16_t anyPort = any.GetPort().GetPort();
    const uint16_t checkedPort = checked.GetPort().GetPort();
    if (!Prime(sender, anyPort, anyTally) || !Prime(sender, checkedPort, checkedTally)) {
        state.SkipWithError("no datagram arrived");
        return;
    }
    Blast anyTotal;
    Blast checkedTotal;
    bool anyFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool doAny = (turn == 0) == anyFirst;
            const Blast b = doAny ? BlastAt(sender, anyPort, anyTally, count, gapUs)
                                  : BlastAt(sender, checkedPort, checkedTally, count, gapUs);
            Blast& total = doAny ? anyTotal : checkedTotal;
            total.delivered += b.delivered;
            total.cpuNs += b.cpuNs;
        }
        anyFirst = !anyFirst;
    }
    any.SetUser(nullptr);
    checked.SetUser(nullptr);
    any.GetPort().Close();
    checked.GetPort().Close();
    const double anyCpu = double(anyTotal.cpuNs) / double(anyTotal.delivered);
    const double checkedCpu = double(checkedTotal.cpuNs) / double(checkedTotal.delivered);
    state.counters["unchecked_cpu_ns_per_dgram"] = anyCpu;
    state.counters["checked_cpu_ns_per_dgram"] = checkedCpu;
    state.counters["check_cost_pct"] = 100.0 * (checkedCpu - anyCpu) / anyCpu;
}
BENCHMARK(BM_SourceCheckLoopback)
    ->Name("BM_SourceCheck/loopback")
    ->Args({20000, 0})
    ->Iterations(10)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same without the kernel: the datagram handed to the receiver as its
// port hands it over. 0: the bare parse and hand-over (the receiver before
// it had a check), 1: a receiver reading any sender, 2: one checking the
// camera's address.
void BM_SourceCheckInMemory(benchmark::State& state) {
    Tally tally;
    CountingUser user(tally);
    CRTPReceiver receiver;
    receiver.SetUser(&user);
    if (state.range(0) == 2) receiver.SetSourceAddress(INADDR_LOOPBACK);
    const uint8_t header[] = {0x80, 0x9A, 0, 0, 0, 1, 0x5F, 0x90, 0x11, 0x22, 0x33, 0x44};
    std::vector<uint8_t> datagram(sizeof header + kPayload, 0xAB);
    std::memcpy(datagram.data(), header, sizeof header);
    const Ipv4Endpoint camera{INADDR_LOOPBACK, 50000};
    CUDPPort* const port = &receiver.GetPort();
    for (auto _ : state) {
        if (state.range(0) == 0) {
            RtpPacket packet;
            if (ParseRtpPacket(datagram.data(), datagram.size(), packet))
                user.PacketReceived(&receiver, camera, packet);
        } else {
            receiver.DataReceived(port, camera, datagram.data(), datagram.size());
        }
        benchmark::ClobberMemory();
    }
    receiver.SetUser(nullptr);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SourceCheckInMemory)
    ->Name("BM_SourceCheck/in_memory")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
