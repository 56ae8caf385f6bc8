#include "driver/CNewCaptureApi.h"

#include <cstdint>
#include <cstring>

#include "driver/CNewIPVideoCapture.h"
#include "host/CCaptureAPIEx.h"
#include "host/IConnectionInfo.h"
#include "host/IDeviceDescription.h"
#include "host/IModelInfo.h"
#include "runtime/GuardedCall.h"

namespace kestrel {

namespace {

bool SendText(CCaptureAPIEx* legacy, const char* name, const char* text) {
    if (text == nullptr) return false;
    return legacy->SetParameter(name, text, static_cast<int32_t>(std::strlen(text))) != 0;
}

}  // namespace

CNewCaptureApi::CNewCaptureApi(CCaptureAPIEx* legacy) : m_legacy(legacy) {}

CNewCaptureApi::~CNewCaptureApi() { Shutdown(); }

bool CNewCaptureApi::Initialize(ipcapture::IHostSink* sink, IFrameAllocator* allocator,
                                ipcapture::IDeviceDescription* device) noexcept {
    return GuardedCall(false, [&] {
        if (sink == nullptr || allocator == nullptr || device == nullptr || m_legacy == nullptr) return false;
        m_hostSink = sink;
        m_frameAllocator = allocator;
        ipcapture::IModelInfo* model = device->GetModel();
        ipcapture::IConnectionInfo* connection = device->GetConnection();
        if (model == nullptr || connection == nullptr) return false;
        const char* name = model->GetModelName();
        if (name == nullptr) return false;
        if (std::strlen(name) > kModelNameLimit) return false;
        m_modelName = name;
        std::string rootName;
        m_capabilities = ModelCapabilities();
        if (!ReadModelCapabilities(m_modelName, m_capabilities, rootName)) return false;
        if (m_capabilities.modes.size() > 1 && m_capabilities.modes[1] != 0) {
            SendText(m_legacy, "Compression", connection->GetCompression() == 2 ? "MPEG4" : "MJPEG");
        }
        if (!SendText(m_legacy, "IPSERVERADDRESS", connection->GetAddress())) return false;
        if (!SendText(m_legacy, "IPSERVERTYPE", m_modelName.c_str())) return false;
        const uintptr_t port = connection->GetPort();
        // The legacy interface carries the port in the pointer itself.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        if (m_legacy->SetParameter("IPSERVERPORT", reinterpret_cast<const void*>(port), 4) == 0) return false;
        if (!SendText(m_legacy, "IPSERVERUSERNAME", connection->GetUserName())) return false;
        if (!SendText(m_legacy, "IPSERVERPASSWORD", connection->GetPassword())) return false;
        if (m_legacy->Init() == 0) return false;
        m_legacy->SetFrameAllocator(allocator);
        m_opened = m_legacy->Open(m_modelName.c_str()) != 0;
        return m_opened;
    });
}

void CNewCaptureApi::Shutdown() noexcept {
    if (m_opened && m_legacy != nullptr) {
        m_legacy->Close();
        m_opened = false;
    }
    CNewIPVideoCapture* video = m_video;
    m_video = nullptr;
    delete video;
}

ipcapture::IIPVideoCapture* CNewCaptureApi::GetVideoCapture() noexcept {
    return GuardedCall<ipcapture::IIPVideoCapture*>(nullptr, [&] {
        // NOLINTNEXTLINE(bugprone-unhandled-exception-at-new): GuardedCall catches it
        if (m_video == nullptr) m_video = new CNewIPVideoCapture(this);
        return m_video;
    });
}

ICaptureIOApi* CNewCaptureApi::GetIOApi() noexcept {
    if (m_legacy == nullptr) return nullptr;
    ICaptureIOApi* io = nullptr;
    // Pointers are 8 bytes here: the legacy query answers that size only.
    // NOLINTNEXTLINE(bugprone-sizeof-expression): the size of the pointer is what is asked
    if (m_legacy->GetParameter("ICaptureIOApi", &io, static_cast<int32_t>(sizeof(io))) == 0) return nullptr;
    return io;
}

}  // namespace kestrel
