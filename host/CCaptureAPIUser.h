#pragma once
#include <cstdint>

class CDebugInfoIf;
class IFrameBuffer;

// The host's callback object of the legacy capture interface.
class CCaptureAPIUser {
public:
    virtual ~CCaptureAPIUser() = default;  // slot 0
    // Low byte non-zero when the host took the frame. The driver passes
    // null as the second argument.
    virtual int SendFrameCallback(uint32_t channel, IFrameBuffer* alternate,
                                  IFrameBuffer* frame) = 0;  // slot 1
    virtual void VideoStopped(uint32_t channel) = 0;         // slot 2
    virtual void Reserved3() = 0;                            // slot 3: never called
    virtual void DebugInfo(CDebugInfoIf* message) = 0;       // slot 4
};
