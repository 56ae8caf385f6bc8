#include "driver/CIPCapture.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "channels/ICameraChannel.h"
#include "host/CCaptureAPIUser.h"
#include "host/ICaptureIOApi.h"
#include "runtime/CDebugInfo.h"
#include "runtime/DebugLevel.h"
#include "runtime/FormatString.h"
#include "runtime/GuardedCall.h"
#include "runtime/TextCompare.h"
#include "settings/TextValues.h"
#include "web/CHttpTrust.h"

namespace kestrel {

namespace {

constexpr const char* kStartChannelMessages[4] = {
    "kestrel::CIPCapture::StartChannel: QCIF resolution not supported. Channel not started.",
    "kestrel::CIPCapture::StartChannel: CIF resolution not supported. Channel not started.",
    "kestrel::CIPCapture::StartChannel: 2CIF resolution not supported. Channel not started.",
    "kestrel::CIPCapture::StartChannel: 4CIF resolution not supported. Channel not started.",
};

void WriteInt32(void* buffer, int32_t value) { std::memcpy(buffer, &value, sizeof(value)); }

}  // namespace

CIPCapture::CIPCapture(int32_t creationValue, const std::string& manufacturer)
    : m_hostVersion(ReadHostCoreVersion()), m_manufacturer(manufacturer), m_creationValue(creationValue) {
    m_device.httpTrust = std::make_shared<Web::CHttpTrust>();
}

// Derived destructors run Close first; this catches the rest without
// calling a virtual of this object.
CIPCapture::~CIPCapture() {
    m_channels.RemoveAll();
    m_channels.FinishParked();
}

// ---- IDebugMessage / IDriver ----------------------------------------------

std::string CIPCapture::GetDeviceAddress() {
    std::lock_guard<std::mutex> lock(m_deviceMutex);
    return m_device.address + FormatString(":%hu", m_device.port);
}

void CIPCapture::DebugMessage(int level, const char* format, ...) {
    std::string text;
    try {
        va_list args;
        va_start(args, format);
        text = FormatStringV(format, args);
        va_end(args);
    } catch (...) {
        text.clear();
    }
    DeliverMessage(level, text);
}

void CIPCapture::DeliverMessage(int level, const std::string& text) {
    if (text.empty() || level == 4) return;
    const int adapted = AdaptDebugLevel(level, m_hostVersion);
    CCaptureAPIUser* user = m_captureUser.load();
    if (user == nullptr) return;
    try {
        CDebugInfo message(text.c_str(), static_cast<int8_t>(adapted));
        user->DebugInfo(&message);
    } catch (...) {
        // The host's problem must not become the driver's.
    }
}

const DEVICE_INFO* CIPCapture::GetDeviceInfo() { return &m_device; }

std::pair<int32_t, int32_t> CIPCapture::GetIOCounts() { return {m_inputCount.load(), m_outputCount.load()}; }

IFrameAllocator* CIPCapture::GetFrameAllocator() { return m_frameAllocator.load(); }

CCaptureAPIUser* CIPCapture::GetCaptureUser() { return m_captureUser.load(); }

int32_t CIPCapture::GetVideoStandard() { return m_videoStandard.load(); }

uint32_t CIPCapture::GetCameraCount() noexcept { return m_cameraCount.load(); }

DriverConfiguration CIPCapture::GetConfiguration() const { return m_config.Get(); }

std::vector<uint32_t> CIPCapture::GetFrameIntervals(int32_t) {
    std::vector<uint32_t> intervals;
    const int32_t max = GetConfiguration().maxFrameRate;
    if (max <= 0) return intervals;
    // clang-format off
    static constexpr struct { int32_t above; uint32_t interval; } kThresholds[] = {
        {29, 33}, {24, 40}, {19, 50}, {14, 66}, {11, 83}, {9, 100}, {8, 111},
        {7, 125}, {6, 142}, {5, 166}, {4, 200}, {3, 250}, {2, 333},
    };
    // clang-format on
    for (const auto& t : kThresholds) {
        if (max > t.above) intervals.push_back(t.interval);
    }
    intervals.push_back(1000);
    return intervals;
}

// ---- CCaptureAPI ----------------------------------------------------------

int CIPCapture::Init() noexcept { return 1; }

void CIPCapture::SetCaptureUser(CCaptureAPIUser* user) noexcept { m_captureUser.store(user); }

void CIPCapture::SetFrameAllocator(IFrameAllocator* allocator) noexcept { m_frameAllocator.store(allocator); }

int CIPCapture::SetVideoStandard(int32_t standard) noexcept {
    return GuardedCall(0, [&] {
        m_videoStandard.store(standard);
        m_capabilities.ClearFrameIntervals();
        return 1;
    });
}

int CIPCapture::SetFourCC(uint32_t fourcc) noexcept {
    return GuardedCall(0, [&] { return m_capabilities.SelectFourCC(fourcc); });
}

int CIPCapture::GetResolutionSize(int32_t kind, int* width, int* height) noexcept {
    if (kind < 1 || kind > 4 || width == nullptr || height == nullptr) return 0;
    return GuardedCall(0, [&] {
        int32_t w = 0;
        int32_t h = 0;
        if (!m_config.Resolution(kind, w, h)) return 0;
        *width = w;
        *height = h;
        return 1;
    });
}

int CIPCapture::Fixed7(int32_t) noexcept { return 0; }

int CIPCapture::GetFirstFourCC(uint32_t* fourcc) noexcept {
    return GuardedCall(0, [&] { return m_capabilities.FirstFourCC(fourcc); });
}

int CIPCapture::GetNextFourCC(uint32_t* fourcc) noexcept {
    return GuardedCall(0, [&] { return m_capabilities.NextFourCC(fourcc); });
}

int CIPCapture::GetMaxFrameRate(uint32_t camera, int* rate) noexcept {
    if (camera > GetCameraCount() || rate == nullptr) return 0;
    return GuardedCall(0, [&] {
        *rate = m_config.Get().maxFrameRate;
        return 1;
    });
}

int CIPCapture::Fixed12() noexcept { return 1; }

int CIPCapture::GetFirstResolution(int* kind) noexcept {
    return GuardedCall(0, [&] { return m_capabilities.FirstResolution(kind); });
}

int CIPCapture::GetNextResolution(int* kind) noexcept {
    return GuardedCall(0, [&] { return m_capabilities.NextResolution(kind); });
}

int CIPCapture::GetFirstFrameInterval(uint32_t* interval) noexcept {
    return GuardedCall(0, [&] { return m_capabilities.FirstFrameInterval(interval); });
}

int CIPCapture::GetNextFrameInterval(uint32_t* interval) noexcept {
    return GuardedCall(0, [&] { return m_capabilities.NextFrameInterval(interval); });
}

int CIPCapture::Fixed17() noexcept { return 0; }

int CIPCapture::Open(const char*) noexcept {
    return GuardedCall(0, [&]() -> int {
        CLockGuard openGuard(m_openLock);
        if (m_opened.load()) return 1;
        std::string serverType;
        {
            std::lock_guard<std::mutex> lock(m_deviceMutex);
            serverType = m_device.serverType;
        }
        if (serverType.empty()) {
            DebugMessage(LevelError, "%s", "kestrel::CIPCapture::Open: IP Server Type hasn't been set");
            Close();
            return 0;
        }
        // Read into a copy, kept whatever the result: values from an earlier
        // file stay, as they would in place.
        DriverConfiguration config = GetConfiguration();
        const bool read = ReadDriverConfiguration(config, m_manufacturer, serverType + ".xml");
        m_config.Replace(config);
        m_cameraCount.store(config.cameraCount);
        if (!read) {
            DebugMessage(LevelError, "kestrel::CIPCapture::Open: Unable to read configuration from %s.xml file",
                         serverType.c_str());
            Close();
            return 0;
        }
        m_channels.Resize(config.cameraCount);
        if (config.configuredInputCount > 0) m_inputCount.store(config.configuredInputCount);
        if (config.configuredOutputCount > 0) m_outputCount.store(config.configuredOutputCount);
        const std::vector<uint32_t> intervals = GetFrameIntervals(m_videoStandard.load());
        if (!intervals.empty()) m_capabilities.Offer(intervals, config.supported);
        if (intervals.empty()) {
            Close();
            return 0;
        }
        try {
            if (!CreateDigitalIO()) {
                Close();
                return 0;
            }
            const std::string text = "DRIVER IS OPENED (name: " + GetDriverName() + ", device model: " + serverType +
                                     ", address: " + GetDeviceAddress() + ")";
            DeliverMessage(100, text);
        } catch (...) {
            Close();
            return 0;
        }
        m_opened.store(true);
        return 1;
    });
}

int CIPCapture::Close() noexcept {
    return GuardedCall(0, [&] {
        CLockGuard openGuard(m_openLock);
        m_channels.FinishParked();
        try {
            DeleteDigitalIO();
        } catch (...) {}
        m_channels.RemoveAll();
        m_opened.store(false);
        return 1;
    });
}

VideoChannelParams CIPCapture::BuildChannelParams(uint32_t index, int32_t defaultKeepAliveMs) {
    VideoChannelParams params;
    params.channelIndex = static_cast<int32_t>(index);
    const DriverConfiguration config = GetConfiguration();
    const int32_t keepAliveSeconds = AtoiValue(config.rtpKeepAlive);
    params.keepAliveMs = keepAliveSeconds > 0 && keepAliveSeconds <= INT32_MAX / 1000 ? keepAliveSeconds * 1000
                         : keepAliveSeconds > 0                                       ? INT32_MAX
                                                                                      : defaultKeepAliveMs;
    params.videoStandard = m_videoStandard.load();
    if (EqualsNoCase(config.videoMode, "PAL")) params.videoStandard = 0;
    if (EqualsNoCase(config.videoMode, "NTSC")) params.videoStandard = 1;
    params.qualityMin = AtoiValue(config.qualityMin);
    params.qualityMax = AtoiValue(config.qualityMax);
    if (params.qualityMin == 0 && params.qualityMax == 0) {
        params.qualityMin = 1;
        params.qualityMax = 10;
    }
    return params;
}

int CIPCapture::StartChannel(uint32_t channel, uint32_t intervalMs, int32_t kind, int32_t quality) noexcept {
    return GuardedCall(0, [&]() -> int {
        m_channels.FinishParked();
        if (!m_opened.load()) return 0;
        if (kind < 1 || kind > 4) return 0;
        int32_t width = 0;
        int32_t height = 0;
        if (!m_config.Resolution(kind, width, height)) {
            DebugMessage(LevelError, "%s", kStartChannelMessages[kind - 1]);
            return 0;
        }
        if (width <= 0 || height <= 0) return 0;
        const bool placed = m_channels.Place(
            channel, [&] { return std::unique_ptr<ICameraChannel>(CreateCameraChannel(channel)); },
            [&](ICameraChannel& created) { return created.Start(intervalMs, width, height, quality); });
        return placed ? 1 : 0;
    });
}

int CIPCapture::StopChannel(uint32_t channel) noexcept {
    return GuardedCall(0, [&]() -> int {
        if (!m_channels.Remove(channel)) return 0;
        if (CCaptureAPIUser* user = m_captureUser.load()) {
            try {
                user->VideoStopped(channel);
            } catch (...) {}
        }
        return 1;
    });
}

int CIPCapture::GetChannelName(uint32_t channel, char* buffer, int32_t size) noexcept {
    if (channel >= GetCameraCount() || buffer == nullptr || size < 2) return 0;
    buffer[0] = '\0';
    return 1;
}

int CIPCapture::Fixed23() noexcept { return 0; }
int CIPCapture::Fixed24() noexcept { return 1; }
int CIPCapture::Fixed25() noexcept { return 0; }
int CIPCapture::Fixed26(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) noexcept {
    return 0;
}
int CIPCapture::Fixed27() noexcept { return 0; }
int CIPCapture::Fixed28(int32_t) noexcept { return 0; }
void CIPCapture::Fixed29() noexcept {}

int CIPCapture::SetParameter(const char* name, const void* value, int32_t) noexcept {
    if (name == nullptr || value == nullptr) return 0;
    return GuardedCall(0, [&] {
        std::lock_guard<std::mutex> lock(m_deviceMutex);
        if (std::strcmp(name, "IPSERVERADDRESS") == 0) {
            m_device.address = static_cast<const char*>(value);
        } else if (std::strcmp(name, "IPSERVERTYPE") == 0) {
            m_device.serverType = static_cast<const char*>(value);
        } else if (std::strcmp(name, "IPSERVERPORT") == 0) {
            // The port travels in the pointer-sized value itself.
            m_device.port = static_cast<uint16_t>(reinterpret_cast<uintptr_t>(value) & 0xFFFFu);
        } else if (std::strcmp(name, "IPSERVERUSERNAME") == 0) {
            m_device.userName = static_cast<const char*>(value);
        } else if (std::strcmp(name, "IPSERVERPASSWORD") == 0) {
            m_device.password = static_cast<const char*>(value);
        }
        return 1;
    });
}

int CIPCapture::GetParameter(const char* name, void* buffer, int32_t size) noexcept {
    if (name == nullptr || buffer == nullptr || size == 0) return 0;
    return GuardedCall(0, [&]() -> int {
        if (std::strcmp(name, "ICaptureIOApi") == 0) {
            // Pointers are 8 bytes here: any other size would be written past.
            ICaptureIOApi* io = m_digitalIO.load();
            if (size != static_cast<int32_t>(sizeof(void*)) || io == nullptr) return 0;
            std::memcpy(buffer, &io, sizeof(io));  // NOLINT(bugprone-sizeof-expression): the pointer itself
            return 1;
        }
        if (std::strcmp(name, "ipAddress") == 0) {
            std::string address;
            {
                std::lock_guard<std::mutex> lock(m_deviceMutex);
                address = m_device.address;
            }
            if (!address.empty()) {
                if (size < 0 || static_cast<size_t>(size) < address.size() + 1) return 0;
                std::memcpy(buffer, address.c_str(), address.size() + 1);
                return 1;
            }
        }
        if (std::strcmp(name, "isIPCamera") == 0) {
            if (size < 4) return 0;
            WriteInt32(buffer, 1);
            return 1;
        }
        if (std::strcmp(name, "CCaptureApiEx") == 0) {
            if (size != 4) return 0;
            WriteInt32(buffer, 1);
            return 1;
        }
        if (size != 4) return 0;
        static constexpr const char* kMaxFps[4] = {"MAXFPS_RES0", "MAXFPS_RES1", "MAXFPS_RES2", "MAXFPS_RES3"};
        for (size_t i = 0; i < 4; ++i) {
            if (std::strcmp(name, kMaxFps[i]) != 0) continue;
            const int32_t value = m_config.Get().maxFpsRes[i];
            if (value > 0) {
                WriteInt32(buffer, value);
                return 1;
            }
        }
        if (std::strcmp(name, "CanChangeFrInAlm") == 0) {
            WriteInt32(buffer, m_canChangeFrameRateInAlarm ? 1 : 0);
            return 1;
        }
        if (std::strcmp(name, "CanChangeResInAlm") == 0) {
            WriteInt32(buffer, m_canChangeResolutionInAlarm ? 1 : 0);
            return 1;
        }
        return 0;
    });
}

int CIPCapture::Fixed32(int* first, int* second) noexcept {
    if (first != nullptr) *first = 0;
    if (second != nullptr) *second = 0;
    return 0;
}

int CIPCapture::Fixed33(int32_t, int32_t) noexcept { return 0; }

int CIPCapture::GetChannelStatus(uint32_t channel, int* state, int* second, char* text, int32_t textSize) noexcept {
    return GuardedCall(0, [&]() -> int {
        CameraState current = StateStopped;
        // Read under the table's lock: StopChannel destroys the channel outside it.
        if (!m_channels.Read(channel, [&](ICameraChannel& found) { current = found.GetState(); })) return 0;
        if (text != nullptr && textSize > 0) text[0] = '\0';
        if (second != nullptr) *second = 0;
        if (state != nullptr) *state = current;
        return 1;
    });
}

int CIPCapture::Fixed35(int32_t) noexcept { return 0; }
int CIPCapture::Fixed36(int32_t, int32_t) noexcept { return 0; }
int CIPCapture::Fixed37(int32_t, int32_t) noexcept { return 0; }

}  // namespace kestrel
