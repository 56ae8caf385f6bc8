#pragma once
#include <cstdint>

namespace kestrel {

// The FourCC of every delivered picture, and the only one the driver
// offers: the bytes J, P, E, G in memory order.
constexpr uint32_t kFourCCJpeg = 0x4745504Au;

}  // namespace kestrel
