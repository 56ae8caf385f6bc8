#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "host/IIPVideoCapture.h"

namespace kestrel {

class CNewCaptureApi;
class COldCaptureApiUser;

// Video operations of the IP interface over the legacy driver object.
class CNewIPVideoCapture : public ipcapture::IIPVideoCapture {
public:
    explicit CNewIPVideoCapture(CNewCaptureApi* owner);
    ~CNewIPVideoCapture() override;

    uint32_t GetCameraCount() noexcept override;
    bool StartVideo(uint32_t channel, ipcapture::IVideoSink* sink, ipcapture::IStreamFormat* format) noexcept override;
    bool StopVideo(uint32_t channel) noexcept override;
    bool ChangeResolution(uint32_t channel, ipcapture::IResolution* resolution, uint32_t intervalMs) noexcept override;
    bool Fixed5() noexcept override;
    bool GetChannelStatus(uint32_t channel, int* state, int* second, char* text, int32_t textSize) noexcept override;
    bool SetParameter(const char* name, const void* value, int32_t length) noexcept override;
    bool GetParameter(const char* name, void* buffer, int32_t size) noexcept override;

private:
    // The resolution kind listed for a size, or 0.
    int32_t FindKind(uint16_t width, uint16_t height) const;

    CNewCaptureApi* m_owner;
    std::atomic<uint16_t> m_quality{0};
    std::unique_ptr<COldCaptureApiUser> m_user;
};

}  // namespace kestrel
