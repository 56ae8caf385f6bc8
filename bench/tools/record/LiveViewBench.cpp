// What live viewers cost the recorder: sixteen simulated CIF cameras at 25
// pictures per second recorded by halyard-record, once without viewers and
// once with N viewers per camera reading the live streams. Prints the
// recorder's CPU time, its peak memory and the pictures recorded and lost
// (counted exactly: the simulator numbers its pictures).
//
// usage: halyard_bench_live_view [SECONDS [VIEWERS...]]   (default 30 0 4)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/camsim/CCameraFarm.h"

extern char** environ;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

// Reads a live stream as fast as it comes and counts its pictures.
class Viewer {
public:
    Viewer(uint16_t port, int camera) : m_thread([this, port, camera] { Run(port, camera); }) {}
    ~Viewer() {
        m_stop = true;
        if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        if (m_fd >= 0) ::close(m_fd);
    }
    uint64_t Pictures() const { return m_pictures.load(); }

private:
    void Run(uint16_t port, int camera) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return void(::close(fd));
        m_fd = fd;
        const std::string request = "GET /camera/" + std::to_string(camera) + "/live HTTP/1.1\r\nHost: x\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) return;
        // Counts boundaries; pictures never contain the boundary text.
        static const std::string kMark = "--halyardframe\r\n";
        std::string tail;
        char chunk[65536];
        while (!m_stop.load()) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return;
            tail.append(chunk, static_cast<size_t>(n));
            for (size_t at = tail.find(kMark); at != std::string::npos; at = tail.find(kMark, at + 1)) {
                m_pictures.fetch_add(1);
            }
            if (tail.size() > kMark.size()) tail.erase(0, tail.size() - kMark.size() + 1);
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_pictures{0};
    std::atomic<int> m_fd{-1};
    std::thread m_thread;
};

struct Result {
    int viewers = 0;
    int exit = -1;
    uint64_t pictures = 0, lost = 0, refused = 0, written = 0, viewed = 0;
    double user = 0, system = 0, seconds = 0;
    long maxRssKb = 0;
};

Result RunOnce(camsim::CCameraFarm& farm, int seconds, int viewersPerCamera) {
    Result r;
    r.viewers = viewersPerCamera;
    char pattern[] = "/tmp/halyard-bench-live-XXXXXX";
    const std::string dir = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    std::vector<std::string> args = {HALYARD_RECORD_EXE,
                                     "-d",
                                     std::to_string(seconds),
                                     "--fps",
                                     "25",
                                     "--resolution",
                                     "cif",
                                     "--segment",
                                     "60",
                                     "--http",
                                     "127.0.0.1:0",
                                     "-o",
                                     dir + "/rec"};
    for (size_t i = 0; i < farm.Size(); ++i)
        args.insert(args.end(), {"--camera", "127.0.0.1:" + std::to_string(farm.At(i).Port())});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, (dir + "/out").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, (dir + "/err").c_str(), O_WRONLY | O_CREAT, 0600);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return r;

    uint16_t port = 0;
    for (int i = 0; i < 600 && port == 0; ++i) {
        std::smatch m;
        const std::string out = ReadText(dir + "/out");
        if (std::regex_search(out, m, std::regex("live view: http://127\\.0\\.0\\.1:(\\d+)/"))) {
            port = static_cast<uint16_t>(std::stoul(m[1].str()));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    std::vector<std::unique_ptr<Viewer>> viewers;
    for (int v = 0; port != 0 && v < viewersPerCamera; ++v) {
        for (size_t c = 0; c < farm.Size(); ++c)
            viewers.push_back(std::make_unique<Viewer>(port, static_cast<int>(c + 1)));
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    for (const auto& v : viewers) r.viewed += v->Pictures();
    viewers.clear();
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.user = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
    r.system = usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    r.maxRssKb = usage.ru_maxrss;
    const auto lines = Split(ReadText(dir + "/rec/summary.csv"), '\n');
    if (!lines.empty()) {
        const auto names = Split(lines[0], ',');
        for (size_t i = 1; i < lines.size(); ++i) {
            std::map<std::string, std::string> row;
            const auto fields = Split(lines[i], ',');
            for (size_t k = 0; k < names.size() && k < fields.size(); ++k) row[names[k]] = fields[k];
            r.pictures += std::stoull(row["pictures"]);
            r.lost += std::stoull(row["lost"]);
            r.refused += std::stoull(row["refused"]);
            r.written += std::stoull(row["written"]);
            r.seconds = std::max(r.seconds, std::stod(row["seconds"]));
        }
    } else {
        std::fprintf(stderr, "%s\n", ReadText(dir + "/err").c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    std::vector<int> viewerCounts;
    for (int i = 2; i < argc; ++i) viewerCounts.push_back(std::atoi(argv[i]));
    if (viewerCounts.empty()) viewerCounts = {0, 4};
    const unsigned cameras = 16;

    std::printf("halyard-record, %u simulated CIF cameras at 25/s, %d s, 60 s Matroska segments\n", cameras, seconds);
    std::printf("%8s %9s %6s %8s %9s %9s %9s %8s %10s %9s\n", "viewers", "pictures", "lost", "refused", "written",
                "cpu user", "cpu sys", "% core", "max RSS", "viewed");
    int failures = 0;
    for (const int viewers : viewerCounts) {
        // Fresh simulators each time: the same starting point for both runs.
        camsim::CCameraFarm farm(2);
        camsim::CameraConfig config;
        std::string error;
        if (!farm.Start(config, cameras, 0, &error)) {
            std::fprintf(stderr, "simulators: %s\n", error.c_str());
            return 1;
        }
        const Result r = RunOnce(farm, seconds, viewers);
        farm.Stop();
        const double core = r.seconds > 0 ? 100.0 * (r.user + r.system) / r.seconds : 0;
        std::printf("%8d %9llu %6llu %8llu %9llu %8.2fs %8.2fs %7.1f%% %8ld kB %9llu\n",
                    viewers * static_cast<int>(cameras), static_cast<unsigned long long>(r.pictures),
                    static_cast<unsigned long long>(r.lost), static_cast<unsigned long long>(r.refused),
                    static_cast<unsigned long long>(r.written), r.user, r.system, core, r.maxRssKb,
                    static_cast<unsigned long long>(r.viewed));
        if (r.exit != 0 || r.lost != 0 || r.refused != 0 || r.written != r.pictures) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
