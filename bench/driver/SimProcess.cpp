#include "bench/driver/SimProcess.h"

#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>

#include "tools/camsim/CCamera.h"
#include "tools/camsim/CPictureCache.h"
#include "tools/camsim/CStreamScheduler.h"

namespace halyardbench {

namespace {

constexpr int kPriorityBoost = -5;  // nice value

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// One line without its newline; false at end of file.
bool ReadLine(int fd, std::string* line) {
    line->clear();
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (c == '\n') return true;
        line->push_back(c);
    }
}

}  // namespace

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Start() {
    void* shared = ::mmap(nullptr, sizeof(SendTimes), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return false;
    m_times = static_cast<SendTimes*>(shared);
    for (auto& camera : m_times->slots) {
        for (auto& slot : camera) {
            slot.frame.store(UINT32_MAX, std::memory_order_relaxed);
            slot.ns.store(-1, std::memory_order_relaxed);
        }
    }
    int down[2];
    int up[2];
    if (::pipe(down) != 0) return false;
    if (::pipe(up) != 0) {
        ::close(down[0]);
        ::close(down[1]);
        return false;
    }
    std::fflush(nullptr);
    m_pid = ::fork();
    if (m_pid < 0) return false;
    if (m_pid == 0) {
        ::close(down[1]);
        ::close(up[0]);
        ChildMain(down[0], up[1], m_times);
    }
    ::close(down[0]);
    ::close(up[1]);
    m_toChild = down[1];
    m_fromChild = up[0];
    return true;
}

void SimProcess::Stop() {
    if (m_pid > 0) {
        Command("quit");
        ::close(m_toChild);
        ::close(m_fromChild);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    if (m_times != nullptr) {
        ::munmap(m_times, sizeof(SendTimes));
        m_times = nullptr;
    }
}

std::string SimProcess::Command(const std::string& line) {
    std::string answer;
    if (m_pid <= 0 || !WriteAll(m_toChild, line + "\n") || !ReadLine(m_fromChild, &answer)) return "error";
    return answer;
}

std::vector<uint16_t> SimProcess::StartFarm(const FarmOptions& o) {
    std::ostringstream cmd;
    cmd << "farm " << o.cameras << ' ' << o.width << ' ' << o.height << ' ' << o.frameRate << ' ' << o.quality << ' '
        << (o.hangPattern.empty() ? "-" : o.hangPattern);
    std::istringstream answer(Command(cmd.str()));
    std::string word;
    answer >> word;
    std::vector<uint16_t> ports;
    if (word != "ok") return ports;
    unsigned port = 0;
    while (answer >> port) ports.push_back(static_cast<uint16_t>(port));
    return ports;
}

void SimProcess::StopFarm() { Command("stopfarm"); }

bool SimProcess::StreamTo(unsigned camera, uint16_t port) {
    return Command("stream " + std::to_string(camera) + " " + std::to_string(port)) == "ok";
}

bool SimProcess::WaitForRequest(unsigned camera, const std::string& pattern, uint32_t timeoutMs) {
    return Command("wait " + std::to_string(camera) + " " + pattern + " " + std::to_string(timeoutMs)) == "ok";
}

void SimProcess::ReleaseHangs() { Command("release"); }

SimProcess::Totals SimProcess::GetTotals() {
    std::istringstream answer(Command("totals"));
    std::string word;
    Totals t;
    answer >> word >> t.pictures >> t.packets >> t.sendErrors >> t.lateFrames >> t.camerasWithReports;
    return t;
}

int64_t SimProcess::SentAt(unsigned camera, uint32_t frame) const {
    if (m_times == nullptr || camera >= kMaxCameras) return -1;
    const Slot& slot = m_times->slots[camera][frame % kSlots];
    if (slot.frame.load(std::memory_order_acquire) != frame) return -1;
    return slot.ns.load(std::memory_order_relaxed);
}

void SimProcess::ChildMain(int in, int out, SendTimes* times) {
    // The parent's benchmark owns the terminal; the child only answers.
    ::signal(SIGINT, SIG_IGN);
    // Cameras are not threads of the recorder's machine: nothing a receiver
    // does may slow them down or cut into a picture. Real-time when allowed:
    // a receiver woken by the first datagram cannot then take the CPU from
    // the sender mid-picture, which on loopback turned one wake per picture
    // into one per datagram for whichever cameras came late in the sender's
    // slice, a cost of sharing the CPU with the simulation, not of the
    // receiver. Otherwise ahead of every receiver by nice value (they run at
    // most one step above normal). Threads inherit either.
    sched_param realtime{};
    realtime.sched_priority = 1;
    if (::sched_setscheduler(0, SCHED_FIFO, &realtime) != 0) (void)::setpriority(PRIO_PROCESS, 0, kPriorityBoost);
    {
        camsim::CPictureCache cache;
        camsim::CStreamScheduler scheduler(&cache);
        std::vector<std::unique_ptr<camsim::CCamera>> cameras;
        std::string line;
        while (ReadLine(in, &line)) {
            std::istringstream cmd(line);
            std::string verb;
            cmd >> verb;
            std::ostringstream answer;
            if (verb == "farm") {
                cameras.clear();
                FarmOptions o;
                std::string hang;
                cmd >> o.cameras >> o.width >> o.height >> o.frameRate >> o.quality >> hang;
                bool ok = o.cameras <= kMaxCameras;
                answer << "ok";
                for (unsigned i = 0; ok && i < o.cameras; ++i) {
                    camsim::CameraConfig config;
                    config.name = "cam" + std::to_string(i);
                    config.defaultWidth = o.width;
                    config.defaultHeight = o.height;
                    config.defaultFrameRate = o.frameRate;
                    config.defaultQuality = o.quality;
                    config.sensorCount = 1;
                    config.alarmOutputCount = 1;
                    config.httpThreads = 2;
                    // Spread over the frame interval, the same for every
                    // receiver: started as fast as commands come, the plain
                    // receivers' cameras would send in one burst, and the
                    // driver's, started over HTTP, spread out.
                    config.streamPhase = static_cast<double>(i) / o.cameras;
                    config.pictureSent = [times, i](uint32_t frame, std::chrono::steady_clock::time_point sent) {
                        Slot& slot = times->slots[i][frame % kSlots];
                        slot.ns.store(
                            std::chrono::duration_cast<std::chrono::nanoseconds>(sent.time_since_epoch()).count(),
                            std::memory_order_relaxed);
                        slot.frame.store(frame, std::memory_order_release);
                    };
                    auto camera = std::make_unique<camsim::CCamera>(config, &scheduler);
                    ok = camera->Start();
                    if (ok && hang != "-") camera->AddHttpFault({hang, camsim::HttpFaultAction::Hang, 500, -1});
                    answer << ' ' << camera->Port();
                    cameras.push_back(std::move(camera));
                }
                if (!ok) {
                    cameras.clear();
                    answer.str("error");
                }
            } else if (verb == "stopfarm") {
                cameras.clear();
                answer << "ok";
            } else if (verb == "stream") {
                unsigned index = 0;
                unsigned port = 0;
                cmd >> index >> port;
                const bool ok =
                    index < cameras.size() && cameras[index]->StartStream("127.0.0.1", static_cast<uint16_t>(port));
                answer << (ok ? "ok" : "error");
            } else if (verb == "wait") {
                unsigned index = 0;
                std::string pattern;
                uint32_t timeoutMs = 0;
                cmd >> index >> pattern >> timeoutMs;
                const bool ok =
                    index < cameras.size() && cameras[index]->WaitForRequest(pattern, timeoutMs).has_value();
                answer << (ok ? "ok" : "error");
            } else if (verb == "release") {
                for (auto& camera : cameras) camera->ClearHttpFaults();
                answer << "ok";
            } else if (verb == "totals") {
                Totals t;
                for (auto& camera : cameras) {
                    uint64_t reports = 0;
                    for (const camsim::StreamStats& s : camera->StreamHistory()) {
                        t.pictures += s.pictures;
                        t.packets += s.packets;
                        t.sendErrors += s.sendErrors;
                        t.lateFrames += s.lateFrames;
                        reports += s.receiverReports;
                    }
                    if (reports > 0) ++t.camerasWithReports;
                }
                answer << "ok " << t.pictures << ' ' << t.packets << ' ' << t.sendErrors << ' ' << t.lateFrames << ' '
                       << t.camerasWithReports;
            } else if (verb == "quit") {
                cameras.clear();
                WriteAll(out, "ok\n");
                break;
            } else {
                answer << "error";
            }
            if (!WriteAll(out, answer.str() + "\n")) break;
        }
        cameras.clear();
    }
    ::_exit(0);
}

}  // namespace halyardbench
