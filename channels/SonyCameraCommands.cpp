#include "channels/SonyCameraCommands.h"

#include <cstdlib>

#include "runtime/FormatString.h"

namespace kestrel {

uint32_t ComputeCameraQuality(int32_t percent, uint32_t qualityMin, uint32_t qualityMax) {
    // A percent outside 0..100 would carry the value past the range and,
    // on a downward range, below zero.
    const int64_t p = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
    const int64_t d = std::llabs(static_cast<int64_t>(qualityMax) - static_cast<int64_t>(qualityMin));
    const double scaled = static_cast<double>(p) * static_cast<double>(d) / 100.0 + 0.5;
    const uint32_t x = static_cast<uint32_t>(static_cast<int64_t>(scaled));
    return qualityMax >= qualityMin ? qualityMin + x : qualityMin - x;
}

uint32_t JpegFrameRate(uint32_t intervalMs) { return intervalMs == 0 ? 1u : 1000u / intervalMs; }

std::string VideoOutModePath(int32_t videoMode) {
    const char* mode = videoMode == 0 ? "PAL" : (videoMode == 1 ? "NTSC" : "IP");
    return std::string("/command/system.cgi?VideoOutMode=") + mode;
}

std::string CameraParametersPath(uint32_t keepAliveMs) {
    return std::string("/command/camera.cgi?") + "Color=color" + "&Multicast=off" +
           "&RtpExpire=" + FormatUnsigned(keepAliveMs) + "&LightFunnel=off";
}

std::string PrivacyZonePath(uint32_t zone) { return FormatString("/command/camera.cgi?PrivacyDispEach=%u,off", zone); }

std::string JpegCodecPath(uint32_t frameRate, uint32_t quality) {
    return std::string("/command/camera.cgi?") + "ImageCodec=jpeg" + "&JpBandwidth=0.0" +
           "&JpFrameRate=" + FormatUnsigned(frameRate) + "&JpQuality=" + FormatUnsigned(quality);
}

std::string UnicastStreamPath(uint16_t rtpPort) { return FormatString("mjpeg?UdpMode=unicast&UdpPort=%hu", rtpPort); }

}  // namespace kestrel
