#pragma once
#include <cstdint>

namespace kestrel::ipcapture {

class IResolution;

// Video descriptor of a stream format.
class IVideoDescriptor {
public:
    virtual ~IVideoDescriptor() = default;     // 0
    virtual uint32_t GetCodec() = 0;           // 1 (unused by the driver)
    virtual uint32_t GetBitRate() = 0;         // 2 (unused by the driver)
    virtual IResolution* GetResolution() = 0;  // 3
};

}  // namespace kestrel::ipcapture
