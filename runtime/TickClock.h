#pragma once
#include <cstdint>

namespace kestrel {

// Monotonic milliseconds, wrapping at 32 bits like the platform tick count.
uint32_t GetTickCountMs();

}  // namespace kestrel
