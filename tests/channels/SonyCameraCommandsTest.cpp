#include <gtest/gtest.h>

#include "channels/SonyCameraCommands.h"

namespace {

using namespace kestrel;

TEST(ComputeCameraQuality, MapsPercentOntoTheRange) {
    struct Case {
        int32_t percent;
        uint32_t min, max, expected;
    };
    const Case cases[] = {
        {60, 1, 10, 6},      // trunc(60 * 9 / 100 + 0.5) = trunc(5.9) = 5
        {100, 1, 10, 10},
        {0, 1, 10, 1},
        {50, 1, 10, 6},      // 4.5 + 0.5 = 5.0 -> 1 + 5 (half rounds up)
        {60, 10, 1, 5},      // downward range: 10 - 5
        {100, 10, 1, 1},
        {0, 10, 1, 10},
        {60, 20, 80, 56},    // 36 + 0.5 -> 36
        {33, 0, 100, 33},
        {60, 5, 5, 5},       // empty range
        {60, 0, 0xFFFFFFFFu, 2576980377u},  // the full unsigned range, no overflow
        // Outside 0..100 the percent is held to the range's ends, so a
        // downward range never wraps below zero.
        {150, 1, 10, 10},
        {150, 10, 1, 1},
        {-20, 1, 10, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComputeCameraQuality(c.percent, c.min, c.max), c.expected)
            << c.percent << "% of " << c.min << ".." << c.max;
    }
}

TEST(JpegFrameRate, WholeFramesPerSecond) {
    EXPECT_EQ(JpegFrameRate(40), 25u);
    EXPECT_EQ(JpegFrameRate(33), 30u);
    EXPECT_EQ(JpegFrameRate(66), 15u);
    EXPECT_EQ(JpegFrameRate(1000), 1u);
    EXPECT_EQ(JpegFrameRate(0), 1u);
    EXPECT_EQ(JpegFrameRate(2000), 0u);
}

TEST(CameraRequestPaths, ExactTexts) {
    EXPECT_EQ(VideoOutModePath(0), "/command/system.cgi?VideoOutMode=PAL");
    EXPECT_EQ(VideoOutModePath(1), "/command/system.cgi?VideoOutMode=NTSC");
    EXPECT_EQ(VideoOutModePath(2), "/command/system.cgi?VideoOutMode=IP");
    EXPECT_EQ(VideoOutModePath(-1), "/command/system.cgi?VideoOutMode=IP");
    EXPECT_EQ(CameraParametersPath(60000),
              "/command/camera.cgi?Color=color&Multicast=off&RtpExpire=60000&LightFunnel=off");
    EXPECT_EQ(CameraParametersPath(4294967295u),
              "/command/camera.cgi?Color=color&Multicast=off&RtpExpire=4294967295&LightFunnel=off");
    EXPECT_EQ(PrivacyZonePath(1), "/command/camera.cgi?PrivacyDispEach=1,off");
    EXPECT_EQ(PrivacyZonePath(7), "/command/camera.cgi?PrivacyDispEach=7,off");
    EXPECT_EQ(JpegCodecPath(25, 6),
              "/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=25&JpQuality=6");
    EXPECT_EQ(JpegCodecPath(0, 10),
              "/command/camera.cgi?ImageCodec=jpeg&JpBandwidth=0.0&JpFrameRate=0&JpQuality=10");
    EXPECT_EQ(UnicastStreamPath(3556), "mjpeg?UdpMode=unicast&UdpPort=3556");
    EXPECT_EQ(UnicastStreamPath(65535), "mjpeg?UdpMode=unicast&UdpPort=65535");
}

}  // namespace
