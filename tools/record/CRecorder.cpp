#include "tools/record/CRecorder.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "host/ICaptureIOApi.h"
#include "tools/record/CAviWriter.h"
#include "tools/record/CEventLoop.h"
#include "tools/record/CIPSession.h"
#include "tools/record/CJpegFileWriter.h"
#include "tools/record/CLegacySession.h"
#include "tools/record/CRecordingList.h"
#include "tools/record/CPasswordReader.h"

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
    // Before any thread exists, so that every thread leaves the two signals
    // to the main loop.
    CEventLoop loop(m_log.WakeFd());

    if (LoadDriver() && PrepareOutput() && StartSimulators()) {
        bool ok = true;
        for (uint32_t i = 0; ok && i < m_targets.size(); ++i) ok = OpenCamera(i + 1, m_targets[i]);
        for (auto& camera : m_cameras) {
            if (!ok) break;
            ok = StartIO(camera);
        }
        if (ok && m_options.http) ok = StartLiveView();
        for (auto& camera : m_cameras) {
            if (!ok) break;
            camera.started = Clock::now();
            camera.videoStarted = camera.session->StartVideo();
            if (!camera.videoStarted) ok = false;
        }
        PrintLogs();
        if (!ok) {
            for (auto& camera : m_cameras) {
                if (camera.recording->Problem() != CameraProblem::None) {
                    Fail(CMessageClassifier::ExitFor(camera.recording->Problem()), ProblemLine(*camera.recording));
                    break;
                }
            }
            Fail(ExitFailure, "the camera could not be started");
        } else {
            Record(loop);
        }
    }
    const auto stopStart = Clock::now();
    Shutdown();
    PrintLogs();
    m_console.EndStatus();
    // A failed run without pictures ends with its one error line only.
    uint64_t pictures = 0;
    bool anyStarted = false;
    for (const auto& camera : m_cameras) {
        anyStarted = anyStarted || camera.videoStarted;
        pictures += camera.recording->Snapshot().pictures;
    }
    if (anyStarted && (m_exit == ExitOk || pictures > 0)) {
        double runS = 0;
        for (const auto& camera : m_cameras) {
            if (camera.videoStarted) runS = std::max(runS, Seconds(camera.stopped - camera.started));
        }
        if (m_options.verbose) m_console.Line("stopped in " + Fixed(Seconds(Clock::now() - stopStart), 2) + " s");
        PrintSummary(runS);
    }
    if (m_exit != ExitOk) {
        RemoveEmptyOutput();
        std::fprintf(stderr, "halyard-record: error: %s\n", m_error.c_str());
    }
    return m_exit;
}

bool CRecorder::PrepareOutput() {
    if (m_options.outputDir.empty()) {
        const std::string base = "recordings/" + Timestamp();
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
        for (const char* name : {"/summary.csv", "/camera1", "/camera1.avi"}) {
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
    return true;
}

// A run that failed before writing any picture leaves nothing behind, so
// that failed attempts do not pile up empty recordings.
void CRecorder::RemoveEmptyOutput() {
    if (m_outputDir.empty()) return;
    for (const auto& camera : m_cameras) {
        if (camera.recording->Snapshot().written > 0) return;
    }
    for (const auto& camera : m_cameras) {
        const std::string base = m_outputDir + "/" + camera.recording->Label();
        if (m_options.writeJpeg) {
            ::unlink((base + "/index.csv").c_str());
            ::rmdir(base.c_str());
        }
        if (m_options.writeAvi) ::unlink((base + ".avi").c_str());
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
    return true;
}

bool CRecorder::OpenCamera(uint32_t number, const CameraTarget& target) {
    std::vector<std::unique_ptr<IPictureSink>> sinks;
    const std::string name = "camera" + std::to_string(number);
    if (m_options.writeJpeg) sinks.push_back(std::make_unique<CJpegFileWriter>(m_outputDir + "/" + name));
    if (m_options.writeAvi) {
        sinks.push_back(std::make_unique<CAviWriter>(m_outputDir + "/" + name + ".avi", m_options.intervalMs));
    }
    Camera camera;
    camera.recording = std::make_unique<CCameraRecording>(number, target, m_options, m_log, std::move(sinks));
    std::string error;
    if (!camera.recording->StartWriter(error)) {
        Fail(ExitWrite, error + "; check --output-dir and free disk space");
        return false;
    }
    if (m_options.api == DriverInterface::IP) {
        camera.session = std::make_unique<CIPSession>(m_library, m_models, *camera.recording, m_options);
    } else {
        camera.session = std::make_unique<CLegacySession>(m_library, m_models, *camera.recording, m_options);
    }
    m_cameras.push_back(std::move(camera));
    Camera& added = m_cameras.back();
    m_console.Line(name + ": " + target.address + ":" + std::to_string(target.port) + ", model " + m_options.model +
                   ", " + kKindNames[m_options.resolution] + ", " + std::to_string(m_options.intervalMs) +
                   " ms, quality " + std::to_string(m_options.quality) + "%, " +
                   (m_options.api == DriverInterface::IP ? "IP" : "legacy") + " interface");
    if (!added.session->Open()) {
        PrintLogs();
        Fail(CMessageClassifier::ExitFor(added.recording->Problem()), ProblemLine(*added.recording));
        return false;
    }
    return true;
}

bool CRecorder::StartLiveView() {
    m_board = std::make_unique<CLiveBoard>();
    for (auto& camera : m_cameras) {
        camera.latest = std::make_shared<CLatestPicture>();
        camera.recording->SetLatest(camera.latest);
    }
    UpdateBoard(0, 1);
    LiveServerOptions options;
    options.address = m_options.httpAddress;
    options.port = m_options.httpPort;
    options.password = m_options.httpPassword;
    m_server = std::make_unique<CLiveServer>(*m_board, options);
    std::string error;
    if (!m_server->Start(error)) {
        m_server.reset();
        Fail(ExitFailure, "live view: " + error + "; choose another --http ADDRESS:PORT");
        return false;
    }
    m_console.Line("live view: " + m_server->Url());
    if (m_server->Secure()) m_console.Line("live view certificate SHA-256 " + m_server->Fingerprint());
    return true;
}

void CRecorder::UpdateBoard(double elapsedS, double sinceLastS) {
    if (!m_board) return;
    const double span = sinceLastS > 0 ? sinceLastS : 1;
    std::vector<CLiveBoard::Camera> cameras;
    for (auto& camera : m_cameras) {
        const auto figures = camera.recording->Snapshot();
        CLiveBoard::Camera c;
        LiveCameraStatus& s = c.status;
        s.name = camera.recording->Label();
        s.address = camera.recording->Target().address + ":" + std::to_string(camera.recording->Target().port);
        s.state = camera.videoStarted ? StateName(camera.session->ChannelState(), figures.pictures > 0) : "starting";
        s.pictures = figures.pictures;
        s.lost = figures.lost;
        s.picturesPerS = static_cast<double>(figures.pictures - camera.board.pictures) / span;
        s.kbitPerS = static_cast<double>(figures.bytes - camera.board.bytes) * 8 / 1000 / span;
        s.inputs = camera.recording->InputStates();
        s.outputs = camera.ioStarted ? camera.outputs : 0;
        camera.board = figures;
        c.latest = camera.latest;
        c.recordings = [folder = m_outputDir, label = s.name] {
            return CRecordingList::Scan(folder, label, ".avi", true);
        };
        c.switchOutput = [this, &camera](uint32_t output, bool on, std::string& error) {
            if (camera.io == nullptr || !camera.ioStarted || output >= camera.outputs) {
                error = "this camera has no such output";
                return false;
            }
            if (!camera.io->RequestOutputState(output, on ? 2 : 1)) {
                error = "the camera did not switch output " + std::to_string(output + 1);
                return false;
            }
            camera.recording->Note("output", "output " + std::to_string(output + 1) + " switched " +
                                                 (on ? "on" : "off") + " from the live view");
            return true;
        };
        cameras.push_back(std::move(c));
    }
    m_board->Update(std::move(cameras), elapsedS);
}

bool CRecorder::StartIO(Camera& camera) {
    // The live view shows inputs and switches outputs.
    if (!m_options.showInputs && m_options.outputs.empty() && !m_options.http) return true;
    CCameraRecording& recording = *camera.recording;
    camera.io = camera.session->IOApi();
    if (camera.io == nullptr) {
        if (!m_options.outputs.empty()) {
            Fail(ExitFailure, recording.Label() + ": model " + m_options.model +
                                  " has no digital inputs or outputs; leave out --output");
            return false;
        }
        if (m_options.showInputs) recording.Note("warning", "model " + m_options.model + " has no digital inputs");
        return true;
    }
    const uint32_t outputs = camera.io->GetOutputCount();
    for (const auto& request : m_options.outputs) {
        if (request.index >= outputs) {
            Fail(ExitUsage, recording.Label() + ": --output " + std::to_string(request.index + 1) + ": model " +
                                m_options.model + " has " + std::to_string(outputs) + " alarm output" +
                                (outputs == 1 ? "" : "s"));
            return false;
        }
    }
    camera.outputs = outputs;
    camera.ioUser = std::make_unique<CRecordIOUser>(recording);
    camera.io->SetIOUser(camera.ioUser.get());
    recording.SetInputCount(camera.io->GetInputCount());
    if (!camera.io->StartIO()) recording.Note("warning", "digital I/O did not start completely");
    camera.ioStarted = true;
    for (const auto& request : m_options.outputs) {
        if (camera.io->RequestOutputState(request.index, request.on ? 2 : 1)) {
            recording.Note("output", "output " + std::to_string(request.index + 1) + " switched " +
                                         (request.on ? "on" : "off"));
        } else {
            recording.Note("warning", "output " + std::to_string(request.index + 1) + " could not be switched");
        }
    }
    return true;
}

bool CRecorder::Record(CEventLoop& loop) {
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
            m_interrupted = true;
            m_console.EndStatus();
            m_console.Line(std::string(loop.LastSignal() == SIGINT ? "Ctrl-C" : "SIGTERM") + ": stopping");
            return true;
        }
        if (!CheckCameras(now)) return false;
        if (timed && now >= deadline) return true;
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

bool CRecorder::CheckCameras(Clock::time_point now) {
    for (auto& camera : m_cameras) {
        CCameraRecording& recording = *camera.recording;
        if (recording.WriterFailed()) {
            m_console.EndStatus();
            Fail(ExitWrite, recording.WriterError() + "; check the output directory and free disk space");
            return false;
        }
        if (recording.HasPicture()) continue;
        CameraProblem problem = recording.Problem();
        if (problem == CameraProblem::None &&
            now - camera.started > std::chrono::seconds(m_options.firstPictureTimeoutS)) {
            recording.SetProblem(CameraProblem::NoPicture, "");
            problem = recording.Problem();
        }
        if (problem != CameraProblem::None) {
            m_console.EndStatus();
            Fail(CMessageClassifier::ExitFor(problem), ProblemLine(recording));
            return false;
        }
    }
    return true;
}

std::string CRecorder::ProblemLine(const CCameraRecording& recording) const {
    const std::string who = recording.Label() + " (" + recording.Target().address + ":" +
                            std::to_string(recording.Target().port) + ")";
    const std::string detail = recording.ProblemDetail();
    switch (recording.Problem()) {
        case CameraProblem::Unreachable:
            return who + " cannot be reached: check the address and HTTP port (--camera ADDRESS:PORT), the "
                         "network, and that the camera is switched on";
        case CameraProblem::Credentials:
            return who + " refused the user name or password: check --user and the password "
                         "(--password-file or --ask-password)";
        case CameraProblem::ModelFile: {
            if (!m_models.Has(m_options.model)) {
                std::string available;
                for (const auto& m : m_models.List()) {
                    if (!available.empty()) available += ", ";
                    available += m;
                }
                return "model file " + m_options.model + ".xml not found in " + m_models.Path() +
                       ": check --model (available: " + (available.empty() ? "none" : available) + ")";
            }
            return "model file " + m_models.Path() + m_options.model + ".xml cannot be used" +
                   (detail.empty() ? "" : " (" + detail + ")") + ": check its content";
        }
        case CameraProblem::NotSupported:
            return who + " does not know a command the driver sends (" + detail +
                   "): check that it is a Sony G4 camera and that --model matches it";
        case CameraProblem::HttpStatus:
            return who + " answered with an HTTP error (" + detail + "): check the camera's web settings";
        case CameraProblem::NoPicture:
            return who + " sent no picture within " + std::to_string(m_options.firstPictureTimeoutS) +
                   " s: check that UDP from the camera to ports 3556-4555 of this computer is not blocked "
                   "(firewall) and that the camera can send JPEG";
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

void CRecorder::PrintLogs() {
    for (const auto& line : m_log.Drain()) m_console.Line(line);
}

std::string CRecorder::StateName(int32_t state, bool hasPicture) {
    switch (state) {
        case 0: return hasPicture ? "streaming" : "starting";
        case 2: return "signal lost";
        case 3: return "connecting";
        default: return "stopped";
    }
}

void CRecorder::PrintStatus(double elapsedS, double sinceLastS) {
    uint64_t pictures = 0;
    uint64_t lost = 0;
    uint64_t newPictures = 0;
    uint64_t newBytes = 0;
    size_t streaming = 0;
    std::string single;
    for (auto& camera : m_cameras) {
        const auto figures = camera.recording->Snapshot();
        pictures += figures.pictures;
        lost += figures.lost;
        newPictures += figures.pictures - camera.last.pictures;
        newBytes += figures.bytes - camera.last.bytes;
        camera.last = figures;
        const int32_t state = camera.session->ChannelState();
        if (state == 0 && figures.pictures > 0) ++streaming;
        if (m_cameras.size() == 1) {
            single = StateName(state, figures.pictures > 0);
            const std::string inputs = camera.recording->InputText();
            if (!inputs.empty()) single += ", inputs " + inputs;
        }
    }
    const double span = sinceLastS > 0 ? sinceLastS : 1;
    std::string text = Elapsed(elapsedS) + "  " + std::to_string(pictures) + " pictures  " +
                       Fixed(static_cast<double>(newPictures) / span, 1) + "/s  " +
                       Fixed(static_cast<double>(newBytes) * 8 / 1000 / span, 0) + " kbit/s  lost " +
                       std::to_string(lost) + "  ";
    if (m_cameras.size() == 1) {
        text += single;
    } else {
        text += std::to_string(streaming) + "/" + std::to_string(m_cameras.size()) + " streaming";
    }
    m_console.Status(text);
}

void CRecorder::Shutdown() {
    // Viewers go first: nothing they ask may reach a camera being closed.
    if (m_board) m_board->Close();
    if (m_server) m_server->Stop();
    for (auto& camera : m_cameras) {
        if (camera.ioStarted && camera.io != nullptr) camera.io->StopIO();
        camera.ioStarted = false;
        camera.io = nullptr;
        if (camera.session) camera.session->Close();
        if (camera.videoStarted && camera.stopped == Clock::time_point{}) camera.stopped = Clock::now();
        if (camera.recording) camera.recording->StopWriter();
    }
    // Cameras go after the driver let go of them.
    m_simulators.Stop();
    for (auto& camera : m_cameras) {
        if (camera.recording && camera.recording->WriterFailed()) {
            Fail(ExitWrite, camera.recording->WriterError() + "; check the output directory and free disk space");
        }
    }
}

void CRecorder::PrintSummary(double runS) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double user = static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6;
    const double system = static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6;

    m_console.Line("summary:");
    uint64_t totalPictures = 0;
    uint64_t totalLost = 0;
    for (const auto& camera : m_cameras) {
        const CCameraRecording& r = *camera.recording;
        const auto f = r.Snapshot();
        totalPictures += f.pictures;
        totalLost += f.lost;
        const double s = camera.videoStarted ? Seconds(camera.stopped - camera.started) : 0;
        std::string line = "  " + r.Label() + " " + r.Target().address + ":" + std::to_string(r.Target().port) + ": " +
                           std::to_string(f.pictures) + " pictures in " + Fixed(s, 1) + " s";
        if (s > 0) {
            line += " (" + Fixed(static_cast<double>(f.pictures) / s, 1) + "/s, " +
                    Fixed(static_cast<double>(f.bytes) * 8 / 1000 / s, 0) + " kbit/s)";
        }
        line += ", " + std::to_string(f.lost) + " lost" +
                (f.pictures == 0 ? "" : f.lossExact ? " (by picture number)" : " (estimated from timing)");
        if (f.refused > 0) line += ", " + std::to_string(f.refused) + " refused (disk too slow)";
        line += ", " + std::to_string(f.written) + " written";
        m_console.Line(line);
    }
    if (m_options.writeJpeg) m_console.Line("  pictures: " + m_outputDir + "/cameraN/NNNNNN.jpg, index in cameraN/index.csv");
    if (m_options.writeAvi) m_console.Line("  video:    " + m_outputDir + "/cameraN.avi (Motion JPEG)");
    const double cpu = user + system;
    std::string cpuLine = "  CPU: " + Fixed(user, 2) + " s user + " + Fixed(system, 2) + " s system";
    if (runS >= 1) cpuLine += " = " + Fixed(100.0 * cpu / runS, 1) + "% of one core over " + Fixed(runS, 1) + " s";
    if (m_options.simulated > 0) cpuLine += " (simulated cameras included)";
    m_console.Line(cpuLine);
    if (m_cameras.size() > 1) {
        m_console.Line("  total: " + std::to_string(totalPictures) + " pictures, " + std::to_string(totalLost) +
                       " lost");
    }
    WriteSummary(user, system);
}

void CRecorder::WriteSummary(double cpuUser, double cpuSystem) {
    const std::string path = m_outputDir + "/summary.csv";
    std::FILE* f = std::fopen(path.c_str(), "we");
    if (f == nullptr) {
        Fail(ExitWrite, "cannot create " + path + ": " + std::strerror(errno));
        return;
    }
    std::fputs("camera,address,pictures,written,lost,loss_exact,refused,bytes,seconds,pictures_per_s,kbit_per_s,"
               "problem,cpu_user_s,cpu_system_s\n",
               f);
    for (const auto& camera : m_cameras) {
        const CCameraRecording& r = *camera.recording;
        const auto fig = r.Snapshot();
        const double s = camera.videoStarted ? Seconds(camera.stopped - camera.started) : 0;
        const double rate = s > 0 ? static_cast<double>(fig.pictures) / s : 0;
        const double kbit = s > 0 ? static_cast<double>(fig.bytes) * 8 / 1000 / s : 0;
        std::fprintf(f, "%s,%s:%u,%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%d,%" PRIu64 ",%" PRIu64 ",%.3f,%.2f,%.1f,%s,%.3f,%.3f\n",
                     r.Label().c_str(), r.Target().address.c_str(), r.Target().port, fig.pictures, fig.written,
                     fig.lost, fig.lossExact ? 1 : 0, fig.refused, fig.bytes, s, rate, kbit,
                     CMessageClassifier::Name(r.Problem()), cpuUser, cpuSystem);
    }
    if (std::fclose(f) != 0) Fail(ExitWrite, "cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace kestrel::record
