#include "tools/record/CCameraRunner.h"

#include <algorithm>

#include "host/ICaptureIOApi.h"
#include "tools/record/CIPSession.h"
#include "tools/record/CLegacySession.h"

namespace kestrel::record {

namespace {

// How often the thread looks at its camera: well inside the two seconds in
// which a change has to show.
constexpr auto kTick = std::chrono::milliseconds(200);

CCameraLifecycle::Settings LifecycleSettings(const RecordOptions& options) {
    CCameraLifecycle::Settings s;
    s.stall = std::chrono::seconds(options.firstPictureTimeoutS);
    s.retryMax = std::chrono::seconds(options.retryMaxS);
    // A slow camera is still streaming between two of its pictures.
    s.quiet = std::max<CCameraLifecycle::Clock::duration>(std::chrono::seconds(2),
                                                          3 * std::chrono::milliseconds(options.intervalMs));
    return s;
}

}  // namespace

CCameraRunner::CCameraRunner(CameraSetup setup, CRecordingSinks::CameraSinks sinks, CDriverLibrary& library,
                             const CModelDirectory& models, CLogQueue& log)
    : m_setup(std::move(setup)), m_library(library), m_models(models), m_lifecycle(LifecycleSettings(m_setup.options)) {
    m_recording =
        std::make_unique<CCameraRecording>(m_setup.name, m_setup.target, m_setup.options, log, std::move(sinks.sinks));
    m_recording->WatchGaps(sinks.gaps);
    m_status.text = "connecting";
}

CCameraRunner::~CCameraRunner() { Stop(); }

bool CCameraRunner::Start(std::string& error) {
    if (!m_recording->StartWriter(error)) return false;
    m_writerStarted = true;
    m_startedAt = Clock::now();
    if (!m_worker.Start("record-camera", [this](CStopToken& stop) { Loop(stop); })) {
        error = "cannot start the camera's thread";
        return false;
    }
    return true;
}

void CCameraRunner::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    // A tick may wait on the driver; it ends within its own time-outs.
    while (!m_worker.Stop(1000)) {}
    if (m_writerStarted) m_recording->MarkEnd();
    CloseSession();
    if (m_writerStarted) {
        m_writerStarted = false;
        m_stoppedAt = Clock::now();
        m_recording->StopWriter();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lifecycle.Stop();
        m_status.state = CCameraLifecycle::State::Stopped;
        m_status.text = "stopped";
    }
}

CCameraRunner::Status CCameraRunner::CurrentStatus() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

CCameraRunner::Clock::time_point CCameraRunner::StoppedAt() const {
    return m_stoppedAt == Clock::time_point{} ? Clock::now() : m_stoppedAt;
}

void CCameraRunner::Loop(CStopToken& stop) {
    // The lock orders the wake against the wait's check of the token.
    const uint64_t waker = stop.AddWaker([this] {
        { std::lock_guard<std::mutex> lock(m_mutex); }
        m_wake.notify_all();
    });
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!stop.StopRequested()) {
        lock.unlock();
        const auto now = Clock::now();
        const int32_t channel = m_session ? m_session->ChannelState() : -1;
        switch (m_lifecycle.Tick(now, m_recording->Snapshot().pictures, channel, m_recording->AttemptFailed())) {
        case CCameraLifecycle::Action::Open:
            Open(now);
            break;
        case CCameraLifecycle::Action::Close:
            CloseSession();
            break;
        case CCameraLifecycle::Action::None:
            break;
        }
        SwitchRequestedOutputs();
        Publish(Clock::now());
        lock.lock();
        if (m_status.fatal != ExitOk) break;
        m_wake.wait_for(lock, kTick, [&] { return stop.StopRequested() || !m_outputRequests.empty(); });
    }
    lock.unlock();  // the waker takes it
    stop.RemoveWaker(waker);
}

void CCameraRunner::Open(Clock::time_point now) {
    CloseSession();
    m_recording->BeginAttempt();
    if (m_setup.options.api == DriverInterface::IP) {
        m_session = std::make_unique<CIPSession>(m_library, m_models, *m_recording, m_setup.options);
    } else {
        m_session = std::make_unique<CLegacySession>(m_library, m_models, *m_recording, m_setup.options);
    }
    if (m_session->Open() && StartIO() && m_session->StartVideo()) {
        m_lifecycle.Opened(now);
        return;
    }
    CloseSession();
    m_lifecycle.OpenFailed(Clock::now());
}

bool CCameraRunner::StartIO() {
    const RecordOptions& options = m_setup.options;
    // The live view shows the inputs and switches the outputs.
    if (!options.showInputs && options.outputs.empty() && !options.live) return true;
    CCameraRecording& recording = *m_recording;
    m_io = m_session->IOApi();
    auto fail = [this](ExitCode code, std::string line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status.fatal = code;
        m_status.fatalLine = std::move(line);
        return false;
    };
    if (m_io == nullptr) {
        if (!options.outputs.empty()) {
            return fail(ExitFailure, recording.Label() + ": model " + options.model +
                                         " has no digital inputs or outputs; leave out --output");
        }
        if (options.showInputs) recording.Note("warning", "model " + options.model + " has no digital inputs");
        return true;
    }
    const uint32_t outputs = m_io->GetOutputCount();
    for (const auto& request : options.outputs) {
        if (request.index >= outputs) {
            m_io = nullptr;
            return fail(ExitUsage, recording.Label() + ": --output " + std::to_string(request.index + 1) + ": model " +
                                       options.model + " has " + std::to_string(outputs) + " alarm output" +
                                       (outputs == 1 ? "" : "s"));
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status.outputs = outputs;
    }
    if (!m_ioUser) m_ioUser = std::make_unique<CRecordIOUser>(recording);
    m_io->SetIOUser(m_ioUser.get());
    recording.SetInputCount(m_io->GetInputCount());
    if (!m_io->StartIO()) recording.Note("warning", "digital I/O did not start completely");
    for (const auto& request : options.outputs) {
        if (m_io->RequestOutputState(request.index, request.on ? 2 : 1)) {
            recording.Note("output",
                           "output " + std::to_string(request.index + 1) + " switched " + (request.on ? "on" : "off"));
        } else {
            recording.Note("warning", "output " + std::to_string(request.index + 1) + " could not be switched");
        }
    }
    return true;
}

bool CCameraRunner::RequestOutput(uint32_t output, bool on, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop || output >= m_status.outputs) {
            error = "output " + std::to_string(output + 1) + " cannot be switched now";
            return false;
        }
        m_outputRequests.push_back(OutputRequest{output, on});
    }
    m_wake.notify_all();
    return true;
}

// On the camera's thread, which alone uses its session.
void CCameraRunner::SwitchRequestedOutputs() {
    std::vector<OutputRequest> requests;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        requests.swap(m_outputRequests);
    }
    for (const auto& request : requests) {
        const std::string name = "output " + std::to_string(request.index + 1);
        if (m_io != nullptr && m_io->RequestOutputState(request.index, request.on ? 2 : 1)) {
            m_recording->Note("output", name + " switched " + (request.on ? "on" : "off") + " from the live view");
        } else {
            m_recording->Note("warning", name + " could not be switched");
        }
    }
}

void CCameraRunner::CloseSession() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status.outputs = 0;
    }
    if (m_io != nullptr) m_io->StopIO();
    m_io = nullptr;
    if (m_session) m_session->Close();
    m_session.reset();
}

void CCameraRunner::Publish(Clock::time_point now) {
    const CCameraLifecycle::State state = m_lifecycle.Current();
    std::string text = m_lifecycle.Describe(now);
    if (state != m_shownState) {
        // Every change also goes to the log, for runs without a terminal.
        m_shownState = state;
        m_recording->Note(state == CCameraLifecycle::State::Streaming ? "info" : "warning", text);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status.state = state;
    m_status.text = std::move(text);
    m_status.answered = m_lifecycle.Answered();
    m_status.attempts = m_lifecycle.Attempts();
}

}  // namespace kestrel::record
