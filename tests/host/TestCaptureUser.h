#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/CCaptureAPIUser.h"
#include "tests/host/CallLog.h"

namespace testhost {

struct ReceivedFrame {
    uint32_t channel = 0;
    uint32_t fourcc = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t resolution = 0;
    std::vector<uint8_t> data;
};

struct ReceivedMessage {
    int level = 0;
    std::string text;
};

// The host's callback object: keeps copies of frames and messages.
class TestCaptureUser : public CCaptureAPIUser {
public:
    enum class FrameAnswer { Accept, Refuse, Throw };

    int SendFrameCallback(uint32_t channel, IFrameBuffer* alternate, IFrameBuffer* frame) override;
    void VideoStopped(uint32_t channel) override;
    void Reserved3() override {}
    void DebugInfo(CDebugInfoIf* message) override;

    std::vector<ReceivedFrame> Frames();
    std::vector<ReceivedMessage> Messages();
    size_t FrameCount();
    size_t MessageCount(const std::string& needle, int level = -1);
    bool WaitForFrames(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    CallLog calls;  // "SendFrameCallback 0", "VideoStopped 0", "DebugInfo <level> <text>"
    std::atomic<FrameAnswer> answer{FrameAnswer::Accept};
    std::atomic<int> videoStopped{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<ReceivedFrame> m_frames;
    std::vector<ReceivedMessage> m_messages;
};

}  // namespace testhost
