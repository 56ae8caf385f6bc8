#pragma once
#include <cstdint>

namespace kestrel::ipcapture {

class IVideoSink;
class IStreamFormat;
class IResolution;

// IP capture video interface. No operation throws.
class IIPVideoCapture {
public:
    virtual ~IIPVideoCapture() = default;                                                             // 0
    virtual uint32_t GetCameraCount() noexcept = 0;                                                   // 1
    virtual bool StartVideo(uint32_t channel, IVideoSink* sink, IStreamFormat* format) noexcept = 0;  // 2
    virtual bool StopVideo(uint32_t channel) noexcept = 0;                                            // 3
    virtual bool ChangeResolution(uint32_t channel, IResolution* resolution,
                                  uint32_t intervalMs) noexcept = 0;  // 4
    virtual bool Fixed5() noexcept = 0;                               // 5
    virtual bool GetChannelStatus(uint32_t channel, int* state, int* second, char* text,
                                  int32_t textSize) noexcept = 0;                                 // 6
    virtual bool SetParameter(const char* name, const void* value, int32_t length) noexcept = 0;  // 7
    virtual bool GetParameter(const char* name, void* buffer, int32_t size) noexcept = 0;         // 8
};

}  // namespace kestrel::ipcapture
