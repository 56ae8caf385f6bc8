#pragma once
#include <cstdint>

namespace kestrel::record {

// One whole picture as the writers see it; the bytes belong to the caller.
struct Picture {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint64_t number = 0;    // 1, 2, 3 ... per camera, in arrival order
    int64_t arrivalUs = 0;  // wall clock, microseconds since 1970 UTC
    int32_t width = 0;
    int32_t height = 0;
};

}  // namespace kestrel::record
