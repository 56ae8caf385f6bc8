// halyard-record as a user runs it: against simulated cameras, with the
// driver library loaded by dlopen. Every written picture is decoded and
// compared with what the simulator sent.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/record/AviFile.h"
#include "tests/tools/record/RecorderProcess.h"
#include "tests/tools/record/TempDir.h"
#include "tests/tools/record/TestJpeg.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CCameraFarm.h"
#include "tools/camsim/CPictureStamp.h"

namespace fs = std::filesystem;
using recordtest::RecorderProcess;

namespace {

const std::string kRecorder = HALYARD_RECORD_EXE;

#if defined(HALYARD_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
    return path;
}

// A loopback port nobody listens on.
uint16_t ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// The kernel's count of UDP datagrams dropped for a full receive buffer,
// system-wide: tells a loaded machine from a fault when pictures go missing.
uint64_t UdpReceiveBufferDrops() {
    std::ifstream snmp("/proc/net/snmp");
    std::string names;
    std::string values;
    for (std::string line; std::getline(snmp, line);) {
        if (line.rfind("Udp: ", 0) != 0) continue;
        if (names.empty()) {
            names = line;
        } else {
            values = line;
            break;
        }
    }
    std::istringstream n(names);
    std::istringstream v(values);
    for (std::string name, value; n >> name && v >> value;) {
        if (name == "RcvbufErrors") return std::stoull(value);
    }
    return 0;
}

// Packets the kernel dropped from its per-CPU input backlog (loopback
// traffic passes through it), summed over the CPUs.
uint64_t BacklogDrops() {
    std::ifstream stat("/proc/net/softnet_stat");
    uint64_t drops = 0;
    for (std::string line; std::getline(stat, line);) {
        std::istringstream fields(line);
        std::string processed;
        std::string dropped;
        if (fields >> processed >> dropped) drops += std::stoull(dropped, nullptr, 16);
    }
    return drops;
}

// Datagrams the kernel dropped on the UDP sockets of one process (a full
// receive buffer: the driver's receive thread was not scheduled in time),
// sampled from /proc while the process runs.
class SocketDropSampler {
public:
    explicit SocketDropSampler(pid_t pid) : m_pid(pid), m_thread([this] { Run(); }) {}
    ~SocketDropSampler() { Stop(); }
    uint64_t Stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_cv.notify_all();
        if (m_thread.joinable()) m_thread.join();
        uint64_t total = 0;
        for (const auto& [inode, drops] : m_drops) total += drops;
        return total;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stop) {
            Sample();
            m_cv.wait_for(lock, std::chrono::milliseconds(200));
        }
    }
    void Sample() {
        std::set<std::string> inodes;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(m_pid) + "/fd", ec)) {
            const std::string target = fs::read_symlink(e.path(), ec).string();
            if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
        }
        std::ifstream udp("/proc/net/udp");
        std::string line;
        std::getline(udp, line);  // header
        while (std::getline(udp, line)) {
            std::istringstream f(line);
            std::vector<std::string> t;
            for (std::string x; f >> x;) t.push_back(x);
            if (t.size() < 13 || inodes.count(t[9]) == 0) continue;
            uint64_t& drops = m_drops[t[9]];
            drops = std::max<uint64_t>(drops, std::stoull(t[12]));
        }
    }

    pid_t m_pid;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stop = false;
    std::map<std::string, uint64_t> m_drops;
    std::thread m_thread;
};

// summary.csv as rows of named fields.
std::vector<std::map<std::string, std::string>> ReadSummary(const std::string& path) {
    std::vector<std::map<std::string, std::string>> rows;
    const auto lines = Lines(std::string(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(path)), {}));
    if (lines.empty()) return rows;
    std::vector<std::string> names;
    std::stringstream header(lines[0]);
    for (std::string f; std::getline(header, f, ',');) names.push_back(f);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::map<std::string, std::string> row;
        std::stringstream fields(lines[i]);
        size_t k = 0;
        for (std::string f; std::getline(fields, f, ',') && k < names.size(); ++k) row[names[k]] = f;
        rows.push_back(row);
    }
    return rows;
}

// The one error line a failed run leaves on standard error.
void ExpectOneErrorLine(const RecorderProcess& p, const std::string& mentions) {
    const auto lines = Lines(p.Err());
    ASSERT_EQ(lines.size(), 1u) << p.Err() << "\n--- stdout:\n" << p.Out();
    EXPECT_EQ(lines[0].rfind("halyard-record: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(mentions), std::string::npos) << lines[0];
}

// What ffprobe, when the machine has it, counts in a video file; -1 without it.
long FramesFfprobeReads(const std::string& path) {
    if (::access("/usr/bin/ffprobe", X_OK) != 0) return -1;
    const std::string command = "/usr/bin/ffprobe -v error -count_frames -select_streams v:0 "
                                "-show_entries stream=nb_read_frames -of csv=p=0 '" + path + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char line[64] = {0};
    const bool read = std::fgets(line, sizeof(line), pipe) != nullptr;
    ::pclose(pipe);
    return read ? std::atol(line) : -2;
}

struct RecordingCheck {
    size_t pictures = 0;
};

// Every file decodes, carries the simulator's stamp unchanged, and has its
// index row; the AVI holds the same pictures in the same order.
RecordingCheck CheckRecording(const std::string& dir, const std::string& camera, bool avi) {
    RecordingCheck result;
    const std::string camDir = dir + "/" + camera;
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(camDir)) {
        if (e.path().extension() == ".jpg") files.push_back(e.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    const auto rows = Lines(std::string(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(camDir + "/index.csv")), {}));
    EXPECT_FALSE(rows.empty());
    if (rows.empty()) return result;
    EXPECT_EQ(rows[0], "frame,arrival_time,size,width,height");
    EXPECT_EQ(rows.size() - 1, files.size()) << "one index row per file";
    std::vector<std::vector<uint8_t>> pictures;
    uint32_t lastStamp = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        std::stringstream fields(rows[i]);
        std::string number;
        std::string arrival;
        std::string size;
        std::string width;
        std::string height;
        std::getline(fields, number, ',');
        std::getline(fields, arrival, ',');
        std::getline(fields, size, ',');
        std::getline(fields, width, ',');
        std::getline(fields, height, ',');
        char name[32];
        std::snprintf(name, sizeof(name), "%06lu.jpg", std::stoul(number));
        const auto bytes = ReadFile(camDir + "/" + name);
        EXPECT_EQ(std::to_string(bytes.size()), size) << name;
        int w = 0;
        int h = 0;
        EXPECT_TRUE(recordtest::DecodeJpeg(bytes.data(), bytes.size(), &w, &h)) << name;
        EXPECT_EQ(std::to_string(w), width) << name;
        EXPECT_EQ(std::to_string(h), height) << name;
        camsim::PictureStampInfo stamp;
        EXPECT_EQ(camsim::CPictureStamp::Verify(bytes.data(), bytes.size(), &stamp), camsim::StampResult::Ok) << name;
        if (i > 1) {
            EXPECT_EQ(stamp.frameNumber, lastStamp + 1) << name << ": a picture is missing";
        }
        lastStamp = stamp.frameNumber;
        pictures.push_back(bytes);
    }
    result.pictures = pictures.size();
    if (avi) {
        const auto file = recordtest::ReadAvi(dir + "/" + camera + ".avi");
        EXPECT_EQ(file.error, "");
        EXPECT_EQ(file.handler, "MJPG");
        EXPECT_EQ(file.totalFrames, pictures.size());
        EXPECT_EQ(file.index.size(), pictures.size());
        EXPECT_GT(file.width, 0u);
        EXPECT_GT(file.usPerFrame, 0u);
        EXPECT_EQ(file.frames.size(), pictures.size());
        for (size_t i = 0; i < std::min(file.frames.size(), pictures.size()); ++i) {
            const auto& f = file.frames[i];
            EXPECT_EQ(f.size, pictures[i].size()) << "AVI frame " << i;
            EXPECT_TRUE(std::equal(pictures[i].begin(), pictures[i].end(), file.FrameData(f))) << "AVI frame " << i;
            EXPECT_TRUE(recordtest::DecodeJpeg(file.FrameData(f), f.size, nullptr, nullptr)) << "AVI frame " << i;
        }
        // A common player's reading of the file, where one is installed.
        const long ffprobeFrames = FramesFfprobeReads(dir + "/" + camera + ".avi");
        if (ffprobeFrames != -1) {
            EXPECT_EQ(ffprobeFrames, static_cast<long>(pictures.size()));
        }
    }
    return result;
}

}  // namespace

TEST(RecorderRun, HelpAndWrongOption) {
    RecorderProcess help;
    EXPECT_EQ(RecorderProcess::Run(kRecorder, {"--help"}, help, 20000), 0);
    for (const char* option : {"--camera", "--simulate", "--model", "--user", "--password-file", "--ask-password",
                               "--resolution", "--interval", "--fps", "--quality", "--standard", "--interface",
                               "--duration", "--output-dir", "--format", "--input", "--output", "--library",
                               "--first-picture-timeout", "--verbose"}) {
        EXPECT_NE(help.Out().find(option), std::string::npos) << option;
    }
    RecorderProcess wrong;
    EXPECT_EQ(RecorderProcess::Run(kRecorder, {"--record-everything"}, wrong, 20000), 2);
    ExpectOneErrorLine(wrong, "--record-everything");
    EXPECT_EQ(wrong.Out(), "");
}

TEST(RecorderRun, LibraryThatIsMissingOrForeign) {
    struct Case {
        std::string library;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {"/nonexistent/libHalyard.so", "not found"},
        {"/usr/lib/x86_64-linux-gnu/libturbojpeg.so.0", "is not the Halyard driver"},
    };
    for (const auto& c : cases) {
        recordtest::TempDir dir;
        RecorderProcess p;
        EXPECT_EQ(RecorderProcess::Run(kRecorder, {"--library", c.library, "-d", "2", "-o", dir.Path() + "/rec"}, p, 30000),
                  3)
            << c.library;
        ExpectOneErrorLine(p, c.mentions);
        EXPECT_FALSE(fs::exists(dir.Path() + "/rec"));
    }
}

TEST(RecorderRun, UnreachableCamera) {
    recordtest::TempDir dir;
    RecorderProcess p;
    const std::string camera = "127.0.0.1:" + std::to_string(ClosedPort());
    EXPECT_EQ(RecorderProcess::Run(kRecorder, {"-c", camera, "-d", "20", "-o", dir.Path() + "/rec"}, p, 60000), 4);
    ExpectOneErrorLine(p, "cannot be reached");
    EXPECT_NE(p.Err().find(camera), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.Path() + "/rec/camera1")) << "a failed run leaves no empty recording";
}

TEST(RecorderRun, CredentialsAreCheckedAndNeverShown) {
    struct Case {
        camsim::AuthMode mode;
        std::string password;
        int exit;
    };
    const std::vector<Case> cases = {
        {camsim::AuthMode::Basic, "Wr0ng-Basic", 5},
        {camsim::AuthMode::Digest, "Wr0ng-Digest", 5},
        {camsim::AuthMode::Digest, "S3cret-Right", 0},
    };
    for (const auto& c : cases) {
        camsim::CameraConfig config;
        config.auth = c.mode;
        config.user = "operator";
        config.password = "S3cret-Right";
        camsim::CCamera cam(config);
        ASSERT_TRUE(cam.Start());
        recordtest::TempDir dir;
        const std::string pw = WriteFile(dir.Path() + "/pw", c.password + "\n");
        RecorderProcess p;
        const int rc = RecorderProcess::Run(kRecorder,
                                            {"-c", "127.0.0.1:" + std::to_string(cam.Port()), "-u", "operator",
                                             "--password-file", pw, "-d", "3", "-o", dir.Path() + "/rec"},
                                            p, 60000);
        EXPECT_EQ(rc, c.exit) << c.password << "\n" << p.Out() << p.Err();
        if (c.exit != 0) {
            ExpectOneErrorLine(p, "refused the user name or password");
        }
        EXPECT_EQ(p.Out().find(c.password), std::string::npos);
        EXPECT_EQ(p.Err().find(c.password), std::string::npos);
        EXPECT_EQ(p.Out().find("S3cret"), std::string::npos);
        cam.Stop();
    }
}

TEST(RecorderRun, UnknownModelOnBothInterfaces) {
    for (const char* api : {"legacy", "ip"}) {
        recordtest::TempDir dir;
        RecorderProcess p;
        EXPECT_EQ(RecorderProcess::Run(kRecorder, {"-m", "SNC-NONE", "--interface", api, "-d", "3", "-o", dir.Path() + "/rec"},
                                       p, 60000),
                  6)
            << api;
        ExpectOneErrorLine(p, "model file SNC-NONE.xml not found");
        EXPECT_NE(p.Err().find("SNC-RZ50P"), std::string::npos) << "the available models are listed";
    }
}

// The embedded simulator through each interface: JPEG files, index and AVI.
TEST(RecorderRun, RecordsTheSimulatedCamera) {
    for (const char* api : {"legacy", "ip"}) {
        recordtest::TempDir dir;
        const std::string out = dir.Path() + "/rec";
        RecorderProcess p;
        ASSERT_EQ(RecorderProcess::Run(kRecorder, {"--interface", api, "-d", "4", "--fps", "10", "--format", "both",
                                                   "-o", out},
                                       p, 60000),
                  0)
            << api << "\n" << p.Out() << p.Err();
        EXPECT_EQ(p.Err(), "");
        EXPECT_NE(p.Out().find("summary:"), std::string::npos);
        const RecordingCheck check = CheckRecording(out, "camera1", true);
        EXPECT_GT(check.pictures, 0u) << api;
        const auto summary = ReadSummary(out + "/summary.csv");
        ASSERT_EQ(summary.size(), 1u);
        EXPECT_EQ(summary[0].at("lost"), "0");
        EXPECT_EQ(summary[0].at("loss_exact"), "1");
        EXPECT_EQ(summary[0].at("written"), std::to_string(check.pictures));
        EXPECT_EQ(summary[0].at("problem"), "none");
    }
}

TEST(RecorderRun, CtrlCStopsCleanly) {
    recordtest::TempDir dir;
    const std::string out = dir.Path() + "/rec";
    RecorderProcess p;
    ASSERT_TRUE(p.Start(kRecorder, {"--fps", "25", "--format", "both", "-o", out}));
    ASSERT_TRUE(p.WaitForOutput("streaming", 30000)) << p.Out() << p.Err();
    p.Signal(SIGINT);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(p.Wait(30000), 0) << p.Out() << p.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    EXPECT_NE(p.Out().find("Ctrl-C: stopping"), std::string::npos);
    const RecordingCheck check = CheckRecording(out, "camera1", true);
    EXPECT_GT(check.pictures, 0u);
}

TEST(RecorderRun, InputsAndOutputs) {
    camsim::CameraConfig config;
    camsim::CCamera cam(config);
    ASSERT_TRUE(cam.Start());
    recordtest::TempDir dir;
    RecorderProcess p;
    ASSERT_TRUE(p.Start(kRecorder, {"-c", "127.0.0.1:" + std::to_string(cam.Port()), "--input", "--output", "1=on",
                                    "-d", "8", "-o", dir.Path() + "/rec"}));
    ASSERT_TRUE(p.WaitForOutput("input 1 off", 20000)) << p.Out() << p.Err();
    cam.SetSensor(1, true);
    EXPECT_TRUE(p.WaitForOutput("input 1 on", 20000)) << p.Out();
    EXPECT_EQ(p.Wait(60000), 0) << p.Out() << p.Err();
    const auto triggers = cam.AlarmTriggers();
    ASSERT_FALSE(triggers.empty());
    EXPECT_EQ(triggers.back().output, 1u);
    EXPECT_TRUE(triggers.back().on);
    cam.Stop();
}

// The camera answers but no picture comes (here: the simulator holds its
// stream back, as a firewall that drops UDP would).
TEST(RecorderRun, NoPictureWithinTheTimeLimit) {
    camsim::CameraConfig config;
    camsim::CCamera cam(config);
    ASSERT_TRUE(cam.Start());
    cam.SetPaused(true);
    recordtest::TempDir dir;
    RecorderProcess p;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(RecorderProcess::Run(kRecorder, {"-c", "127.0.0.1:" + std::to_string(cam.Port()), "--first-picture-timeout",
                                               "3", "-o", dir.Path() + "/rec"},
                                   p, 60000),
              7);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    ExpectOneErrorLine(p, "sent no picture within 3 s");
    cam.Stop();
}

TEST(RecorderRun, AnEarlierRecordingIsNeverOverwritten) {
    recordtest::TempDir dir;
    const std::string out = dir.Path() + "/rec";
    RecorderProcess first;
    ASSERT_EQ(RecorderProcess::Run(kRecorder, {"-d", "2", "-o", out}, first, 60000), 0) << first.Out() << first.Err();
    const auto index = ReadFile(out + "/camera1/index.csv");
    RecorderProcess second;
    EXPECT_EQ(RecorderProcess::Run(kRecorder, {"-d", "2", "-o", out}, second, 60000), 8);
    ExpectOneErrorLine(second, "already holds a recording");
    EXPECT_EQ(ReadFile(out + "/camera1/index.csv"), index);
    EXPECT_TRUE(fs::exists(out + "/summary.csv"));
}

TEST(RecorderRun, UsageErrorsOfTheCameraModel) {
    recordtest::TempDir dir;
    RecorderProcess p;
    // SNC-RZ50P has one alarm output.
    EXPECT_EQ(RecorderProcess::Run(kRecorder, {"--output", "2=on", "-d", "3", "-o", dir.Path() + "/rec"}, p, 60000), 2);
    ExpectOneErrorLine(p, "alarm output");
}

// Sixteen cameras at once, each at full PAL rate: not one picture lost.
// The recorder's CPU time for the run is reported, not asserted.
TEST(RecorderRun, SixteenCamerasLoseNothing) {
    const unsigned count = 16;
    const int seconds = kSanitized ? 10 : 30;
    const int fps = kSanitized ? 5 : 25;
    camsim::CCameraFarm farm(2);
    std::string error;
    // Every stream wraps its 16-bit RTP sequence number early in the run: a
    // wrap must cost no picture.
    camsim::CameraConfig config;
    config.firstSequence = 65400;
    ASSERT_TRUE(farm.Start(config, count, 0, &error)) << error;
    recordtest::TempDir dir;
    const std::string out = dir.Path() + "/rec";
    std::vector<std::string> args = {"-d", std::to_string(seconds), "--fps", std::to_string(fps), "-o", out};
    for (unsigned i = 0; i < count; ++i) {
        args.push_back("-c");
        args.push_back("127.0.0.1:" + std::to_string(farm.At(i).Port()));
    }
    RecorderProcess p;
    const uint64_t dropsBefore = UdpReceiveBufferDrops();
    const uint64_t backlogBefore = BacklogDrops();
    ASSERT_TRUE(p.Start(kRecorder, args));
    SocketDropSampler sampler(p.Pid());
    ASSERT_EQ(p.Wait((seconds + 120) * 1000), 0) << p.Out() << p.Err();
    const uint64_t recorderDrops = sampler.Stop();
    const uint64_t kernelDrops = UdpReceiveBufferDrops() - dropsBefore;
    const uint64_t backlogDrops = BacklogDrops() - backlogBefore;
    const auto summary = ReadSummary(out + "/summary.csv");
    ASSERT_EQ(summary.size(), count);
    SCOPED_TRACE("packets the kernel dropped meanwhile on the whole machine: " + std::to_string(kernelDrops) +
                 " for full UDP receive buffers, " + std::to_string(backlogDrops) + " from its input backlog");
    uint64_t total = 0;
    uint64_t totalLost = 0;
    uint64_t totalUnsent = 0;
    for (unsigned i = 0; i < count; ++i) {
        const auto& row = summary[i];
        // Datagrams the simulator itself could not send (its socket buffer
        // full on a starved machine) are lost before they reach the
        // recorder; each costs at most one picture.
        uint64_t unsent = 0;
        for (const auto& stream : farm.At(i).StreamHistory()) unsent += stream.sendErrors;
        const uint64_t lost = std::stoull(row.at("lost"));
        if (lost > 0 || unsent > 0) {
            std::printf("[ figures  ] %s: %llu pictures lost, the simulator failed to send %llu datagrams\n",
                        row.at("camera").c_str(), static_cast<unsigned long long>(lost),
                        static_cast<unsigned long long>(unsent));
        }
        totalLost += lost;
        totalUnsent += unsent;
        EXPECT_EQ(row.at("loss_exact"), "1") << row.at("camera");
        EXPECT_EQ(row.at("refused"), "0") << row.at("camera");
        EXPECT_EQ(row.at("written"), row.at("pictures")) << row.at("camera");
        const uint64_t pictures = std::stoull(row.at("pictures"));
        EXPECT_GT(pictures, 0u) << row.at("camera");  // how many depends on the machine: reported, not checked
        total += pictures;
        if (lost == 0) CheckRecording(out, "camera" + std::to_string(i + 1), false);
    }
    // Every picture that reached the recorder's sockets was recorded: a loss
    // is explained only by a datagram the simulator could not send or one
    // the kernel dropped on the recorder's own sockets (each costs at most
    // one picture).
    EXPECT_LE(totalLost, totalUnsent + recorderDrops)
        << "the simulator failed to send " << totalUnsent << " datagrams; the kernel dropped " << recorderDrops
        << " on the recorder's sockets";
    if (recorderDrops > 0) {
        std::printf("[ figures  ] the kernel dropped %llu datagrams on the recorder's sockets (machine too busy)\n",
                    static_cast<unsigned long long>(recorderDrops));
    }
    farm.Stop();
    const double cpu = p.CpuSeconds();
    std::printf("[ figures  ] 16 cameras x %d fps CIF for %d s: %llu pictures; recorder CPU %.2f s user + %.2f s "
                "system = %.1f%% of one core\n",
                fps, seconds, static_cast<unsigned long long>(total), p.UserSeconds(), p.SystemSeconds(),
                100.0 * cpu / seconds);
    ::testing::Test::RecordProperty("recorder_cpu_percent_of_one_core", std::to_string(100.0 * cpu / seconds));
    ::testing::Test::RecordProperty("pictures", std::to_string(total));
}
