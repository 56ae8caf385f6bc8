#include "tools/record/CCommandLine.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <map>

#include "runtime/TextCompare.h"
#include "tools/record/CLiveServer.h"

namespace kestrel::record {

namespace {

// A range check whose text stays out of the help: the descriptions say it.
CLI::Validator Quiet(CLI::Validator validator) {
    validator.description("");
    return validator;
}

bool ParseNumber(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned long>(c - '0');
    }
    if (v > max) return false;
    value = v;
    return true;
}

const char* kFooter = R"(
Cameras:
  Without --camera or --config, halyard-record starts simulated cameras inside
  the process (--simulate, 1 by default) on free loopback ports and records
  them: the demo needs no hardware. Several --camera options record several
  cameras at once, all with the same model, credentials and video settings;
  --config gives each camera settings of its own and is re-read on SIGHUP.
  Each camera records on its own: one that cannot be reached, or is lost, is
  reconnected with waits of 1, 2, 4 ... --retry-max seconds while the others
  record. Started by hand, the recorder gives up when no camera at all sent a
  picture within --first-picture-timeout; with --config it keeps trying.

HTTPS:
  --https starts with HTTPS (port 443 unless given). The driver encrypts, and
  keeps the first certificate key a camera shows for as long as it runs, but it
  checks neither the certificate's authority nor its name: cameras carry
  self-signed certificates. --insecure says you know, and drops the warning.

Output:
  DIR/cameraN/2026-12-08T18-00-00.mkv: Motion JPEG as the camera sent it, each
  picture at its arrival time (a pause stays a pause), a new file at every
  multiple of --segment seconds on the clock; a file cut by a crash or a full
  disk plays up to its last second or so. --format avi writes .avi files instead.
  --format jpeg (or mkv,jpeg) writes DIR/cameraN/NNNNNN.jpg and DIR/cameraN/index.csv
  (frame,arrival_time,size,width,height; arrival_time in seconds since 1970 UTC).
  DIR/cameraN/gaps.csv lists the periods without pictures, DIR/summary.csv the
  figures of the run. DIR defaults to recordings/<date-time> under the current
  directory.

Disk:
  --max-disk and --keep delete the oldest finished video files of the recording
  first, never one being written; so does a file system that runs low on space.
  When nothing can be deleted the recorder says so and records what fits.

Password:
  It is never accepted on the command line (other users could read it from the
  process list). Use --password-file FILE (first line; - reads standard input)
  or --ask-password (asked on the terminal, not echoed).

Live view:
  --http serves a page with every camera's live picture, state and figures,
  /status as JSON and the recorded files; open the printed address in a
  browser. Loopback needs no log-in. Any other address needs
  --http-password-file: the page is then HTTPS with a certificate made at
  start (its SHA-256 fingerprint is printed) and asks for the password (any
  user name); only then can the page switch alarm outputs.

Driver:
  The model file MODEL.xml must be in the directory of the halyard-record
  executable. The driver library is looked up next to the executable, in ../lib
  and in the build tree, unless --library names it.

Exit status (a camera that recorded nothing makes the run fail; the first
such camera gives the status, every one is named):
  0 every camera recorded; 1 other failure; 2 wrong option, value or
  configuration; 3 driver library not loadable; 4 camera cannot be reached
  (refused, no route); 5 user name or password refused; 6 model file missing;
  7 camera answered but sent no picture (firewall?); 8 recording could not be
  written; 9 camera takes the connection but never answers; 10 stopped before
  a camera sent a picture.

Examples:
  halyard-record --duration 10
  halyard-record --camera 192.168.0.90 -m SNC-RZ50P -u admin --ask-password --resolution 4cif --fps 25 --max-disk 20G
  halyard-record --camera 192.168.0.90 --input --output 1=on --duration 5
  halyard-record --config /etc/halyard/record.toml
)";

}  // namespace

bool CCommandLine::ParseResolution(const std::string& text, int32_t& kind, std::string& error) {
    // clang-format off
    static const std::map<std::string, int32_t> kKinds = {
        {"qcif", 1}, {"cif", 2}, {"2cif", 3}, {"4cif", 4}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}};
    std::string lower;
    for (char c : text) lower += LowerAscii(c);
    const auto found = kKinds.find(lower);
    if (found == kKinds.end()) {
        error = "\"" + text + "\": expected qcif, cif, 2cif or 4cif";
        return false;
    }
    // clang-format on
    kind = found->second;
    return true;
}

bool CCommandLine::ParseInterface(const std::string& text, DriverInterface& api, std::string& error) {
    if (text == "legacy") {
        api = DriverInterface::Legacy;
    } else if (text == "ip") {
        api = DriverInterface::IP;
    } else {
        error = "\"" + text + "\": expected legacy or ip";
        return false;
    }
    return true;
}

bool CCommandLine::ParseCamera(const std::string& text, CameraTarget& target, std::string& error) {
    std::string host = text;
    std::string port;
    const auto colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        unsigned long value = 0;
        if (!ParseNumber(port, 65535, value) || value == 0) {
            error = "camera \"" + text + "\": the port after ':' must be a number from 1 to 65535";
            return false;
        }
        target.port = static_cast<uint16_t>(value);
    }
    if (host.empty() || host.find_first_of(" \t/:@?#") != std::string::npos) {
        error = "camera \"" + text + "\": expected ADDRESS or ADDRESS:PORT";
        return false;
    }
    target.address = host;
    return true;
}

bool CCommandLine::ParseSize(const std::string& text, uint64_t& bytes) {
    if (text.empty() || text.size() > 24) return false;
    size_t end = text.size();
    double unit = 1;
    switch (std::toupper(static_cast<unsigned char>(text.back()))) {
    case 'K':
        unit = 1024.0;
        break;
    case 'M':
        unit = 1024.0 * 1024;
        break;
    case 'G':
        unit = 1024.0 * 1024 * 1024;
        break;
    case 'T':
        unit = 1024.0 * 1024 * 1024 * 1024;
        break;
    default:
        break;
    }
    if (unit > 1) --end;
    double value = 0;
    double scale = 0;  // 0 before the point, then 0.1, 0.01 ...
    bool digits = false;
    for (size_t i = 0; i < end; ++i) {
        const char c = text[i];
        if (c == '.' && scale == 0) {
            scale = 0.1;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (scale == 0) {
                value = value * 10 + (c - '0');
            } else {
                value += (c - '0') * scale;
                scale /= 10;
            }
        } else {
            return false;
        }
    }
    const double total = value * unit;
    if (!digits || total < 1 || total > 1e18) return false;
    bytes = static_cast<uint64_t>(total);
    return true;
}

bool CCommandLine::ParseFormat(const std::string& text, VideoFormat& video, bool& jpeg) {
    VideoFormat v = VideoFormat::None;
    bool j = false;
    if (text == "both") {
        v = VideoFormat::Matroska;
        j = true;
    } else {
        size_t start = 0;
        while (start <= text.size()) {
            const size_t comma = text.find(',', start);
            const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (part == "mkv" && v == VideoFormat::None) {
                v = VideoFormat::Matroska;
            } else if (part == "avi" && v == VideoFormat::None) {
                v = VideoFormat::Avi;
            } else if (part == "jpeg" && !j) {
                j = true;
            } else {
                return false;
            }
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    video = v;
    jpeg = j;
    return true;
}

bool CCommandLine::ParseOutput(const std::string& text, OutputRequest& request, std::string& error) {
    const auto eq = text.find('=');
    unsigned long index = 0;
    if (eq == std::string::npos || !ParseNumber(text.substr(0, eq), 1000, index) || index == 0) {
        error = "--output \"" + text + "\": expected N=on or N=off with N counting from 1";
        return false;
    }
    const std::string_view state = std::string_view(text).substr(eq + 1);
    if (EqualsNoCase(state, "on") || state == "1") {
        request.on = true;
    } else if (EqualsNoCase(state, "off") || state == "0") {
        request.on = false;
    } else {
        error = "--output \"" + text + "\": the state must be on or off";
        return false;
    }
    request.index = static_cast<uint32_t>(index - 1);
    return true;
}

bool CCommandLine::ParseListen(const std::string& text, std::string& address, uint16_t& port, std::string& error) {
    const auto colon = text.rfind(':');
    const std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
    const std::string number = colon == std::string::npos ? text : text.substr(colon + 1);
    unsigned long value = 0;
    if (!ParseNumber(number, 65535, value)) {
        error = "--http \"" + text + "\": expected ADDRESS:PORT, for example 127.0.0.1:8080";
        return false;
    }
    if (host.find_first_of(" /[]") != std::string::npos) {
        error = "--http \"" + text + "\": expected an IPv4 address or host name before the port";
        return false;
    }
    address = host.empty() ? "127.0.0.1" : host;
    port = static_cast<uint16_t>(value);
    return true;
}

CCommandLine::Result CCommandLine::Parse(int argc, const char* const* argv, RecordOptions& options) {
    CLI::App app{"halyard-record " HALYARD_RECORD_VERSION
                 ": records Sony G4 IP cameras through the Halyard capture "
                 "driver (libHalyard.so), loaded exactly as a network video recorder loads it."};
    app.name("halyard-record");
    app.footer(kFooter);
    app.get_formatter()->column_width(34);
    app.get_formatter()->label("OPTIONS", "OPTION");

    std::vector<std::string> cameras;
    uint16_t defaultPort = 0;
    uint32_t simulated = 0;
    std::string resolution = "cif";
    uint32_t interval = 0;
    double fps = 0;
    std::string standard = "pal";
    std::string api = "legacy";
    std::string format = "mkv";
    std::string maxDisk;
    std::string logLevel;
    std::vector<std::string> outputs;
    bool version = false;

    // Short options only where no ffmpeg user reads them otherwise.
    const char* const kCameras = "Cameras";
    const char* const kVideo = "Video";
    const char* const kRecording = "Recording";
    const char* const kMessages = "Messages";
    const char* const kLive = "Live view";
    app.add_option("--camera", cameras, "Camera to record; PORT is its HTTP port. Repeat for several cameras")
        ->type_name("ADDRESS[:PORT]")
        ->group(kCameras);
    app.add_option("--config", options.configFile,
                   "Cameras and their settings from a TOML file (see docs/record.md); re-read on SIGHUP")
        ->type_name("FILE")
        ->group(kCameras);
    app.add_option("--port", defaultPort, "HTTP port of cameras given without one (default 80, 443 with --https)")
        ->type_name("PORT")
        ->check(Quiet(CLI::Range(1, 65535)))
        ->group(kCameras);
    auto* simOption = app.add_option("--simulate", simulated,
                                     "Record N simulated cameras started inside the process, 1 to 64 "
                                     "(default: 1 when no camera is given)")
                          ->type_name("N")
                          ->check(Quiet(CLI::Range(1, 64)))
                          ->group(kCameras);
    app.add_option("-m,--model", options.model, "Camera model; names the model file MODEL.xml (default SNC-RZ50P)")
        ->type_name("MODEL")
        ->group(kCameras);
    auto* userOption =
        app.add_option("-u,--user", options.user, "User name for the camera's web server; needs a password source")
            ->type_name("NAME")
            ->group(kCameras);
    auto* pwFile =
        app.add_option("--password-file", options.passwordFile, "Password: first line of FILE (- reads standard input)")
            ->type_name("FILE")
            ->group(kCameras);
    auto* pwAsk = app.add_flag("--ask-password", options.askPassword, "Password: asked on the terminal, not echoed")
                      ->group(kCameras);
    app.add_flag("--https", options.https, "Talk HTTPS to the cameras (see HTTPS below)")->group(kCameras);
    app.add_flag("--insecure", options.insecure, "Accept that certificates are not checked (see HTTPS below)")
        ->group(kCameras);
    app.add_option("--interface", api,
                   "Driver interface: legacy (CreateCapture) or ip (CreateIPCapture); default legacy")
        ->type_name("API")
        ->group(kCameras);
    app.add_option("--resolution", resolution,
                   "Picture size qcif, cif, 2cif or 4cif, as the model file defines them (default cif)")
        ->type_name("KIND")
        ->group(kVideo);
    auto* intervalOption =
        app.add_option("--interval", interval, "Time between pictures in milliseconds, 1 to 60000 (default 200)")
            ->type_name("MS")
            ->check(Quiet(CLI::Range(1, 60000)))
            ->group(kVideo);
    auto* fpsOption = app.add_option("--fps", fps, "Pictures per second (instead of --interval)")
                          ->type_name("RATE")
                          ->check(Quiet(CLI::Range(0.017, 1000.0)))
                          ->group(kVideo);
    app.add_option("--quality", options.quality, "Picture quality in percent, 0 to 100 (default 60)")
        ->type_name("PERCENT")
        ->check(Quiet(CLI::Range(0, 100)))
        ->group(kVideo);
    app.add_option("--standard", standard, "Video standard pal or ntsc (default pal; the model file may override it)")
        ->type_name("STD")
        ->group(kVideo);
    app.add_flag("--input", options.showInputs, "Show the camera's sensor inputs and print every change")
        ->group(kVideo);
    app.add_option("--output", outputs, "Switch alarm output N (counting from 1) on or off at start; repeatable")
        ->type_name("N=on|off")
        ->group(kVideo);
    app.add_option("-d,--duration", options.durationS,
                   "Record for SECONDS, then stop (default: until Ctrl-C or SIGTERM, which stop cleanly)")
        ->type_name("SECONDS")
        ->check(Quiet(CLI::Range(0.0, 31.0 * 24 * 3600)))
        ->group(kRecording);
    app.add_option("-o,--output-dir", options.outputDir, "Directory for the recording (default recordings/<date-time>)")
        ->type_name("DIR")
        ->group(kRecording);
    app.add_option("--format", format,
                   "mkv (Matroska), avi, jpeg (a file per picture and index.csv), or a video format and jpeg "
                   "as mkv,jpeg (default mkv)")
        ->type_name("FORMAT")
        ->group(kRecording);
    app.add_option("--segment", options.segmentS,
                   "Start a new video file at every multiple of SECONDS on the clock, 1 to 86400 (default 600)")
        ->type_name("SECONDS")
        ->check(Quiet(CLI::Range(1, 86400)))
        ->group(kRecording);
    app.add_option("--max-disk", maxDisk,
                   "Keep the recording's video files within SIZE (500M, 2G ...), deleting the oldest first")
        ->type_name("SIZE")
        ->group(kRecording);
    app.add_option("--keep", options.keepDays, "Delete video files older than DAYS (default: kept)")
        ->type_name("DAYS")
        ->check(Quiet(CLI::Range(0.001, 36500.0)))
        ->group(kRecording);
    app.add_option("--first-picture-timeout", options.firstPictureTimeoutS,
                   "A camera silent for SECONDS is reconnected; by hand, the run gives up when no camera sent a "
                   "picture by then (default 10)")
        ->type_name("SECONDS")
        ->check(Quiet(CLI::Range(1, 3600)))
        ->group(kRecording);
    app.add_option("--retry-max", options.retryMaxS, "Longest wait between reconnection attempts (default 60)")
        ->type_name("SECONDS")
        ->check(Quiet(CLI::Range(1, 3600)))
        ->group(kRecording);
    app.add_option("--library", options.library, "Path of libHalyard.so (default: found next to the executable)")
        ->type_name("PATH")
        ->group(kRecording);
    std::string live;
    auto* liveOption = app.add_option("--http", live,
                                      "Live view, status and recordings in the browser on ADDRESS:PORT "
                                      "(default 127.0.0.1:8080); other than loopback needs --http-password-file")
                           ->type_name("[ADDRESS:PORT]")
                           ->expected(0, 1)
                           ->group(kLive);
    app.add_option("--http-password-file", options.livePasswordFile,
                   "Password for the live view (first line of FILE): HTTPS with a certificate made at start, "
                   "log-in required, output switches allowed")
        ->type_name("FILE")
        ->group(kLive);
    app.add_flag("-q,--quiet", options.quiet, "No status line; only warnings, errors and the summary")
        ->group(kMessages);
    app.add_option("--log-level", logLevel, "Driver messages shown: error, warning, info (default) or debug")
        ->type_name("LEVEL")
        ->group(kMessages);
    app.add_flag("--verbose", options.verbose,
                 "Debug messages with the driver's function names, the library used and simulator traffic")
        ->group(kMessages);
    app.add_flag("--version", version, "Print the version and exit")->group(kMessages);

    m_help = app.help();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return Result::Help;
    } catch (const CLI::CallForAllHelp&) {
        return Result::Help;
    } catch (const CLI::ParseError& e) {
        m_message = e.what();
        return Result::Error;
    }
    // Checked here rather than by the parser, which would print the
    // exclusions into the help.
    if (pwFile->count() > 0 && pwAsk->count() > 0) {
        m_message = "--password-file and --ask-password exclude each other";
        return Result::Error;
    }
    if (intervalOption->count() > 0 && fpsOption->count() > 0) {
        m_message = "--interval and --fps exclude each other";
        return Result::Error;
    }
    if (version) {
        m_help = std::string("halyard-record ") + HALYARD_RECORD_VERSION + "\n";
        return Result::Help;
    }

    options.cameras.clear();
    for (const auto& text : cameras) {
        CameraTarget target;
        target.port = defaultPort != 0 ? defaultPort : options.https ? 443 : 80;
        if (!ParseCamera(text, target, m_message)) return Result::Error;
        options.cameras.push_back(target);
    }
    options.httpPort = defaultPort;
    if (!options.cameras.empty() && simOption->count() > 0) {
        m_message = "--simulate and --camera exclude each other";
        return Result::Error;
    }
    if (!options.configFile.empty() && (!options.cameras.empty() || simOption->count() > 0)) {
        m_message = "--config names the cameras; leave out --camera and --simulate";
        return Result::Error;
    }
    options.simulated = options.cameras.empty() && options.configFile.empty() ? (simulated == 0 ? 1 : simulated) : 0;
    if (userOption->count() > 0 && options.passwordFile.empty() && !options.askPassword) {
        m_message = "--user " + options.user + " needs its password: add --password-file FILE or --ask-password";
        return Result::Error;
    }

    if (!ParseResolution(resolution, options.resolution, m_message)) {
        m_message = "--resolution " + m_message;
        return Result::Error;
    }

    if (intervalOption->count() > 0) {
        options.intervalMs = interval;
    } else if (fpsOption->count() > 0) {
        options.intervalMs = static_cast<uint32_t>(std::floor(1000.0 / fps));
        if (options.intervalMs == 0) options.intervalMs = 1;
    }

    if (standard == "pal" || standard == "PAL") {
        options.standard = 0;
    } else if (standard == "ntsc" || standard == "NTSC") {
        options.standard = 1;
    } else {
        m_message = "--standard \"" + standard + "\": expected pal or ntsc";
        return Result::Error;
    }
    if (!ParseInterface(api, options.api, m_message)) {
        m_message = "--interface " + m_message;
        return Result::Error;
    }
    if (!ParseFormat(format, options.video, options.writeJpeg)) {
        m_message = "--format \"" + format + "\": expected mkv, avi, jpeg, mkv,jpeg or avi,jpeg";
        return Result::Error;
    }
    options.maxDiskBytes = 0;
    if (!maxDisk.empty() && (!ParseSize(maxDisk, options.maxDiskBytes) || options.maxDiskBytes < (1u << 20))) {
        m_message = "--max-disk \"" + maxDisk + "\": expected a size of at least 1M such as 500M or 2G";
        return Result::Error;
    }
    if (options.verbose) options.logLevel = 100;
    if (!logLevel.empty()) {
        static const std::map<std::string, int> kLevels = {{"error", 1}, {"warning", 2}, {"info", 3}, {"debug", 100}};
        const auto level = kLevels.find(logLevel);
        if (level == kLevels.end()) {
            m_message = "--log-level \"" + logLevel + "\": expected error, warning, info or debug";
            return Result::Error;
        }
        options.logLevel = level->second;
    } else if (options.quiet && !options.verbose) {
        options.logLevel = 2;
    }

    options.outputs.clear();
    for (const auto& text : outputs) {
        OutputRequest request;
        if (!ParseOutput(text, request, m_message)) return Result::Error;
        options.outputs.push_back(request);
    }
    options.live = liveOption->count() > 0;
    if (options.live && !live.empty() && !ParseListen(live, options.liveAddress, options.livePort, m_message)) {
        return Result::Error;
    }
    if (!options.live && !options.livePasswordFile.empty()) {
        m_message = "--http-password-file needs --http";
        return Result::Error;
    }
    if (options.live && options.livePasswordFile.empty() && !CLiveServer::IsLoopback(options.liveAddress)) {
        m_message = "--http " + options.liveAddress + ": serving beyond this computer needs --http-password-file";
        return Result::Error;
    }
    if (options.model.empty() || options.model.find('/') != std::string::npos) {
        m_message = "--model \"" + options.model + "\": expected a model name such as SNC-RZ50P";
        return Result::Error;
    }
    return Result::Run;
}

}  // namespace kestrel::record
