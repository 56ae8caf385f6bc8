#pragma once
#include <cstdint>

class IFrameBuffer;

// The host's frame allocator; the driver borrows one buffer per picture.
class IFrameAllocator {
public:
    virtual ~IFrameAllocator() = default;  // slot 0
    virtual uint32_t GetFreeCount() = 0;   // slot 1 (unused)
    virtual IFrameBuffer* AllocateFrame(uint32_t fourcc, uint32_t size,
                                        const char* driverName) = 0;  // slot 2: null when none
    virtual uint32_t GetFrameCount() = 0;                             // slot 3 (unused)
    virtual void Reserved4() = 0;                                     // slot 4 (unused)
    virtual void Reserved5() = 0;                                     // slot 5 (unused)
    virtual void ReleaseFrame(IFrameBuffer* frame) = 0;               // slot 6
};
