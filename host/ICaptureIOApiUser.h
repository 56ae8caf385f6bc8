#pragma once
#include <cstdint>

namespace kestrel {

// The host's input callback. States: 0 undetermined, 1 off, 2 on.
class ICaptureIOApiUser {
public:
    virtual ~ICaptureIOApiUser() = default;                             // slot 0
    virtual void InputStateChanged(uint32_t input, int32_t state) = 0;  // slot 1
    virtual void IOStatesReset() = 0;                                   // slot 2
};

}  // namespace kestrel
