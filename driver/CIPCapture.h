#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "capture/DEVICE_INFO.h"
#include "capture/IDriver.h"
#include "capture/JpegFourCC.h"
#include "capture/VideoChannelParams.h"
#include "driver/CCapabilityList.h"
#include "driver/CChannelTable.h"
#include "driver/CConfigurationSnapshot.h"
#include "host/CCaptureAPIEx.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/HostVersion.h"
#include "settings/DriverConfiguration.h"

namespace kestrel {

class ICameraChannel;
class ICaptureIOApi;

// The generic IP-camera driver object: one per camera. Its IDriver view
// serves the driver's components, its CCaptureAPIEx view the host.
class CIPCapture : public IDriver, public CCaptureAPIEx {
public:
    CIPCapture(int32_t creationValue, const std::string& manufacturer);
    ~CIPCapture() override;

    // IDebugMessage / IDriver, slots 1 to 9
    std::string GetDeviceAddress() override;
    void DebugMessage(int level, const char* format, ...) override __attribute__((format(printf, 3, 4)));
    std::string GetDriverName() override = 0;
    const DEVICE_INFO* GetDeviceInfo() override;
    std::pair<int32_t, int32_t> GetIOCounts() override;
    IFrameAllocator* GetFrameAllocator() override;
    CCaptureAPIUser* GetCaptureUser() override;
    int32_t GetVideoStandard() override;
    uint32_t GetCameraCount() noexcept override;  // also legacy slot 8
    // slots 10 to 13
    virtual std::vector<uint32_t> GetFrameIntervals(int32_t standard);
    virtual ICameraChannel* CreateCameraChannel(uint32_t index) = 0;
    virtual bool CreateDigitalIO() = 0;
    virtual void DeleteDigitalIO() = 0;

    // CCaptureAPI, slots 1 to 34
    int Init() noexcept override;
    void SetCaptureUser(CCaptureAPIUser* user) noexcept override;
    void SetFrameAllocator(IFrameAllocator* allocator) noexcept override;
    int SetVideoStandard(int32_t standard) noexcept override;
    int SetFourCC(uint32_t fourcc) noexcept override;
    int GetResolutionSize(int32_t kind, int* width, int* height) noexcept override;
    int Fixed7(int32_t value) noexcept override;
    int GetFirstFourCC(uint32_t* fourcc) noexcept override;
    int GetNextFourCC(uint32_t* fourcc) noexcept override;
    int GetMaxFrameRate(uint32_t camera, int* rate) noexcept override;
    int Fixed12() noexcept override;
    int GetFirstResolution(int* kind) noexcept override;
    int GetNextResolution(int* kind) noexcept override;
    int GetFirstFrameInterval(uint32_t* interval) noexcept override;
    int GetNextFrameInterval(uint32_t* interval) noexcept override;
    int Fixed17() noexcept override;
    int Open(const char* text) noexcept override;
    int Close() noexcept override;
    int StartChannel(uint32_t channel, uint32_t intervalMs, int32_t kind, int32_t quality) noexcept override;
    int StopChannel(uint32_t channel) noexcept override;
    int GetChannelName(uint32_t channel, char* buffer, int32_t size) noexcept override;
    int Fixed23() noexcept override;
    int Fixed24() noexcept override;
    int Fixed25() noexcept override;
    int Fixed26(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) noexcept override;
    int Fixed27() noexcept override;
    int Fixed28(int32_t value) noexcept override;
    void Fixed29() noexcept override;
    int SetParameter(const char* name, const void* value, int32_t length) noexcept override;
    int GetParameter(const char* name, void* buffer, int32_t size) noexcept override;
    int Fixed32(int* first, int* second) noexcept override;
    int Fixed33(int32_t, int32_t) noexcept override;
    int GetChannelStatus(uint32_t channel, int* state, int* second, char* text, int32_t textSize) noexcept override;
    // CCaptureAPIEx, slots 35 to 37
    int Fixed35(int32_t value) noexcept override;
    int Fixed36(int32_t, int32_t) noexcept override;
    int Fixed37(int32_t, int32_t) noexcept override;

    // Delivers a finished text (no format interpretation).
    void DeliverMessage(int level, const std::string& text);
    const HostVersion& GetHostVersion() const { return m_hostVersion; }
    void SetHostVersion(const HostVersion& version) { m_hostVersion = version; }
    bool IsOpened() const { return m_opened.load(); }
    int32_t GetCreationValue() const { return m_creationValue; }
    // A copy: Open may replace the configuration while another host thread reads it.
    DriverConfiguration GetConfiguration() const;

protected:
    // The record a new channel starts with; defaultKeepAliveMs applies when
    // the configured keep-alive is missing or not positive.
    VideoChannelParams BuildChannelParams(uint32_t index, int32_t defaultKeepAliveMs);

    std::atomic<ICaptureIOApi*> m_digitalIO{nullptr};

private:
    std::atomic<CCaptureAPIUser*> m_captureUser{nullptr};
    std::atomic<IFrameAllocator*> m_frameAllocator{nullptr};
    HostVersion m_hostVersion;
    std::mutex m_deviceMutex;  // settings may change while channels report
    DEVICE_INFO m_device;
    std::atomic<int32_t> m_inputCount{0};
    std::atomic<int32_t> m_outputCount{0};
    CRecursiveLock m_openLock;
    std::atomic<bool> m_opened{false};
    const std::string m_manufacturer;
    CConfigurationSnapshot m_config;
    std::atomic<uint32_t> m_cameraCount{1};
    bool m_canChangeFrameRateInAlarm = false;
    bool m_canChangeResolutionInAlarm = false;
    // Declared after what its channels read through IDriver, so that it is
    // destroyed (its channels stopped) first.
    CChannelTable m_channels;
    CCapabilityList m_capabilities{{kFourCCJpeg}};
    const int32_t m_creationValue;
    std::atomic<int32_t> m_videoStandard{0};
};

}  // namespace kestrel
