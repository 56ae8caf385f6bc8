#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// The driver object's configuration fields that ReadDriverConfiguration
// fills from the model file. Values the file lacks keep what they held.
struct DriverConfiguration {
    std::string qualityMin;    // quality/min, as text
    std::string qualityMax;    // quality/max
    std::string rtpKeepAlive;  // rtp/keepalive, seconds as text
    std::string videoMode;     // videomode: "PAL" or "NTSC" in any case
    int32_t configuredInputCount = 0;
    int32_t configuredOutputCount = 0;
    int32_t width[4] = {0, 0, 0, 0};  // QCIF, CIF, 2CIF, 4CIF
    int32_t height[4] = {0, 0, 0, 0};
    uint32_t cameraCount = 1;
    int32_t maxFrameRate = 0;
    bool supported[4] = {false, false, false, false};
    int32_t maxFpsRes[4] = {-1, -1, -1, -1};  // framerate/res0..res3
};

// Reads "<fileName>" (the model name and ".xml") from the host executable's
// directory (baseDirectory instead, when given); every path starts with the
// manufacturer text. False when the file cannot be read or no resolution is
// enabled.
bool ReadDriverConfiguration(DriverConfiguration& config, const std::string& manufacturer, const std::string& fileName,
                             const std::string& baseDirectory = {});

}  // namespace kestrel
