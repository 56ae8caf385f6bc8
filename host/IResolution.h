#pragma once
#include <cstdint>

namespace kestrel::ipcapture {

// A picture size.
class IResolution {
public:
    virtual ~IResolution() = default;  // 0
    virtual uint16_t GetWidth() = 0;   // 1
    virtual uint16_t GetHeight() = 0;  // 2
};

}  // namespace kestrel::ipcapture
