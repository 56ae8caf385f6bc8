#pragma once
#include <cstdint>

namespace kestrel {
class ICaptureIOApi;
}

namespace kestrel::record {

// One camera driven through one of the driver's two interfaces. Failures are
// recorded as the camera's problem; the results only say whether to go on.
class ICameraSession {
public:
    virtual ~ICameraSession() = default;
    // Creates the driver object, hands over the settings and opens it.
    virtual bool Open() = 0;
    virtual bool StartVideo() = 0;
    // The channel's run state (0 running, 2 signal lost, 3 stopped), -1 when none.
    virtual int32_t ChannelState() = 0;
    virtual kestrel::ICaptureIOApi* IOApi() = 0;
    // Stops video, closes and deletes the driver object; safe to repeat.
    virtual void Close() = 0;
};

}  // namespace kestrel::record
