#pragma once
#include <cstdint>

namespace kestrel::record {

// A period without pictures: from the last picture before it to the first
// one after it (or to the end of the recording when none came).
struct Gap {
    int64_t startUs = 0;  // wall clock, microseconds since 1970 UTC
    int64_t lengthUs = 0;
    bool open = false;  // no picture came after it
};

}  // namespace kestrel::record
