#pragma once
#include <cstdint>
#include "host/CCaptureAPI.h"

// Extended legacy interface: three further fixed operations.
class CCaptureAPIEx : public CCaptureAPI {
public:
    virtual int Fixed35(int32_t value) noexcept = 0;     // 35
    virtual int Fixed36(int32_t, int32_t) noexcept = 0;  // 36
    virtual int Fixed37(int32_t, int32_t) noexcept = 0;  // 37
};
