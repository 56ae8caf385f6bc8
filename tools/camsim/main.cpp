// halyard-camsim: simulated Sony G4 cameras for testing a recorder without
// hardware.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "tools/camsim/CCameraFarm.h"
#include "tools/camsim/CCamsimOptions.h"
#include "tools/camsim/CQueryString.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }
double CpuSeconds(const rusage& u) { return Seconds(u.ru_utime) + Seconds(u.ru_stime); }
double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

rusage Usage() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u;
}

// Signals are read from a descriptor; every thread started later inherits
// the mask. Returns the descriptor that reports SIGINT and SIGTERM.
int BlockSignals() {
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);
    sigset_t stopSigs;
    sigemptyset(&stopSigs);
    sigaddset(&stopSigs, SIGINT);
    sigaddset(&stopSigs, SIGTERM);
    return signalfd(-1, &stopSigs, SFD_CLOEXEC);
}

camsim::LogSink MakeLog(std::mutex& outMutex, bool quiet) {
    return [&outMutex, t0 = Clock::now(), quiet](const std::string& line) {
        if (quiet && line.find(" -> ") != std::string::npos) return;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%9.3f] ", SecondsSince(t0));
        std::lock_guard<std::mutex> lock(outMutex);
        std::cout << stamp << line << std::endl;
    };
}

// The cameras, streaming at once when --stream-to asks for it.
bool StartFarm(camsim::CCameraFarm& farm, const camsim::CCamsimOptions& o) {
    std::string error;
    if (!farm.Start(o.camera, o.cameras, o.port, &error)) {
        std::cerr << "halyard-camsim: " << error << "\n";
        return false;
    }
    for (size_t i = 0; o.streamPort != 0 && i < farm.Size(); ++i) {
        if (!farm.At(i).StartStream(o.streamHost, static_cast<uint16_t>(o.streamPort + 2 * i), "", &error)) {
            std::cerr << "halyard-camsim: " << error << "\n";
            return false;
        }
    }
    return true;
}

// Runs one stdin line; false for "quit".
bool RunLine(camsim::CCameraFarm& farm, const std::string& line, std::mutex& outMutex) {
    std::istringstream in(line);
    std::string first, rest;
    in >> first;
    if (first.empty()) return true;
    if (first == "quit" || first == "exit") return false;
    std::getline(in, rest);
    while (!rest.empty() && rest.front() == ' ') rest.erase(rest.begin());
    size_t from = 0, to = farm.Size();
    uint32_t index = 0;
    if (first == "all") {
    } else if (camsim::CQueryString::ParseUnsigned(first, &index)) {
        if (index == 0 || index > farm.Size()) {
            std::lock_guard<std::mutex> lock(outMutex);
            std::cout << "no camera " << index << " (1.." << farm.Size() << ")" << std::endl;
            return true;
        }
        from = index - 1;
        to = index;
    } else {
        rest = line;  // no camera given: every camera
    }
    for (size_t i = from; i < to; ++i) {
        const std::string answer = farm.At(i).Control(rest);
        std::lock_guard<std::mutex> lock(outMutex);
        std::cout << farm.At(i).Config().name << ": " << answer << std::flush;
    }
    return true;
}

// Runs the complete lines read so far; false for "quit".
bool RunLines(camsim::CCameraFarm& farm, std::string& pending, std::mutex& outMutex) {
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!RunLine(farm, line, outMutex)) return false;
    }
    return true;
}

// Until a stop signal, "quit" or the duration; a closed standard input
// only ends the commands.
void RunUntilStopped(camsim::CCameraFarm& farm, int sigFd, double duration, std::mutex& outMutex) {
    const auto started = Clock::now();
    bool stdinOpen = true;
    std::string pending;
    for (;;) {
        int timeout = -1;
        if (duration > 0) {
            const double left = duration - SecondsSince(started);
            if (left <= 0) return;
            timeout = static_cast<int>(left * 1000) + 1;
        }
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(sigFd, &info, sizeof info) > 0) return;
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[4096];
            const ssize_t n = ::read(0, buf, sizeof buf);
            if (n <= 0) {
                stdinOpen = false;
                continue;
            }
            pending.append(buf, static_cast<size_t>(n));
            if (!RunLines(farm, pending, outMutex)) return;
        }
    }
}

// One line per camera and the totals of every stream.
void PrintSummary(const camsim::CCameraFarm& farm, double wall, double cpu, double setupCpu, std::mutex& outMutex) {
    uint64_t pictures = 0, packets = 0, late = 0, resyncs = 0;
    int64_t maxLate = 0;
    std::vector<std::string> lines;
    for (size_t i = 0; i < farm.Size(); ++i) {
        lines.push_back(farm.At(i).Summary());
        for (const auto& s : farm.At(i).StreamHistory()) {
            pictures += s.pictures;
            packets += s.packets;
            late += s.lateFrames;
            resyncs += s.resyncs;
            maxLate = std::max(maxLate, s.maxLatenessUs);
        }
    }
    std::lock_guard<std::mutex> lock(outMutex);
    std::cout << "halyard-camsim summary:\n";
    for (const auto& l : lines) std::cout << "  " << l << "\n";
    char total[512];
    std::snprintf(total, sizeof total,
                  "  total: %llu pictures, %llu RTP packets in %.1f s; CPU %.2f s (%.1f%% of one core) after %.2f s "
                  "set-up; %llu late frames, %llu clock resets, worst lateness %.1f ms\n",
                  static_cast<unsigned long long>(pictures), static_cast<unsigned long long>(packets), wall, cpu,
                  wall > 0 ? 100.0 * cpu / wall : 0.0, setupCpu, static_cast<unsigned long long>(late),
                  static_cast<unsigned long long>(resyncs), static_cast<double>(maxLate) / 1000.0);
    std::cout << total << std::flush;
}

}  // namespace

int main(int argc, char** argv) {
    camsim::CCamsimOptions options;
    if (const auto status = options.Parse(argc, argv, std::cout, std::cerr)) return *status;
    const int sigFd = BlockSignals();
    std::mutex outMutex;
    options.camera.log = MakeLog(outMutex, options.quiet);

    const rusage before = Usage();
    camsim::CCameraFarm farm(options.senderThreads);
    if (!StartFarm(farm, options)) return 1;
    {
        std::lock_guard<std::mutex> lock(outMutex);
        std::cout << "halyard-camsim: " << farm.Size() << " camera(s) ready; first at " << farm.At(0).BaseUrl()
                  << "/ ; Ctrl-C to stop" << std::endl;
    }
    const auto started = Clock::now();
    const rusage atStart = Usage();
    RunUntilStopped(farm, sigFd, options.durationSeconds, outMutex);
    const rusage end = Usage();
    const double wall = SecondsSince(started);
    farm.Stop();
    PrintSummary(farm, wall, CpuSeconds(end) - CpuSeconds(atStart), CpuSeconds(atStart) - CpuSeconds(before), outMutex);
    if (sigFd >= 0) ::close(sigFd);
    return 0;
}
