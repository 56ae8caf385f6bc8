#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// The camera's CGI requests that set up a Motion JPEG stream, and the
// numbers that go into them. Numbers are unsigned decimal.

// The camera quality value for the host's quality percent within the
// configured range; the range may run downwards (max below min).
uint32_t ComputeCameraQuality(int32_t percent, uint32_t qualityMin, uint32_t qualityMax);

// Frames per second for the host's frame interval; 1 for interval 0.
uint32_t JpegFrameRate(uint32_t intervalMs);

// "/command/system.cgi?VideoOutMode=PAL|NTSC|IP" (0, 1, anything else).
std::string VideoOutModePath(int32_t videoMode);
// "/command/camera.cgi?Color=color&Multicast=off&RtpExpire=<ms>&LightFunnel=off"
std::string CameraParametersPath(uint32_t keepAliveMs);
// "/command/camera.cgi?PrivacyDispEach=<zone>,off"
std::string PrivacyZonePath(uint32_t zone);
// "/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=<r>&JpQuality=<q>"
std::string JpegCodecPath(uint32_t frameRate, uint32_t quality);
// "mjpeg?UdpMode=unicast&UdpPort=<port>" (no leading slash, as the camera takes it)
std::string UnicastStreamPath(uint16_t rtpPort);

}  // namespace kestrel
