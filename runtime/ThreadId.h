#pragma once
#include <cstdint>

namespace kestrel {

// A non-zero id of the calling thread (0 means "no thread").
uint64_t CurrentThreadId();

}  // namespace kestrel
