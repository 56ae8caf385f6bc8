#pragma once
#include <atomic>
#include <cstdarg>
#include <string>
#include <utility>

#include "capture/DEVICE_INFO.h"
#include "capture/IDriver.h"
#include "runtime/FormatString.h"
#include "tests/host/CallLog.h"

namespace iotest {

// The driver as the I/O objects see it: a device record, I/O counts and a
// message log ("<level> <text>").
class TestDriver : public kestrel::IDriver {
public:
    TestDriver(int32_t inputs, int32_t outputs, uint16_t port = 80) : m_inputs(inputs), m_outputs(outputs) {
        device.address = "127.0.0.1";
        device.port = port;
        device.userName = "admin";
        device.password = "secret";
        device.serverType = "SNC-TEST";
    }

    std::string GetDeviceAddress() override { return device.address + ":" + std::to_string(device.port); }
    void DebugMessage(int level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        const std::string text = kestrel::FormatStringV(format, args);
        va_end(args);
        messages.Add(std::to_string(level) + " " + text);
    }
    std::string GetDriverName() override { return "Halyard"; }
    const kestrel::DEVICE_INFO* GetDeviceInfo() override { return &device; }
    std::pair<int32_t, int32_t> GetIOCounts() override { return {m_inputs.load(), m_outputs.load()}; }
    IFrameAllocator* GetFrameAllocator() override { return nullptr; }
    CCaptureAPIUser* GetCaptureUser() override { return nullptr; }
    int32_t GetVideoStandard() override { return 0; }
    uint32_t GetCameraCount() override { return 1; }

    kestrel::DEVICE_INFO device;
    testhost::CallLog messages;

private:
    std::atomic<int32_t> m_inputs;
    std::atomic<int32_t> m_outputs;
};

}  // namespace iotest
