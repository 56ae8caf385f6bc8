#pragma once
#include <cstdint>

// A frame buffer lent by the host's frame allocator. Positions the driver
// does not use are declared so that the table keeps the host's layout.
class IFrameBuffer {
public:
    virtual ~IFrameBuffer() = default;                 // slot 0
    virtual uint32_t GetCapacity() = 0;                // slot 1 (unused by the driver)
    virtual uint8_t* GetData(uint32_t size) = 0;       // slot 2: at least size writable bytes
    virtual uint32_t GetDataSize() = 0;                // slot 3 (unused)
    virtual void SetDataSize(uint32_t size) = 0;       // slot 4
    virtual void BeginFrame() = 0;                     // slot 5: called once per frame
    virtual uint64_t GetTimestamp() = 0;               // slot 6 (unused)
    virtual void SetTimestamp(uint64_t value) = 0;     // slot 7 (unused)
    virtual uint32_t GetFlags() = 0;                   // slot 8 (unused)
    virtual void SetFlags(uint32_t flags) = 0;         // slot 9 (unused)
    virtual void SetFrameFourCC(uint32_t fourcc) = 0;  // slot 10
    virtual uint32_t GetFrameFourCC() = 0;             // slot 11 (unused)
    virtual void SetHeight(int32_t height) = 0;        // slot 12
    virtual int32_t GetHeight() = 0;                   // slot 13 (unused)
    virtual void SetWidth(int32_t width) = 0;          // slot 14
    virtual int32_t GetWidth() = 0;                    // slot 15 (unused)
    virtual void SetResolution(int32_t kind) = 0;      // slot 16: resolution kind 1..4
    virtual int32_t GetResolution() = 0;               // slot 17 (unused)
};
