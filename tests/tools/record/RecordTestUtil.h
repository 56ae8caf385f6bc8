#pragma once
// What the recorder's tests share: a temporary directory, real JPEG files,
// a video reader that opens files as a player does, and halyard-record
// run as a child process.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace recordtest {

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/halyard-record-test-XXXXXX";
        m_path = ::mkdtemp(pattern) != nullptr ? pattern : "/nonexistent";
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline std::vector<uint8_t> ReadFile(const std::string& path) {
    const std::string text = ReadText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}
inline std::vector<std::string> Split(const std::string& text, char separator = '\n') {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

inline std::vector<uint8_t> EncodeJpeg(int width, int height, uint8_t shade) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3), jpeg;
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(shade + i * 7);
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(h, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_420, 75, 0) == 0)
        jpeg.assign(out, out + size);
    tjFree(out);
    tjDestroy(h);
    return jpeg;
}

// Decodes the whole picture; false when libjpeg-turbo refuses it.
inline bool DecodeJpeg(const uint8_t* data, size_t size, int* width = nullptr, int* height = nullptr) {
    tjhandle h = tjInitDecompress();
    int w = 0, hh = 0, subsampling = 0, colorspace = 0;
    const auto n = static_cast<unsigned long>(size);
    bool ok = tjDecompressHeader3(h, data, n, &w, &hh, &subsampling, &colorspace) == 0 && w > 0 && hh > 0;
    if (ok) {
        std::vector<uint8_t> rgb(static_cast<size_t>(w) * hh * 3);
        ok = tjDecompress2(h, data, n, rgb.data(), w, 0, hh, TJPF_RGB, 0) == 0;
    }
    tjDestroy(h);
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = hh;
    return ok;
}

// A video file as a player sees it through libavformat: every packet with
// its time in milliseconds, and whether libavcodec decodes it.
struct VideoFile {
    struct Frame {
        int64_t ptsMs = 0;
        std::vector<uint8_t> bytes;
        bool decoded = false;
    };
    std::string error;   // empty when the file opened
    std::string format;  // "matroska,webm", "avi"
    std::string codec;
    int width = 0, height = 0;
    std::vector<Frame> frames;
};

inline VideoFile ReadVideo(const std::string& path, bool decode = true) {
    VideoFile v;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) return v.error = "cannot open " + path, v;
    if (avformat_find_stream_info(ctx, nullptr) < 0 || ctx->nb_streams != 1) {
        avformat_close_input(&ctx);
        return v.error = "no single stream in " + path, v;
    }
    const AVStream* st = ctx->streams[0];
    v.format = ctx->iformat->name;
    v.codec = avcodec_get_name(st->codecpar->codec_id);
    v.width = st->codecpar->width;
    v.height = st->codecpar->height;
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* dec = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    if (dec != nullptr &&
        (avcodec_parameters_to_context(dec, st->codecpar) < 0 || avcodec_open2(dec, codec, nullptr) < 0))
        avcodec_free_context(&dec);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        if (pkt->size > 0) {  // AVI marks a pause with empty frames
            VideoFile::Frame f;
            f.ptsMs = av_rescale_q(pkt->pts, st->time_base, AVRational{1, 1000});
            f.bytes.assign(pkt->data, pkt->data + pkt->size);
            if (decode && dec != nullptr && avcodec_send_packet(dec, pkt) >= 0) {
                f.decoded = avcodec_receive_frame(dec, frame) >= 0 && frame->width == v.width;
            }
            v.frames.push_back(std::move(f));
        }
        av_packet_unref(pkt);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&ctx);
    return v;
}

// Segment files of one camera folder, oldest first (their names sort by time).
inline std::vector<std::string> Segments(const std::string& dir, const std::string& ext = ".mkv") {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.path().extension() == ext) files.push_back(e.path().string());
    // By stem: NAME.mkv comes before NAME-2.mkv.
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return std::filesystem::path(a).stem() < std::filesystem::path(b).stem();
    });
    return files;
}

// Start of a segment from its name YYYY-MM-DDTHH-MM-SS[-N].ext (local time), in ms since 1970.
inline int64_t SegmentStartMs(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    std::tm t{};
    if (std::sscanf(name.c_str(), "%4d-%2d-%2dT%2d-%2d-%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                    &t.tm_sec) != 6)
        return -1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t)) * 1000;
}

// summary.csv as one map per camera, keyed by the header's names.
inline std::vector<std::map<std::string, std::string>> ReadSummary(const std::string& path) {
    const auto lines = Split(ReadText(path));
    std::vector<std::map<std::string, std::string>> rows;
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto names = Split(lines[0], ','), fields = Split(lines[i], ',');
        auto& row = rows.emplace_back();
        for (size_t k = 0; k < names.size() && k < fields.size(); ++k) row[names[k]] = fields[k];
    }
    return rows;
}

// halyard-record as a child: standard output and error go to files.
class Recorder {
public:
    Recorder(std::string exe, std::vector<std::string> args) : m_args(std::move(args)) {
        m_args.insert(m_args.begin(), std::move(exe));
    }
    ~Recorder() {
        if (m_pid > 0) ::kill(m_pid, SIGKILL), Wait(10000);
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    bool Start() {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, (m_dir.Path() + "/out").c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, (m_dir.Path() + "/err").c_str(), O_WRONLY | O_CREAT, 0600);
        std::vector<char*> argv;
        for (auto& a : m_args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) m_pid = -1;
        return rc == 0;
    }
    int Run(int timeoutMs) { return Start() ? Wait(timeoutMs) : -2; }
    // Exit status; -1 when it had to be killed after timeoutMs.
    int Wait(int timeoutMs) {
        int status = 0;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);; ::usleep(10000)) {
            const pid_t done = ::wait4(m_pid, &status, WNOHANG, &m_usage);
            if (done == m_pid) break;
            if (done < 0 || std::chrono::steady_clock::now() >= end) {
                ::kill(m_pid, SIGKILL);
                ::wait4(m_pid, &status, 0, &m_usage);
                m_pid = -1;
                return -1;
            }
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    bool WaitForOutput(const std::string& text, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (; Out().find(text) == std::string::npos; std::this_thread::sleep_for(std::chrono::milliseconds(50)))
            if (std::chrono::steady_clock::now() > end) return false;
        return true;
    }
    void Signal(int sig) const {
        if (m_pid > 0) ::kill(m_pid, sig);
    }
    pid_t Pid() const { return m_pid; }
    std::string Out() const { return ReadText(m_dir.Path() + "/out"); }
    std::string Err() const { return ReadText(m_dir.Path() + "/err"); }
    double UserSeconds() const { return m_usage.ru_utime.tv_sec + m_usage.ru_utime.tv_usec / 1e6; }
    double SystemSeconds() const { return m_usage.ru_stime.tv_sec + m_usage.ru_stime.tv_usec / 1e6; }

private:
    TempDir m_dir;
    std::vector<std::string> m_args;
    pid_t m_pid = -1;
    rusage m_usage{};
};

}  // namespace recordtest
