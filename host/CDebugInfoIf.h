#pragma once
#include <cstdint>

// One debug message handed to the host; valid only during the host call.
class CDebugInfoIf {
public:
    virtual ~CDebugInfoIf() = default;        // slot 0
    virtual int8_t GetLevel() const = 0;      // slot 1
    virtual const char* GetText() const = 0;  // slot 2: null when empty
};
