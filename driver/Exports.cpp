// The five functions the host finds by name. Nothing may escape as an
// exception into the host.
#include <new>

#include "driver/CNewCaptureApi.h"
#include "driver/CSonyIPCapture.h"
#include "host/HalyardExports.h"
#include "host/ICaptureCapabilities.h"
#include "host/IFrameIntervalList.h"

#define HALYARD_EXPORT extern "C" __attribute__((visibility("default")))

HALYARD_EXPORT CCaptureAPIEx* CreateCapture(int32_t value) {
    try {
        auto* driver = new (std::nothrow) kestrel::CSonyIPCapture(value);
        return driver;
    } catch (...) {
        return nullptr;
    }
}

HALYARD_EXPORT bool DeleteCapture(CCaptureAPIEx** capture) {
    try {
        if (capture == nullptr || *capture == nullptr) return false;
        delete *capture;
        *capture = nullptr;
        return true;
    } catch (...) {
        return false;
    }
}

HALYARD_EXPORT kestrel::ipcapture::IIPCaptureDriver* CreateIPCapture() {
    try {
        CCaptureAPIEx* legacy = CreateCapture(0);
        if (legacy == nullptr) return nullptr;
        auto* adapter = new (std::nothrow) kestrel::CNewCaptureApi(legacy);
        if (adapter == nullptr) DeleteCapture(&legacy);
        return adapter;
    } catch (...) {
        return nullptr;
    }
}

HALYARD_EXPORT void DeleteIPCapture(kestrel::ipcapture::IIPCaptureDriver* driver) {
    try {
        if (driver == nullptr) return;
        auto* adapter = dynamic_cast<kestrel::CNewCaptureApi*>(driver);
        if (adapter == nullptr) return;
        CCaptureAPIEx* legacy = adapter->GetLegacy();
        delete adapter;
        DeleteCapture(&legacy);
    } catch (...) {
    }
}

HALYARD_EXPORT int32_t QueryModelCapabilities(int32_t model, int32_t, ICaptureCapabilities* capabilities) {
    try {
        if (model == 0 || capabilities == nullptr) return 0;
        IFrameIntervalList* list = capabilities->GetList(1);
        if (list == nullptr) return 0;
        static constexpr uint32_t kRates[] = {15, 10, 8, 6, 5, 4, 3, 2, 1};
        for (uint32_t rate : kRates) list->Add(1000u / rate);
        list->SetDefault(1000u / kRates[4]);
        return 1;
    } catch (...) {
        return 0;
    }
}
