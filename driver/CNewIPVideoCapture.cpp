#include "driver/CNewIPVideoCapture.h"

#include "driver/CNewCaptureApi.h"
#include "driver/COldCaptureApiUser.h"
#include "host/CCaptureAPIEx.h"
#include "host/IResolution.h"
#include "host/IStreamFormat.h"
#include "host/IStreamParameters.h"
#include "host/IVideoDescriptor.h"
#include "runtime/GuardedCall.h"

namespace kestrel {

CNewIPVideoCapture::CNewIPVideoCapture(CNewCaptureApi* owner)
    : m_owner(owner), m_user(std::make_unique<COldCaptureApiUser>(owner->GetHostSink())) {
    if (CCaptureAPIEx* legacy = m_owner->GetLegacy()) legacy->SetCaptureUser(m_user.get());
}

CNewIPVideoCapture::~CNewIPVideoCapture() {
    // The legacy driver must not call a capture user that is going away.
    if (CCaptureAPIEx* legacy = m_owner->GetLegacy()) legacy->SetCaptureUser(nullptr);
}

uint32_t CNewIPVideoCapture::GetCameraCount() noexcept {
    return static_cast<uint32_t>(m_owner->GetCapabilities().cameraCount);
}

int32_t CNewIPVideoCapture::FindKind(uint16_t width, uint16_t height) const {
    for (const ResolutionEntry& entry : m_owner->GetCapabilities().resolutions) {
        if (entry.width == width && entry.height == height) return entry.kind;
    }
    return 0;
}

bool CNewIPVideoCapture::StartVideo(uint32_t channel, ipcapture::IVideoSink* sink,
                                    ipcapture::IStreamFormat* format) noexcept {
    return GuardedCall(false, [&] {
        if (channel >= COldCaptureApiUser::kChannels) return false;
        m_user->SetSink(channel, sink);
        if (format == nullptr) return false;
        ipcapture::IStreamParameters* parameters = format->GetStreamParameters();
        ipcapture::IVideoDescriptor* descriptor = format->GetVideoDescriptor();
        if (parameters == nullptr || descriptor == nullptr) return false;
        m_quality.store(parameters->GetQuality());
        const uint32_t interval = parameters->GetFrameInterval();
        ipcapture::IResolution* resolution = descriptor->GetResolution();
        if (resolution == nullptr) return false;
        int32_t kind = FindKind(resolution->GetWidth(), resolution->GetHeight());
        if (kind == 0) kind = 2;
        CCaptureAPIEx* legacy = m_owner->GetLegacy();
        return legacy != nullptr && legacy->StartChannel(channel, interval, kind, m_quality.load()) != 0;
    });
}

bool CNewIPVideoCapture::StopVideo(uint32_t channel) noexcept {
    CCaptureAPIEx* legacy = m_owner->GetLegacy();
    return legacy != nullptr && legacy->StopChannel(channel) != 0;
}

bool CNewIPVideoCapture::ChangeResolution(uint32_t channel, ipcapture::IResolution* resolution,
                                          uint32_t intervalMs) noexcept {
    return GuardedCall(false, [&] {
        if (resolution == nullptr) return false;
        const int32_t kind = FindKind(resolution->GetWidth(), resolution->GetHeight());
        if (kind == 0) return false;
        CCaptureAPIEx* legacy = m_owner->GetLegacy();
        if (legacy == nullptr || legacy->StopChannel(channel) == 0) return false;
        return legacy->StartChannel(channel, intervalMs, kind, m_quality.load()) != 0;
    });
}

bool CNewIPVideoCapture::Fixed5() noexcept { return false; }

bool CNewIPVideoCapture::GetChannelStatus(uint32_t channel, int* state, int* second, char* text,
                                          int32_t textSize) noexcept {
    CCaptureAPIEx* legacy = m_owner->GetLegacy();
    return legacy != nullptr && legacy->GetChannelStatus(channel, state, second, text, textSize) != 0;
}

bool CNewIPVideoCapture::SetParameter(const char* name, const void* value, int32_t length) noexcept {
    CCaptureAPIEx* legacy = m_owner->GetLegacy();
    return legacy != nullptr && legacy->SetParameter(name, value, length) != 0;
}

bool CNewIPVideoCapture::GetParameter(const char* name, void* buffer, int32_t size) noexcept {
    CCaptureAPIEx* legacy = m_owner->GetLegacy();
    return legacy != nullptr && legacy->GetParameter(name, buffer, size) != 0;
}

}  // namespace kestrel
