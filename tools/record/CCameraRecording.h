#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/record/CLossCounter.h"
#include "tools/record/CMessageClassifier.h"
#include "tools/record/CPictureWriter.h"
#include "tools/record/CRecordFrameAllocator.h"
#include "tools/record/Gap.h"
#include "tools/record/RecordOptions.h"

class CDebugInfoIf;
class IFrameBuffer;

namespace kestrel::record {

class CLatestPicture;
class CGapTracker;
class CLogQueue;

// The host side of one camera, whichever driver interface feeds it: takes
// pictures, debug messages and input changes from the driver's threads,
// writes the pictures and keeps the figures the status line shows.
class CCameraRecording {
public:
    static constexpr size_t kMaxInputs = 16;

    struct Figures {
        uint64_t pictures = 0;  // taken from the driver
        uint64_t bytes = 0;
        uint64_t lost = 0;
        uint64_t refused = 0;  // writer behind, or no frame buffer for the driver
        uint64_t written = 0;
        uint64_t skipped = 0;  // written, but not stored (disk full)
        uint64_t videoStopped = 0;
        bool lossExact = false;
    };

    CCameraRecording(std::string name, CameraTarget target, const RecordOptions& options, CLogQueue& log,
                     std::vector<std::unique_ptr<IPictureSink>> sinks);
    ~CCameraRecording();
    CCameraRecording(const CCameraRecording&) = delete;
    CCameraRecording& operator=(const CCameraRecording&) = delete;

    bool StartWriter(std::string& error) { return m_writer.Start(error); }
    void StopWriter() { m_writer.Stop(); }

    // Driver callbacks, on any thread.
    bool TakeFrame(IFrameBuffer* frame);
    void TakeMessage(CDebugInfoIf* message);
    void TakeVideoStopped();
    void TakeInput(uint32_t input, int32_t state);
    void TakeInputsReset();

    // Notes from the recorder itself, printed like the driver's.
    void Note(const char* level, const std::string& text);

    // Before the first picture, the first problem of each attempt replaces
    // the last attempt's; later ones are only shown.
    void SetProblem(CameraProblem problem, const std::string& detail);
    void BeginAttempt();
    bool AttemptFailed() const;
    CameraProblem Problem() const { return m_problem.load(std::memory_order_acquire); }
    std::string ProblemDetail() const;

    Figures Snapshot() const;
    bool HasPicture() const { return m_pictures.load(std::memory_order_acquire) > 0; }
    bool WriterFailed() const { return m_writer.Failed(); }
    std::string WriterError() const { return m_writer.Error(); }

    // "off on -" for the inputs known so far; empty when none.
    std::string InputText() const;
    void SetInputCount(uint32_t count);
    // 0 unknown, 1 off, 2 on for each input known so far.
    std::vector<int32_t> InputStates() const;

    // Every picture taken is also offered here (the live view); set before video starts.
    void SetLatest(std::shared_ptr<CLatestPicture> latest) { m_latest = std::move(latest); }

    // The sink that notes this camera's gaps (one of the writer's sinks).
    void WatchGaps(CGapTracker* gaps) { m_gaps = gaps; }
    std::vector<Gap> Gaps() const;
    // The camera is being stopped: a silence from its last picture to now is a gap.
    void MarkEnd();

    CRecordFrameAllocator& Allocator() { return m_allocator; }
    const std::string& Label() const { return m_label; }
    const CameraTarget& Target() const { return m_target; }

private:
    void Post(const char* level, const char* text);

    std::string m_label;
    CameraTarget m_target;
    const RecordOptions& m_options;
    CLogQueue& m_log;
    CRecordFrameAllocator m_allocator;
    CPictureWriter m_writer;
    std::shared_ptr<CLatestPicture> m_latest;
    CGapTracker* m_gaps = nullptr;

    std::mutex m_frameMutex;  // guards the loss counter and picture numbering
    CLossCounter m_loss;
    uint64_t m_nextNumber = 1;

    std::atomic<uint64_t> m_pictures{0};
    std::atomic<uint64_t> m_bytes{0};
    std::atomic<uint64_t> m_lost{0};
    std::atomic<uint64_t> m_refused{0};
    std::atomic<uint64_t> m_videoStopped{0};
    std::atomic<bool> m_lossExact{false};

    std::atomic<CameraProblem> m_problem{CameraProblem::None};
    mutable std::mutex m_problemMutex;
    std::string m_problemDetail;
    bool m_attemptHasProblem = false;

    std::atomic<uint32_t> m_inputCount{0};
    std::array<std::atomic<int32_t>, kMaxInputs> m_inputs{};
};

}  // namespace kestrel::record
