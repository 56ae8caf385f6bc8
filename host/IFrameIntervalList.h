#pragma once
#include <cstdint>

// The host's list of frame intervals offered for a model.
class IFrameIntervalList {
public:
    virtual ~IFrameIntervalList() = default;           // slot 0
    virtual void SetDefault(uint32_t intervalMs) = 0;  // slot 1
    virtual void Add(uint32_t intervalMs) = 0;         // slot 2
};
