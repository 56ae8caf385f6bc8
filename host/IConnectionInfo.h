#pragma once
#include <cstdint>

namespace kestrel::ipcapture {

// Connection object of a device description.
class IConnectionInfo {
public:
    virtual ~IConnectionInfo() = default;   // 0
    virtual const char* GetAddress() = 0;   // 1
    virtual uint16_t GetPort() = 0;         // 2
    virtual uint32_t GetTransport() = 0;    // 3 (unused by the driver)
    virtual int32_t GetCompression() = 0;   // 4: 2 MPEG-4, else Motion JPEG
    virtual const char* GetUserName() = 0;  // 5
    virtual const char* GetPassword() = 0;  // 6
};

}  // namespace kestrel::ipcapture
