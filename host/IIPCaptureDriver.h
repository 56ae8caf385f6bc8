#pragma once
#include <cstdint>

class IFrameAllocator;

namespace kestrel {
class ICaptureIOApi;
}

namespace kestrel::ipcapture {

class IHostSink;
class IDeviceDescription;
class IIPVideoCapture;

// IP capture driver interface. No operation throws.
class IIPCaptureDriver {
public:
    virtual ~IIPCaptureDriver() = default;  // 0
    virtual bool Initialize(IHostSink* sink, IFrameAllocator* allocator,
                            IDeviceDescription* device) noexcept = 0;  // 1
    virtual void Shutdown() noexcept = 0;                              // 2
    virtual IIPVideoCapture* GetVideoCapture() noexcept = 0;           // 3
    virtual kestrel::ICaptureIOApi* GetIOApi() noexcept = 0;           // 4
};

}  // namespace kestrel::ipcapture
