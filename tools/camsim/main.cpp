// halyard-camsim: simulated Sony G4 cameras for testing a recorder without
// hardware.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "tools/camsim/CCameraFarm.h"
#include "tools/camsim/CControlCommand.h"
#include "tools/camsim/CQueryString.h"

namespace {

const char* kDescription =
    "halyard-camsim - simulated Sony G4 network cameras\n"
    "\n"
    "Each camera is a web server that accepts the camera's CGI commands\n"
    "(/command/camera.cgi, system.cgi, inquiry.cgi, alarmout.cgi, main.cgi) and,\n"
    "after \"mjpeg?UdpMode=unicast&UdpPort=N\", streams Motion JPEG over RTP to the\n"
    "requester's port N with RTCP sender reports to N+1. Every picture is a real\n"
    "JPEG with the frame number in a comment segment and a checksum.\n"
    "\n"
    "Examples:\n"
    "  halyard-camsim                                  one camera on a free port\n"
    "  halyard-camsim --port 8080 --auth digest --user admin --password-file pw.txt\n"
    "  halyard-camsim --https --port 8443 --auth basic --user u --password-file pw.txt\n"
    "  halyard-camsim --cameras 64 --base-port 18080 --size 704x480 --fps 30\n"
    "\n"
    "While running, type commands on standard input (or GET /simctl?COMMAND on a\n"
    "camera's port, from loopback unless --simctl-any-peer, with the camera's\n"
    "credentials when it has any):   [N|all] COMMAND   e.g.  1 drop=0.1\n"
    "N counts from 1, so camera1 here is camera1 in halyard-record's output.\n"
    "COMMAND parts, joined by '&':\n"
    "  drop=F dup=F reorder=F    fraction of RTP packets dropped/duplicated/swapped\n"
    "  pause=1|0  stop=1  seqjump=N  newssrc=random|N  longdgram=N  oversize=1\n"
    "  status=CODE[:PATTERN]  hang=PATTERN  close=PATTERN  times=N  release=1\n"
    "  clearhttp=1  reset=1  sensor=N:0|1  stats=1  help=1       and: quit\n"
    "Ctrl-C stops and prints a summary of what was sent and received.\n";

struct Options {
    std::string bind = "127.0.0.1";
    uint16_t port = 0;
    unsigned cameras = 1;
    bool https = false;
    std::string cert, key;
    std::string auth = "none";
    std::string user, passwordFile, realm = "camsim";
    int settingsStatus = 200;
    unsigned sensors = 2, outputs = 2;
    std::string size = "352x288";
    unsigned quality = 6, fps = 25, ring = 25;
    size_t payload = 1400;
    uint32_t srInterval = 5000, rtpExpire = 0;
    int firstSeq = -1;
    int64_t ssrc = -1;
    uint64_t seed = 1;
    bool noControl = false;
    bool controlAnyPeer = false;
    unsigned httpThreads = 4, senderThreads = 1;
    std::string streamTo;
    double duration = 0;
    bool quiet = false;
};

// The first line of the file, without its line end. Nothing read here is
// ever printed.
bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "--password-file: cannot open " + path;
        return false;
    }
    std::string line;
    std::getline(in, line);
    if (in.bad() || line.size() > 4096) {
        *error = "--password-file: " + path + " is not one line of at most 4096 bytes";
        return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    *password = std::move(line);
    return true;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

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

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{kDescription, "halyard-camsim"};
    app.get_formatter()->column_width(34);
    app.add_option("-b,--bind", o.bind, "IPv4 address to listen on and send from")->capture_default_str();
    app.add_option("-p,--port,--base-port", o.port, "HTTP port of the first camera, the next ones follow; 0: free ports")
        ->capture_default_str();
    app.add_option("-n,--cameras", o.cameras, "number of cameras")->capture_default_str()->check(CLI::Range(1, 4096));
    app.add_flag("--https", o.https, "serve HTTPS (self-signed certificate unless --cert/--key)");
    app.add_option("--cert", o.cert, "PEM certificate file for HTTPS")->check(CLI::ExistingFile);
    app.add_option("--key", o.key, "PEM private key file for HTTPS")->check(CLI::ExistingFile);
    app.add_option("--auth", o.auth, "authentication: none, basic or digest")
        ->capture_default_str()
        ->check(CLI::IsMember({"none", "basic", "digest"}));
    app.add_option("--user", o.user, "user name the cameras accept");
    app.add_option("--password-file", o.passwordFile, "file whose first line is the password the cameras accept")
        ->check(CLI::ExistingFile);
    // Gone: a password on the command line is visible to every user of the
    // machine. Kept hidden only to say so.
    std::string commandLinePassword;
    CLI::Option* oldPassword = app.add_option("--password", commandLinePassword)->group("");
    app.add_option("--realm", o.realm, "authentication realm")->capture_default_str();
    app.add_option("--settings-status", o.settingsStatus, "status for accepted commands")
        ->capture_default_str()
        ->check(CLI::IsMember({200, 204}));
    app.add_option("--sensors", o.sensors, "sensor inputs per camera")->capture_default_str();
    app.add_option("--alarm-outputs", o.outputs, "alarm outputs per camera")->capture_default_str();
    app.add_option("--size", o.size, "picture size until JpImageSize says otherwise (WxH, CIF, 4CIF, VGA ...)")
        ->capture_default_str();
    app.add_option("--quality", o.quality, "JPEG quality 1..10 until JpQuality says otherwise")
        ->capture_default_str()
        ->check(CLI::Range(1, 10));
    app.add_option("--fps", o.fps, "frame rate for JpFrameRate=0 or absent")->capture_default_str()->check(CLI::Range(1, 1000));
    app.add_option("--ring", o.ring, "distinct pre-encoded pictures")->capture_default_str()->check(CLI::Range(1, 1000));
    app.add_option("--payload", o.payload, "RTP payload bytes per packet")->capture_default_str()->check(CLI::Range(1, 65000));
    app.add_option("--sr-interval", o.srInterval, "RTCP sender report interval, ms")->capture_default_str();
    app.add_option("--rtp-expire", o.rtpExpire, "ms without receiver reports before a stream stops until RtpExpire is set; 0: never")
        ->capture_default_str();
    app.add_option("--first-seq", o.firstSeq, "first RTP sequence number (default random)")->check(CLI::Range(0, 65535));
    app.add_option("--ssrc", o.ssrc, "RTP SSRC (default random)")->check(CLI::Range(int64_t{0}, int64_t{0xFFFFFFFF}));
    app.add_option("--seed", o.seed, "seed of the packet fault choices")->capture_default_str();
    app.add_flag("--no-control", o.noControl, "do not serve /simctl");
    app.add_flag("--simctl-any-peer", o.controlAnyPeer, "serve /simctl to any address, not only loopback");
    app.add_option("--http-threads", o.httpThreads, "connections each camera serves at once")->capture_default_str();
    app.add_option("--sender-threads", o.senderThreads, "RTP sending threads shared by all cameras")
        ->capture_default_str()
        ->check(CLI::Range(1, 64));
    app.add_option("--stream-to", o.streamTo,
                   "ADDR:PORT: start streaming at once, camera i to PORT+2i (for load tests without a recorder)");
    app.add_option("--duration", o.duration, "stop after this many seconds; 0: until Ctrl-C or quit")->capture_default_str();
    app.add_flag("-q,--quiet", o.quiet, "no line per request");
    CLI11_PARSE(app, argc, argv);

    unsigned width = 0, height = 0;
    if (!camsim::CQueryString::ParseSize(o.size, &width, &height)) {
        std::cerr << "--size: not a picture size: " << o.size << "\n";
        return 2;
    }
    if (o.https && (o.cert.empty() != o.key.empty())) {
        std::cerr << "--cert and --key go together\n";
        return 2;
    }
    if (oldPassword->count() > 0) {
        std::cerr << "--password is not accepted: put the password in a file and give --password-file FILE\n";
        return 2;
    }
    std::string password;
    std::string error;
    if (!o.passwordFile.empty() && !ReadPasswordFile(o.passwordFile, &password, &error)) {
        std::cerr << "halyard-camsim: " << error << "\n";
        return 2;
    }
    if (o.auth != "none" && o.user.empty()) std::cerr << "note: --auth without --user: no client can log in\n";

    // Signals are read from a descriptor; every thread inherits the mask.
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
    const int sigFd = signalfd(-1, &stopSigs, SFD_CLOEXEC);

    std::mutex outMutex;
    const auto t0 = std::chrono::steady_clock::now();
    camsim::CameraConfig base;
    base.bindAddress = o.bind;
    base.https = o.https;
    base.certFile = o.cert;
    base.keyFile = o.key;
    base.auth = o.auth == "basic" ? camsim::AuthMode::Basic
                : o.auth == "digest" ? camsim::AuthMode::Digest
                                     : camsim::AuthMode::None;
    base.user = o.user;
    base.password = password;
    base.realm = o.realm;
    base.settingsStatus = o.settingsStatus;
    base.sensorCount = o.sensors;
    base.alarmOutputCount = o.outputs;
    base.defaultWidth = width;
    base.defaultHeight = height;
    base.defaultQuality = o.quality;
    base.defaultFrameRate = o.fps;
    base.ringSize = o.ring;
    base.maxPayload = o.payload;
    base.srIntervalMs = o.srInterval;
    base.defaultRtpExpireMs = o.rtpExpire;
    if (o.firstSeq >= 0) base.firstSequence = static_cast<uint16_t>(o.firstSeq);
    if (o.ssrc >= 0) base.ssrc = static_cast<uint32_t>(o.ssrc);
    base.faultSeed = o.seed;
    base.controlEnabled = !o.noControl;
    base.controlAnyPeer = o.controlAnyPeer;
    base.httpThreads = o.httpThreads;
    const bool quiet = o.quiet;
    base.log = [&outMutex, t0, quiet](const std::string& line) {
        if (quiet && line.find(" -> ") != std::string::npos) return;
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%9.3f] ", t);
        std::lock_guard<std::mutex> lock(outMutex);
        std::cout << stamp << line << std::endl;
    };

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    camsim::CCameraFarm farm(o.senderThreads);
    if (!farm.Start(base, o.cameras, o.port, &error)) {
        std::cerr << "halyard-camsim: " << error << "\n";
        return 1;
    }
    if (!o.streamTo.empty()) {
        const size_t colon = o.streamTo.rfind(':');
        uint32_t port = 0;
        if (colon == std::string::npos ||
            !camsim::CQueryString::ParseUnsigned(o.streamTo.substr(colon + 1), &port) || port == 0 ||
            port + 2 * (o.cameras - 1) > 65534) {
            std::cerr << "--stream-to wants ADDR:PORT\n";
            return 2;
        }
        for (size_t i = 0; i < farm.Size(); ++i) {
            if (!farm.At(i).StartStream(o.streamTo.substr(0, colon), static_cast<uint16_t>(port + 2 * i), "", &error)) {
                std::cerr << "halyard-camsim: " << error << "\n";
                return 1;
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(outMutex);
        std::cout << "halyard-camsim: " << farm.Size() << " camera(s) ready; first at " << farm.At(0).BaseUrl()
                  << "/ ; Ctrl-C to stop" << std::endl;
    }
    const auto started = std::chrono::steady_clock::now();
    rusage startUsage{};
    getrusage(RUSAGE_SELF, &startUsage);

    bool stdinOpen = true;
    std::string pending;
    for (;;) {
        int timeout = -1;
        if (o.duration > 0) {
            const double left =
                o.duration - std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (left <= 0) break;
            timeout = static_cast<int>(left * 1000) + 1;
        }
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        const int r = ::poll(fds, 2, timeout);
        if (r < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(sigFd, &info, sizeof info) > 0) break;
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[4096];
            const ssize_t n = ::read(0, buf, sizeof buf);
            if (n <= 0) {
                stdinOpen = false;  // keep running until a signal or the duration ends
                continue;
            }
            pending.append(buf, static_cast<size_t>(n));
            size_t nl;
            bool quit = false;
            while (!quit && (nl = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                quit = !RunLine(farm, line, outMutex);
            }
            if (quit) break;
        }
    }

    rusage end{};
    getrusage(RUSAGE_SELF, &end);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double cpu = Seconds(end.ru_utime) + Seconds(end.ru_stime) - Seconds(startUsage.ru_utime) -
                       Seconds(startUsage.ru_stime);
    const double setupCpu = Seconds(startUsage.ru_utime) + Seconds(startUsage.ru_stime) - Seconds(before.ru_utime) -
                            Seconds(before.ru_stime);
    farm.Stop();
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
    if (sigFd >= 0) ::close(sigFd);
    return 0;
}
