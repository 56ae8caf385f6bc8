#pragma once
#include <cstdint>

class IFrameBuffer;

namespace kestrel::ipcapture {

// Per-channel video sink of the IP interface.
class IVideoSink {
public:
    virtual ~IVideoSink() = default;                // 0
    virtual bool OnFrame(IFrameBuffer* frame) = 0;  // 1
    virtual void OnStatus(int32_t status) = 0;      // 2 (unused by the driver)
    virtual void OnVideoStopped() = 0;              // 3
};

}  // namespace kestrel::ipcapture
