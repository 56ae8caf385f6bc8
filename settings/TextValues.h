#pragma once
#include <cstdint>
#include <string_view>

namespace kestrel {

// atoi as the model files have always been read: leading white space, an
// optional sign, then decimal digits up to the first other character; 0 when
// there are none. Out-of-range numbers saturate instead of overflowing.
int32_t AtoiValue(std::string_view text);

}  // namespace kestrel
