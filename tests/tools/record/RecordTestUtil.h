#pragma once
// What the recorder's tests share: a temporary directory, real JPEG files,
// an AVI reader that walks the file as a player does, and halyard-record
// run as a child process.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
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

inline uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
inline std::string Tag(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 4); }

// RIFF 'AVI ' { LIST 'hdrl' { 'avih', LIST 'strl' { 'strh', 'strf' } }, LIST 'movi' { '00dc'... }, 'idx1' }
struct AviFile {
    std::vector<uint8_t> bytes;
    std::string error;  // empty when every size fits the file
    std::map<std::string, std::pair<size_t, uint32_t>> chunks;  // first of each id: data offset, size
    std::vector<std::pair<size_t, uint32_t>> frames, index;     // '00dc' data offset and size
    size_t movi = 0;                                            // offset of the 'movi' list type
    uint32_t U32(const std::string& id, size_t at) const {
        const auto it = chunks.find(id);
        return it == chunks.end() || at + 4 > it->second.second ? 0 : Le32(&bytes[it->second.first + at]);
    }
    std::string Tag4(const std::string& id, size_t at) const {
        const auto it = chunks.find(id);
        return it == chunks.end() || at + 4 > it->second.second ? "" : Tag(&bytes[it->second.first + at]);
    }
};

// Walks the chunks of [p, end), every size checked against its list.
inline bool WalkRiff(AviFile& avi, size_t p, size_t end, const std::string& list) {
    while (p < end) {
        if (p + 8 > end) return avi.error = "chunk header cut at " + std::to_string(p), false;
        const std::string id = Tag(&avi.bytes[p]);
        const uint32_t size = Le32(&avi.bytes[p + 4]);
        const size_t data = p + 8;
        if (data + size > end) return avi.error = id + " runs past its list", false;
        if (id == "LIST") {
            if (size < 4) return avi.error = "LIST without a type", false;
            const std::string type = Tag(&avi.bytes[data]);
            if (type == "movi") avi.movi = data;
            if (!WalkRiff(avi, data + 4, data + size, type)) return false;
        } else if (list == "movi") {
            if (id != "00dc") return avi.error = "unexpected chunk " + id + " in movi", false;
            avi.frames.push_back({data, size});
        } else {
            avi.chunks.emplace(id, std::make_pair(data, size));
        }
        p = data + size + (size & 1u);
    }
    return p == end || list == "AVI " || (avi.error = list + " does not end on a chunk", false);
}

inline AviFile ReadAvi(const std::string& path) {
    AviFile avi;
    avi.bytes = ReadFile(path);
    const auto& b = avi.bytes;
    if (b.size() < 12 || Tag(&b[0]) != "RIFF" || Tag(&b[8]) != "AVI ") return avi.error = "no RIFF AVI header", avi;
    if (Le32(&b[4]) + 8ull != b.size()) return avi.error = "RIFF size does not match the file", avi;
    if (!WalkRiff(avi, 12, b.size(), "AVI ")) return avi;
    if (!avi.chunks.count("avih") || avi.movi == 0 || !avi.chunks.count("idx1")) return avi.error = "part missing", avi;
    if (avi.chunks["avih"].second != 56 || avi.chunks["strh"].second != 56 || avi.chunks["strf"].second < 40)
        return avi.error = "header sizes", avi;
    const auto [idx, size] = avi.chunks["idx1"];
    if (size % 16 != 0) return avi.error = "idx1 size", avi;
    for (size_t e = idx; e < idx + size; e += 16) {
        if (Tag(&b[e]) != "00dc" || (Le32(&b[e + 4]) & 0x10u) == 0) return avi.error = "idx1 entry", avi;
        avi.index.push_back({avi.movi + Le32(&b[e + 8]) + 8, Le32(&b[e + 12])});
    }
    return avi;
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
