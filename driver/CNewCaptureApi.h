#pragma once
#include <cstdint>
#include <string>

#include "host/IIPCaptureDriver.h"
#include "settings/ModelCapabilities.h"

class CCaptureAPIEx;

namespace kestrel {

class CNewIPVideoCapture;

// The IP capture interface over a legacy driver object, which it owns.
class CNewCaptureApi : public ipcapture::IIPCaptureDriver {
public:
    explicit CNewCaptureApi(CCaptureAPIEx* legacy);
    ~CNewCaptureApi() override;  // runs Shutdown; the legacy object stays with DeleteIPCapture

    bool Initialize(ipcapture::IHostSink* sink, IFrameAllocator* allocator,
                    ipcapture::IDeviceDescription* device) noexcept override;
    void Shutdown() noexcept override;
    ipcapture::IIPVideoCapture* GetVideoCapture() noexcept override;
    ICaptureIOApi* GetIOApi() noexcept override;

    CCaptureAPIEx* GetLegacy() const { return m_legacy; }
    ipcapture::IHostSink* GetHostSink() const { return m_hostSink; }
    const ModelCapabilities& GetCapabilities() const { return m_capabilities; }

    static constexpr size_t kModelNameLimit = 254;

private:
    ModelCapabilities m_capabilities;
    ipcapture::IHostSink* m_hostSink = nullptr;
    IFrameAllocator* m_frameAllocator = nullptr;
    CCaptureAPIEx* m_legacy;
    CNewIPVideoCapture* m_video = nullptr;
    std::string m_modelName;
    bool m_opened = false;
};

}  // namespace kestrel
