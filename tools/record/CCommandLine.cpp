#include "tools/record/CCommandLine.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <map>

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
  Without --camera, halyard-record starts simulated cameras inside the process
  (--simulate, 1 by default) on free loopback ports and records them: the demo
  needs no hardware. Several --camera options record several cameras at once,
  all with the same model, credentials and video settings.

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

Driver:
  The model file MODEL.xml must be in the directory of the halyard-record
  executable. The driver library is looked up next to the executable, in ../lib
  and in the build tree, unless --library names it.

Exit status:
  0 recorded; 1 other failure; 2 wrong option or value; 3 driver library not
  loadable; 4 camera cannot be reached; 5 user name or password refused;
  6 model file missing; 7 no picture arrived; 8 recording could not be written.

Examples:
  halyard-record --duration 10
  halyard-record -c 192.168.0.90 -m SNC-RZ50P -u admin --ask-password -r 4cif --fps 25 --max-disk 20G
  halyard-record -c 192.168.0.90 --input --output 1=on --duration 5
)";

}  // namespace

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
        case 'K': unit = 1024.0; break;
        case 'M': unit = 1024.0 * 1024; break;
        case 'G': unit = 1024.0 * 1024 * 1024; break;
        case 'T': unit = 1024.0 * 1024 * 1024 * 1024; break;
        default: break;
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
    std::string state = text.substr(eq + 1);
    for (char& c : state) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (state == "on" || state == "1") {
        request.on = true;
    } else if (state == "off" || state == "0") {
        request.on = false;
    } else {
        error = "--output \"" + text + "\": the state must be on or off";
        return false;
    }
    request.index = static_cast<uint32_t>(index - 1);
    return true;
}

CCommandLine::Result CCommandLine::Parse(int argc, const char* const* argv, RecordOptions& options) {
    CLI::App app{"halyard-record: records Sony G4 IP cameras through the Halyard capture driver "
                 "(libHalyard.so), loaded exactly as a network video recorder loads it."};
    app.name("halyard-record");
    app.footer(kFooter);
    app.get_formatter()->column_width(30);

    std::vector<std::string> cameras;
    uint16_t defaultPort = 80;
    uint32_t simulated = 0;
    std::string resolution = "cif";
    uint32_t interval = 0;
    double fps = 0;
    std::string standard = "pal";
    std::string api = "legacy";
    std::string format = "mkv";
    std::string maxDisk;
    std::vector<std::string> outputs;

    app.add_option("-c,--camera", cameras,
                   "Camera to record; PORT is its HTTP port. Repeat for several cameras")
        ->type_name("ADDRESS[:PORT]");
    app.add_option("--port", defaultPort, "HTTP port of cameras given without one (default 80)")
        ->type_name("PORT")
        ->check(Quiet(CLI::Range(1, 65535)));
    auto* simOption = app.add_option("--simulate", simulated,
                                     "Record N simulated cameras started inside the process, 1 to 64 "
                                     "(default: 1 when no --camera is given)")
                          ->type_name("N")
                          ->check(Quiet(CLI::Range(1, 64)));
    app.add_option("-m,--model", options.model, "Camera model; names the model file MODEL.xml (default SNC-RZ50P)")
        ->type_name("MODEL");
    app.add_option("-u,--user", options.user, "User name for the camera's web server")->type_name("NAME");
    auto* pwFile = app.add_option("--password-file", options.passwordFile,
                                  "Password: first line of FILE (- reads standard input)")
                       ->type_name("FILE");
    auto* pwAsk = app.add_flag("--ask-password", options.askPassword,
                               "Password: asked on the terminal, not echoed");
    pwFile->excludes(pwAsk);
    app.add_option("-r,--resolution", resolution,
                   "Picture size qcif, cif, 2cif or 4cif, as the model file defines them (default cif)")
        ->type_name("KIND");
    auto* intervalOption = app.add_option("-i,--interval", interval,
                                          "Time between pictures in milliseconds, 1 to 60000 (default 200)")
                               ->type_name("MS")
                               ->check(Quiet(CLI::Range(1, 60000)));
    auto* fpsOption = app.add_option("-f,--fps", fps, "Pictures per second (instead of --interval)")
                          ->type_name("RATE")
                          ->check(Quiet(CLI::Range(0.017, 1000.0)));
    intervalOption->excludes(fpsOption);
    app.add_option("-q,--quality", options.quality, "Picture quality in percent, 0 to 100 (default 60)")
        ->type_name("PERCENT")
        ->check(Quiet(CLI::Range(0, 100)));
    app.add_option("--standard", standard, "Video standard pal or ntsc (default pal; the model file may override it)")
        ->type_name("STD");
    app.add_option("--interface", api,
                   "Driver interface: legacy (CreateCapture) or ip (CreateIPCapture); default legacy")
        ->type_name("API");
    app.add_option("-d,--duration", options.durationS,
                   "Record for SECONDS, then stop (default: until Ctrl-C, which stops cleanly)")
        ->type_name("SECONDS")
        ->check(Quiet(CLI::Range(0.0, 31.0 * 24 * 3600)));
    app.add_option("-o,--output-dir", options.outputDir, "Directory for the recording (default recordings/<date-time>)")
        ->type_name("DIR");
    app.add_option("--format", format,
                   "mkv (Matroska), avi, jpeg (a file per picture and index.csv), or a video format and jpeg "
                   "as mkv,jpeg (default mkv)")
        ->type_name("FORMAT");
    app.add_option("--segment", options.segmentS,
                   "Start a new video file at every multiple of SECONDS on the clock, 1 to 86400 (default 600)")
        ->type_name("SECONDS")
        ->check(Quiet(CLI::Range(1, 86400)));
    app.add_option("--max-disk", maxDisk,
                   "Keep the recording's video files within SIZE (500M, 2G ...), deleting the oldest first")
        ->type_name("SIZE");
    app.add_option("--keep", options.keepDays, "Delete video files older than DAYS (default: kept)")
        ->type_name("DAYS")
        ->check(Quiet(CLI::Range(0.001, 36500.0)));
    app.add_flag("--input", options.showInputs, "Show the camera's sensor inputs and print every change");
    app.add_option("--output", outputs, "Switch alarm output N (counting from 1) on or off at start; repeatable")
        ->type_name("N=on|off");
    app.add_option("--library", options.library, "Path of libHalyard.so (default: found next to the executable)")
        ->type_name("PATH");
    app.add_option("--first-picture-timeout", options.firstPictureTimeoutS,
                   "Give up when a camera sent no picture after SECONDS (default 10)")
        ->type_name("SECONDS")
        ->check(Quiet(CLI::Range(1, 3600)));
    app.add_flag("-v,--verbose", options.verbose, "Also show debug messages, the library used and simulator traffic");

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

    options.cameras.clear();
    for (const auto& text : cameras) {
        CameraTarget target;
        target.port = defaultPort;
        if (!ParseCamera(text, target, m_message)) return Result::Error;
        options.cameras.push_back(target);
    }
    if (!options.cameras.empty() && simOption->count() > 0) {
        m_message = "--simulate and --camera exclude each other";
        return Result::Error;
    }
    options.simulated = options.cameras.empty() ? (simulated == 0 ? 1 : simulated) : 0;

    static const std::map<std::string, int32_t> kKinds = {
        {"qcif", 1}, {"cif", 2}, {"2cif", 3}, {"4cif", 4}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}};
    std::string lower;
    for (char c : resolution) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto kind = kKinds.find(lower);
    if (kind == kKinds.end()) {
        m_message = "--resolution \"" + resolution + "\": expected qcif, cif, 2cif or 4cif";
        return Result::Error;
    }
    options.resolution = kind->second;

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

    if (api == "legacy") {
        options.api = DriverInterface::Legacy;
    } else if (api == "ip") {
        options.api = DriverInterface::IP;
    } else {
        m_message = "--interface \"" + api + "\": expected legacy or ip";
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

    options.outputs.clear();
    for (const auto& text : outputs) {
        OutputRequest request;
        if (!ParseOutput(text, request, m_message)) return Result::Error;
        options.outputs.push_back(request);
    }
    if (options.model.empty() || options.model.find('/') != std::string::npos) {
        m_message = "--model \"" + options.model + "\": expected a model name such as SNC-RZ50P";
        return Result::Error;
    }
    return Result::Run;
}

}  // namespace kestrel::record
