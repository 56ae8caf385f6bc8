#pragma once
#include <cstdint>

class CCaptureAPIUser;
class IFrameAllocator;

// Legacy capture interface. The host calls by position: the order of the
// declarations below is the contract, fixed slots included. No operation
// throws; noexcept changes neither a slot nor a mangled name, so a host built
// from declarations without it calls the same code.
class CCaptureAPI {
public:
    virtual ~CCaptureAPI() = default;                                                   // 0
    virtual int Init() noexcept = 0;                                                    // 1
    virtual void SetCaptureUser(CCaptureAPIUser* user) noexcept = 0;                    // 2
    virtual void SetFrameAllocator(IFrameAllocator* allocator) noexcept = 0;            // 3
    virtual int SetVideoStandard(int32_t standard) noexcept = 0;                        // 4
    virtual int SetFourCC(uint32_t fourcc) noexcept = 0;                                // 5
    virtual int GetResolutionSize(int32_t kind, int* width, int* height) noexcept = 0;  // 6
    virtual int Fixed7(int32_t value) noexcept = 0;                                     // 7
    virtual uint32_t GetCameraCount() noexcept = 0;                                     // 8
    virtual int GetFirstFourCC(uint32_t* fourcc) noexcept = 0;                          // 9
    virtual int GetNextFourCC(uint32_t* fourcc) noexcept = 0;                           // 10
    virtual int GetMaxFrameRate(uint32_t camera, int* rate) noexcept = 0;               // 11
    virtual int Fixed12() noexcept = 0;                                                 // 12
    virtual int GetFirstResolution(int* kind) noexcept = 0;                             // 13
    virtual int GetNextResolution(int* kind) noexcept = 0;                              // 14
    virtual int GetFirstFrameInterval(uint32_t* interval) noexcept = 0;                 // 15
    virtual int GetNextFrameInterval(uint32_t* interval) noexcept = 0;                  // 16
    virtual int Fixed17() noexcept = 0;                                                 // 17
    virtual int Open(const char* text) noexcept = 0;                                    // 18
    virtual int Close() noexcept = 0;                                                   // 19
    virtual int StartChannel(uint32_t channel, uint32_t intervalMs, int32_t kind,
                             int32_t quality) noexcept = 0;                                 // 20
    virtual int StopChannel(uint32_t channel) noexcept = 0;                                 // 21
    virtual int GetChannelName(uint32_t channel, char* buffer, int32_t size) noexcept = 0;  // 22
    virtual int Fixed23() noexcept = 0;                                                     // 23
    virtual int Fixed24() noexcept = 0;                                                     // 24
    virtual int Fixed25() noexcept = 0;                                                     // 25
    virtual int Fixed26(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                        int32_t) noexcept = 0;                                                   // 26
    virtual int Fixed27() noexcept = 0;                                                          // 27
    virtual int Fixed28(int32_t value) noexcept = 0;                                             // 28
    virtual void Fixed29() noexcept = 0;                                                         // 29
    virtual int SetParameter(const char* name, const void* value, int32_t length) noexcept = 0;  // 30
    virtual int GetParameter(const char* name, void* buffer, int32_t size) noexcept = 0;         // 31
    virtual int Fixed32(int* first, int* second) noexcept = 0;                                   // 32
    virtual int Fixed33(int32_t, int32_t) noexcept = 0;                                          // 33
    virtual int GetChannelStatus(uint32_t channel, int* state, int* second, char* text,
                                 int32_t textSize) noexcept = 0;  // 34
};
