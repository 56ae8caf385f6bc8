#pragma once
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/record/CCameraRunner.h"
#include "tools/record/CConsole.h"
#include "tools/record/CDriverLibrary.h"
#include "tools/record/CEmbeddedCameras.h"
#include "tools/record/CLiveBoard.h"
#include "tools/record/CLiveServer.h"
#include "tools/record/CLogQueue.h"
#include "tools/record/CModelDirectory.h"
#include "tools/record/CRecordingSinks.h"
#include "tools/record/ExitCode.h"
#include "tools/record/RecordOptions.h"

namespace kestrel::record {

class CEventLoop;

// One run of halyard-record: simulated cameras if asked, the driver
// library, a runner per camera, the status loop, re-reading the
// configuration on SIGHUP, the clean stop and the summary. Returns the exit
// status.
class CRecorder {
public:
    explicit CRecorder(RecordOptions options);
    ~CRecorder();
    CRecorder(const CRecorder&) = delete;
    CRecorder& operator=(const CRecorder&) = delete;

    int Run();

private:
    using Clock = std::chrono::steady_clock;

    bool PrepareOutput();
    void RemoveEmptyOutput();
    bool StartSimulators();
    bool LoadDriver();
    bool LoadSetups(std::vector<CameraSetup>& setups);
    bool StartCamera(CameraSetup setup);
    void Reload();
    void Record(CEventLoop& loop);
    bool CheckCameras(Clock::time_point now, Clock::time_point start);
    bool StartLiveView();
    void UpdateBoard(double elapsedS, double sinceLastS);
    void Shutdown();
    void Conclude(double runS);
    void PrintLogs();
    void PrintStatus(double elapsedS, double sinceLastS);
    void PrintSummary(double runS);
    void WriteSummary(double cpuUser, double cpuSystem);
    // Why a camera recorded nothing, from what its driver reported.
    std::pair<ExitCode, std::string> CauseOf(const CCameraRunner& runner) const;
    std::string ProblemLine(const CCameraRunner& runner) const;
    int Fail(ExitCode code, const std::string& line);
    std::string FolderFor(const CameraSetup& setup) const;

    RecordOptions m_options;
    CConsole m_console;
    CLogQueue m_log;
    CModelDirectory m_models;
    CEmbeddedCameras m_simulators;
    CDriverLibrary m_library;
    // Before the cameras: their writers report to its retention until they stop.
    std::unique_ptr<CRecordingSinks> m_sinks;                // once the output directory is known
    std::vector<std::unique_ptr<CCameraRunner>> m_runners;   // recording now
    std::vector<std::unique_ptr<CCameraRunner>> m_finished;  // removed by a reload
    std::vector<CCameraRunner::Figures> m_last;              // at the previous status line
    std::vector<CameraTarget> m_targets;
    std::string m_outputDir;
    std::string m_runStamp;
    std::string m_configRoot;  // the configuration's output root
    bool m_createdOutputDir = false;
    ExitCode m_exit = ExitOk;
    std::string m_error;
    std::vector<std::string> m_moreErrors;
    std::set<const CCameraRunner*> m_fatalShown;  // cameras stopped by a setting, already reported

    // The live view (--http): each running camera's newest picture and its
    // figures at the previous update.
    struct LiveCamera {
        std::shared_ptr<CLatestPicture> latest;
        CCameraRunner::Figures last;
    };
    std::map<const CCameraRunner*, LiveCamera> m_live;
    std::unique_ptr<CLiveBoard> m_board;  // before the server: it outlives every viewer
    std::unique_ptr<CLiveServer> m_server;
};

}  // namespace kestrel::record
