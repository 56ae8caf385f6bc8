#pragma once
#include <cstdint>

namespace kestrel {

// Start parameters the driver hands a new camera channel.
struct VideoChannelParams {
    virtual ~VideoChannelParams() = default;

    int32_t channelIndex = 1;
    int32_t keepAliveMs = 0;
    int32_t videoStandard = 0;  // 0 PAL, 1 NTSC
    int32_t qualityMin = 1;
    int32_t qualityMax = 5;
};

}  // namespace kestrel
