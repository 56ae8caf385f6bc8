#pragma once
#include <cstdint>

namespace kestrel::ipcapture {

class IVideoDescriptor;
class IStreamParameters;

// Stream format handed to StartVideo.
class IStreamFormat {
public:
    virtual ~IStreamFormat() = default;                    // 0
    virtual IVideoDescriptor* GetVideoDescriptor() = 0;    // 1
    virtual IStreamParameters* GetStreamParameters() = 0;  // 2
};

}  // namespace kestrel::ipcapture
