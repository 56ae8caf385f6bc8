#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "driver/CIPCapture.h"

namespace kestrel {

// The driver for Sony G4 cameras: Motion JPEG over RTP and the camera's
// sensor inputs and alarm outputs.
class CSonyIPCapture : public CIPCapture {
public:
    explicit CSonyIPCapture(int32_t creationValue);
    ~CSonyIPCapture() override;

    std::string GetDriverName() override;
    std::vector<uint32_t> GetFrameIntervals(int32_t standard) override;
    ICameraChannel* CreateCameraChannel(uint32_t index) override;
    bool CreateDigitalIO() override;
    void DeleteDigitalIO() override;

private:
    int32_t m_defaultKeepAliveMs = 60000;
};

// The frame intervals offered for a maximum frame rate and video standard:
// 1000 / rate for 30, 25, 20, 15, 10, 8, 6, 5, 4, 3, 2, 1 fps, PAL
// stopping at 25.
std::vector<uint32_t> SonyFrameIntervals(int32_t maxFrameRate, int32_t standard);

}  // namespace kestrel
