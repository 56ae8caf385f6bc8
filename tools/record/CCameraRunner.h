#pragma once
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/CWorkerThread.h"
#include "tools/record/CCameraLifecycle.h"
#include "tools/record/CCameraRecording.h"
#include "tools/record/CRecordIOUser.h"
#include "tools/record/CRecordingSinks.h"
#include "tools/record/ExitCode.h"
#include "tools/record/ICameraSession.h"
#include "tools/record/RecordOptions.h"

namespace kestrel {
class ICaptureIOApi;
}

namespace kestrel::record {

class CDriverLibrary;
class CLogQueue;
class CModelDirectory;

// One camera recording on its own thread: opens its driver session, watches
// it, closes and reopens it with back-off while the camera stays away. Its
// files and figures live across sessions, so a camera that comes back
// continues the same recording. Nothing here waits on another camera.
class CCameraRunner {
public:
    using Clock = std::chrono::steady_clock;

    using Figures = CCameraRecording::Figures;

    struct Status {
        CCameraLifecycle::State state = CCameraLifecycle::State::Connecting;
        std::string text;       // "streaming", "retrying in 4 s", ...
        bool answered = false;  // the camera's web server took the configuration
        uint32_t attempts = 0;
        // A setting this camera can never record with (an output it lacks):
        // the run stops with this status and line.
        ExitCode fatal = ExitOk;
        std::string fatalLine;
        uint32_t outputs = 0;  // alarm outputs of the open session
    };

    CCameraRunner(CameraSetup setup, CRecordingSinks::CameraSinks sinks, CDriverLibrary& library,
                  const CModelDirectory& models, CLogQueue& log);
    ~CCameraRunner();
    CCameraRunner(const CCameraRunner&) = delete;
    CCameraRunner& operator=(const CCameraRunner&) = delete;

    // Opens the files and starts the thread; false with a reason when the
    // files cannot be made.
    bool Start(std::string& error);
    // Closes the session, joins the thread, finishes the files; safe to repeat.
    void Stop();

    Status CurrentStatus() const;
    // Asks this camera's thread to switch an alarm output (counting from 0);
    // false when the camera has no such output now.
    bool RequestOutput(uint32_t output, bool on, std::string& error);
    const CameraSetup& Setup() const { return m_setup; }
    CCameraRecording& Recording() { return *m_recording; }
    const CCameraRecording& Recording() const { return *m_recording; }
    Clock::time_point StartedAt() const { return m_startedAt; }
    // The end of the recording, or now while it runs.
    Clock::time_point StoppedAt() const;

private:
    void Loop(CStopToken& stop);
    void Open(Clock::time_point now);
    bool StartIO();
    void CloseSession();
    void Publish(Clock::time_point now);
    void SwitchRequestedOutputs();

    CameraSetup m_setup;
    CDriverLibrary& m_library;
    const CModelDirectory& m_models;
    std::unique_ptr<CCameraRecording> m_recording;

    // Owned by the runner's thread while it runs.
    std::unique_ptr<ICameraSession> m_session;
    std::unique_ptr<CRecordIOUser> m_ioUser;
    kestrel::ICaptureIOApi* m_io = nullptr;
    CCameraLifecycle m_lifecycle;
    CCameraLifecycle::State m_shownState = CCameraLifecycle::State::Connecting;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;  // output requests are refused from Stop on
    Status m_status;
    std::vector<OutputRequest> m_outputRequests;  // from the live view, for the thread
    Clock::time_point m_startedAt{};
    Clock::time_point m_stoppedAt{};
    bool m_writerStarted = false;
    CWorkerThread m_worker;  // last: stopped before the members it uses go
};

}  // namespace kestrel::record
