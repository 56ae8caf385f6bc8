// The simulator's own cost. The farm benchmark runs 64 cameras at 704x480,
// 30 frames per second, for CAMSIM_BENCH_SECONDS (default 10) and reports
// the simulator's CPU use from getrusage; a child process receives the
// packets so that the receiving side is not counted.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim/CCameraFarm.h"
#include "tools/camsim/CPictureRing.h"
#include "tools/camsim/CPictureStamp.h"

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Drains every socket until the pipe closes, then writes the packet count.
[[noreturn]] void SinkChild(const std::vector<int>& fds, int stopFd, int resultFd) {
    std::vector<pollfd> polls;
    for (int fd : fds) polls.push_back({fd, POLLIN, 0});
    polls.push_back({stopFd, POLLIN, 0});
    constexpr unsigned kBatch = 64;
    static char bufs[kBatch][2048];
    mmsghdr msgs[kBatch];
    iovec iov[kBatch];
    uint64_t packets = 0;
    for (;;) {
        if (::poll(polls.data(), polls.size(), 1000) < 0) continue;
        if (polls.back().revents != 0) break;
        for (size_t i = 0; i + 1 < polls.size(); ++i) {
            if ((polls[i].revents & POLLIN) == 0) continue;
            for (unsigned k = 0; k < kBatch; ++k) {
                iov[k] = {bufs[k], sizeof bufs[k]};
                msgs[k] = {};
                msgs[k].msg_hdr.msg_iov = &iov[k];
                msgs[k].msg_hdr.msg_iovlen = 1;
            }
            const int r = ::recvmmsg(polls[i].fd, msgs, kBatch, MSG_DONTWAIT, nullptr);
            if (r > 0) packets += static_cast<uint64_t>(r);
        }
    }
    if (::write(resultFd, &packets, sizeof packets) < 0) _exit(1);
    _exit(0);
}

void BM_Farm64Cameras704x480At30(benchmark::State& state) {
    const unsigned cameras = static_cast<unsigned>(state.range(0));
    const char* env = std::getenv("CAMSIM_BENCH_SECONDS");
    const double seconds = env ? std::atof(env) : 10.0;
    for (auto _ : state) {
        // Sink sockets, then the child that owns them, before any thread.
        std::vector<int> fds;
        std::vector<uint16_t> ports;
        for (unsigned i = 0; i < cameras; ++i) {
            int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            int big = 4 << 20;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
            socklen_t len = sizeof a;
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
            fds.push_back(fd);
            ports.push_back(ntohs(a.sin_port));
        }
        int stopPipe[2], resultPipe[2];
        if (::pipe(stopPipe) != 0 || ::pipe(resultPipe) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(stopPipe[1]);
            ::close(resultPipe[0]);
            SinkChild(fds, stopPipe[0], resultPipe[1]);
        }
        ::close(stopPipe[0]);
        ::close(resultPipe[1]);
        for (int fd : fds) ::close(fd);

        camsim::CameraConfig cfg;
        cfg.defaultWidth = 704;
        cfg.defaultHeight = 480;
        cfg.defaultFrameRate = 30;
        cfg.httpThreads = 1;
        camsim::CCameraFarm farm(1);
        std::string error;
        if (!farm.Start(cfg, cameras, 0, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        // Encoding happens once for all, at the first stream start.
        const double cpu0 = CpuSeconds();
        for (unsigned i = 0; i < cameras; ++i) farm.At(i).StartStream("127.0.0.1", ports[i]);
        const double setup = CpuSeconds() - cpu0;
        // Streams are running; measure a steady stretch.
        const double cpu1 = CpuSeconds();
        const auto t1 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        const double cpu = CpuSeconds() - cpu1;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
        farm.Stop();

        uint64_t pictures = 0, packets = 0, late = 0, resyncs = 0;
        int64_t maxLate = 0;
        for (unsigned i = 0; i < cameras; ++i) {
            const auto s = farm.At(i).GetStreamStats();
            pictures += s.pictures;
            packets += s.packets;
            late += s.lateFrames;
            resyncs += s.resyncs;
            maxLate = std::max(maxLate, s.maxLatenessUs);
        }
        ::close(stopPipe[1]);
        uint64_t received = 0;
        if (::read(resultPipe[0], &received, sizeof received) != sizeof received) received = 0;
        ::close(resultPipe[0]);
        ::waitpid(child, nullptr, 0);

        state.SetIterationTime(wall);
        state.counters["cpu_cores"] = cpu / wall;
        state.counters["setup_cpu_s"] = setup;
        state.counters["pictures_per_s"] = static_cast<double>(pictures) / wall;
        state.counters["expected_per_s"] = cameras * 30.0;
        state.counters["packets_per_s"] = static_cast<double>(packets) / wall;
        state.counters["received_ratio"] = packets ? static_cast<double>(received) / static_cast<double>(packets) : 0;
        state.counters["late_frames"] = static_cast<double>(late);
        state.counters["clock_resets"] = static_cast<double>(resyncs);
        state.counters["max_late_ms"] = static_cast<double>(maxLate) / 1000.0;
    }
}
BENCHMARK(BM_Farm64Cameras704x480At30)->Arg(64)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// What a receiver pays to prove one 704x480 picture unchanged.
void BM_VerifyPicture704x480(benchmark::State& state) {
    auto ring = camsim::CPictureRing::Encode(704, 480, 60, 1, nullptr);
    const auto& bytes = ring->At(0).bytes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(camsim::CPictureStamp::Verify(bytes.data(), bytes.size(), nullptr));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_VerifyPicture704x480);

}  // namespace

BENCHMARK_MAIN();
