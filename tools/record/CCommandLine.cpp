#include "tools/record/CCommandLine.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <map>

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
  Without --camera, halyard-record starts simulated cameras inside the process
  (--simulate, 1 by default) on free loopback ports and records them: the demo
  needs no hardware. Several --camera options record several cameras at once,
  all with the same model, credentials and video settings.

Output:
  DIR/cameraN/NNNNNN.jpg and DIR/cameraN/index.csv (frame,arrival_time,size,width,height;
  arrival_time in seconds since 1970 UTC) for --format jpeg; DIR/cameraN.avi
  (Motion JPEG, opens in common players) for --format avi; both for --format both.
  DIR/summary.csv holds the figures of the run. DIR defaults to
  recordings/<date-time> under the current directory.

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

Exit status:
  0 recorded; 1 other failure; 2 wrong option or value; 3 driver library not
  loadable; 4 camera cannot be reached; 5 user name or password refused;
  6 model file missing; 7 no picture arrived; 8 recording could not be written.

Examples:
  halyard-record --duration 10
  halyard-record -c 192.168.0.90 -m SNC-RZ50P -u admin --ask-password -r 4cif --fps 25 --format avi
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
    std::string format = "jpeg";
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
    app.add_option("--format", format, "jpeg (a file per picture and index.csv), avi (Motion JPEG) or both (default jpeg)")
        ->type_name("FORMAT");
    app.add_flag("--input", options.showInputs, "Show the camera's sensor inputs and print every change");
    app.add_option("--output", outputs, "Switch alarm output N (counting from 1) on or off at start; repeatable")
        ->type_name("N=on|off");
    app.add_option("--library", options.library, "Path of libHalyard.so (default: found next to the executable)")
        ->type_name("PATH");
    app.add_option("--first-picture-timeout", options.firstPictureTimeoutS,
                   "Give up when a camera sent no picture after SECONDS (default 10)")
        ->type_name("SECONDS")
        ->check(Quiet(CLI::Range(1, 3600)));
    std::string http;
    auto* httpOption = app.add_option("--http", http,
                                      "Live view, status and recordings in the browser on ADDRESS:PORT "
                                      "(default 127.0.0.1:8080); other than loopback needs --http-password-file")
                           ->type_name("[ADDRESS:PORT]")
                           ->expected(0, 1);
    app.add_option("--http-password-file", options.httpPasswordFile,
                   "Password for the live view (first line of FILE): HTTPS with a certificate made at start, "
                   "log-in required, output switches allowed")
        ->type_name("FILE");
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

    if (format == "jpeg") {
        options.writeJpeg = true;
        options.writeAvi = false;
    } else if (format == "avi") {
        options.writeJpeg = false;
        options.writeAvi = true;
    } else if (format == "both") {
        options.writeJpeg = true;
        options.writeAvi = true;
    } else {
        m_message = "--format \"" + format + "\": expected jpeg, avi or both";
        return Result::Error;
    }

    options.outputs.clear();
    for (const auto& text : outputs) {
        OutputRequest request;
        if (!ParseOutput(text, request, m_message)) return Result::Error;
        options.outputs.push_back(request);
    }
    options.http = httpOption->count() > 0;
    if (options.http && !http.empty() && !ParseListen(http, options.httpAddress, options.httpPort, m_message)) {
        return Result::Error;
    }
    if (!options.http && !options.httpPasswordFile.empty()) {
        m_message = "--http-password-file needs --http";
        return Result::Error;
    }
    if (options.http && options.httpPasswordFile.empty() && !CLiveServer::IsLoopback(options.httpAddress)) {
        m_message = "--http " + options.httpAddress + ": serving beyond this computer needs --http-password-file";
        return Result::Error;
    }
    if (options.model.empty() || options.model.find('/') != std::string::npos) {
        m_message = "--model \"" + options.model + "\": expected a model name such as SNC-RZ50P";
        return Result::Error;
    }
    return Result::Run;
}

}  // namespace kestrel::record
