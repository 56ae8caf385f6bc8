// The whole driver against the camera simulator on loopback, as a recorder
// drives it through the legacy host contract. The simulator runs in a child
// process, so getrusage(RUSAGE_SELF) counts only the receiving side: the
// driver's threads here, or a plain recvfrom thread per socket for
// comparison. Picture delays join the simulator's send time of each
// picture's first datagram (shared memory, by frame number) with the time the
// picture reached SendFrameCallback.
//
//   halyard_bench_driver                         # everything, soak 60 s
//   halyard_bench_driver --soak_seconds=5        # or HALYARD_BENCH_SOAK_SECONDS=5
//   halyard_bench_driver --window_seconds=10     # throughput windows of 10 s (default 5)
//   halyard_bench_driver --windows=10            # how many (default 6)
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/driver/BenchHost.h"
#include "bench/driver/SimProcess.h"
#include "driver/CSonyIPCapture.h"
#include "transport/CUDPSocket.h"

using halyardbench::BenchHost;
using halyardbench::SimProcess;
using Clock = std::chrono::steady_clock;

namespace {

SimProcess g_sim;
double g_soakSeconds = 60;
double g_windowSeconds = 5;
int g_windows = 6;

constexpr uint32_t kFrameIntervalMs = 33;  // 30 pictures/s, NTSC
constexpr int32_t k4Cif = 4;
constexpr int32_t kHostQuality = 60;  // JpQuality 6 on the model's 1..10: ~40 KB at 704x480

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// CPU of this whole process, user and system.
int64_t ProcessCpuNs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto ns = [](const timeval& t) { return int64_t(t.tv_sec) * 1000000000 + int64_t(t.tv_usec) * 1000; };
    return ns(u.ru_utime) + ns(u.ru_stime);
}

void SleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

template <class Pred>
bool WaitUntil(Pred pred, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

// Driver objects with their hosts, one camera each.
struct Rig {
    std::vector<std::unique_ptr<BenchHost>> hosts;
    std::vector<std::unique_ptr<kestrel::CSonyIPCapture>> drivers;

    bool Open(const std::vector<uint16_t>& ports) {
        for (uint16_t port : ports) {
            auto host = std::make_unique<BenchHost>();
            auto driver = std::make_unique<kestrel::CSonyIPCapture>(0);
            driver->SetCaptureUser(host.get());
            driver->SetFrameAllocator(host.get());
            driver->SetVideoStandard(1);
            driver->SetParameter("IPSERVERADDRESS", "127.0.0.1", 9);
            driver->SetParameter("IPSERVERTYPE", "SNC-RZ50N", 9);
            driver->SetParameter("IPSERVERPORT", reinterpret_cast<const void*>(static_cast<uintptr_t>(port)), 4);
            driver->SetParameter("IPSERVERUSERNAME", "admin", 5);
            driver->SetParameter("IPSERVERPASSWORD", "admin", 5);
            const bool ok = driver->Open("") == 1;
            hosts.push_back(std::move(host));
            drivers.push_back(std::move(driver));
            if (!ok) return false;
        }
        return true;
    }
    bool StartAll() {
        bool ok = true;
        for (auto& d : drivers) ok = d->StartChannel(0, kFrameIntervalMs, k4Cif, kHostQuality) == 1 && ok;
        return ok;
    }
    bool WaitAllFrames(double seconds) {
        return WaitUntil(
            [&] {
                for (auto& h : hosts)
                    if (h->frames.load() == 0) return false;
                return true;
            },
            seconds);
    }
    uint64_t Frames() const {
        uint64_t n = 0;
        for (auto& h : hosts) n += h->frames.load();
        return n;
    }
    ~Rig() {
        for (auto& d : drivers) {
            d->StopChannel(0);
            d->Close();
        }
        drivers.clear();
    }
};

// ---------------------------------------------------------------- plain loop

struct PlainReceiver {
    int fd = -1;
    uint16_t port = 0;
    std::atomic<uint64_t> datagrams{0};
    std::thread thread;

    // raise: lift the thread as the driver lifts its receive threads.
    bool Open(bool raise) {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        thread = std::thread([this, raise] {
            pthread_setname_np(pthread_self(), "plain");  // told apart in profiles
            if (raise) kestrel::CUDPSocket::RaiseCurrentThreadPriority();
            std::vector<uint8_t> buffer(65536);
            for (;;) {
                sockaddr_in from{};
                socklen_t fromLen = sizeof from;
                const ssize_t n =
                    ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
                if (n <= 0) {
                    if (n < 0 && errno == EINTR) continue;
                    return;  // shut down
                }
                datagrams.fetch_add(1, std::memory_order_relaxed);
            }
        });
        return true;
    }
    // CPU time of the receive thread so far.
    int64_t CpuNs() {
        clockid_t clock{};
        timespec t{};
        if (!thread.joinable() || pthread_getcpuclockid(thread.native_handle(), &clock) != 0 ||
            clock_gettime(clock, &t) != 0)
            return 0;
        return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
    }
    ~PlainReceiver() {
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
        if (thread.joinable()) thread.join();
        if (fd >= 0) ::close(fd);
    }
};

struct Window {
    int64_t cpuNs = 0;
    int64_t wallNs = 0;
    uint64_t packets = 0;
    uint64_t pictures = 0;
};

// Measures the process CPU and the simulator's packets over the window.
template <class Frames>
Window Measure(double seconds, Frames frames) {
    const SimProcess::Totals s0 = g_sim.GetTotals();
    const uint64_t f0 = frames();
    const int64_t c0 = ProcessCpuNs();
    const int64_t w0 = NowNs();
    SleepSeconds(seconds);
    const int64_t c1 = ProcessCpuNs();
    const int64_t w1 = NowNs();
    const uint64_t f1 = frames();
    const SimProcess::Totals s1 = g_sim.GetTotals();
    return {c1 - c0, w1 - w0, s1.packets - s0.packets, f1 - f0};
}

// 16 cameras x 30 pictures/s x ~40 KB through the driver, and at the same
// time the same traffic from 16 more cameras into plain recvfrom threads at
// the driver's receive priority, and from 16 more into plain threads at
// normal priority, so that whatever else the machine does weighs on all
// alike. Driver CPU is the whole process's minus the plain threads'.
struct PlainGroup {
    std::vector<std::unique_ptr<PlainReceiver>> receivers;
    int64_t cpuNs = 0;
    uint64_t packets = 0;
    std::vector<double> ratios;  // driver per packet / this group per packet, by window

    void Totals(uint64_t& datagrams, int64_t& cpu) {
        datagrams = 0;
        cpu = 0;
        for (auto& r : receivers) {
            datagrams += r->datagrams.load();
            cpu += r->CpuNs();
        }
    }
};

void BM_Throughput16(benchmark::State& state) {
    const unsigned cameras = static_cast<unsigned>(state.range(0));
    SimProcess::FarmOptions farm;
    farm.cameras = 3 * cameras;
    PlainGroup groups[2];  // 0: raised like the driver's receive threads, 1: normal
    int64_t driverCpuNs = 0;
    int64_t wallNs = 0;
    uint64_t driverPackets = 0;
    uint64_t pictures = 0;
    std::vector<double> delaysUs;
    uint64_t gaps = 0;
    uint64_t bytes = 0;
    for (auto _ : state) {
        const std::vector<uint16_t> ports = g_sim.StartFarm(farm);
        if (ports.size() != farm.cameras) return state.SkipWithError("simulator did not start");
        for (unsigned g = 0; g < 2; ++g) {
            for (unsigned i = 0; i < cameras; ++i) {
                auto r = std::make_unique<PlainReceiver>();
                if (!r->Open(g == 0) || !g_sim.StreamTo((g + 1) * cameras + i, r->port))
                    return state.SkipWithError("plain receiver set-up failed");
                groups[g].receivers.push_back(std::move(r));
            }
        }
        {
            Rig rig;
            if (!rig.Open(std::vector<uint16_t>(ports.begin(), ports.begin() + cameras)) || !rig.StartAll())
                return state.SkipWithError("driver set-up failed");
            if (!rig.WaitAllFrames(20)) return state.SkipWithError("no frames");
            SleepSeconds(1);
            std::vector<uint32_t> first(cameras);
            std::vector<uint64_t> gaps0(cameras);
            uint64_t bytes0 = 0;
            for (unsigned i = 0; i < cameras; ++i) {
                first[i] = rig.hosts[i]->lastFrameNumber.load();
                gaps0[i] = rig.hosts[i]->gaps.load();
                bytes0 += rig.hosts[i]->bytes.load();
            }
            // Several windows: how often a thread sleeps and is woken sets
            // most of the CPU a packet costs, and that varies from window to
            // window with whatever else the machine does.
            const uint64_t f0 = rig.Frames();
            const int64_t w0 = NowNs();
            uint64_t dPrev[2] = {};
            int64_t pPrev[2] = {};
            for (unsigned g = 0; g < 2; ++g) groups[g].Totals(dPrev[g], pPrev[g]);
            int64_t cPrev = ProcessCpuNs();
            uint64_t sPrev = g_sim.GetTotals().packets;
            for (int w = 0; w < g_windows; ++w) {
                SleepSeconds(g_windowSeconds);
                const int64_t c = ProcessCpuNs();
                uint64_t d[2] = {};
                int64_t p[2] = {};
                for (unsigned g = 0; g < 2; ++g) groups[g].Totals(d[g], p[g]);
                const uint64_t sent = g_sim.GetTotals().packets;
                const int64_t plainCpu[2] = {p[0] - pPrev[0], p[1] - pPrev[1]};
                const uint64_t plainCount[2] = {d[0] - dPrev[0], d[1] - dPrev[1]};
                const int64_t driverCpu = (c - cPrev) - plainCpu[0] - plainCpu[1];
                // All groups are sent the same; the plain ones count as they arrived.
                const uint64_t driverCount = (sent - sPrev) - plainCount[0] - plainCount[1];
                for (unsigned g = 0; g < 2; ++g) {
                    if (plainCount[g] > 0 && driverCount > 0 && plainCpu[g] > 0) {
                        groups[g].ratios.push_back(
                            (static_cast<double>(driverCpu) / static_cast<double>(driverCount)) /
                            (static_cast<double>(plainCpu[g]) / static_cast<double>(plainCount[g])));
                    }
                    groups[g].cpuNs += plainCpu[g];
                    groups[g].packets += plainCount[g];
                    pPrev[g] = p[g];
                    dPrev[g] = d[g];
                }
                driverCpuNs += driverCpu;
                driverPackets += driverCount;
                cPrev = c;
                sPrev = sent;
            }
            wallNs = NowNs() - w0;
            pictures = rig.Frames() - f0;
            for (unsigned i = 0; i < cameras; ++i) {
                BenchHost& h = *rig.hosts[i];
                const uint32_t last = h.lastFrameNumber.load();
                gaps += h.gaps.load() - gaps0[i];
                bytes += h.bytes.load();
                for (uint32_t f = first[i] + 1; f <= last; ++f) {
                    const int64_t got = h.ReceivedAt(f);
                    const int64_t sent = g_sim.SentAt(i, f);
                    if (got >= 0 && sent >= 0) delaysUs.push_back(static_cast<double>(got - sent) / 1000.0);
                }
            }
            bytes -= bytes0;
        }
        for (auto& g : groups) g.receivers.clear();
        g_sim.StopFarm();
        state.SetIterationTime(static_cast<double>(wallNs) / 1e9);
    }
    const double driverPerPacket = static_cast<double>(driverCpuNs) / 1000.0 / static_cast<double>(driverPackets);
    const double seconds = static_cast<double>(wallNs) / 1e9;
    const char* names[2] = {"plain_same_priority", "plain_normal_priority"};
    for (unsigned g = 0; g < 2; ++g) {
        const std::string n = names[g];
        state.counters[n + "_cpu_us_per_packet"] =
            static_cast<double>(groups[g].cpuNs) / 1000.0 / static_cast<double>(groups[g].packets);
        state.counters[n + "_ratio_p50"] = Percentile(groups[g].ratios, 0.5);
        state.counters[n + "_ratio_min"] = Percentile(groups[g].ratios, 0.0);
        state.counters[n + "_ratio_max"] = Percentile(groups[g].ratios, 1.0);
    }
    state.counters["driver_cpu_us_per_packet"] = driverPerPacket;
    state.counters["driver_packets_per_s"] = static_cast<double>(driverPackets) / seconds;
    state.counters["driver_pictures_per_s"] = static_cast<double>(pictures) / seconds;
    state.counters["driver_cpu_us_per_picture"] =
        static_cast<double>(driverCpuNs) / 1000.0 / static_cast<double>(pictures);
    state.counters["driver_cpu_share_of_core"] = static_cast<double>(driverCpuNs) / static_cast<double>(wallNs);
    state.counters["picture_kb"] = static_cast<double>(bytes) / 1024.0 / static_cast<double>(pictures);
    state.counters["picture_gaps"] = static_cast<double>(gaps);
    state.counters["delay_us_p50"] = Percentile(delaysUs, 0.50);
    state.counters["delay_us_p99"] = Percentile(delaysUs, 0.99);
    state.counters["delay_us_max"] = Percentile(delaysUs, 1.0);
    state.counters["delay_samples"] = static_cast<double>(delaysUs.size());
}
BENCHMARK(BM_Throughput16)->Arg(16)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// StartChannel to the first frame, and StopChannel to its return, on a
// healthy camera.
void BM_StartStop(benchmark::State& state) {
    SimProcess::FarmOptions farm;
    const std::vector<uint16_t> ports = g_sim.StartFarm(farm);
    if (ports.size() != 1) return state.SkipWithError("simulator did not start");
    std::vector<double> firstMs;
    std::vector<double> stopMs;
    {
        Rig rig;
        if (!rig.Open(ports)) return state.SkipWithError("driver set-up failed");
        BenchHost& host = *rig.hosts[0];
        for (auto _ : state) {
            host.ResetSequence();
            const int64_t t0 = NowNs();
            if (rig.drivers[0]->StartChannel(0, kFrameIntervalMs, k4Cif, kHostQuality) != 1)
                return state.SkipWithError("StartChannel failed");
            if (!WaitUntil([&] { return host.firstFrameNs.load() >= 0; }, 5))
                return state.SkipWithError("no first frame");
            firstMs.push_back(static_cast<double>(host.firstFrameNs.load() - t0) / 1e6);
            SleepSeconds(0.1);
            const int64_t t1 = NowNs();
            rig.drivers[0]->StopChannel(0);
            const int64_t t2 = NowNs();
            stopMs.push_back(static_cast<double>(t2 - t1) / 1e6);
            state.SetIterationTime(static_cast<double>(t2 - t0) / 1e9);
            SleepSeconds(0.05);
        }
    }
    g_sim.StopFarm();
    state.counters["first_frame_ms_p50"] = Percentile(firstMs, 0.5);
    state.counters["first_frame_ms_max"] = Percentile(firstMs, 1.0);
    state.counters["stop_ms_p50"] = Percentile(stopMs, 0.5);
    state.counters["stop_ms_max"] = Percentile(stopMs, 1.0);
}
BENCHMARK(BM_StartStop)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// StopChannel while the camera holds the channel's set-up request unanswered.
void BM_StopWhileRequestHangs(benchmark::State& state) {
    SimProcess::FarmOptions farm;
    farm.hangPattern = "ImageCodec";
    const std::vector<uint16_t> ports = g_sim.StartFarm(farm);
    if (ports.size() != 1) return state.SkipWithError("simulator did not start");
    std::vector<double> stopMs;
    {
        Rig rig;
        if (!rig.Open(ports)) return state.SkipWithError("driver set-up failed");
        for (auto _ : state) {
            if (rig.drivers[0]->StartChannel(0, kFrameIntervalMs, k4Cif, kHostQuality) != 1)
                return state.SkipWithError("StartChannel failed");
            if (!g_sim.WaitForRequest(0, "ImageCodec", 5000)) return state.SkipWithError("request did not arrive");
            SleepSeconds(0.05);  // the request is now held
            const int64_t t1 = NowNs();
            rig.drivers[0]->StopChannel(0);
            const int64_t t2 = NowNs();
            stopMs.push_back(static_cast<double>(t2 - t1) / 1e6);
            state.SetIterationTime(static_cast<double>(t2 - t1) / 1e9);
        }
    }
    g_sim.StopFarm();
    state.counters["stop_ms_p50"] = Percentile(stopMs, 0.5);
    state.counters["stop_ms_max"] = Percentile(stopMs, 1.0);
}
BENCHMARK(BM_StopWhileRequestHangs)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// 64 cameras for the soak time: every picture after each camera's first
// must arrive, in order.
void BM_Soak64(benchmark::State& state) {
    const unsigned cameras = static_cast<unsigned>(state.range(0));
    SimProcess::FarmOptions farm;
    farm.cameras = cameras;
    uint64_t frames = 0, gaps = 0, backwards = 0, badStamps = 0, refused = 0, errors = 0;
    uint64_t sent = 0, sendErrors = 0, lateFrames = 0, behind = 0;
    Window w;
    for (auto _ : state) {
        const std::vector<uint16_t> ports = g_sim.StartFarm(farm);
        if (ports.size() != cameras) return state.SkipWithError("simulator did not start");
        {
            Rig rig;
            if (!rig.Open(ports) || !rig.StartAll()) return state.SkipWithError("driver set-up failed");
            if (!rig.WaitAllFrames(30)) return state.SkipWithError("no frames from some camera");
            w = Measure(g_soakSeconds, [&] { return rig.Frames(); });
            // Stop the cameras first, so that what they sent can be compared
            // with what arrived.
            std::vector<uint64_t> delivered(cameras);
            const SimProcess::Totals t = g_sim.GetTotals();
            g_sim.StopFarm();
            SleepSeconds(0.2);
            for (unsigned i = 0; i < cameras; ++i) {
                BenchHost& h = *rig.hosts[i];
                frames += h.frames.load();
                gaps += h.gaps.load();
                backwards += h.backwards.load();
                badStamps += h.badStamps.load();
                refused += h.refused.load();
                errors += h.errors.load();
            }
            sent = t.pictures;
            sendErrors = t.sendErrors;
            lateFrames = t.lateFrames;
            behind = sent > frames ? sent - frames : 0;
        }
        state.SetIterationTime(static_cast<double>(w.wallNs) / 1e9);
    }
    state.counters["cameras"] = cameras;
    state.counters["seconds"] = static_cast<double>(w.wallNs) / 1e9;
    state.counters["pictures_delivered"] = static_cast<double>(frames);
    state.counters["pictures_sent"] = static_cast<double>(sent);
    state.counters["not_delivered"] = static_cast<double>(behind);  // includes those before each first one
    state.counters["gaps"] = static_cast<double>(gaps);
    state.counters["out_of_order"] = static_cast<double>(backwards);
    state.counters["bad_stamps"] = static_cast<double>(badStamps);
    state.counters["no_frame_buffer"] = static_cast<double>(refused);
    state.counters["driver_errors"] = static_cast<double>(errors);
    state.counters["sim_send_errors"] = static_cast<double>(sendErrors);
    state.counters["sim_late_frames"] = static_cast<double>(lateFrames);
    state.counters["pictures_per_s"] = static_cast<double>(w.pictures) * 1e9 / static_cast<double>(w.wallNs);
    state.counters["cpu_share_of_core"] = static_cast<double>(w.cpuNs) / static_cast<double>(w.wallNs);
}
BENCHMARK(BM_Soak64)->Arg(64)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

double SecondsFrom(const char* env, double fallback) {
    const char* v = std::getenv(env);
    return v != nullptr && *v != '\0' ? std::atof(v) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    g_soakSeconds = SecondsFrom("HALYARD_BENCH_SOAK_SECONDS", g_soakSeconds);
    g_windowSeconds = SecondsFrom("HALYARD_BENCH_WINDOW_SECONDS", g_windowSeconds);
    // Our own flags, taken out before the benchmark library sees them.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--soak_seconds=", 0) == 0)
            g_soakSeconds = std::atof(a.c_str() + 15);
        else if (a.rfind("--window_seconds=", 0) == 0)
            g_windowSeconds = std::atof(a.c_str() + 17);
        else if (a.rfind("--windows=", 0) == 0)
            g_windows = std::max(1, std::atoi(a.c_str() + 10));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    // Fork the simulator while this process has one thread.
    if (!g_sim.Start()) {
        std::fprintf(stderr, "cannot start the simulator process\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_sim.Stop();
    return 0;
}
