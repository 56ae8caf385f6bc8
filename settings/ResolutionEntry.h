#pragma once
#include <cstdint>
#include <vector>

namespace kestrel {

// One resolution offered by a model, as the IP interface lists it.
struct ResolutionEntry {
    uint32_t minimumInterval = 40;
    std::vector<uint32_t> intervals;  // longest first
    int32_t kind = 0;                 // 2 CIF, 3 2CIF, 4 4CIF
    uint16_t width = 0;
    uint16_t height = 0;
};

}  // namespace kestrel
