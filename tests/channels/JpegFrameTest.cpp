#include <gtest/gtest.h>

#include <vector>

#include "channels/JpegFrame.h"
#include "channels/SonyCameraCommands.h"

namespace {

using namespace kestrel;
using Bytes = std::vector<uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(FindJpegFrameHeader, WalksMarkersUpToTheFrameHeader) {
    const Bytes soi = {0xFF, 0xD8};
    const Bytes body(8, 0);  // what follows a frame header marker
    // APP0 of length 0x10: marker, length and 14 bytes.
    Bytes app0(18, 0x4A);
    app0[0] = 0xFF, app0[1] = 0xE0, app0[2] = 0x00, app0[3] = 0x10;
    struct Case {
        const char* name;
        Bytes bytes;
        bool found;
    };
    const std::vector<Case> cases = {
        // SOF0: length 0x11, precision 8, height 480, width 640, components.
        {"SOI, APP0, SOF0", Join({soi, app0, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03}}), true},
        {"SOI straight into SOS", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01}, false},
        {"empty", {}, false},
        {"SOI only", {0xFF, 0xD8}, false},
        {"lone FF at the end", {0xFF, 0xD8, 0xFF}, false},
        // SOF0 at i = 2 is accepted only when i + 9 < size.
        {"SOF0 cut after the width (size 11)",
         {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80},
         false},
        {"SOF0 and one byte more (size 12)",
         {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03},
         true},
        // DHT (C4), JPG (C8) and DAC (CC) are segments, not frame headers.
        {"DHT then SOF2", Join({soi, {0xFF, 0xC4, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xC2}, body}), true},
        {"JPG skipped, then SOS", Join({soi, {0xFF, 0xC8, 0x00, 0x02, 0xFF, 0xDA}, body}), false},
        {"DAC skipped, then SOF15", Join({soi, {0xFF, 0xCC, 0x00, 0x02, 0xFF, 0xCF}, body}), true},
        // Restart markers have no length: two bytes each.
        {"RST0 and RST7 stepped over", Join({soi, {0xFF, 0xD0, 0xFF, 0xD7, 0xFF, 0xC0}, body}), true},
        {"filler bytes stepped over one by one", Join({soi, {0x00, 0x12, 0x34, 0xFF, 0xC0}, body}), true},
        {"segment marker with one length byte", {0xFF, 0xD8, 0xFF, 0xE1, 0x00}, false},
        {"segment marker without length", {0xFF, 0xD8, 0xFF, 0xE1}, false},
        {"APP1 longer than the data", Join({soi, {0xFF, 0xE1, 0xFF, 0xFF, 0xFF, 0xC0}, body}), false},
        {"frame header hidden inside a comment", Join({soi, {0xFF, 0xFE, 0x00, 0x0C, 0xFF, 0xC0}, body}), false},
        // Length 0 lands on the length bytes and steps over them: no endless loop.
        {"zero-length segment", Join({soi, {0xFF, 0xE0, 0x00, 0x00, 0xFF, 0xC0}, body}), true},
        {"EOI read as a segment with a length", Join({soi, {0xFF, 0xD9, 0x00, 0x02, 0xFF, 0xC0}, body}), true},
    };
    for (const auto& c : cases) EXPECT_EQ(FindJpegFrameHeader(c.bytes.data(), c.bytes.size()), c.found) << c.name;
    // Every other frame header kind.
    for (const uint8_t kind : {0xC1, 0xC3, 0xC5, 0xC7, 0xC9, 0xCB, 0xCD}) {
        const Bytes bytes = Join({soi, {0xFF, kind}, body});
        EXPECT_TRUE(FindJpegFrameHeader(bytes.data(), bytes.size())) << int{kind};
    }
    EXPECT_FALSE(FindJpegFrameHeader(nullptr, 10));
}

TEST(IsWholeJpeg, SoiFirstEoiLastPaddingAfter) {
    struct Case {
        const char* name;
        Bytes bytes;
        bool whole;
    };
    const std::vector<Case> cases = {
        //  SOI         body        EOI         padding
        {"SOI, body, EOI", {0xFF, 0xD8, 0x11, 0x22, 0xFF, 0xD9}, true},
        {"SOI, EOI and nothing else", {0xFF, 0xD8, 0xFF, 0xD9}, true},
        {"zero padding", {0xFF, 0xD8, 0x11, 0xFF, 0xD9, 0x00, 0x00}, true},
        {"FF padding", {0xFF, 0xD8, 0x11, 0xFF, 0xD9, 0xFF}, true},
        {"mixed padding", {0xFF, 0xD8, 0x11, 0xFF, 0xD9, 0xFF, 0x00, 0xFF, 0x00}, true},
        // Cut short: the EOI or part of it missing.
        {"no EOI", {0xFF, 0xD8, 0x11, 0x22, 0x33}, false},
        {"EOI cut after its FF", {0xFF, 0xD8, 0x11, 0x22, 0xFF}, false},
        {"cut after the first FF of EOI, zero padding", {0xFF, 0xD8, 0x11, 0xFF, 0x00}, false},
        {"D9 without its FF", {0xFF, 0xD8, 0x11, 0x22, 0xD9}, false},
        {"something after EOI that is not padding", {0xFF, 0xD8, 0x11, 0xFF, 0xD9, 0x01}, false},
        {"EOI in the middle, cut after", {0xFF, 0xD8, 0xFF, 0xD9, 0x11, 0x22}, false},
        // A wrong or missing start.
        {"no SOI", {0x00, 0xFF, 0xD8, 0x11, 0xFF, 0xD9}, false},
        {"EOI first", {0xFF, 0xD9, 0x11, 0x22, 0xFF, 0xD9}, false},
        {"SOI and D9 sharing the FF", {0xFF, 0xD8, 0xD9}, false},
        {"SOI then padding", {0xFF, 0xD8, 0xFF, 0xFF, 0x00}, false},
        {"SOI only", {0xFF, 0xD8}, false},
        {"one byte", {0xFF}, false},
        {"empty", {}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsWholeJpeg(c.bytes.data(), c.bytes.size()), c.whole) << c.name;
    EXPECT_FALSE(IsWholeJpeg(nullptr, 6));
}

TEST(ResolutionKind, SizeClasses) {
    // clang-format off
    const int32_t cases[][3] = {
        {176, 144, 1}, {199, 1000, 1},                 // below 200: QCIF
        {200, 10, 2}, {399, 100, 2},                   // below 400: CIF
        {704, 240, 3}, {1023, 511, 3},                 // wide and below 1024: 2CIF
        {704, 352, 4}, {1024, 240, 4},                 // half the width tall, or 1024 wide: 4CIF
        {640, 0x7FFFFFFF, 4},                          // a huge height does not overflow
    };
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(ResolutionKind(c[0], c[1]), c[2]) << c[0] << "x" << c[1];
}

TEST(ComputeCameraQuality, MapsPercentOntoTheRange) {
    struct Case {
        int32_t percent;
        uint32_t min, max, expected;
    };
    // clang-format off
    const Case cases[] = {
        {60, 1, 10, 6},     // trunc(60 * 9 / 100 + 0.5) = 5, from 1
        {50, 1, 10, 6},     // 4.5 + 0.5: half rounds up
        {0, 1, 10, 1},    {100, 1, 10, 10},
        {60, 10, 1, 5},     // reversed range: 10 - 5
        {0, 10, 1, 10},   {100, 10, 1, 1},
        {60, 5, 5, 5},      // empty range
        {60, 0, 0xFFFFFFFFu, 2576980377u},  // the whole unsigned range, no overflow
        // Outside 0..100 the percent is held to the ends: a reversed range never wraps.
        {150, 1, 10, 10}, {150, 10, 1, 1}, {-20, 1, 10, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(ComputeCameraQuality(c.percent, c.min, c.max), c.expected)
            << c.percent << "% of " << c.min << ".." << c.max;
    }
}

}  // namespace
