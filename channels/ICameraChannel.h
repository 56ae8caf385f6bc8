#pragma once
#include <cstdint>

namespace kestrel {

// A channel's run state. 1 is not used.
enum CameraState : int32_t {
    StateRunning = 0,
    StateSignalLost = 2,
    StateStopped = 3,
};

// One video channel, as the driver sees it.
class ICameraChannel {
public:
    virtual ~ICameraChannel() = default;  // slot 0
    virtual bool Start(uint32_t intervalMs, int32_t width, int32_t height,
                       int32_t quality) = 0;  // slot 1
    virtual void Stop() = 0;                  // slot 2
    virtual CameraState GetState() = 0;       // slot 3
};

}  // namespace kestrel
