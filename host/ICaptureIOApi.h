#pragma once
#include <cstdint>

namespace kestrel {

class ICaptureIOApiUser;

// Digital I/O interface handed to the host. No operation throws.
class ICaptureIOApi {
public:
    virtual ~ICaptureIOApi() = default;                                           // slot 0
    virtual bool SetIOUser(ICaptureIOApiUser* user) noexcept = 0;                 // slot 1
    virtual bool StartIO() noexcept = 0;                                          // slot 2
    virtual bool StopIO() noexcept = 0;                                           // slot 3
    virtual uint32_t GetInputCount() noexcept = 0;                                // slot 4
    virtual uint32_t GetOutputCount() noexcept = 0;                               // slot 5
    virtual bool RequestOutputState(uint32_t index, int32_t state) noexcept = 0;  // slot 6
};

}  // namespace kestrel
