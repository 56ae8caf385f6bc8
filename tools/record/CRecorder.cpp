#include "tools/record/CRecorder.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/record/CConfigFile.h"
#include "tools/record/CEventLoop.h"
#include "tools/record/CGapTracker.h"
#include "tools/record/CPasswordReader.h"
#include "tools/record/CRecordingList.h"
#include "tools/record/CVideoSegmentWriter.h"

namespace kestrel::record {

namespace {

const char* const kKindNames[] = {"?", "qcif", "cif", "2cif", "4cif"};

bool MakeDirectories(const std::string& path) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y%m%d-%H%M%S", &local);
    return text;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

std::string Elapsed(double seconds) {
    const auto s = static_cast<long>(seconds);
    char text[32];
    std::snprintf(text, sizeof(text), "%02ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    return text;
}

}  // namespace

CRecorder::CRecorder(RecordOptions options)
    : m_options(std::move(options)), m_models(CModelDirectory::ExecutableDirectory()) {}

CRecorder::~CRecorder() {
    Shutdown();
    CPasswordReader::Wipe(m_options.password);
}

int CRecorder::Fail(ExitCode code, const std::string& line) {
    if (m_exit == ExitOk) {
        m_exit = code;
        m_error = line;
    }
    return m_exit;
}

int CRecorder::Run() {
    // Before any thread exists, so that every thread leaves the signals to
    // the main loop.
    CEventLoop loop(m_log.WakeFd());

    std::vector<CameraSetup> setups;
    Clock::time_point start = Clock::now();
    if (LoadDriver() && LoadSetups(setups) && PrepareOutput()) {
        bool ok = true;
        // Bound first: a port in use fails the run before any camera starts.
        if (m_options.live) ok = StartLiveView();
        for (auto& setup : setups) {
            if (ok) ok = StartCamera(std::move(setup));
        }
        if (ok && m_server) {
            UpdateBoard(0, 1);
            m_console.Line("live view: " + m_server->Url());
            if (m_server->Secure()) m_console.Line("live view certificate SHA-256 " + m_server->Fingerprint());
        }
        PrintLogs();
        if (ok) Record(loop);
    }
    Shutdown();
    PrintLogs();
    if (!m_options.quiet) m_console.EndStatus();
    Conclude(Seconds(Clock::now() - start));
    for (const auto& line : m_moreErrors) std::fprintf(stderr, "halyard-record: error: %s\n", line.c_str());
    if (m_exit != ExitOk) {
        RemoveEmptyOutput();
        std::fprintf(stderr, "halyard-record: error: %s\n", m_error.c_str());
    }
    return m_exit;
}

// Cameras from the configuration file, the command line or the simulator.
bool CRecorder::LoadSetups(std::vector<CameraSetup>& setups) {
    if (!m_options.configFile.empty()) {
        CConfigFile config;
        if (!config.Load(m_options.configFile, m_options, setups)) {
            Fail(ExitUsage, config.Error());
            return false;
        }
        m_configRoot = config.OutputRoot();
        return true;
    }
    if (!StartSimulators()) return false;
    for (size_t i = 0; i < m_targets.size(); ++i) {
        CameraSetup setup;
        setup.name = "camera" + std::to_string(i + 1);
        setup.target = m_targets[i];
        setup.options = m_options;
        setup.options.cameras.clear();
        setups.push_back(std::move(setup));
    }
    return true;
}

std::string CRecorder::FolderFor(const CameraSetup& setup) const {
    if (setup.folder.empty()) return m_outputDir + "/" + setup.name;
    return setup.folder + "/" + m_runStamp + "/" + setup.name;
}

bool CRecorder::StartCamera(CameraSetup setup) {
    setup.folder = FolderFor(setup);
    if (!m_options.configFile.empty()) {
        // A camera added again by a reload does not write over its earlier files.
        const std::string base = setup.folder;
        for (int n = 2; ::access(setup.folder.c_str(), F_OK) == 0 && n < 1000; ++n) {
            setup.folder = base + "-" + std::to_string(n);
        }
        const auto slash = setup.folder.rfind('/');
        if (slash != std::string::npos && !MakeDirectories(setup.folder.substr(0, slash))) {
            Fail(ExitWrite, "cannot create " + setup.folder.substr(0, slash) + ": " + std::strerror(errno));
            return false;
        }
    }
    const RecordOptions& o = setup.options;
    m_console.Line(setup.name + ": " + setup.target.address + ":" + std::to_string(setup.target.port) + ", model " +
                   o.model + ", " + kKindNames[o.resolution] + ", " + std::to_string(o.intervalMs) + " ms, quality " +
                   std::to_string(o.quality) + "%, " + (o.api == DriverInterface::IP ? "IP" : "legacy") + " interface");
    auto sinks = m_sinks->Make(setup.folder, setup.options);
    auto runner = std::make_unique<CCameraRunner>(std::move(setup), std::move(sinks), m_library, m_models, m_log);
    if (m_board) {
        auto latest = std::make_shared<CLatestPicture>();
        runner->Recording().SetLatest(latest);
        m_live[runner.get()] = LiveCamera{latest, {}};
    }
    std::string error;
    if (!runner->Start(error)) {
        Fail(ExitWrite, error + "; check the output directory and free disk space");
        return false;
    }
    m_runners.push_back(std::move(runner));
    m_last.emplace_back();
    return true;
}

// SIGHUP: cameras whose settings are unchanged go on untouched; removed
// ones stop, changed ones start again, new ones start.
void CRecorder::Reload() {
    if (m_options.configFile.empty()) {
        m_console.Line("SIGHUP: no --config to re-read");
        return;
    }
    CConfigFile config;
    std::vector<CameraSetup> setups;
    if (!config.Load(m_options.configFile, m_options, setups)) {
        m_console.Line("SIGHUP: " + config.Error() + "; keeping the running configuration");
        return;
    }
    size_t kept = 0, stopped = 0, started = 0;
    for (size_t i = 0; i < m_runners.size();) {
        CameraSetup wanted;
        bool found = false;
        for (const auto& setup : setups) {
            if (setup.name == m_runners[i]->Setup().name) {
                wanted = setup;
                wanted.folder = FolderFor(setup);
                found = true;
            }
        }
        const CameraSetup& before = m_runners[i]->Setup();
        const bool same = found && wanted.target == before.target && wanted.options == before.options &&
                          (wanted.folder == before.folder || before.folder.rfind(wanted.folder + "-", 0) == 0);
        if (same) {
            ++kept;
            ++i;
            continue;
        }
        m_runners[i]->Stop();
        m_finished.push_back(std::move(m_runners[i]));
        m_runners.erase(m_runners.begin() + static_cast<std::ptrdiff_t>(i));
        m_last.erase(m_last.begin() + static_cast<std::ptrdiff_t>(i));
        ++stopped;
    }
    for (auto& setup : setups) {
        bool running = false;
        for (const auto& runner : m_runners) running = running || runner->Setup().name == setup.name;
        if (running) continue;
        if (StartCamera(std::move(setup))) ++started;
    }
    m_console.Line("SIGHUP: " + m_options.configFile + " re-read: " + std::to_string(kept) + " unchanged, " +
                   std::to_string(stopped) + " stopped, " + std::to_string(started) + " started");
}

bool CRecorder::PrepareOutput() {
    m_runStamp = Timestamp();
    if (m_options.outputDir.empty() || !m_options.configFile.empty()) {
        const std::string& chosen = m_options.configFile.empty() ? m_options.outputDir : m_configRoot;
        const std::string root = chosen.empty() ? "recordings" : chosen;
        const std::string base = root + "/" + m_runStamp;
        m_outputDir = base;
        for (int n = 2; ::access(m_outputDir.c_str(), F_OK) == 0 && n < 1000; ++n) {
            m_outputDir = base + "-" + std::to_string(n);
        }
    } else {
        m_outputDir = m_options.outputDir;
        while (m_outputDir.size() > 1 && m_outputDir.back() == '/') m_outputDir.pop_back();
    }
    m_createdOutputDir = ::access(m_outputDir.c_str(), F_OK) != 0;
    // An earlier recording is never overwritten.
    if (!m_createdOutputDir) {
        for (const char* name : {"/summary.csv", "/camera1"}) {
            if (::access((m_outputDir + name).c_str(), F_OK) == 0) {
                const std::string dir = m_outputDir;
                m_outputDir.clear();
                Fail(ExitWrite, dir + " already holds a recording; choose another --output-dir");
                return false;
            }
        }
    }
    if (!MakeDirectories(m_outputDir)) {
        Fail(ExitWrite, "cannot create the output directory " + m_outputDir + ": " + std::strerror(errno) +
                            "; check --output-dir");
        return false;
    }
    m_sinks = std::make_unique<CRecordingSinks>(m_options, m_outputDir, m_log);
    return true;
}

// A run that failed before writing any picture leaves nothing behind, so
// that failed attempts do not pile up empty recordings.
void CRecorder::RemoveEmptyOutput() {
    if (m_outputDir.empty()) return;
    for (const auto* list : {&m_runners, &m_finished}) {
        for (const auto& runner : *list) {
            if (runner->Recording().Snapshot().written > 0) return;
        }
    }
    for (const auto* list : {&m_runners, &m_finished}) {
        for (const auto& runner : *list) {
            const std::string& base = runner->Setup().folder;
            ::unlink((base + "/index.csv").c_str());
            ::rmdir(base.c_str());
        }
    }
    ::unlink((m_outputDir + "/summary.csv").c_str());
    if (m_createdOutputDir) ::rmdir(m_outputDir.c_str());
}

bool CRecorder::StartSimulators() {
    if (m_options.simulated == 0) {
        m_targets = m_options.cameras;
        return true;
    }
    std::string error;
    if (!m_simulators.Start(m_options.simulated, m_options.user, m_options.password,
                            m_options.verbose ? &m_log : nullptr, m_targets, error)) {
        Fail(ExitFailure, "cannot start the simulated camera: " + error);
        return false;
    }
    m_console.Line("started " + std::to_string(m_targets.size()) + " simulated camera" +
                   (m_targets.size() == 1 ? "" : "s") + " on 127.0.0.1");
    return true;
}

bool CRecorder::LoadDriver() {
    const std::vector<std::string> candidates = m_options.library.empty()
                                                    ? CDriverLibrary::DefaultCandidates(m_models.Path())
                                                    : std::vector<std::string>{m_options.library};
    std::string error;
    if (!m_library.Load(candidates, error)) {
        Fail(ExitLibrary, error);
        return false;
    }
    if (m_options.verbose) m_console.Line("driver library " + m_library.Path());
    if (m_options.https && !m_options.insecure) {
        m_console.Line(
            "warning: the driver encrypts but does not check the camera's certificate against an "
            "authority or its name; it keeps the first key it sees (--insecure drops this warning)");
    }
    return true;
}

void CRecorder::Record(CEventLoop& loop) {
    const auto start = Clock::now();
    const bool timed = m_options.durationS > 0;
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(timed ? m_options.durationS : 0));
    auto nextStatus = start + std::chrono::seconds(1);
    auto lastStatus = start;
    auto nextToggle = start + std::chrono::seconds(3);
    m_console.Line(std::string("recording into ") + m_outputDir + "/" +
                   (timed ? " for " + Fixed(m_options.durationS, 1) + " s" : " until Ctrl-C"));
    for (;;) {
        auto now = Clock::now();
        auto wake = nextStatus;
        if (timed && deadline < wake) wake = deadline;
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
        const CEventLoop::Event event = loop.Wait(static_cast<int>(waitMs < 0 ? 0 : waitMs + 1));
        PrintLogs();
        now = Clock::now();
        if (event == CEventLoop::Event::Signal) {
            if (loop.LastSignal() == SIGHUP) {
                if (!m_options.quiet) m_console.EndStatus();
                Reload();
                continue;
            }
            if (!m_options.quiet) m_console.EndStatus();
            m_console.Line(std::string(loop.LastSignal() == SIGINT ? "Ctrl-C" : "SIGTERM") + ": stopping");
            return;
        }
        if (!CheckCameras(now, start)) return;
        if (timed && now >= deadline) return;
        if (now >= nextStatus) {
            PrintStatus(Seconds(now - start), Seconds(now - lastStatus));
            UpdateBoard(Seconds(now - start), Seconds(now - lastStatus));
            lastStatus = now;
            while (nextStatus <= now) nextStatus += std::chrono::seconds(1);
        }
        if (m_options.simulated > 0 && m_options.showInputs && now >= nextToggle) {
            m_simulators.ToggleSensors();
            nextToggle += std::chrono::seconds(3);
        }
    }
}

// False when the run has to end: a write failure, a setting no camera can
// record with, or (on the command line) no camera recording at all.
bool CRecorder::CheckCameras(Clock::time_point now, Clock::time_point start) {
    bool anyPicture = false;
    bool allFailed = !m_runners.empty();
    for (auto& runner : m_runners) {
        CCameraRecording& recording = runner->Recording();
        if (recording.WriterFailed()) {
            if (!m_options.quiet) m_console.EndStatus();
            Fail(ExitWrite, recording.WriterError() + "; check the output directory and free disk space");
            return false;
        }
        const auto status = runner->CurrentStatus();
        if (status.fatal != ExitOk) {
            if (!m_options.quiet) m_console.EndStatus();
            // As a service the other cameras go on; the line goes to the log once.
            if (!m_options.configFile.empty()) {
                if (m_fatalShown.insert(runner.get()).second) m_console.Line("error: " + status.fatalLine);
                continue;
            }
            Fail(status.fatal, status.fatalLine);
            return false;
        }
        anyPicture = anyPicture || recording.HasPicture();
        allFailed = allFailed && recording.Problem() != CameraProblem::None;
    }
    // A recorder started by hand that records nothing says why at once
    // instead of retrying; as a service it keeps retrying.
    if (m_options.configFile.empty() && !anyPicture &&
        (allFailed || now - start >= std::chrono::seconds(m_options.firstPictureTimeoutS))) {
        return false;
    }
    return true;
}

std::pair<ExitCode, std::string> CRecorder::CauseOf(const CCameraRunner& runner) const {
    const CCameraRecording& recording = runner.Recording();
    const std::string who =
        recording.Label() + " (" + recording.Target().address + ":" + std::to_string(recording.Target().port) + ")";
    if (recording.Problem() != CameraProblem::None) {
        return {CMessageClassifier::ExitFor(recording.Problem()), ProblemLine(runner)};
    }
    const auto status = runner.CurrentStatus();
    const double ran = Seconds(runner.StoppedAt() - runner.StartedAt());
    const uint32_t limit = runner.Setup().options.firstPictureTimeoutS;
    if (status.answered) {
        return {ExitNoPicture,
                who + " took its settings but sent no picture in " + Fixed(ran, 0) +
                    " s: check that UDP from the camera to ports 3556-4555 of this computer is not blocked "
                    "(firewall) and that the camera can send JPEG"};
    }
    if (ran >= limit) {
        return {ExitNoAnswer, who + " did not answer within " + Fixed(ran, 0) +
                                  " s: it takes the connection but its web server does not reply; restart the "
                                  "camera or check what listens on that port"};
    }
    return {ExitStoppedEarly, who + " had sent no picture when the recording stopped after " + Fixed(ran, 1) +
                                  " s (it was still connecting); nothing of it was recorded"};
}

std::string CRecorder::ProblemLine(const CCameraRunner& runner) const {
    const CCameraRecording& recording = runner.Recording();
    const RecordOptions& options = runner.Setup().options;
    const std::string who =
        recording.Label() + " (" + recording.Target().address + ":" + std::to_string(recording.Target().port) + ")";
    const std::string detail = recording.ProblemDetail();
    switch (recording.Problem()) {
    case CameraProblem::Unreachable:
        return who +
               " cannot be reached: check the address and HTTP port (--camera ADDRESS:PORT), the "
               "network, and that the camera is switched on";
    case CameraProblem::NoAnswer:
        return who +
               " takes the connection but does not answer: restart the camera or check what "
               "listens on that port";
    case CameraProblem::Credentials:
        return who +
               " refused the user name or password: check --user and the password "
               "(--password-file or --ask-password)";
    case CameraProblem::ModelFile: {
        if (!m_models.Has(options.model)) {
            std::string available;
            for (const auto& m : m_models.List()) {
                if (!available.empty()) available += ", ";
                available += m;
            }
            return "model file " + options.model + ".xml not found in " + m_models.Path() +
                   ": check --model (available: " + (available.empty() ? "none" : available) + ")";
        }
        return "model file " + m_models.Path() + options.model + ".xml cannot be used" +
               (detail.empty() ? "" : " (" + detail + ")") + ": check its content";
    }
    case CameraProblem::NotSupported:
        return who + " does not know a command the driver sends (" + CMessageClassifier::WithoutOrigin(detail) +
               "): check that it is a Sony G4 camera and that --model matches it";
    case CameraProblem::HttpStatus:
        return who + " answered with an HTTP error (" + CMessageClassifier::WithoutOrigin(detail) +
               "): check the camera's web settings";
    case CameraProblem::NoPicture:
    case CameraProblem::StartRefused:
    case CameraProblem::OpenFailed:
        return who + ": " + detail;
    case CameraProblem::WriteFailed:
        return detail + "; check the output directory and free disk space";
    case CameraProblem::None:
        break;
    }
    return who + ": failed";
}

// Every camera that recorded nothing is named; the first one's cause is the
// exit status unless the run failed for a reason of its own.
void CRecorder::Conclude(double runS) {
    std::vector<std::pair<ExitCode, std::string>> causes;
    bool anyStarted = false;
    uint64_t pictures = 0;
    for (const auto* list : {&m_finished, &m_runners}) {
        for (const auto& runner : *list) {
            anyStarted = true;
            const auto figures = runner->Recording().Snapshot();
            pictures += figures.pictures;
            if (figures.written == 0) causes.push_back(CauseOf(*runner));
        }
    }
    const bool failedBefore = m_exit != ExitOk;
    for (size_t i = 0; i < causes.size(); ++i) {
        if (!failedBefore && i == 0) {
            Fail(causes[i].first, causes[i].second);
        } else if (!failedBefore || causes.size() > 1) {
            m_moreErrors.push_back(causes[i].second);
        }
    }
    if (failedBefore && causes.size() == 1) m_moreErrors.clear();
    // A failed run without pictures ends with its error lines only.
    if (anyStarted && (pictures > 0 || m_exit == ExitOk)) PrintSummary(runS);
}

void CRecorder::PrintLogs() {
    for (const auto& line : m_log.Drain()) m_console.Line(line);
}

void CRecorder::PrintStatus(double elapsedS, double sinceLastS) {
    if (m_options.quiet) return;
    uint64_t pictures = 0;
    uint64_t lost = 0;
    uint64_t newPictures = 0;
    uint64_t newBytes = 0;
    size_t streaming = 0;
    std::string states;
    for (size_t i = 0; i < m_runners.size(); ++i) {
        const CCameraRunner& runner = *m_runners[i];
        const auto figures = runner.Recording().Snapshot();
        pictures += figures.pictures;
        lost += figures.lost;
        newPictures += figures.pictures - m_last[i].pictures;
        newBytes += figures.bytes - m_last[i].bytes;
        m_last[i] = figures;
        const auto status = runner.CurrentStatus();
        if (status.state == CCameraLifecycle::State::Streaming) {
            ++streaming;
            if (m_runners.size() > 1) continue;
        }
        if (m_runners.size() == 1) {
            states = status.text;
            const std::string inputs = runner.Recording().InputText();
            if (!inputs.empty()) states += ", inputs " + inputs;
        } else {
            states += ", " + runner.Setup().name + " " + status.text;
        }
    }
    const double span = sinceLastS > 0 ? sinceLastS : 1;
    std::string text = Elapsed(elapsedS) + "  " + std::to_string(pictures) + " pictures  " +
                       Fixed(static_cast<double>(newPictures) / span, 1) + "/s  " +
                       Fixed(static_cast<double>(newBytes) * 8 / 1000 / span, 0) + " kbit/s  lost " +
                       std::to_string(lost) + "  ";
    if (m_runners.size() == 1) {
        text += states;
    } else {
        text += std::to_string(streaming) + "/" + std::to_string(m_runners.size()) + " streaming" + states;
    }
    m_console.Status(text);
}

void CRecorder::Shutdown() {
    // Viewers go first: nothing they ask may reach a camera being closed.
    if (m_board) m_board->Close();
    if (m_server) m_server->Stop();
    for (auto& runner : m_runners) runner->Stop();
    // Cameras go after the driver let go of them.
    m_simulators.Stop();
    for (auto& runner : m_runners) {
        if (runner->Recording().WriterFailed()) {
            Fail(ExitWrite, runner->Recording().WriterError() + "; check the output directory and free disk space");
        }
    }
}

bool CRecorder::StartLiveView() {
    m_board = std::make_unique<CLiveBoard>();
    LiveServerOptions options;
    options.address = m_options.liveAddress;
    options.port = m_options.livePort;
    options.password = m_options.livePassword;
    m_server = std::make_unique<CLiveServer>(*m_board, options);
    std::string error;
    if (!m_server->Start(error)) {
        m_server.reset();
        Fail(ExitFailure, "live view: " + error + "; choose another --http ADDRESS:PORT");
        return false;
    }
    return true;
}

// The same figures as the status line, for the page; cameras a reload
// removed leave the page with this update.
void CRecorder::UpdateBoard(double elapsedS, double sinceLastS) {
    if (!m_board) return;
    const double span = sinceLastS > 0 ? sinceLastS : 1;
    std::vector<CLiveBoard::Camera> cameras;
    for (auto& owned : m_runners) {
        CCameraRunner* runner = owned.get();
        LiveCamera& live = m_live[runner];
        const auto figures = runner->Recording().Snapshot();
        const auto status = runner->CurrentStatus();
        CLiveBoard::Camera c;
        LiveCameraStatus& s = c.status;
        s.name = runner->Setup().name;
        s.address = runner->Setup().target.address + ":" + std::to_string(runner->Setup().target.port);
        s.state = status.text;
        s.pictures = figures.pictures;
        s.lost = figures.lost;
        s.picturesPerS = static_cast<double>(figures.pictures - live.last.pictures) / span;
        s.kbitPerS = static_cast<double>(figures.bytes - live.last.bytes) * 8 / 1000 / span;
        s.inputs = runner->Recording().InputStates();
        s.outputs = status.outputs;
        live.last = figures;
        c.latest = live.latest;
        s.gaps = runner->Recording().Gaps().size();
        const VideoFormat video = runner->Setup().options.video;
        if (video != VideoFormat::None) {
            c.recordings = [folder = runner->Setup().folder,
                            extension = std::string(".") + CVideoSegmentWriter::Extension(video)] {
                return CRecordingList::Scan(folder, "", extension, true);
            };
        }
        c.switchOutput = [runner](uint32_t output, bool on, std::string& error) {
            return runner->RequestOutput(output, on, error);
        };
        cameras.push_back(std::move(c));
    }
    m_board->Update(std::move(cameras), elapsedS);
}

void CRecorder::PrintSummary(double runS) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double user = static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6;
    const double system = static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6;

    m_console.Line("summary:");
    uint64_t totalPictures = 0;
    uint64_t totalLost = 0;
    std::string never;
    size_t cameras = 0;
    for (const auto* list : {&m_finished, &m_runners}) {
        for (const auto& runner : *list) {
            ++cameras;
            const CCameraRecording& r = runner->Recording();
            const auto f = r.Snapshot();
            totalPictures += f.pictures;
            totalLost += f.lost;
            const double s = Seconds(runner->StoppedAt() - runner->StartedAt());
            std::string line = "  " + r.Label() + " " + r.Target().address + ":" + std::to_string(r.Target().port) +
                               ": " + std::to_string(f.pictures) + " pictures in " + Fixed(s, 1) + " s";
            if (s > 0 && f.pictures > 0) {
                line += " (" + Fixed(static_cast<double>(f.pictures) / s, 1) + "/s, " +
                        Fixed(static_cast<double>(f.bytes) * 8 / 1000 / s, 0) + " kbit/s)";
            }
            line += ", " + std::to_string(f.lost) + " lost" +
                    (f.pictures == 0 ? ""
                     : f.lossExact   ? " (by picture number)"
                                     : " (estimated from timing)");
            if (f.refused > 0) line += ", " + std::to_string(f.refused) + " refused (disk too slow)";
            line += ", " + std::to_string(f.written) + " written";
            const uint32_t attempts = runner->CurrentStatus().attempts;
            if (attempts > 1) line += ", connected " + std::to_string(attempts) + " times";
            if (f.skipped > 0) line += ", " + std::to_string(f.skipped) + " not stored (disk full)";
            if (f.written == 0) {
                line += ", NEVER RECORDED";
                never += (never.empty() ? "" : ", ") + r.Label();
            }
            m_console.Line(line);
            for (const std::string& gap : CGapTracker::Describe(r.Gaps())) m_console.Line("    " + gap);
        }
    }
    if (m_options.video != VideoFormat::None) m_console.Line("  video:    " + m_sinks->VideoPattern());
    if (m_options.writeJpeg)
        m_console.Line("  pictures: " + m_outputDir + "/cameraN/NNNNNN.jpg, index in cameraN/index.csv");
    if (m_sinks && m_sinks->Retention().Deleted() > 0) {
        m_console.Line("  deleted:  " + std::to_string(m_sinks->Retention().Deleted()) +
                       " old video files to stay within the disk limits");
    }
    const double cpu = user + system;
    std::string cpuLine = "  CPU: " + Fixed(user, 2) + " s user + " + Fixed(system, 2) + " s system";
    if (runS >= 1) cpuLine += " = " + Fixed(100.0 * cpu / runS, 1) + "% of one core over " + Fixed(runS, 1) + " s";
    if (m_options.simulated > 0) cpuLine += " (simulated cameras included)";
    m_console.Line(cpuLine);
    if (cameras > 1) {
        m_console.Line("  total: " + std::to_string(totalPictures) + " pictures, " + std::to_string(totalLost) +
                       " lost");
    }
    if (!never.empty()) m_console.Line("  never recorded: " + never);
    WriteSummary(user, system);
}

void CRecorder::WriteSummary(double cpuUser, double cpuSystem) {
    const std::string path = m_outputDir + "/summary.csv";
    std::FILE* f = std::fopen(path.c_str(), "we");
    if (f == nullptr) {
        Fail(ExitWrite, "cannot create " + path + ": " + std::strerror(errno));
        return;
    }
    std::fputs(
        "camera,address,pictures,written,lost,loss_exact,refused,bytes,seconds,pictures_per_s,kbit_per_s,"
        "problem,cpu_user_s,cpu_system_s,gaps,gap_seconds,not_stored,connections\n",
        f);
    for (const auto* list : {&m_finished, &m_runners}) {
        for (const auto& runner : *list) {
            const CCameraRecording& r = runner->Recording();
            const auto fig = r.Snapshot();
            const double s = Seconds(runner->StoppedAt() - runner->StartedAt());
            const double rate = s > 0 ? static_cast<double>(fig.pictures) / s : 0;
            const double kbit = s > 0 ? static_cast<double>(fig.bytes) * 8 / 1000 / s : 0;
            const char* problem = fig.written > 0                      ? "none"
                                  : r.Problem() != CameraProblem::None ? CMessageClassifier::Name(r.Problem())
                                  : runner->CurrentStatus().answered   ? "no-picture"
                                                                       : "no-answer";
            const auto gaps = r.Gaps();
            double gapS = 0;
            for (const auto& gap : gaps) gapS += static_cast<double>(gap.lengthUs) / 1e6;
            std::fprintf(f,
                         "%s,%s:%u,%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%d,%" PRIu64 ",%" PRIu64
                         ",%.3f,%.2f,%.1f,%s,%.3f,%.3f,%zu,%.3f,%" PRIu64 ",%u\n",
                         r.Label().c_str(), r.Target().address.c_str(), r.Target().port, fig.pictures, fig.written,
                         fig.lost, fig.lossExact ? 1 : 0, fig.refused, fig.bytes, s, rate, kbit, problem, cpuUser,
                         cpuSystem, gaps.size(), gapS, fig.skipped, runner->CurrentStatus().attempts);
        }
    }
    if (std::fclose(f) != 0) Fail(ExitWrite, "cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace kestrel::record
