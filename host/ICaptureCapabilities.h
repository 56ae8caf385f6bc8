#pragma once
#include <cstdint>

class IFrameIntervalList;

// The host's capability object handed to QueryModelCapabilities.
class ICaptureCapabilities {
public:
    virtual ~ICaptureCapabilities() = default;               // slot 0
    virtual void Reserved1() = 0;                            // slot 1 (unused)
    virtual void Reserved2() = 0;                            // slot 2 (unused)
    virtual void Reserved3() = 0;                            // slot 3 (unused)
    virtual void Reserved4() = 0;                            // slot 4 (unused)
    virtual void Reserved5() = 0;                            // slot 5 (unused)
    virtual void Reserved6() = 0;                            // slot 6 (unused)
    virtual void Reserved7() = 0;                            // slot 7 (unused)
    virtual IFrameIntervalList* GetList(int32_t which) = 0;  // slot 8: 1 = frame intervals
};
