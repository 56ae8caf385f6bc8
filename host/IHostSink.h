#pragma once
#include <cstdint>

class CDebugInfoIf;

namespace kestrel::ipcapture {

// The host sink of the IP interface: receives debug messages.
class IHostSink {
public:
    virtual ~IHostSink() = default;                       // 0
    virtual void OnDebugInfo(CDebugInfoIf* message) = 0;  // 1
};

}  // namespace kestrel::ipcapture
