#pragma once
#include <cstdint>

class CCaptureAPIUser;
class IFrameAllocator;

// Legacy capture interface. The host calls by position: the order of the
// declarations below is the contract, fixed slots included.
class CCaptureAPI {
public:
    virtual ~CCaptureAPI() = default;                                              // 0
    virtual int Init() = 0;                                                        // 1
    virtual void SetCaptureUser(CCaptureAPIUser* user) = 0;                        // 2
    virtual void SetFrameAllocator(IFrameAllocator* allocator) = 0;                // 3
    virtual int SetVideoStandard(int32_t standard) = 0;                            // 4
    virtual int SetFourCC(uint32_t fourcc) = 0;                                    // 5
    virtual int GetResolutionSize(int32_t kind, int* width, int* height) = 0;      // 6
    virtual int Fixed7(int32_t value) = 0;                                         // 7
    virtual uint32_t GetCameraCount() = 0;                                         // 8
    virtual int GetFirstFourCC(uint32_t* fourcc) = 0;                              // 9
    virtual int GetNextFourCC(uint32_t* fourcc) = 0;                               // 10
    virtual int GetMaxFrameRate(uint32_t camera, int* rate) = 0;                   // 11
    virtual int Fixed12() = 0;                                                     // 12
    virtual int GetFirstResolution(int* kind) = 0;                                 // 13
    virtual int GetNextResolution(int* kind) = 0;                                  // 14
    virtual int GetFirstFrameInterval(uint32_t* interval) = 0;                     // 15
    virtual int GetNextFrameInterval(uint32_t* interval) = 0;                      // 16
    virtual int Fixed17() = 0;                                                     // 17
    virtual int Open(const char* text) = 0;                                        // 18
    virtual int Close() = 0;                                                       // 19
    virtual int StartChannel(uint32_t channel, uint32_t intervalMs, int32_t kind,
                             int32_t quality) = 0;                                 // 20
    virtual int StopChannel(uint32_t channel) = 0;                                 // 21
    virtual int GetChannelName(uint32_t channel, char* buffer, int32_t size) = 0;  // 22
    virtual int Fixed23() = 0;                                                     // 23
    virtual int Fixed24() = 0;                                                     // 24
    virtual int Fixed25() = 0;                                                     // 25
    virtual int Fixed26(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                        int32_t, int32_t, int32_t) = 0;                            // 26
    virtual int Fixed27() = 0;                                                     // 27
    virtual int Fixed28(int32_t value) = 0;                                        // 28
    virtual void Fixed29() = 0;                                                    // 29
    virtual int SetParameter(const char* name, const void* value, int32_t length) = 0; // 30
    virtual int GetParameter(const char* name, void* buffer, int32_t size) = 0;    // 31
    virtual int Fixed32(int* first, int* second) = 0;                              // 32
    virtual int Fixed33(int32_t, int32_t) = 0;                                     // 33
    virtual int GetChannelStatus(uint32_t channel, int* state, int* second,
                                 char* text, int32_t textSize) = 0;                // 34
};
