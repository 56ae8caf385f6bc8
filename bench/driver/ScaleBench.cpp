// Cost per packet, picture delay and losses as cameras grow: for each camera
// count the simulator (a child process, so its CPU is not counted here)
// streams 30 pictures/s of ~40 KB Motion JPEG per camera over loopback, and
// the receivers take the same traffic one after the other:
//
//   bare    a recvfrom thread per socket that only counts (the floor)
//   plain   a recvfrom thread per socket through PlainAssembler into the
//           host's buffer and callback, no locks (the reference design)
//   driver  libHalyard.so loaded with dlopen and driven through its exported
//           functions, RTCP receiver reports running
//   pair    plain on the even cameras, the driver on the odd ones, in one
//           process at once, compared thread by thread: the driver's cost
//           and tail against the plain path's without the machine's drift
//           between windows
//   ab      (on request) two builds of the driver side by side the same way
//
// One CSV line per receiver and count on stdout; scripts/bench.sh turns them
// into the table and plot of docs/performance.md.
//
//   halyard_bench_scale --cameras=16,64,256 --seconds=10 [--rounds=3]
//
// With several rounds the ratios to the bare loop and the plain path are
// also given paired: each round's ratio, then the median of those.
#include <arpa/inet.h>
#include <dirent.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/driver/BenchHost.h"
#include "bench/driver/PlainAssembler.h"
#include "bench/driver/SimProcess.h"
#include "host/CCaptureAPIEx.h"
#include "host/HalyardExports.h"
#include "transport/CUDPSocket.h"

using halyardbench::BenchHost;
using halyardbench::PlainAssembler;
using halyardbench::SimProcess;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kFrameIntervalMs = 33;  // 30 pictures/s
constexpr int32_t k4Cif = 4;
constexpr int32_t kHostQuality = 60;         // ~40 KB at 704x480
constexpr int kDriverKernelBuffer = 131070;  // transport/CUDPPort: 32 x 4096, capped

SimProcess g_sim;
std::string g_library = HALYARD_LIBRARY_PATH;  // --library: another build, to compare two
std::string g_libraryB;                        // --library-b: the build ab sets against it
// pair's sides change places every other round: the driver on the even
// cameras and started first. The side started second came out about 1 %
// cheaper in both places, so keeping one order would favour one side.
bool g_swap = false;
bool g_announce = false;  // tell stderr when a measured window starts, for perf and strace

// CPU and context switches of this process, all its threads; the
// simulator is a child and is not counted.
struct Usage {
    int64_t cpuNs = 0;
    int64_t switches = 0;
};

Usage ProcessUsage() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto ns = [](const timeval& t) { return int64_t(t.tv_sec) * 1000000000 + int64_t(t.tv_usec) * 1000; };
    return {ns(u.ru_utime) + ns(u.ru_stime), static_cast<int64_t>(u.ru_nvcsw) + static_cast<int64_t>(u.ru_nivcsw)};
}

// A field of /proc/self/status ("VmRSS", "Threads"), its first number.
long StatusField(const char* name) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(name) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    }
    return -1;
}

void SleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

template <class Pred>
bool WaitUntil(Pred pred, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

double Percentile(std::vector<double>& v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

// ---------------------------------------------------------------- receivers

class Receiver {
public:
    virtual ~Receiver() = default;
    // What is not the receiver's own cost: the hosts, the loaded library.
    virtual bool Prepare(unsigned cameras) = 0;
    // Set up for every port of the farm; false on failure.
    virtual bool Start(const std::vector<uint16_t>& httpPorts) = 0;
    // The host of camera i, or null when this receiver delivers no pictures.
    virtual BenchHost* Host(unsigned) { return nullptr; }
    // Stops every camera's stream; the longest single stop in ms, -1 when
    // stopping is not this receiver's to time.
    virtual double StopAll() { return -1; }
};

// A socket and its thread; with an assembler, pictures go to the host.
class SocketThread {
public:
    explicit SocketThread(BenchHost* host) : m_host(host), m_assembler(256 * 1024) {}
    ~SocketThread() {
        if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        if (m_fd >= 0) ::close(m_fd);
    }
    SocketThread(const SocketThread&) = delete;
    SocketThread& operator=(const SocketThread&) = delete;

    bool Open() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        // The kernel buffer the driver asks for its video port, so that
        // neither receiver drops less for having more room.
        const int buffer = kDriverKernelBuffer;
        if (m_fd >= 0) ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
        return true;
    }
    uint16_t Port() const { return m_port; }

private:
    void Run() {
        pthread_setname_np(pthread_self(), m_host != nullptr ? "plain" : "bare");
        // The same raise as the driver's receive threads (refused without the
        // privilege, for both alike): a receiver at a higher priority than
        // the other wakes sooner and batches less.
        kestrel::CUDPSocket::RaiseCurrentThreadPriority();
        std::vector<uint8_t> buffer(65536);
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n =
                ::recvfrom(m_fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                return;  // shut down
            }
            if (m_host == nullptr) continue;
            if (m_assembler.Add(buffer.data(), static_cast<size_t>(n)) != PlainAssembler::Result::Picture) continue;
            const uint32_t size = static_cast<uint32_t>(m_assembler.PictureSize());
            IFrameBuffer* frame = m_host->AllocateFrame(0, size, "plain");
            if (frame == nullptr) continue;
            uint8_t* out = frame->GetData(size);
            if (out != nullptr && frame->GetCapacity() >= size) {
                std::memcpy(out, m_assembler.Picture(), size);
                frame->SetDataSize(size);
                m_host->SendFrameCallback(0, nullptr, frame);
            }
            m_host->ReleaseFrame(frame);
        }
    }

    BenchHost* m_host;
    PlainAssembler m_assembler;
    int m_fd = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
};

// Which cameras a receiver takes: every stride-th, from the first.
struct Share {
    unsigned first = 0;
    unsigned stride = 1;
};

// bare (no hosts) or plain (a host per camera).
class ThreadPerSocket : public Receiver {
public:
    explicit ThreadPerSocket(bool pictures, Share share = {}) : m_pictures(pictures), m_share(share) {}
    bool Prepare(unsigned cameras) override {
        for (unsigned i = 0; i < cameras; ++i) m_hosts.push_back(m_pictures ? std::make_unique<BenchHost>() : nullptr);
        return true;
    }
    bool Start(const std::vector<uint16_t>& httpPorts) override {
        for (unsigned i = m_share.first; i < httpPorts.size() && i < m_hosts.size(); i += m_share.stride) {
            auto s = std::make_unique<SocketThread>(m_hosts[i].get());
            if (!s->Open() || !g_sim.StreamTo(i, s->Port())) return false;
            m_sockets.push_back(std::move(s));
        }
        return true;
    }
    BenchHost* Host(unsigned i) override { return m_hosts[i].get(); }

private:
    bool m_pictures;
    Share m_share;
    std::vector<std::unique_ptr<BenchHost>> m_hosts;
    std::vector<std::unique_ptr<SocketThread>> m_sockets;
};

// libHalyard.so as a recorder loads it.
class Driver : public Receiver {
public:
    explicit Driver(Share share = {}, std::string library = g_library)
        : m_share(share), m_library(std::move(library)) {}
    bool Prepare(unsigned cameras) override {
        for (unsigned i = 0; i < cameras; ++i) m_hosts.push_back(std::make_unique<BenchHost>());
        m_handle = dlopen(m_library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr) return false;
        m_create = reinterpret_cast<CreateCaptureFn>(dlsym(m_handle, "CreateCapture"));
        m_delete = reinterpret_cast<DeleteCaptureFn>(dlsym(m_handle, "DeleteCapture"));
        return m_create != nullptr && m_delete != nullptr;
    }
    bool Start(const std::vector<uint16_t>& httpPorts) override {
        for (unsigned i = m_share.first; i < httpPorts.size() && i < m_hosts.size(); i += m_share.stride) {
            const uint16_t port = httpPorts[i];
            CCaptureAPIEx* d = m_create(0);
            if (d == nullptr) return false;
            m_drivers.push_back(d);
            d->SetCaptureUser(m_hosts[i].get());
            d->SetFrameAllocator(m_hosts[i].get());
            d->SetVideoStandard(1);
            d->SetParameter("IPSERVERADDRESS", "127.0.0.1", 9);
            d->SetParameter("IPSERVERTYPE", "SNC-RZ50N", 9);
            d->SetParameter("IPSERVERPORT", reinterpret_cast<const void*>(static_cast<uintptr_t>(port)), 4);
            d->SetParameter("IPSERVERUSERNAME", "admin", 5);
            d->SetParameter("IPSERVERPASSWORD", "admin", 5);
            if (d->Open("") != 1) return false;
        }
        for (CCaptureAPIEx* d : m_drivers)
            if (d->StartChannel(0, kFrameIntervalMs, k4Cif, kHostQuality) != 1) return false;
        return true;
    }
    BenchHost* Host(unsigned i) override { return m_hosts[i].get(); }
    double StopAll() override {
        double longest = 0;
        for (CCaptureAPIEx* d : m_drivers) {
            const auto t0 = Clock::now();
            d->StopChannel(0);
            longest = std::max(longest, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        return longest;
    }
    ~Driver() override {
        for (CCaptureAPIEx*& d : m_drivers) {
            d->StopChannel(0);
            d->Close();
            m_delete(&d);
        }
        if (m_handle != nullptr) dlclose(m_handle);
    }

private:
    Share m_share;
    std::string m_library;
    void* m_handle = nullptr;
    CreateCaptureFn m_create = nullptr;
    DeleteCaptureFn m_delete = nullptr;
    std::vector<std::unique_ptr<BenchHost>> m_hosts;
    std::vector<CCaptureAPIEx*> m_drivers;
};

// Even cameras on the plain path, odd ones on the driver, in this one
// process at the same time: the two share every window, every stall of the
// machine and the memory they live in, so the ratio of their threads' CPU
// does not carry the drift between windows that pairing by rounds leaves.
class Pair : public Receiver {
public:
    // The plain path's cameras: the even ones, or with --swap the odd ones.
    static bool PlainCamera(unsigned i) { return i % 2 == (g_swap ? 1u : 0u); }
    Pair() : m_plain(true, {g_swap ? 1u : 0u, 2}), m_driver({g_swap ? 0u : 1u, 2}) {}
    bool Prepare(unsigned cameras) override { return m_plain.Prepare(cameras) && m_driver.Prepare(cameras); }
    bool Start(const std::vector<uint16_t>& httpPorts) override {
        if (g_swap) return m_driver.Start(httpPorts) && m_plain.Start(httpPorts);
        return m_plain.Start(httpPorts) && m_driver.Start(httpPorts);
    }
    BenchHost* Host(unsigned i) override { return PlainCamera(i) ? m_plain.Host(i) : m_driver.Host(i); }
    double StopAll() override { return m_driver.StopAll(); }

private:
    ThreadPerSocket m_plain;
    Driver m_driver;
};

// This process's threads.
std::vector<int> TaskIds() {
    std::vector<int> ids;
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr) return ids;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') ids.push_back(std::atoi(entry->d_name));
    }
    ::closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Two builds of the driver loaded side by side, --library on the even
// cameras and --library-b on the odd ones: each build's threads are those
// that appeared while it started its cameras, and their CPU is compared
// within the same window, as the plain path's and the driver's are in Pair.
class AB : public Receiver {
public:
    AB() : m_a({0, 2}, g_library), m_b({1, 2}, g_libraryB) {}
    bool Prepare(unsigned cameras) override { return m_a.Prepare(cameras) && m_b.Prepare(cameras); }
    bool Start(const std::vector<uint16_t>& httpPorts) override {
        const std::vector<int> before = TaskIds();
        if (!m_a.Start(httpPorts)) return false;
        const std::vector<int> afterA = TaskIds();
        if (!m_b.Start(httpPorts)) return false;
        const std::vector<int> afterB = TaskIds();
        std::set_difference(afterA.begin(), afterA.end(), before.begin(), before.end(), std::back_inserter(m_tidsA));
        std::set_difference(afterB.begin(), afterB.end(), afterA.begin(), afterA.end(), std::back_inserter(m_tidsB));
        return true;
    }
    BenchHost* Host(unsigned i) override { return i % 2 == 0 ? m_a.Host(i) : m_b.Host(i); }
    double StopAll() override { return std::max(m_a.StopAll(), m_b.StopAll()); }
    const std::vector<int>& ThreadsA() const { return m_tidsA; }
    const std::vector<int>& ThreadsB() const { return m_tidsB; }

private:
    Driver m_a;
    Driver m_b;
    std::vector<int> m_tidsA, m_tidsB;
};

int64_t TasksCpu(const std::vector<int>& tids) {
    int64_t sum = 0;
    for (const int tid : tids) {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/schedstat");
        int64_t ns = 0;
        if (stat >> ns) sum += ns;
    }
    return sum;
}

// CPU of this process's threads in two groups: the plain path's receive
// threads, and every other thread but the main one (the driver's, when it
// runs beside them).
struct ThreadGroups {
    int64_t plainNs = 0;
    int64_t otherNs = 0;
};

ThreadGroups ThreadGroupCpu() {
    ThreadGroups g;
    const std::string self = std::to_string(::getpid());
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr) return g;
    while (dirent* entry = ::readdir(dir)) {
        const std::string tid = entry->d_name;
        if (tid == "." || tid == ".." || tid == self) continue;
        std::ifstream comm("/proc/self/task/" + tid + "/comm");
        std::ifstream stat("/proc/self/task/" + tid + "/schedstat");
        std::string name;
        int64_t ns = 0;
        if (!std::getline(comm, name) || !(stat >> ns)) continue;  // ended meanwhile
        (name == "plain" ? g.plainNs : g.otherNs) += ns;
    }
    ::closedir(dir);
    return g;
}

// ---------------------------------------------------------------- one run

struct Row {
    double usPerPacket = 0;
    double switchesPerPacket = 0;
    double p50 = -1, p99 = -1, max = -1;
    uint64_t packets = 0, lost = 0, pictures = 0;
    double sentPerCameraPerSecond = 0;  // below 30 when the simulator falls behind
    uint64_t camerasWithReports = 0;
    double rssKiBPerCamera = 0, threadsPerCamera = 0;
    double stopMsMax = -1;  // the longest StopChannel, the cameras stopped one after the other
    // Median over the rounds of this receiver's cost over the bare loop's
    // and the plain path's in the same round, -1 where either is missing:
    // paired within a round, slow drift of the machine cancels out.
    double pairedToBare = -1, pairedToPlain = -1;
    // The same for the p99 delay against the plain path's: one stall of a
    // virtual machine delays a few pictures of every camera at once, which at
    // 256 cameras is the whole top percent of a window.
    double pairedP99ToPlain = -1;
    // pair only: the driver's threads' CPU over the plain path's threads'
    // in the same window, per camera. The delays and losses above are then
    // the driver's cameras'; these are the plain path's beside them.
    double inProcessToPlain = -1;
    double plainP99 = -1;
    int64_t plainLost = -1;
};

bool RunOne(const char* name, unsigned cameras, double seconds, Row* row) {
    SimProcess::FarmOptions farm;
    farm.cameras = cameras;
    const std::vector<uint16_t> ports = g_sim.StartFarm(farm);
    if (ports.size() != cameras) return false;
    bool ok = true;
    {
        std::unique_ptr<Receiver> r;
        if (std::strcmp(name, "driver") == 0)
            r = std::make_unique<Driver>();
        else if (std::strcmp(name, "pair") == 0)
            r = std::make_unique<Pair>();
        else if (std::strcmp(name, "ab") == 0)
            r = std::make_unique<AB>();
        else
            r = std::make_unique<ThreadPerSocket>(std::strcmp(name, "plain") == 0);
        ok = r->Prepare(cameras);
        const long rss0 = StatusField("VmRSS");
        const long threads0 = StatusField("Threads");
        ok = ok && r->Start(ports);
        const bool pictures = ok && r->Host(0) != nullptr;
        if (ok && pictures) {
            ok = WaitUntil(
                [&] {
                    for (unsigned i = 0; i < cameras; ++i)
                        if (r->Host(i)->frames.load() == 0) return false;
                    return true;
                },
                60);
        }
        if (ok) {
            SleepSeconds(1);  // settle
            std::vector<uint32_t> first(cameras, 0);
            std::vector<uint64_t> gaps0(cameras, 0), frames0(cameras, 0);
            for (unsigned i = 0; pictures && i < cameras; ++i) {
                first[i] = r->Host(i)->lastFrameNumber.load();
                gaps0[i] = r->Host(i)->gaps.load();
                frames0[i] = r->Host(i)->frames.load();
            }
            const SimProcess::Totals t0 = g_sim.GetTotals();
            const ThreadGroups g0 = ThreadGroupCpu();
            const auto* ab = dynamic_cast<const AB*>(r.get());
            const int64_t a0 = ab != nullptr ? TasksCpu(ab->ThreadsA()) : 0;
            const int64_t b0 = ab != nullptr ? TasksCpu(ab->ThreadsB()) : 0;
            const Usage u0 = ProcessUsage();
            if (g_announce) {
                std::fprintf(stderr, "measuring %s, %u cameras: pid %d for %.0f s\n", name, cameras,
                             static_cast<int>(::getpid()), seconds);
            }
            SleepSeconds(seconds);
            const Usage u1 = ProcessUsage();
            const int64_t a1 = ab != nullptr ? TasksCpu(ab->ThreadsA()) : 0;
            const int64_t b1 = ab != nullptr ? TasksCpu(ab->ThreadsB()) : 0;
            const ThreadGroups g1 = ThreadGroupCpu();
            if (ab != nullptr && a1 > a0) {
                // --library-b's threads over --library's, per camera.
                const double share = static_cast<double>(cameras / 2) / static_cast<double>((cameras + 1) / 2);
                row->inProcessToPlain = static_cast<double>(b1 - b0) / static_cast<double>(a1 - a0) / share;
            }
            const SimProcess::Totals t1 = g_sim.GetTotals();
            if (std::strcmp(name, "pair") == 0 && g1.plainNs > g0.plainNs) {
                // Odd counts give the odd cameras' side one camera less.
                const double odd = cameras / 2;
                const double even = (cameras + 1) / 2;
                const double share = g_swap ? even / odd : odd / even;
                row->inProcessToPlain =
                    static_cast<double>(g1.otherNs - g0.otherNs) / static_cast<double>(g1.plainNs - g0.plainNs) / share;
            }
            const uint64_t s0 = t0.packets;
            const uint64_t s1 = t1.packets;
            row->sentPerCameraPerSecond = static_cast<double>(t1.pictures - t0.pictures) / seconds / cameras;
            row->camerasWithReports = t1.camerasWithReports;
            row->rssKiBPerCamera = static_cast<double>(StatusField("VmRSS") - rss0) / cameras;
            row->threadsPerCamera = static_cast<double>(StatusField("Threads") - threads0) / cameras;
            row->packets = s1 - s0;
            const auto packets = static_cast<double>(std::max<uint64_t>(1, row->packets));
            row->usPerPacket = static_cast<double>(u1.cpuNs - u0.cpuNs) / 1000.0 / packets;
            row->switchesPerPacket = static_cast<double>(u1.switches - u0.switches) / packets;
            // Paired, the plain path's cameras (the even ones) apart.
            const bool pair = std::strcmp(name, "pair") == 0;
            std::vector<double> delays, plainDelays;
            uint64_t plainLost = 0;
            for (unsigned i = 0; pictures && i < cameras; ++i) {
                BenchHost& h = *r->Host(i);
                const bool plainCamera = pair && Pair::PlainCamera(i);
                const uint32_t last = h.lastFrameNumber.load();
                (plainCamera ? plainLost : row->lost) += h.gaps.load() - gaps0[i];
                row->pictures += h.frames.load() - frames0[i];
                for (uint32_t f = first[i] + 1; f <= last; ++f) {
                    const int64_t got = h.ReceivedAt(f);
                    const int64_t sent = g_sim.SentAt(i, f);
                    if (got >= 0 && sent >= 0)
                        (plainCamera ? plainDelays : delays).push_back(static_cast<double>(got - sent) / 1000.0);
                }
            }
            row->p50 = Percentile(delays, 0.50);
            row->p99 = Percentile(delays, 0.99);
            row->max = Percentile(delays, 1.0);
            if (pair) {
                row->plainP99 = Percentile(plainDelays, 0.99);
                row->plainLost = static_cast<int64_t>(plainLost);
            }
            row->stopMsMax = r->StopAll();
        }
    }
    g_sim.StopFarm();
    return ok;
}

std::vector<unsigned> Counts(const std::string& list) {
    std::vector<unsigned> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        const int n = std::atoi(item.c_str());
        if (n > 0 && static_cast<unsigned>(n) <= SimProcess::kMaxCameras) out.push_back(static_cast<unsigned>(n));
    }
    return out;
}

void PrintRow(unsigned cameras, const char* name, const Row& row) {
    std::printf("%u,%s,%.3f,%llu,%llu,%llu,%.0f,%.0f,%.0f,%.0f,%.2f,%.1f,%llu,%.3f,%.1f,%.3f,%.3f,%.3f,%lld\n", cameras,
                name, row.usPerPacket, static_cast<unsigned long long>(row.packets),
                static_cast<unsigned long long>(row.pictures), static_cast<unsigned long long>(row.lost), row.p50,
                row.p99, row.max, row.rssKiBPerCamera, row.threadsPerCamera, row.sentPerCameraPerSecond,
                static_cast<unsigned long long>(row.camerasWithReports), row.switchesPerPacket, row.stopMsMax,
                row.pairedToBare, row.pairedToPlain, row.pairedP99ToPlain, static_cast<long long>(row.plainLost));
    std::fflush(stdout);
}

// The median of one receiver's figure over another's, round by round.
double PairedRatio(const std::vector<std::optional<Row>>& mine, const std::vector<std::optional<Row>>* base,
                   double Row::*figure = &Row::usPerPacket) {
    if (base == nullptr) return -1;
    std::vector<double> ratios;
    for (size_t i = 0; i < mine.size() && i < base->size(); ++i) {
        const std::optional<Row>& b = (*base)[i];
        if (mine[i] && b && (*b).*figure > 0 && (*mine[i]).*figure >= 0)
            ratios.push_back((*mine[i]).*figure / (*b).*figure);
    }
    if (ratios.empty()) return -1;
    std::sort(ratios.begin(), ratios.end());
    const size_t half = ratios.size() / 2;
    return ratios.size() % 2 != 0 ? ratios[half] : (ratios[half - 1] + ratios[half]) / 2;
}

std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item == "bare" || item == "plain" || item == "driver" || item == "pair" || item == "ab")
            out.push_back(item);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<unsigned> counts = {16, 64, 256};
    std::vector<std::string> names = {"bare", "plain", "driver", "pair"};
    double seconds = 10;
    int rounds = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--cameras=", 0) == 0) {
            counts = Counts(a.substr(10));
        } else if (a.rfind("--seconds=", 0) == 0) {
            seconds = std::max(1.0, std::atof(a.c_str() + 10));
        } else if (a.rfind("--receivers=", 0) == 0) {
            names = Names(a.substr(12));
        } else if (a.rfind("--rounds=", 0) == 0) {
            rounds = std::clamp(std::atoi(a.c_str() + 9), 1, 99);
        } else if (a.rfind("--library=", 0) == 0) {
            g_library = a.substr(10);
        } else if (a.rfind("--library-b=", 0) == 0) {
            g_libraryB = a.substr(12);

        } else if (a == "--announce") {
            g_announce = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--cameras=16,64,256] [--seconds=10] [--receivers=bare,plain,driver,pair,ab]\n"
                         "          [--rounds=1] [--announce] [--library=libHalyard.so] [--library-b=other.so]\n"
                         "  Every round runs each receiver once on fresh cameras; the order turns by one\n"
                         "  receiver per round and per camera count, so none always goes first. With\n"
                         "  several rounds each line is the round of median cost (its losses those of\n"
                         "  all rounds), and every round's cost goes to stderr; paired_x_bare,\n"
                         "  paired_x_plain and paired_p99_x_plain are the median of the rounds' ratios\n"
                         "  (cost to the bare loop and the plain path, p99 delay to the plain path's),\n"
                         "  each taken within one round.\n"
                         "  pair runs the plain path on the even cameras and the driver on the odd ones\n"
                         "  in this one process (every other round the other way round, the driver\n"
                         "  started first); its paired_x_plain is the driver's threads' CPU over\n"
                         "  the plain path's threads' in the same window, its paired_p99_x_plain the\n"
                         "  driver's cameras' p99 delay over the plain path's cameras' in that window\n"
                         "  (medians over the rounds); its delays and losses are the driver's cameras',\n"
                         "  pair_plain_lost the plain path's.\n"
                         "  --announce names the pid on stderr as each measured\n"
                         "  window starts (to attach perf or strace). --library loads another build of\n"
                         "  the driver; ab loads it on the even cameras beside --library-b on the odd\n"
                         "  ones, and its paired_x_plain is library-b's threads' CPU over library's\n"
                         "  (the side started second may gain a little: run both orders).\n",
                         argv[0]);
            return 2;
        }
    }
    if (counts.empty() || names.empty()) {
        std::fprintf(stderr, "camera counts must be 1..%u, receivers bare, plain, driver or pair\n",
                     SimProcess::kMaxCameras);
        return 2;
    }
    if (std::find(names.begin(), names.end(), "ab") != names.end() && g_libraryB.empty()) {
        std::fprintf(stderr, "ab needs --library-b, the build to set against --library\n");
        return 2;
    }
    // Fork the simulator while this process has one thread.
    if (!g_sim.Start()) {
        std::fprintf(stderr, "cannot start the simulator process\n");
        return 1;
    }
    // Many sockets and threads at 256 cameras.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    std::printf(
        "cameras,receiver,us_per_packet,packets,pictures,lost,delay_p50_us,delay_p99_us,delay_max_us,"
        "rss_kib_per_camera,threads_per_camera,sent_fps_per_camera,"
        "cameras_with_receiver_reports,switches_per_packet,stop_ms_max,paired_x_bare,paired_x_plain,"
        "paired_p99_x_plain,pair_plain_lost\n");
    std::fflush(stdout);
    int failures = 0;
    for (size_t c = 0; c < counts.size(); ++c) {
        const unsigned cameras = counts[c];
        // Per receiver, per round; a failed set-up leaves its round empty.
        std::vector<std::vector<std::optional<Row>>> results(names.size(), std::vector<std::optional<Row>>(rounds));
        for (int round = 0; round < rounds; ++round) {
            for (size_t k = 0; k < names.size(); ++k) {
                const size_t n = (k + c + static_cast<size_t>(round)) % names.size();
                const char* name = names[n].c_str();
                g_swap = names[n] == "pair" && round % 2 == 1;
                Row row;
                if (!RunOne(name, cameras, seconds, &row)) {
                    std::fprintf(stderr, "%u cameras, %s: set-up failed\n", cameras, name);
                    ++failures;
                    continue;
                }
                if (rounds > 1) {
                    std::fprintf(stderr, "round %d: %u cameras, %s: %.3f us/packet, %.3f switches/packet\n", round + 1,
                                 cameras, name, row.usPerPacket, row.switchesPerPacket);
                }
                if (row.inProcessToPlain > 0) {
                    std::fprintf(stderr, "round %d: %u cameras, %s in one process %.3f\n", round + 1, cameras,
                                 std::strcmp(name, "ab") == 0 ? "ab: library-b x library" : "pair: driver x plain",
                                 row.inProcessToPlain);
                }
                results[n][static_cast<size_t>(round)] = row;
            }
        }
        const auto index = [&](const char* name) {
            return static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
        };
        const size_t bare = index("bare");
        const size_t plain = index("plain");
        for (size_t n = 0; n < names.size(); ++n) {
            std::vector<Row> r;
            for (const auto& row : results[n])
                if (row) r.push_back(*row);
            if (r.empty()) continue;
            std::sort(r.begin(), r.end(), [](const Row& a, const Row& b) { return a.usPerPacket < b.usPerPacket; });
            Row median = r[(r.size() - 1) / 2];
            // A loss in any round counts, not only in the round shown.
            median.lost = 0;
            for (const Row& each : r) median.lost += each.lost;
            median.pairedToBare = PairedRatio(results[n], bare < names.size() ? &results[bare] : nullptr);
            median.pairedToPlain = PairedRatio(results[n], plain < names.size() ? &results[plain] : nullptr);
            median.pairedP99ToPlain =
                PairedRatio(results[n], plain < names.size() ? &results[plain] : nullptr, &Row::p99);
            if (names[n] == "pair" || names[n] == "ab") {
                // Its own pairing: the median over the rounds of the ratios
                // within each, and the plain path's losses over all rounds.
                std::vector<double> within, p99s;
                int64_t plainLost = 0;
                for (const auto& row : results[n]) {
                    if (!row) continue;
                    if (row->inProcessToPlain > 0) within.push_back(row->inProcessToPlain);
                    if (row->plainP99 > 0 && row->p99 >= 0) p99s.push_back(row->p99 / row->plainP99);
                    plainLost += std::max<int64_t>(0, row->plainLost);
                }
                median.pairedToPlain = Percentile(within, 0.5);
                median.pairedP99ToPlain = Percentile(p99s, 0.5);
                median.pairedToBare = -1;
                median.plainLost = plainLost;
            }
            PrintRow(cameras, names[n].c_str(), median);
        }
    }
    g_sim.Stop();
    return failures == 0 ? 0 : 1;
}
