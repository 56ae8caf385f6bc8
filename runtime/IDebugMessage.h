#pragma once
#include <string>

// Sink for debug messages: implemented by the driver object, used by every
// component that reports.
class IDebugMessage {
public:
    virtual ~IDebugMessage() = default;          // slot 0
    virtual std::string GetDeviceAddress() = 0;  // slot 1: "address:port"
    virtual void DebugMessage(int level, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;  // slot 2
};
