#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "driver/DEVICE_INFO.h"
#include "driver/IDriver.h"
#include "runtime/FormatString.h"

namespace channeltest {

struct Message {
    int level = 0;
    std::string text;
};

// The driver as a channel sees it: settings it reads, hosts it hands out,
// and a debug sink that keeps every formatted message.
class FakeDriver : public kestrel::IDriver {
public:
    FakeDriver() { device.address = "127.0.0.1"; }

    std::string GetDeviceAddress() override {
        return device.address + kestrel::FormatString(":%hu", device.port);
    }
    void DebugMessage(int level, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        std::string text = kestrel::FormatStringV(format, args);
        va_end(args);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back({level, std::move(text)});
        }
        m_cv.notify_all();
    }
    std::string GetDriverName() override { return "Halyard"; }
    const kestrel::DEVICE_INFO* GetDeviceInfo() override { return &device; }
    std::pair<int32_t, int32_t> GetIOCounts() override { return {0, 0}; }
    IFrameAllocator* GetFrameAllocator() override { return allocator.load(); }
    CCaptureAPIUser* GetCaptureUser() override { return captureUser.load(); }
    int32_t GetVideoStandard() override { return 0; }
    uint32_t GetCameraCount() override { return cameraCount.load(); }

    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    size_t Count(const std::string& needle, int level = -1) {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t n = 0;
        for (const auto& m : m_messages) {
            if (m.text.find(needle) != std::string::npos && (level < 0 || m.level == level)) ++n;
        }
        return n;
    }
    bool WaitFor(const std::string& needle, size_t count = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] {
            size_t n = 0;
            for (const auto& m : m_messages) n += m.text.find(needle) != std::string::npos ? 1 : 0;
            return n >= count;
        });
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.clear();
    }

    kestrel::DEVICE_INFO device;  // set before a channel is made
    std::atomic<IFrameAllocator*> allocator{nullptr};
    std::atomic<CCaptureAPIUser*> captureUser{nullptr};
    std::atomic<uint32_t> cameraCount{1};

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Message> m_messages;
};

}  // namespace channeltest
