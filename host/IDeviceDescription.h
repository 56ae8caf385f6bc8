#pragma once
#include <cstdint>

namespace kestrel::ipcapture {

class IModelInfo;
class IConnectionInfo;

// The device description handed to Initialize.
class IDeviceDescription {
public:
    virtual ~IDeviceDescription() = default;       // 0
    virtual IModelInfo* GetModel() = 0;            // 1
    virtual IConnectionInfo* GetConnection() = 0;  // 2
};

}  // namespace kestrel::ipcapture
