#pragma once
#include <cstdint>

namespace kestrel {

class ICaptureIOApiUser;

// Digital I/O interface handed to the host.
class ICaptureIOApi {
public:
    virtual ~ICaptureIOApi() = default;                                    // slot 0
    virtual bool SetIOUser(ICaptureIOApiUser* user) = 0;                   // slot 1
    virtual bool StartIO() = 0;                                            // slot 2
    virtual bool StopIO() = 0;                                             // slot 3
    virtual uint32_t GetInputCount() = 0;                                  // slot 4
    virtual uint32_t GetOutputCount() = 0;                                 // slot 5
    virtual bool RequestOutputState(uint32_t index, int32_t state) = 0;    // slot 6
};

}  // namespace kestrel
