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

// IP capture driver interface.
class IIPCaptureDriver {
public:
    virtual ~IIPCaptureDriver() = default;                                 // 0
    virtual bool Initialize(IHostSink* sink, IFrameAllocator* allocator,
                            IDeviceDescription* device) = 0;               // 1
    virtual void Shutdown() = 0;                                           // 2
    virtual IIPVideoCapture* GetVideoCapture() = 0;                        // 3
    virtual kestrel::ICaptureIOApi* GetIOApi() = 0;                        // 4
};

}  // namespace kestrel::ipcapture
