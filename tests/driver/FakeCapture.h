#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "channels/ICameraChannel.h"
#include "driver/CIPCapture.h"
#include "driver/CSonyIPCapture.h"

namespace drivertest {

// A channel that only records what the driver asks of it.
class FakeChannel : public kestrel::ICameraChannel {
public:
    explicit FakeChannel(std::vector<std::string>* log, bool startResult) : m_log(log), m_startResult(startResult) {}
    ~FakeChannel() override { m_log->push_back("Destroy"); }
    bool Start(uint32_t intervalMs, int32_t width, int32_t height, int32_t quality) override {
        m_log->push_back("Start " + std::to_string(intervalMs) + " " + std::to_string(width) + "x" +
                         std::to_string(height) + " " + std::to_string(quality));
        if (m_startResult) m_state = kestrel::StateRunning;
        return m_startResult;
    }
    void Stop() override {
        m_log->push_back("Stop");
        m_state = kestrel::StateStopped;
    }
    kestrel::CameraState GetState() override { return m_state; }

private:
    std::vector<std::string>* m_log;
    bool m_startResult;
    std::atomic<kestrel::CameraState> m_state{kestrel::StateStopped};
};

// The generic driver object with fake channels and a switchable I/O hook.
class FakeCapture : public kestrel::CIPCapture {
public:
    FakeCapture() : kestrel::CIPCapture(7, "sony") {}
    ~FakeCapture() override { Close(); }

    std::string GetDriverName() override { return "Halyard"; }
    kestrel::ICameraChannel* CreateCameraChannel(uint32_t index) override {
        log.push_back("Create " + std::to_string(index));
        lastParams = BuildChannelParams(index, 60000);
        return new FakeChannel(&log, startResult);
    }
    bool CreateDigitalIO() override {
        log.push_back("CreateDigitalIO");
        return digitalIOResult;
    }
    void DeleteDigitalIO() override { log.push_back("DeleteDigitalIO"); }
    std::vector<uint32_t> GetFrameIntervals(int32_t standard) override {
        return sonyIntervals ? kestrel::SonyFrameIntervals(GetConfiguration().maxFrameRate, standard)
                             : kestrel::CIPCapture::GetFrameIntervals(standard);
    }

    std::vector<std::string> log;
    kestrel::VideoChannelParams lastParams;
    bool startResult = true;
    bool digitalIOResult = true;
    bool sonyIntervals = true;  // false: the generic object's thresholds
};

}  // namespace drivertest
