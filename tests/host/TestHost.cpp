#include <algorithm>
#include <stdexcept>

#include "host/CDebugInfoIf.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestFrameAllocator.h"
#include "tests/host/TestFrameBuffer.h"

namespace testhost {

uint8_t* TestFrameBuffer::GetData(uint32_t size) {
    m_log->Add("GetData " + std::to_string(size));
    if (size > m_data.size()) m_data.resize(size);
    return m_data.data();
}
void TestFrameBuffer::SetDataSize(uint32_t size) {
    m_dataSize = size;
    m_log->Add("SetDataSize " + std::to_string(size));
}
void TestFrameBuffer::BeginFrame() { m_log->Add("Op5"); }
void TestFrameBuffer::SetFrameFourCC(uint32_t fourcc) {
    m_fourcc = fourcc;
    m_log->Add("SetFrameFourCC " + std::to_string(fourcc));
}
void TestFrameBuffer::SetHeight(int32_t height) {
    m_height = height;
    m_log->Add("SetHeight " + std::to_string(height));
}
void TestFrameBuffer::SetWidth(int32_t width) {
    m_width = width;
    m_log->Add("SetWidth " + std::to_string(width));
}
void TestFrameBuffer::SetResolution(int32_t kind) {
    m_resolution = kind;
    m_log->Add("SetResolution " + std::to_string(kind));
}

TestFrameAllocator::~TestFrameAllocator() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (TestFrameBuffer* frame : m_live) delete frame;
}

IFrameBuffer* TestFrameAllocator::AllocateFrame(uint32_t fourcc, uint32_t size, const char* driverName) {
    log.Add("AllocateFrame " + std::to_string(fourcc) + " " + std::to_string(size) + " " +
            (driverName ? driverName : "(null)"));
    if (returnNull.load()) return nullptr;
    auto* frame = new TestFrameBuffer(&log, size);
    allocated.fetch_add(1);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_live.insert(frame);
    return frame;
}

void TestFrameAllocator::ReleaseFrame(IFrameBuffer* frame) {
    log.Add("ReleaseFrame");
    released.fetch_add(1);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* buffer = static_cast<TestFrameBuffer*>(frame);
    if (m_live.erase(buffer) == 1) delete buffer;
}

size_t TestFrameAllocator::Outstanding() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live.size();
}

int TestCaptureUser::SendFrameCallback(uint32_t channel, IFrameBuffer* alternate, IFrameBuffer* frame) {
    calls.Add("SendFrameCallback " + std::to_string(channel) + (alternate ? " alt" : ""));
    const FrameAnswer a = answer.load();
    if (a == FrameAnswer::Throw) throw std::runtime_error("host refuses by throwing");
    if (a == FrameAnswer::Refuse) return 0;
    ReceivedFrame received;
    received.channel = channel;
    if (frame != nullptr) {
        auto* buffer = static_cast<TestFrameBuffer*>(frame);
        received.fourcc = buffer->GetFrameFourCC();
        received.width = buffer->GetWidth();
        received.height = buffer->GetHeight();
        received.resolution = buffer->GetResolution();
        received.data = buffer->Bytes();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back(std::move(received));
    }
    m_cv.notify_all();
    return 1;
}

void TestCaptureUser::VideoStopped(uint32_t channel) {
    videoStopped.fetch_add(1);
    calls.Add("VideoStopped " + std::to_string(channel));
}

void TestCaptureUser::DebugInfo(CDebugInfoIf* message) {
    ReceivedMessage m;
    m.level = message->GetLevel();
    m.text = message->GetText() ? message->GetText() : "";
    calls.Add("DebugInfo " + std::to_string(m.level) + " " + m.text);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.push_back(std::move(m));
}

std::vector<ReceivedFrame> TestCaptureUser::Frames() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

std::vector<ReceivedMessage> TestCaptureUser::Messages() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

size_t TestCaptureUser::FrameCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

size_t TestCaptureUser::MessageCount(const std::string& needle, int level) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_messages.begin(), m_messages.end(), [&](const ReceivedMessage& m) {
        return m.text.find(needle) != std::string::npos && (level < 0 || m.level == level);
    }));
}

bool TestCaptureUser::WaitForFrames(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
}

}  // namespace testhost
