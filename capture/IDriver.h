#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/IDebugMessage.h"

class CCaptureAPIUser;
class IFrameAllocator;

namespace kestrel {

struct DEVICE_INFO;

// What the driver's components (camera channel, digital I/O) ask of the
// driver. Slots 1 and 2 come from IDebugMessage.
class IDriver : public IDebugMessage {
public:
    ~IDriver() override = default;
    virtual std::string GetDriverName() = 0;                // slot 3
    virtual const DEVICE_INFO* GetDeviceInfo() = 0;         // slot 4
    virtual std::pair<int32_t, int32_t> GetIOCounts() = 0;  // slot 5: inputs, outputs
    virtual IFrameAllocator* GetFrameAllocator() = 0;       // slot 6
    virtual CCaptureAPIUser* GetCaptureUser() = 0;          // slot 7
    virtual int32_t GetVideoStandard() = 0;                 // slot 8
    virtual uint32_t GetCameraCount() = 0;                  // slot 9
};

}  // namespace kestrel
