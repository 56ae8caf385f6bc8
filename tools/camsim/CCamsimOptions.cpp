#include "tools/camsim/CCamsimOptions.h"

#include <CLI/CLI.hpp>
#include <fstream>
#include <ostream>

#include "tools/camsim/CQueryString.h"

namespace camsim {

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

// What the command line says before it is checked as a whole.
struct RawOptions {
    std::string bind = "127.0.0.1";
    bool https = false;
    std::string cert, key;
    std::string auth = "none";
    std::string user, passwordFile, realm = "camsim";
    std::string commandLinePassword;
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
    unsigned httpThreads = 4;
    std::string streamTo;
};

void AddOptions(CLI::App& app, RawOptions& o, CCamsimOptions& r) {
    app.get_formatter()->column_width(34);
    app.add_option("-b,--bind", o.bind, "IPv4 address to listen on and send from")->capture_default_str();
    app.add_option("-p,--port,--base-port", r.port,
                   "HTTP port of the first camera, the next ones follow; 0: free ports")
        ->capture_default_str();
    app.add_option("-n,--cameras", r.cameras, "number of cameras")->capture_default_str()->check(CLI::Range(1, 4096));
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
    app.add_option("--password", o.commandLinePassword)->group("");
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
    app.add_option("--fps", o.fps, "frame rate for JpFrameRate=0 or absent")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000));
    app.add_option("--ring", o.ring, "distinct pre-encoded pictures")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000));
    app.add_option("--payload", o.payload, "RTP payload bytes per packet")
        ->capture_default_str()
        ->check(CLI::Range(1, 65000));
    app.add_option("--sr-interval", o.srInterval, "RTCP sender report interval, ms")->capture_default_str();
    app.add_option("--rtp-expire", o.rtpExpire,
                   "ms without receiver reports before a stream stops until RtpExpire is set; 0: never")
        ->capture_default_str();
    app.add_option("--first-seq", o.firstSeq, "first RTP sequence number (default random)")
        ->check(CLI::Range(0, 65535));
    app.add_option("--ssrc", o.ssrc, "RTP SSRC (default random)")->check(CLI::Range(int64_t{0}, int64_t{0xFFFFFFFF}));
    app.add_option("--seed", o.seed, "seed of the packet fault choices")->capture_default_str();
    app.add_flag("--no-control", o.noControl, "do not serve /simctl");
    app.add_flag("--simctl-any-peer", o.controlAnyPeer, "serve /simctl to any address, not only loopback");
    app.add_option("--http-threads", o.httpThreads, "connections each camera serves at once")->capture_default_str();
    app.add_option("--sender-threads", r.senderThreads, "RTP sending threads shared by all cameras")
        ->capture_default_str()
        ->check(CLI::Range(1, 64));
    app.add_option("--stream-to", o.streamTo,
                   "ADDR:PORT: start streaming at once, camera i to PORT+2i (for load tests without a recorder)");
    app.add_option("--duration", r.durationSeconds, "stop after this many seconds; 0: until Ctrl-C or quit")
        ->capture_default_str();
    app.add_flag("-q,--quiet", r.quiet, "no line per request");
}

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

AuthMode ToAuthMode(const std::string& name) {
    if (name == "basic") return AuthMode::Basic;
    if (name == "digest") return AuthMode::Digest;
    return AuthMode::None;
}

}  // namespace

std::optional<int> CCamsimOptions::Parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    RawOptions o;
    CLI::App app{kDescription, "halyard-camsim"};
    AddOptions(app, o, *this);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err);
    }

    unsigned width = 0, height = 0;
    if (!CQueryString::ParseSize(o.size, &width, &height)) {
        err << "--size: not a picture size: " << o.size << "\n";
        return 2;
    }
    if (o.https && (o.cert.empty() != o.key.empty())) {
        err << "--cert and --key go together\n";
        return 2;
    }
    if (app.count("--password") > 0) {
        err << "--password is not accepted: put the password in a file and give --password-file FILE\n";
        return 2;
    }
    std::string password, error;
    if (!o.passwordFile.empty() && !ReadPasswordFile(o.passwordFile, &password, &error)) {
        err << "halyard-camsim: " << error << "\n";
        return 2;
    }
    if (!o.streamTo.empty()) {
        const size_t colon = o.streamTo.rfind(':');
        uint32_t first = 0;
        if (colon == std::string::npos || !CQueryString::ParseUnsigned(o.streamTo.substr(colon + 1), &first) ||
            first == 0 || first + 2 * (cameras - 1) > 65534) {
            err << "--stream-to wants ADDR:PORT\n";
            return 2;
        }
        streamHost = o.streamTo.substr(0, colon);
        streamPort = static_cast<uint16_t>(first);
    }
    if (o.auth != "none" && o.user.empty()) err << "note: --auth without --user: no client can log in\n";

    camera.bindAddress = o.bind;
    camera.https = o.https;
    camera.certFile = o.cert;
    camera.keyFile = o.key;
    camera.auth = ToAuthMode(o.auth);
    camera.user = o.user;
    camera.password = std::move(password);
    camera.realm = o.realm;
    camera.settingsStatus = o.settingsStatus;
    camera.sensorCount = o.sensors;
    camera.alarmOutputCount = o.outputs;
    camera.defaultWidth = width;
    camera.defaultHeight = height;
    camera.defaultQuality = o.quality;
    camera.defaultFrameRate = o.fps;
    camera.ringSize = o.ring;
    camera.maxPayload = o.payload;
    camera.srIntervalMs = o.srInterval;
    camera.defaultRtpExpireMs = o.rtpExpire;
    if (o.firstSeq >= 0) camera.firstSequence = static_cast<uint16_t>(o.firstSeq);
    if (o.ssrc >= 0) camera.ssrc = static_cast<uint32_t>(o.ssrc);
    camera.faultSeed = o.seed;
    camera.controlEnabled = !o.noControl;
    camera.controlAnyPeer = o.controlAnyPeer;
    camera.httpThreads = o.httpThreads;
    return std::nullopt;
}

}  // namespace camsim
