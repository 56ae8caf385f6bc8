#include "tools/record/CCameraRecording.h"

#include <chrono>
#include <ctime>
#include <string_view>

#include "host/CDebugInfoIf.h"
#include "host/IFrameBuffer.h"
#include "tools/record/CGapTracker.h"
#include "tools/record/CJpegHeaderReader.h"
#include "tools/record/CLatestPicture.h"
#include "tools/record/CLogQueue.h"
#include "tools/record/CSimulatorStamp.h"

namespace kestrel::record {

namespace {

int64_t NowUs(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

const char* LevelName(int level) {
    switch (level) {
    case 1:
        return "error";
    case 2:
        return "warning";
    case 3:
        return "info";
    case 100:
        return "debug";
    default:
        return "message";
    }
}

}  // namespace

CCameraRecording::CCameraRecording(std::string name, CameraTarget target, const RecordOptions& options, CLogQueue& log,
                                   std::vector<std::unique_ptr<IPictureSink>> sinks)
    : m_label(std::move(name)),
      m_target(std::move(target)),
      m_options(options),
      m_log(log),
      m_writer(std::move(sinks)),
      m_loss(options.intervalMs) {
    for (auto& input : m_inputs) input.store(0, std::memory_order_relaxed);
}

CCameraRecording::~CCameraRecording() { m_writer.Stop(); }

bool CCameraRecording::TakeFrame(IFrameBuffer* frame) {
    if (frame == nullptr) return false;
    const auto wall = std::chrono::system_clock::now();
    const auto mono = std::chrono::steady_clock::now();
    const uint32_t size = frame->GetDataSize();
    const uint8_t* data = size > 0 ? frame->GetData(size) : nullptr;
    if (data == nullptr) return false;

    JpegInfo info;
    CJpegHeaderReader::Inspect(data, size, info);
    uint64_t stamp = 0;
    const bool stamped = CSimulatorStamp::Read(info.comment, info.commentSize, stamp);

    Picture picture;
    picture.data = data;
    picture.size = size;
    picture.arrivalUs = NowUs(wall);
    // The picture's own size; the driver's is the size it asked the camera for.
    picture.width = info.width > 0 ? info.width : frame->GetWidth();
    picture.height = info.height > 0 ? info.height : frame->GetHeight();

    if (m_latest != nullptr) m_latest->Publish(data, size, picture.arrivalUs);

    std::lock_guard<std::mutex> lock(m_frameMutex);
    picture.number = m_nextNumber;
    if (!m_writer.Push(picture)) {
        m_refused.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    ++m_nextNumber;
    const auto monoUs = std::chrono::duration_cast<std::chrono::microseconds>(mono.time_since_epoch()).count();
    const uint64_t lost = m_loss.OnPicture(monoUs, stamped, stamp);
    m_lost.fetch_add(lost, std::memory_order_relaxed);
    m_lossExact.store(stamped, std::memory_order_relaxed);  // the last picture tells how losses are counted
    m_bytes.fetch_add(size, std::memory_order_relaxed);
    m_pictures.fetch_add(1, std::memory_order_release);
    return true;
}

void CCameraRecording::TakeMessage(CDebugInfoIf* message) {
    if (message == nullptr) return;
    const char* text = message->GetText();
    if (text == nullptr) return;
    const int level = message->GetLevel();
    if (!HasPicture()) {
        const CameraProblem problem = CMessageClassifier::Classify(text);
        if (problem != CameraProblem::None) SetProblem(problem, text);
    }
    // Levels run 1 error, 2 warning, 3 info, 100 debug; unknown ones pass as info.
    const int rank = level == 1 ? 1 : level == 2 ? 2 : level == 100 ? 100 : 3;
    if (rank > m_options.logLevel) return;
    if (m_options.verbose) {
        Post(LevelName(level), text);
    } else {
        Post(LevelName(level), CMessageClassifier::WithoutOrigin(text).c_str());
    }
}

void CCameraRecording::TakeVideoStopped() {
    // While a camera stays away the driver says so about once a second.
    if (m_videoStopped.fetch_add(1, std::memory_order_relaxed) == 0 || m_options.verbose) {
        Post("info", "video stopped");
    }
}

void CCameraRecording::TakeInput(uint32_t input, int32_t state) {
    if (input < kMaxInputs) m_inputs[input].store(state, std::memory_order_relaxed);
    if (m_options.showInputs) {
        const char* name = state == 2 ? "on" : state == 1 ? "off" : "undetermined";
        Post("input", ("input " + std::to_string(input + 1) + " " + name).c_str());
    }
}

void CCameraRecording::TakeInputsReset() {
    for (auto& input : m_inputs) input.store(0, std::memory_order_relaxed);
    if (m_options.showInputs) Post("input", "input states reset (camera did not answer)");
}

void CCameraRecording::Note(const char* level, const std::string& text) {
    const int rank = std::string_view(level) == "error" ? 1 : std::string_view(level) == "warning" ? 2 : 3;
    if (rank > m_options.logLevel) return;
    Post(level, text.c_str());
}

void CCameraRecording::Post(const char* level, const char* text) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    m_log.Post(std::string(stamp) + " " + m_label + " " + level + ": " + text);
}

void CCameraRecording::SetProblem(CameraProblem problem, const std::string& detail) {
    if (problem == CameraProblem::None) return;
    std::lock_guard<std::mutex> lock(m_problemMutex);
    if (m_attemptHasProblem) return;
    m_attemptHasProblem = true;
    m_problemDetail = detail;
    m_problem.store(problem, std::memory_order_release);
}

void CCameraRecording::BeginAttempt() {
    std::lock_guard<std::mutex> lock(m_problemMutex);
    m_attemptHasProblem = false;
}

bool CCameraRecording::AttemptFailed() const {
    std::lock_guard<std::mutex> lock(m_problemMutex);
    return m_attemptHasProblem && !HasPicture();
}

std::string CCameraRecording::ProblemDetail() const {
    std::lock_guard<std::mutex> lock(m_problemMutex);
    return m_problemDetail;
}

CCameraRecording::Figures CCameraRecording::Snapshot() const {
    Figures f;
    f.pictures = m_pictures.load(std::memory_order_acquire);
    f.bytes = m_bytes.load(std::memory_order_relaxed);
    f.lost = m_lost.load(std::memory_order_relaxed);
    f.refused = m_refused.load(std::memory_order_relaxed) + m_allocator.Refused();
    f.written = m_writer.Written();
    f.skipped = m_writer.Skipped();
    f.videoStopped = m_videoStopped.load(std::memory_order_relaxed);
    f.lossExact = m_lossExact.load(std::memory_order_relaxed);
    return f;
}

void CCameraRecording::MarkEnd() {
    if (m_gaps != nullptr) m_gaps->EndAt(NowUs(std::chrono::system_clock::now()));
}

std::vector<Gap> CCameraRecording::Gaps() const { return m_gaps != nullptr ? m_gaps->Gaps() : std::vector<Gap>{}; }

void CCameraRecording::SetInputCount(uint32_t count) {
    m_inputCount.store(count < kMaxInputs ? count : static_cast<uint32_t>(kMaxInputs), std::memory_order_relaxed);
}

std::vector<int32_t> CCameraRecording::InputStates() const {
    std::vector<int32_t> states(m_inputCount.load(std::memory_order_relaxed));
    for (size_t i = 0; i < states.size(); ++i) states[i] = m_inputs[i].load(std::memory_order_relaxed);
    return states;
}

std::string CCameraRecording::InputText() const {
    std::string text;
    const uint32_t count = m_inputCount.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t state = m_inputs[i].load(std::memory_order_relaxed);
        if (!text.empty()) text += ' ';
        text += std::to_string(i + 1) + "=" + (state == 2 ? "on" : state == 1 ? "off" : "?");
    }
    return text;
}

}  // namespace kestrel::record
