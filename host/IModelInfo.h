#pragma once
#include <cstdint>

namespace kestrel::ipcapture {

// Model object of a device description.
class IModelInfo {
public:
    virtual ~IModelInfo() = default;         // 0
    virtual uint32_t GetModelId() = 0;       // 1 (unused by the driver)
    virtual const char* GetModelName() = 0;  // 2
};

}  // namespace kestrel::ipcapture
