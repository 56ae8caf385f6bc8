#pragma once
#include <cstdint>
#include "host/CCaptureAPI.h"

// Extended legacy interface: three further fixed operations.
class CCaptureAPIEx : public CCaptureAPI {
public:
    virtual int Fixed35(int32_t value) noexcept = 0;  // 35
    // New slots with the base's signature by design, not near-miss overrides.
    virtual int Fixed36(int32_t, int32_t) noexcept = 0;  // 36 NOLINT(bugprone-virtual-near-miss)
    virtual int Fixed37(int32_t, int32_t) noexcept = 0;  // 37 NOLINT(bugprone-virtual-near-miss)
};
