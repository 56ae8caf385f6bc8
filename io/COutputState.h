#pragma once
#include <cstdint>

namespace kestrel {

// One queued change of a digital output. States: 0 undetermined, 1 off, 2 on.
class COutputState {
public:
    COutputState(uint32_t outputIndex, int32_t wantedState) : index(outputIndex), state(wantedState) {}
    virtual ~COutputState() = default;

    uint32_t index;
    int32_t state;
};

}  // namespace kestrel
