// halyard-record as a user runs it: against simulated cameras, with the
// driver library loaded by dlopen. Every written picture is decoded and
// compared with what the simulator sent.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <regex>
#include <set>

#include "tests/hardening/CameraAddress.h"
#include "tests/tools/record/RecordTestUtil.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CCameraFarm.h"
#include "tools/camsim/CPictureStamp.h"

namespace fs = std::filesystem;
using namespace recordtest;

namespace {

const std::string kRecorder = HALYARD_RECORD_EXE;
#if defined(HALYARD_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

using hardening::CameraAddress;

// A simulated camera on this program's own loopback address.
camsim::CameraConfig OwnCamera() {
    camsim::CameraConfig config;
    config.bindAddress = CameraAddress();
    return config;
}

// A loopback port nobody listens on.
uint16_t ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

void ExpectOneErrorLine(const Recorder& p, const std::string& mentions) {
    const auto lines = Split(p.Err());
    ASSERT_EQ(lines.size(), 1u) << p.Err() << "\n--- stdout:\n" << p.Out();
    EXPECT_EQ(lines[0].rfind("halyard-record: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(mentions), std::string::npos) << lines[0];
}

struct Recorded {
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<int64_t> timesMs;  // arrival (JPEG index) or segment start + pts (video only)
};

// The video segments of a camera laid end to end: every picture decodes
// and its time is the segment's start plus its time stamp.
Recorded ReadSegments(const std::string& camDir, const std::string& ext) {
    Recorded r;
    for (const auto& file : Segments(camDir, ext)) {
        const VideoFile v = ReadVideo(file);
        EXPECT_EQ(v.error, "") << file;
        EXPECT_EQ(v.codec, "mjpeg") << file;
        for (const auto& f : v.frames) {
            EXPECT_TRUE(f.decoded) << file << " at " << f.ptsMs << " ms";
            r.pictures.push_back(f.bytes);
            r.timesMs.push_back(SegmentStartMs(file) + f.ptsMs);
        }
    }
    return r;
}

// Every picture decodes and carries the simulator's stamp unchanged with no
// number missing or doubled. With JPEG files, each has its index row and the
// video (video: ".mkv", ".avi" or "" for none) holds the same pictures in the
// same order, each at its arrival time.
size_t CheckRecording(const std::string& dir, const std::string& camera, const std::string& video, bool jpeg) {
    const std::string camDir = dir + "/" + camera;
    Recorded files;
    if (jpeg) {
        const auto rows = Split(ReadText(camDir + "/index.csv"));
        size_t count = 0;
        for (const auto& e : fs::directory_iterator(camDir)) count += e.path().extension() == ".jpg";
        EXPECT_FALSE(rows.empty());
        if (rows.empty()) return 0;
        EXPECT_EQ(rows[0], "frame,arrival_time,size,width,height");
        EXPECT_EQ(rows.size() - 1, count) << "one index row per file";
        for (size_t i = 1; i < rows.size(); ++i) {
            const auto f = Split(rows[i], ',');
            char name[32];
            std::snprintf(name, sizeof(name), "%06lu.jpg", std::stoul(f.at(0)));
            auto bytes = ReadFile(camDir + "/" + name);
            int w = 0, h = 0;
            EXPECT_TRUE(DecodeJpeg(bytes.data(), bytes.size(), &w, &h)) << name;
            EXPECT_EQ(std::to_string(bytes.size()) + "," + std::to_string(w) + "," + std::to_string(h),
                      f.at(2) + "," + f.at(3) + "," + f.at(4))
                << name;
            const auto dot = f.at(1).find('.');
            files.timesMs.push_back(std::stoll(f.at(1).substr(0, dot)) * 1000 + std::stoll(f.at(1).substr(dot + 1, 3)));
            files.pictures.push_back(std::move(bytes));
        }
    }
    const Recorded segments = video.empty() ? Recorded{} : ReadSegments(camDir, video);
    const Recorded& pictures = jpeg ? files : segments;
    uint32_t last = 0;
    for (size_t i = 0; i < pictures.pictures.size(); ++i) {
        const auto& bytes = pictures.pictures[i];
        camsim::PictureStampInfo stamp;
        EXPECT_EQ(camsim::CPictureStamp::Verify(bytes.data(), bytes.size(), &stamp), camsim::StampResult::Ok) << i;
        EXPECT_TRUE(i == 0 || stamp.frameNumber == last + 1) << i << ": a picture is missing or doubled";
        last = stamp.frameNumber;
    }
    if (jpeg && !video.empty()) {
        EXPECT_EQ(segments.pictures.size(), files.pictures.size());
        // AVI counts time in whole intervals.
        const double tolerance = video == ".avi" ? 200 : 1;
        for (size_t i = 0; i < std::min(segments.pictures.size(), files.pictures.size()); ++i) {
            EXPECT_TRUE(segments.pictures[i] == files.pictures[i]) << video << " picture " << i;
            EXPECT_NEAR(static_cast<double>(segments.timesMs[i]), static_cast<double>(files.timesMs[i]), tolerance)
                << video << " picture " << i;
        }
    }
    return pictures.pictures.size();
}

// Datagrams the kernel dropped on one process's UDP sockets (a full receive
// buffer), sampled while it runs since the sockets go with it.
class SocketDropSampler {
public:
    explicit SocketDropSampler(pid_t pid) : m_pid(pid), m_thread([this] { Run(); }) {}
    ~SocketDropSampler() { Stop(); }
    uint64_t Stop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_stop = true;
        lock.unlock();
        m_cv.notify_all();
        if (m_thread.joinable()) m_thread.join();
        uint64_t total = 0;
        for (const auto& [inode, drops] : m_drops) total += drops;
        return total;
    }

private:
    void Run() {
        for (std::unique_lock<std::mutex> lock(m_mutex); !m_stop; m_cv.wait_for(lock, std::chrono::milliseconds(200))) {
            std::set<std::string> inodes;
            std::error_code ec;
            for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(m_pid) + "/fd", ec)) {
                const std::string target = fs::read_symlink(e.path(), ec).string();
                if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
            }
            const auto lines = Split(ReadText("/proc/net/udp"));
            for (size_t i = 1; i < lines.size(); ++i) {  // inode is field 9, drops field 12
                std::istringstream f(lines[i]);
                std::vector<std::string> t{std::istream_iterator<std::string>(f), {}};
                if (t.size() >= 13 && inodes.count(t[9]) != 0)
                    m_drops[t[9]] = std::max<uint64_t>(m_drops[t[9]], std::stoull(t[12]));
            }
        }
    }
    pid_t m_pid;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stop = false;
    std::map<std::string, uint64_t> m_drops;
    std::thread m_thread;
};

}  // namespace

TEST(RecorderRun, HelpExplainsEveryOption) {
    Recorder help(kRecorder, {"--help"});
    EXPECT_EQ(help.Run(20000), 0);
    for (const char* option : {"--camera",
                               "--port",
                               "--simulate",
                               "--model",
                               "--user",
                               "--password-file",
                               "--ask-password",
                               "--resolution",
                               "--interval",
                               "--fps",
                               "--quality",
                               "--standard",
                               "--interface",
                               "--duration",
                               "--output-dir",
                               "--format",
                               "--segment",
                               "--max-disk",
                               "--keep",
                               "--input",
                               "--output",
                               "--library",
                               "--first-picture-timeout",
                               "--verbose",
                               "Exit status",
                               "--config",
                               "--retry-max",
                               "--quiet",
                               "--log-level",
                               "--version",
                               "--https",
                               "--insecure"})
        EXPECT_NE(help.Out().find(option), std::string::npos) << option;
}

// Each failure: one line on standard error naming what to check, its own
// exit code, no recording left behind, and the password never shown.
TEST(RecorderRun, EachFailureGivesOneLineAndItsExitCode) {
    // Right: Digest, right password; Silent: streams nothing; Hung: takes
    // every connection and never answers.
    enum Camera { None, Basic, Digest, Right, Silent, Hung };
    struct Row {
        const char* name;
        Camera camera;
        std::vector<std::string> args;  // "CAM": the camera's address
        int exit;
        std::vector<std::string> mentions;
    };
    const std::string closed = "127.0.0.1:" + std::to_string(ClosedPort());
    // clang-format off
    const std::vector<Row> rows = {
        {"unknown option", None, {"--record-everything"}, 2, {"--record-everything"}},
        {"output the model lacks", None, {"--output", "2=on", "-d", "3"}, 2, {"alarm output"}},  // SNC-RZ50P has one
        {"library missing", None, {"--library", "/nonexistent/libHalyard.so", "-d", "2"}, 3, {"not found"}},
        {"library foreign", None, {"--library", "/usr/lib/x86_64-linux-gnu/libturbojpeg.so.0", "-d", "2"}, 3,
         {"is not the Halyard driver"}},
        {"user without a password", None, {"-u", "admin", "-d", "3"}, 2, {"--password-file"}},
        {"unreachable", None, {"--camera", closed, "-d", "20"}, 4, {"cannot be reached", closed}},
        {"Basic refused", Basic, {"--camera", "CAM", "-u", "operator", "-d", "3"}, 5, {"refused the user name or password"}},
        {"Digest refused", Digest, {"--camera", "CAM", "-u", "operator", "-d", "3"}, 5,
         {"refused the user name or password"}},
        {"Digest accepted", Right, {"--camera", "CAM", "-u", "operator", "-d", "3"}, 0, {}},
        {"unknown model, legacy", None, {"-m", "SNC-NONE", "--interface", "legacy", "-d", "3"}, 6,
         {"model file SNC-NONE.xml not found", "SNC-RZ50P"}},  // the models there are listed
        {"unknown model, IP", None, {"-m", "SNC-NONE", "--interface", "ip", "-d", "3"}, 6,
         {"model file SNC-NONE.xml not found", "SNC-RZ50P"}},
        {"no picture", Silent, {"--camera", "CAM", "--first-picture-timeout", "3"}, 7,
         {"took its settings but sent no picture"}},
        // The same cause whichever limit runs out first: the driver's request
        // time limit (5 s) or the recorder's first-picture time-out.
        {"hung, short time-out", Hung, {"--camera", "CAM", "--first-picture-timeout", "3"}, 9, {"did not answer"}},
        {"hung, default time-out", Hung, {"--camera", "CAM"}, 9, {"does not answer"}},
        {"hung, long time-out", Hung, {"--camera", "CAM", "--first-picture-timeout", "20", "-d", "8"}, 9,
         {"does not answer"}},
        {"stopped before a picture", Hung, {"--camera", "CAM", "-d", "1"}, 10, {"still connecting"}},
    };
    // clang-format on
    // The rows wait on cameras and time-outs, hardly on the CPU: side by
    // side, each with a camera and a directory of its own.
    auto runRow = [&](const Row& r) {
        SCOPED_TRACE(r.name);
        camsim::CameraConfig config = OwnCamera();
        config.auth = r.camera == Basic    ? camsim::AuthMode::Basic
                      : r.camera == Silent ? camsim::AuthMode::None
                                           : camsim::AuthMode::Digest;
        config.user = "operator";
        config.password = "S3cret-Right";
        camsim::CCamera cam(config);
        ASSERT_TRUE(r.camera == None || cam.Start());
        cam.SetPaused(r.camera == Silent);  // as a firewall dropping UDP would
        if (r.camera == Hung) cam.AddHttpFault({"*", camsim::HttpFaultAction::Hang, 0, -1});
        TempDir dir;
        const std::string password = r.camera == Right ? "S3cret-Right" : "Wr0ng-" + std::to_string(r.exit);
        std::ofstream(dir.Path() + "/pw") << password << "\n";
        std::vector<std::string> args = {"-o", dir.Path() + "/rec"};
        if (r.camera != None) args.insert(args.end(), {"--password-file", dir.Path() + "/pw"});
        for (const auto& a : r.args)
            args.push_back(a == "CAM" ? CameraAddress() + ":" + std::to_string(cam.Port()) : a);
        Recorder p(kRecorder, args);
        EXPECT_EQ(p.Run(90000), r.exit) << p.Out() << p.Err();
        if (r.exit != 0) {
            ExpectOneErrorLine(p, r.mentions.at(0));
            for (const auto& m : r.mentions) EXPECT_NE(p.Err().find(m), std::string::npos) << m;
            EXPECT_FALSE(fs::exists(dir.Path() + "/rec/camera1")) << "a failed run leaves no empty recording";
        } else {
            EXPECT_EQ(p.Err(), "");
            EXPECT_GT(CheckRecording(dir.Path() + "/rec", "camera1", ".mkv", false), 0u);
        }
        EXPECT_EQ((p.Out() + p.Err()).find("S3cret"), std::string::npos);
        EXPECT_EQ((p.Out() + p.Err()).find(password), std::string::npos);
    };
    std::vector<std::thread> running;
    for (const Row& r : rows) running.emplace_back(runRow, std::cref(r));
    for (std::thread& t : running) t.join();
}

// The embedded simulator through each interface: JPEG files, index, video
// in both containers, summary and plain status lines; a second run never
// overwrites the first.
TEST(RecorderRun, RecordsTheSimulatedCameraOnBothInterfaces) {
    const std::regex status(R"(status: \S+  \d+ pictures  [0-9.]+/s  \d+ kbit/s  lost 0  streaming)");
    struct Case {
        const char* api;
        const char* format;
        const char* ext;
    };
    for (const Case c : {Case{"legacy", "mkv,jpeg", ".mkv"}, Case{"ip", "avi,jpeg", ".avi"}}) {
        SCOPED_TRACE(c.api);
        TempDir dir;
        const std::string out = dir.Path() + "/rec";
        Recorder p(kRecorder, {"--interface", c.api, "-d", "4", "--fps", "10", "--format", c.format, "-o", out});
        ASSERT_EQ(p.Run(60000), 0) << p.Out() << p.Err();
        EXPECT_EQ(p.Err(), "");
        EXPECT_TRUE(std::regex_search(p.Out(), status)) << p.Out();
        EXPECT_NE(p.Out().find("summary:"), std::string::npos);
        const size_t pictures = CheckRecording(out, "camera1", c.ext, true);
        EXPECT_GT(pictures, 0u);
        const auto summary = ReadSummary(out + "/summary.csv");
        ASSERT_EQ(summary.size(), 1u);
        EXPECT_EQ(summary[0].at("lost") + summary[0].at("loss_exact") + summary[0].at("problem"), "01none");
        EXPECT_EQ(summary[0].at("written"), std::to_string(pictures));

        const std::string index = ReadText(out + "/camera1/index.csv");
        Recorder again(kRecorder, {"-d", "2", "-o", out});
        EXPECT_EQ(again.Run(60000), 8);
        ExpectOneErrorLine(again, "already holds a recording");
        EXPECT_EQ(ReadText(out + "/camera1/index.csv"), index);
    }
}

TEST(RecorderRun, CtrlCStopsCleanly) {
    TempDir dir;
    Recorder p(kRecorder, {"--fps", "25", "--format", "mkv,jpeg", "-o", dir.Path() + "/rec"});
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.WaitForOutput("streaming", 30000)) << p.Out() << p.Err();
    p.Signal(SIGINT);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(p.Wait(30000), 0) << p.Out() << p.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    EXPECT_NE(p.Out().find("Ctrl-C: stopping"), std::string::npos);
    EXPECT_GT(CheckRecording(dir.Path() + "/rec", "camera1", ".mkv", true), 0u);
}

TEST(RecorderRun, InputsAndOutputs) {
    camsim::CCamera cam(OwnCamera());
    ASSERT_TRUE(cam.Start());
    TempDir dir;
    Recorder p(kRecorder, {"--camera", CameraAddress() + ":" + std::to_string(cam.Port()), "--input", "--output",
                           "1=on", "-d", "8", "-o", dir.Path() + "/rec"});
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.WaitForOutput("input 1 off", 20000)) << p.Out() << p.Err();
    cam.SetSensor(1, true);
    EXPECT_TRUE(p.WaitForOutput("input 1 on", 20000)) << p.Out();
    EXPECT_EQ(p.Wait(60000), 0) << p.Out() << p.Err();
    const auto triggers = cam.AlarmTriggers();
    ASSERT_FALSE(triggers.empty());
    EXPECT_TRUE(triggers.back().output == 1 && triggers.back().on);
}

// Sixteen cameras at once, each at full PAL rate, every stream wrapping its
// 16-bit RTP sequence early (a wrap must cost no picture): nothing lost. The
// recorder's CPU time is reported, not asserted.
TEST(RecorderRun, SixteenCamerasLoseNothing) {
    const unsigned count = 16;
    const int seconds = kSanitized ? 10 : 20, fps = kSanitized ? 5 : 25;
    camsim::CCameraFarm farm(2);
    camsim::CameraConfig config = OwnCamera();
    config.firstSequence = 65400;
    std::string error;
    ASSERT_TRUE(farm.Start(config, count, 0, &error)) << error;
    TempDir dir;
    const std::string out = dir.Path() + "/rec";
    std::vector<std::string> args = {"-d", std::to_string(seconds), "--fps", std::to_string(fps), "-o", out};
    for (unsigned i = 0; i < count; ++i)
        args.insert(args.end(), {"--camera", CameraAddress() + ":" + std::to_string(farm.At(i).Port())});
    Recorder p(kRecorder, args);
    ASSERT_TRUE(p.Start());
    SocketDropSampler sampler(p.Pid());
    ASSERT_EQ(p.Wait((seconds + 120) * 1000), 0) << p.Out() << p.Err();
    const uint64_t recorderDrops = sampler.Stop();
    const auto summary = ReadSummary(out + "/summary.csv");
    ASSERT_EQ(summary.size(), count);
    uint64_t total = 0, totalLost = 0, totalUnsent = 0;
    for (unsigned i = 0; i < count; ++i) {
        const auto& row = summary[i];
        SCOPED_TRACE(row.at("camera"));
        // Datagrams the simulator could not send (its buffer full on a
        // starved machine) never reach the recorder; each costs a picture.
        for (const auto& stream : farm.At(i).StreamHistory()) totalUnsent += stream.sendErrors;
        const uint64_t lost = std::stoull(row.at("lost"));
        totalLost += lost;
        EXPECT_EQ(row.at("loss_exact") + "/" + row.at("refused"), "1/0");
        EXPECT_EQ(row.at("written"), row.at("pictures"));
        EXPECT_GT(std::stoull(row.at("pictures")), 0u);  // how many depends on the machine
        total += std::stoull(row.at("pictures"));
        if (lost == 0) {
            EXPECT_EQ(CheckRecording(out, "camera" + std::to_string(i + 1), ".mkv", false),
                      std::stoull(row.at("written")));
        }
    }
    // Every picture that reached the recorder's sockets was recorded.
    EXPECT_LE(totalLost, totalUnsent + recorderDrops)
        << "simulator send failures " << totalUnsent << ", kernel drops on the recorder's sockets " << recorderDrops;
    farm.Stop();
    std::printf(
        "[ figures  ] 16 cameras x %d fps CIF for %d s: %llu pictures, %llu lost, %llu kernel drops; recorder "
        "CPU %.2f s user + %.2f s system = %.1f%% of one core\n",
        fps, seconds, static_cast<unsigned long long>(total), static_cast<unsigned long long>(totalLost),
        static_cast<unsigned long long>(recorderDrops), p.UserSeconds(), p.SystemSeconds(),
        100.0 * (p.UserSeconds() + p.SystemSeconds()) / seconds);
}

// Short segments: files change at every two seconds of the clock, and no
// picture is lost or doubled across a change; each file opens and decodes
// on its own.
TEST(RecorderRun, SegmentBoundariesLoseNoPicture) {
    TempDir dir;
    const std::string out = dir.Path() + "/rec";
    Recorder p(kRecorder, {"--segment", "2", "-d", "7", "--fps", "10", "--format", "mkv,jpeg", "-o", out});
    ASSERT_EQ(p.Run(60000), 0) << p.Out() << p.Err();
    const auto files = Segments(out + "/camera1");
    ASSERT_GE(files.size(), 3u);
    for (size_t i = 1; i < files.size(); ++i) EXPECT_EQ(SegmentStartMs(files[i]) % 2000, 0) << files[i];
    EXPECT_GT(CheckRecording(out, "camera1", ".mkv", true), 40u);
}

// A killed recorder leaves a file that plays up to about its last second.
TEST(RecorderRun, KillNineLeavesAPlayableFile) {
    TempDir dir;
    const std::string out = dir.Path() + "/rec";
    Recorder p(kRecorder, {"--fps", "25", "-o", out});
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.WaitForOutput("streaming", 30000)) << p.Out() << p.Err();
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const auto killed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    p.Signal(SIGKILL);
    p.Wait(10000);
    const Recorded r = ReadSegments(out + "/camera1", ".mkv");
    ASSERT_GT(r.pictures.size(), 25u);
    EXPECT_GT(r.timesMs.back(), killed - 2500) << "more than the last seconds are missing";
    CheckRecording(out, "camera1", ".mkv", false);  // the pictures that are there are whole and in order
}

// A pause of the camera stays a pause: in the time stamps, in gaps.csv and
// in the summary.
TEST(RecorderRun, CameraPauseIsAGap) {
    camsim::CCamera cam(OwnCamera());
    ASSERT_TRUE(cam.Start());
    TempDir dir;
    const std::string out = dir.Path() + "/rec";
    Recorder p(kRecorder,
               {"--camera", CameraAddress() + ":" + std::to_string(cam.Port()), "--fps", "10", "-d", "12", "-o", out});
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.WaitForOutput("streaming", 30000)) << p.Out() << p.Err();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    cam.SetPaused(true);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    cam.SetPaused(false);
    ASSERT_EQ(p.Wait(60000), 0) << p.Out() << p.Err();
    const Recorded r = ReadSegments(out + "/camera1", ".mkv");
    ASSERT_GT(r.timesMs.size(), 2u);
    int64_t longest = 0;
    for (size_t i = 1; i < r.timesMs.size(); ++i) longest = std::max(longest, r.timesMs[i] - r.timesMs[i - 1]);
    EXPECT_GT(longest, 3500);
    EXPECT_LT(longest, 8000);
    const auto gaps = Split(ReadText(out + "/camera1/gaps.csv"));
    ASSERT_GE(gaps.size(), 2u);
    EXPECT_EQ(gaps[0], "start,length_s,until_end");
    EXPECT_NEAR(std::stod(Split(gaps[1], ',').at(1)) * 1000, static_cast<double>(longest), 2.0);
    EXPECT_TRUE(std::regex_search(p.Out(), std::regex(R"(\n    gap \S+ \S+ for [3-7]\.\d s\n)"))) << p.Out();
    EXPECT_EQ(ReadSummary(out + "/summary.csv").at(0).at("gaps"), std::to_string(gaps.size() - 1));
}

// A small --max-disk: the oldest segments go, the newest stay and play, and
// the video on disk stays within the limit and a second's worth.
TEST(RecorderRun, MaxDiskDeletesTheOldestSegments) {
    TempDir dir;
    const std::string out = dir.Path() + "/rec";
    Recorder p(kRecorder, {"--segment", "1", "--max-disk", "1M", "--resolution", "4cif", "--fps", "25", "--quality",
                           "90", "-d", "10", "-o", out});
    ASSERT_EQ(p.Run(60000), 0) << p.Out() << p.Err();
    const auto files = Segments(out + "/camera1");
    ASSERT_FALSE(files.empty());
    uint64_t bytes = 0;
    for (const auto& f : files) bytes += fs::file_size(f);
    const auto summary = ReadSummary(out + "/summary.csv").at(0);
    const double secondBytes = std::stod(summary.at("kbit_per_s")) * 1000 / 8;
    ASSERT_GT(std::stoull(summary.at("bytes")), 2u << 20) << "the run must outgrow the limit to test it";
    EXPECT_LE(static_cast<double>(bytes), (1 << 20) + secondBytes);
    EXPECT_NE(p.Out().find("old video files to stay within the disk limits"), std::string::npos) << p.Out();
    // What is left plays, up to the end of the run.
    const Recorded r = ReadSegments(out + "/camera1", ".mkv");
    EXPECT_GT(r.pictures.size(), 25u);
    CheckRecording(out, "camera1", ".mkv", false);
}

namespace {

int64_t LongestGapMs(const std::vector<int64_t>& times) {
    int64_t gap = 0;
    for (size_t i = 1; i < times.size(); ++i) gap = std::max(gap, times[i] - times[i - 1]);
    return gap;
}

std::string Address(const camsim::CCamera& cam) { return CameraAddress() + ":" + std::to_string(cam.Port()); }

}  // namespace

// A camera that cannot be reached at the start is retried in the
// background; the others record all along, and the run fails naming it.
TEST(RecorderRun, ACameraDeadFromTheStartStopsNoOther) {
    camsim::CCamera second(OwnCamera()), third(OwnCamera());
    ASSERT_TRUE(second.Start() && third.Start());
    const std::string closed = "127.0.0.1:" + std::to_string(ClosedPort());
    TempDir dir;
    const std::string out = dir.Path() + "/rec";
    Recorder p(kRecorder, {"--camera", closed, "--camera", Address(second), "--camera", Address(third), "--fps", "10",
                           "-d", "8", "-o", out});
    EXPECT_EQ(p.Run(60000), 4) << p.Out() << p.Err();
    ExpectOneErrorLine(p, "camera1 (" + closed + ") cannot be reached");
    EXPECT_NE(p.Out().find("camera1 retrying in"), std::string::npos) << p.Out();
    EXPECT_NE(p.Out().find("never recorded: camera1\n"), std::string::npos) << p.Out();
    EXPECT_GT(CheckRecording(out, "camera2", ".mkv", false), 30u);
    EXPECT_GT(CheckRecording(out, "camera3", ".mkv", false), 30u);
    const auto summary = ReadSummary(out + "/summary.csv");
    ASSERT_EQ(summary.size(), 3u);
    EXPECT_EQ(summary[0].at("problem") + "/" + summary[0].at("written"), "unreachable/0");
    EXPECT_GE(std::stoi(summary[0].at("connections")), 2) << "retried";
}

// One of three cameras killed and started again mid-run: the other two lose
// no picture, the status stops calling it streaming, and it resumes into
// the same recording with its gap visible.
TEST(RecorderRun, ACameraKilledAndRestartedResumes) {
    std::vector<std::unique_ptr<camsim::CCamera>> cams;
    for (int i = 0; i < 3; ++i) {
        cams.push_back(std::make_unique<camsim::CCamera>(OwnCamera()));
        ASSERT_TRUE(cams.back()->Start());
    }
    TempDir dir;
    const std::string out = dir.Path() + "/rec";
    const std::string seconds = kSanitized ? "40" : "20";  // room for the camera to come back
    std::vector<std::string> args = {"--fps", "10", "-d", seconds, "--first-picture-timeout", "4", "-o", out};
    for (const auto& cam : cams) args.insert(args.end(), {"--camera", Address(*cam)});
    Recorder p(kRecorder, args);
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.WaitForOutput("3/3 streaming", 20000)) << p.Out() << p.Err();
    camsim::CameraConfig config = OwnCamera();
    config.httpPort = cams[1]->Port();
    cams[1]->Stop();
    EXPECT_TRUE(p.WaitForOutput("2/3 streaming, camera2 no pictures for", 10000)) << p.Out();
    EXPECT_TRUE(p.WaitForOutput("camera2 retrying in", 10000)) << p.Out();
    cams[1] = std::make_unique<camsim::CCamera>(config);
    ASSERT_TRUE(cams[1]->Start());
    const size_t seen = p.Out().size();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (p.Out().find("3/3 streaming", seen) == std::string::npos && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(p.Out().find("3/3 streaming", seen), std::string::npos) << "camera2 resumed";
    EXPECT_EQ(p.Wait(60000), 0) << p.Out() << p.Err();
    EXPECT_GT(CheckRecording(out, "camera1", ".mkv", false), 100u);
    EXPECT_GT(CheckRecording(out, "camera3", ".mkv", false), 100u);
    // The outage stays a gap in the video's time stamps and is listed.
    const Recorded second = ReadSegments(out + "/camera2", ".mkv");
    ASSERT_GT(second.timesMs.size(), 50u);
    EXPECT_GT(LongestGapMs(second.timesMs), 3000);
    const auto summary = ReadSummary(out + "/summary.csv");
    ASSERT_EQ(summary.size(), 3u);
    EXPECT_GE(std::stoi(summary[1].at("connections")), 2);
    EXPECT_EQ(summary[1].at("problem"), "none");
    EXPECT_EQ(summary[1].at("gaps"), "1");
    EXPECT_GT(std::stod(summary[1].at("gap_seconds")), 3.0);
    EXPECT_EQ(summary[0].at("gaps") + summary[2].at("gaps"), "00") << "the others recorded without a gap";
    EXPECT_NE(p.Out().find("camera2 " + CameraAddress()), std::string::npos);
    EXPECT_NE(p.Out().find("connected 2 times"), std::string::npos) << p.Out();
}

namespace {

std::string ConfigCamera(const std::string& name, const camsim::CCamera& cam) {
    return "[[camera]]\nname = \"" + name + "\"\naddress = \"" + Address(cam) + "\"\n";
}

// The one run folder under a configuration's output root.
std::string RunFolder(const std::string& root) {
    for (const auto& e : fs::directory_iterator(root)) return e.path().string();
    return root + "/none";
}

}  // namespace

TEST(RecorderRun, AWrongConfigurationNamesLineAndKey) {
    TempDir dir;
    const std::string path = dir.Path() + "/rec.toml";
    std::ofstream(path) << "fps = 10\n\n[[camera]]\naddress = \"127.0.0.1\"\nqualty = 50\n";
    Recorder p(kRecorder, {"--config", path});
    EXPECT_EQ(p.Run(20000), 2) << p.Out() << p.Err();
    ExpectOneErrorLine(p, path + ":5: qualty: unknown key");
}

// SIGHUP: the unchanged camera records on without a gap, the removed one
// stops, the added one starts.
TEST(RecorderRun, SighupReReadsTheConfiguration) {
    camsim::CCamera a(OwnCamera()), b(OwnCamera()), c(OwnCamera());
    ASSERT_TRUE(a.Start() && b.Start() && c.Start());
    TempDir dir;
    const std::string path = dir.Path() + "/rec.toml", root = dir.Path() + "/rec";
    const std::string top = "fps = 10\noutput = \"" + root + "\"\n\n";
    std::ofstream(path) << top << ConfigCamera("door", a) << ConfigCamera("gate", b);
    Recorder p(kRecorder, {"--config", path});
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.WaitForOutput("2/2 streaming", 20000)) << p.Out() << p.Err();
    std::ofstream(path) << top << ConfigCamera("gate", b) << ConfigCamera("yard", c);
    const int64_t reloadMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    p.Signal(SIGHUP);
    ASSERT_TRUE(p.WaitForOutput("re-read: 1 unchanged, 1 stopped, 1 started", 10000)) << p.Out();
    ASSERT_TRUE(p.WaitForOutput("2/2 streaming", 20000)) << p.Out();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(30000), 0) << p.Out() << p.Err();
    const std::string run = RunFolder(root);
    EXPECT_GT(CheckRecording(run, "door", ".mkv", false), 0u);
    EXPECT_GT(CheckRecording(run, "gate", ".mkv", false), 0u);  // one picture sequence across the reload
    const auto gate = ReadSegments(run + "/gate", ".mkv").timesMs;
    EXPECT_GT(std::count_if(gate.begin(), gate.end(), [&](int64_t t) { return t < reloadMs; }), 3);
    EXPECT_GT(std::count_if(gate.begin(), gate.end(), [&](int64_t t) { return t > reloadMs; }), 3);
    EXPECT_GT(CheckRecording(run, "yard", ".mkv", false), 0u);
    const auto summary = ReadSummary(run + "/summary.csv");
    ASSERT_EQ(summary.size(), 3u);
    for (const auto& row : summary) EXPECT_EQ(row.at("connections"), "1") << row.at("camera");
}
