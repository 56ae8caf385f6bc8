#pragma once
#include <cstdint>

namespace kestrel::ipcapture {

// Stream parameters of a stream format.
class IStreamParameters {
public:
    virtual ~IStreamParameters() = default;      // 0
    virtual uint16_t GetFrameInterval() = 0;     // 1: milliseconds
    virtual uint16_t GetKeyFrameInterval() = 0;  // 2 (unused by the driver)
    virtual uint16_t GetQuality() = 0;           // 3: percent
};

}  // namespace kestrel::ipcapture
