#pragma once
// What the driver tests share: the generic driver object over fake
// channels, model files where the driver looks for them, and the library
// loaded as a recorder loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "channels/ICameraChannel.h"
#include "driver/CIPCapture.h"
#include "driver/CSonyIPCapture.h"
#include "host/HalyardExports.h"

namespace drivertest {

// A channel that only records what the driver asks of it.
class FakeChannel : public kestrel::ICameraChannel {
public:
    FakeChannel(std::vector<std::string>* log, bool startResult) : m_log(log), m_startResult(startResult) {}
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

// A model file beside the test executable, where the driver looks for it.
class ModelFile {
public:
    ModelFile(const std::string& model, const std::string& body) {
        char exe[4096] = {0};
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof(exe) - 1);
        const std::string path = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string("./x");
        m_path = path.substr(0, path.find_last_of('/') + 1) + model + ".xml";
        std::ofstream(m_path) << body;
    }
    ~ModelFile() { std::remove(m_path.c_str()); }
    ModelFile(const ModelFile&) = delete;
    ModelFile& operator=(const ModelFile&) = delete;

private:
    std::string m_path;
};

// A PAL model with QCIF and CIF, quality 20..80, keep-alive 30 s.
inline std::string PalModel(const std::string& extra = "", int maxRate = 25) {
    return "<sony><quality><min value=\"20\"/><max value=\"80\"/></quality><rtp><keepalive value=\"30\"/></rtp>"
           "<resolutions><qcif value=\"true\"/><qcifx value=\"176\"/><qcify value=\"144\"/>"
           "<cif value=\"TRUE\"/><cifx value=\"352\"/><cify value=\"288\"/></resolutions>"
           "<framerate><max value=\"" +
           std::to_string(maxRate) + "\"/><res1 value=\"25\"/></framerate>" + extra + "</sony>";
}

// libHalyard.so as a recorder sees it: loaded with dlopen, reached by name.
class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        m_handle = dlopen(HALYARD_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << dlerror();
        create = reinterpret_cast<CreateCaptureFn>(dlsym(m_handle, "CreateCapture"));
        destroy = reinterpret_cast<DeleteCaptureFn>(dlsym(m_handle, "DeleteCapture"));
        query = reinterpret_cast<QueryModelCapabilitiesFn>(dlsym(m_handle, "QueryModelCapabilities"));
        createIP = reinterpret_cast<CreateIPCaptureFn>(dlsym(m_handle, "CreateIPCapture"));
        deleteIP = reinterpret_cast<DeleteIPCaptureFn>(dlsym(m_handle, "DeleteIPCapture"));
        ASSERT_TRUE(create && destroy && query && createIP && deleteIP);
    }
    void TearDown() override {
        if (m_handle != nullptr) dlclose(m_handle);
    }
    void* m_handle = nullptr;
    CreateCaptureFn create = nullptr;
    DeleteCaptureFn destroy = nullptr;
    QueryModelCapabilitiesFn query = nullptr;
    CreateIPCaptureFn createIP = nullptr;
    DeleteIPCaptureFn deleteIP = nullptr;
};

}  // namespace drivertest
