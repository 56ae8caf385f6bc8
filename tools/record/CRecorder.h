#pragma once
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tools/record/CCameraRecording.h"
#include "tools/record/CConsole.h"
#include "tools/record/CDriverLibrary.h"
#include "tools/record/CEmbeddedCameras.h"
#include "tools/record/CLiveBoard.h"
#include "tools/record/CLiveServer.h"
#include "tools/record/CLogQueue.h"
#include "tools/record/CModelDirectory.h"
#include "tools/record/CRecordIOUser.h"
#include "tools/record/ExitCode.h"
#include "tools/record/ICameraSession.h"
#include "tools/record/RecordOptions.h"

namespace kestrel::record {

class CEventLoop;

// One run of halyard-record: simulated cameras if asked, the driver
// library, one session per camera, the status loop, the clean stop and the
// summary. Returns the exit status.
class CRecorder {
public:
    explicit CRecorder(RecordOptions options);
    ~CRecorder();
    CRecorder(const CRecorder&) = delete;
    CRecorder& operator=(const CRecorder&) = delete;

    int Run();

private:
    using Clock = std::chrono::steady_clock;

    struct Camera {
        std::unique_ptr<CCameraRecording> recording;
        std::unique_ptr<ICameraSession> session;
        std::unique_ptr<CRecordIOUser> ioUser;
        kestrel::ICaptureIOApi* io = nullptr;
        bool ioStarted = false;
        Clock::time_point started{};
        Clock::time_point stopped{};
        bool videoStarted = false;
        CCameraRecording::Figures last;  // at the previous status line
        CCameraRecording::Figures board;  // at the previous live view update
        uint32_t outputs = 0;
        std::shared_ptr<CLatestPicture> latest;  // with --http
    };

    bool PrepareOutput();
    void RemoveEmptyOutput();
    bool StartSimulators();
    bool LoadDriver();
    bool OpenCamera(uint32_t number, const CameraTarget& target);
    bool StartIO(Camera& camera);
    bool StartLiveView();
    void UpdateBoard(double elapsedS, double sinceLastS);
    bool Record(CEventLoop& loop);
    void Shutdown();
    void PrintLogs();
    void PrintStatus(double elapsedS, double sinceLastS);
    void PrintSummary(double runS);
    void WriteSummary(double cpuUser, double cpuSystem);
    bool CheckCameras(Clock::time_point now);
    std::string ProblemLine(const CCameraRecording& recording) const;
    int Fail(ExitCode code, const std::string& line);
    static std::string StateName(int32_t state, bool hasPicture);

    RecordOptions m_options;
    CConsole m_console;
    CLogQueue m_log;
    CModelDirectory m_models;
    CEmbeddedCameras m_simulators;
    CDriverLibrary m_library;
    std::vector<Camera> m_cameras;
    std::vector<CameraTarget> m_targets;
    std::string m_outputDir;
    bool m_createdOutputDir = false;
    ExitCode m_exit = ExitOk;
    std::string m_error;
    bool m_interrupted = false;
    std::unique_ptr<CLiveBoard> m_board;    // before the server: it outlives every viewer
    std::unique_ptr<CLiveServer> m_server;
};

}  // namespace kestrel::record
