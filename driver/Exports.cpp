// The five functions the host finds by name. Nothing may escape as an
// exception into the host.
#include "driver/CNewCaptureApi.h"
#include "driver/CSonyIPCapture.h"
#include "host/HalyardExports.h"
#include "host/ICaptureCapabilities.h"
#include "host/IFrameIntervalList.h"
#include "runtime/GuardedCall.h"

#define HALYARD_EXPORT extern "C" __attribute__((visibility("default")))

HALYARD_EXPORT CCaptureAPIEx* CreateCapture(int32_t value) noexcept {
    // NOLINTNEXTLINE(bugprone-unhandled-exception-at-new): GuardedCall catches it
    return kestrel::GuardedCall<CCaptureAPIEx*>(nullptr, [&] { return new kestrel::CSonyIPCapture(value); });
}

HALYARD_EXPORT bool DeleteCapture(CCaptureAPIEx** capture) noexcept {
    if (capture == nullptr || *capture == nullptr) return false;
    // Destructors do not throw: releasing needs no guard.
    delete *capture;
    *capture = nullptr;
    return true;
}

HALYARD_EXPORT kestrel::ipcapture::IIPCaptureDriver* CreateIPCapture() noexcept {
    CCaptureAPIEx* legacy = CreateCapture(0);
    if (legacy == nullptr) return nullptr;
    auto* adapter = kestrel::GuardedCall<kestrel::CNewCaptureApi*>(nullptr, [&] {
        // NOLINTNEXTLINE(bugprone-unhandled-exception-at-new): GuardedCall catches it
        return new kestrel::CNewCaptureApi(legacy);
    });
    if (adapter == nullptr) DeleteCapture(&legacy);
    return adapter;
}

HALYARD_EXPORT void DeleteIPCapture(kestrel::ipcapture::IIPCaptureDriver* driver) noexcept {
    if (driver == nullptr) return;
    auto* adapter = dynamic_cast<kestrel::CNewCaptureApi*>(driver);
    if (adapter == nullptr) return;
    CCaptureAPIEx* legacy = adapter->GetLegacy();
    delete adapter;
    DeleteCapture(&legacy);
}

HALYARD_EXPORT int32_t QueryModelCapabilities(int32_t model, int32_t, ICaptureCapabilities* capabilities) noexcept {
    if (model == 0 || capabilities == nullptr) return 0;
    // The host's list may throw.
    return kestrel::GuardedCall(int32_t{0}, [&] {
        IFrameIntervalList* list = capabilities->GetList(1);
        if (list == nullptr) return int32_t{0};
        static constexpr uint32_t kRates[] = {15, 10, 8, 6, 5, 4, 3, 2, 1};
        for (uint32_t rate : kRates) list->Add(1000u / rate);
        list->SetDefault(1000u / kRates[4]);
        return int32_t{1};
    });
}
