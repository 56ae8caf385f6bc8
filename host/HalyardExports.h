#pragma once
#include <cstdint>

class CCaptureAPIEx;
class ICaptureCapabilities;
namespace kestrel::ipcapture {
class IIPCaptureDriver;
}

// The five functions a host finds by name in libHalyard.so. None throws.
extern "C" {
CCaptureAPIEx* CreateCapture(int32_t value) noexcept;
bool DeleteCapture(CCaptureAPIEx** capture) noexcept;
kestrel::ipcapture::IIPCaptureDriver* CreateIPCapture() noexcept;
void DeleteIPCapture(kestrel::ipcapture::IIPCaptureDriver* driver) noexcept;
int32_t QueryModelCapabilities(int32_t model, int32_t second, ICaptureCapabilities* capabilities) noexcept;
}

// Function pointer types for hosts that load the library with dlopen.
using CreateCaptureFn = CCaptureAPIEx* (*)(int32_t);
using DeleteCaptureFn = bool (*)(CCaptureAPIEx**);
using CreateIPCaptureFn = kestrel::ipcapture::IIPCaptureDriver* (*)();
using DeleteIPCaptureFn = void (*)(kestrel::ipcapture::IIPCaptureDriver*);
using QueryModelCapabilitiesFn = int32_t (*)(int32_t, int32_t, ICaptureCapabilities*);
