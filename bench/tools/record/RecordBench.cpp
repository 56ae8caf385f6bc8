// What recording costs: 16 simulated CIF cameras at 25 pictures per second
// into 60 s Matroska segments, for RECORD_BENCH_SECONDS (default 60).
//
// 1. halyard-record as a user runs it (driver included), its CPU time from
//    wait4, every picture accounted for in the summary and in the files.
// 2. The recorder's own work alone: the pictures of run 1 fed at the same
//    rate into 16 writer queues, once into the video and gap sinks and once
//    into a null sink; the difference is what writing video costs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "tools/camsim/CCameraFarm.h"
#include "tools/record/CDiskRetention.h"
#include "tools/record/CGapTracker.h"
#include "tools/record/CPictureWriter.h"
#include "tools/record/CVideoSegmentWriter.h"

extern char** environ;
namespace fs = std::filesystem;
using namespace kestrel::record;

namespace {

constexpr unsigned kCameras = 16;
constexpr unsigned kFps = 25;

double Cpu(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double SelfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return Cpu(u);
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> out;
    std::stringstream s(text);
    for (std::string part; std::getline(s, part, sep);) out.push_back(part);
    return out;
}

// Every packet of every segment of a folder.
std::vector<std::vector<uint8_t>> ReadPictures(const std::string& dir, size_t limit = SIZE_MAX) {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".mkv") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    std::vector<std::vector<uint8_t>> pictures;
    for (const auto& f : files) {
        AVFormatContext* ctx = nullptr;
        if (avformat_open_input(&ctx, f.c_str(), nullptr, nullptr) < 0) continue;
        AVPacket* pkt = av_packet_alloc();
        while (pictures.size() < limit && av_read_frame(ctx, pkt) >= 0) {
            pictures.emplace_back(pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        avformat_close_input(&ctx);
    }
    return pictures;
}

struct RunFigures {
    double cpu = 0;
    uint64_t pictures = 0, written = 0, lost = 0, inFiles = 0;
    bool ok = false;
};

RunFigures RunRecorder(camsim::CCameraFarm& farm, int seconds, const std::string& out) {
    std::vector<std::string> args = {
        HALYARD_RECORD_EXE, "-d", std::to_string(seconds), "--fps", std::to_string(kFps), "--segment", "60", "-o", out};
    for (unsigned i = 0; i < kCameras; ++i)
        args.insert(args.end(), {"--camera", "127.0.0.1:" + std::to_string(farm.At(i).Port())});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string log = out + ".log";
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = 0;
    RunFigures f;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return f;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "halyard-record failed; see %s\n", log.c_str());
        return f;
    }
    f.cpu = Cpu(usage);
    std::ifstream summary(out + "/summary.csv");
    std::string line;
    std::getline(summary, line);
    while (std::getline(summary, line)) {
        const auto c = Split(line, ',');
        if (c.size() < 5) continue;
        f.pictures += std::stoull(c[2]);
        f.written += std::stoull(c[3]);
        f.lost += std::stoull(c[4]);
        f.inFiles += ReadPictures(out + "/" + c[0]).size();
    }
    f.ok = true;
    return f;
}

class CNullSink : public IPictureSink {
public:
    bool Open() override { return true; }
    bool Write(const Picture&) override { return true; }
    bool Close() override { return true; }
    const std::string& Error() const override { return m_error; }

private:
    std::string m_error;
};

// The writers alone: pictures pushed at kFps per camera in real time.
double FeedWriters(const std::vector<std::vector<uint8_t>>& pictures, int seconds, const std::string& out, bool video,
                   uint64_t& written) {
    fs::create_directories(out);
    CDiskRetention retention(out, {}, nullptr);
    std::vector<std::unique_ptr<CPictureWriter>> writers;
    for (unsigned i = 0; i < kCameras; ++i) {
        std::vector<std::unique_ptr<IPictureSink>> sinks;
        const std::string dir = out + "/camera" + std::to_string(i + 1);
        if (video) {
            sinks.push_back(std::make_unique<CVideoSegmentWriter>(
                dir, CVideoSegmentWriter::Settings{VideoFormat::Matroska, 60, 1000 / kFps}, &retention));
            sinks.push_back(std::make_unique<CGapTracker>(dir, 1000 / kFps));
        } else {
            sinks.push_back(std::make_unique<CNullSink>());
        }
        writers.push_back(std::make_unique<CPictureWriter>(std::move(sinks)));
        std::string error;
        if (!writers.back()->Start(error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return -1;
        }
    }
    const double before = SelfCpu();
    const auto start = std::chrono::steady_clock::now();
    const auto interval = std::chrono::microseconds(1000000 / kFps);
    for (uint64_t n = 0; n < static_cast<uint64_t>(seconds) * kFps; ++n) {
        std::this_thread::sleep_until(start + n * interval);
        const auto wall = std::chrono::system_clock::now().time_since_epoch();
        for (unsigned i = 0; i < kCameras; ++i) {
            const auto& jpeg = pictures[(n * kCameras + i) % pictures.size()];
            Picture p{jpeg.data(), static_cast<uint32_t>(jpeg.size()),
                      n + 1,       std::chrono::duration_cast<std::chrono::microseconds>(wall).count(),
                      352,         288};
            writers[i]->Push(p);
        }
    }
    written = 0;
    for (auto& w : writers) {
        w->Stop();
        written += w->Written();
    }
    return SelfCpu() - before;
}

}  // namespace

int main() {
    const char* env = std::getenv("RECORD_BENCH_SECONDS");
    const int seconds = env != nullptr ? std::max(5, std::atoi(env)) : 60;
    const std::string work = fs::temp_directory_path() / ("halyard-record-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);

    camsim::CCameraFarm farm(2);
    std::string error;
    if (!farm.Start(camsim::CameraConfig{}, kCameras, 0, &error)) {
        std::fprintf(stderr, "cannot start the simulated cameras: %s\n", error.c_str());
        return 1;
    }
    const RunFigures run = RunRecorder(farm, seconds, work + "/rec");
    farm.Stop();
    if (!run.ok) return 1;
    std::printf("halyard-record, %u CIF cameras at %u/s into 60 s Matroska segments for %d s:\n", kCameras, kFps,
                seconds);
    std::printf("  %llu pictures, %llu written, %llu in the files, %llu lost\n",
                static_cast<unsigned long long>(run.pictures), static_cast<unsigned long long>(run.written),
                static_cast<unsigned long long>(run.inFiles), static_cast<unsigned long long>(run.lost));
    std::printf("  process CPU (driver, receive and writers): %.2f s = %.2f%% of one core, %.3f%% per camera\n",
                run.cpu, 100 * run.cpu / seconds, 100 * run.cpu / seconds / kCameras);

    const auto pictures = ReadPictures(work + "/rec/camera1", 500);
    if (pictures.empty()) return 1;
    uint64_t nullWritten = 0, videoWritten = 0;
    const double nullCpu = FeedWriters(pictures, seconds, work + "/null", false, nullWritten);
    const double videoCpu = FeedWriters(pictures, seconds, work + "/video", true, videoWritten);
    const uint64_t pushed = static_cast<uint64_t>(seconds) * kFps * kCameras;
    std::printf("writer queues alone, same pictures and rate (%llu pushed):\n",
                static_cast<unsigned long long>(pushed));
    std::printf("  null sink:        %.2f s CPU, %llu written\n", nullCpu,
                static_cast<unsigned long long>(nullWritten));
    std::printf("  Matroska + gaps:  %.2f s CPU, %llu written\n", videoCpu,
                static_cast<unsigned long long>(videoWritten));
    const double perCamera = 100 * (videoCpu - nullCpu) / seconds / kCameras;
    std::printf("  video writing: %.3f%% of one core per camera, %.2f%% for all %u (target under 5%%)\n", perCamera,
                perCamera * kCameras, kCameras);
    fs::remove_all(work);
    const bool lostNone =
        run.lost == 0 && run.written == run.pictures && run.inFiles == run.written && videoWritten == pushed;
    if (!lostNone) std::printf("PICTURES LOST\n");
    return lostNone ? 0 : 1;
}
