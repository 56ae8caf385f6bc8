#include <gtest/gtest.h>

#include <vector>

#include "channels/JpegFrame.h"

namespace {

using kestrel::FindJpegFrameHeader;
using kestrel::ResolutionKind;

struct WalkCase {
    const char* name;
    std::vector<uint8_t> bytes;
    bool found;
};

// An APP0 segment of length 0x10: the marker, its length and 14 bytes.
std::vector<uint8_t> App0() {
    // Built whole: g++ 12 at -O3 sees a false bound in an insert after a
    // four-byte initialiser.
    std::vector<uint8_t> v(18, 0x4A);
    v[0] = 0xFF;
    v[1] = 0xE0;
    v[2] = 0x00;
    v[3] = 0x10;
    return v;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(FindJpegFrameHeader, WalksMarkersUpToTheFrameHeader) {
    const std::vector<uint8_t> soi = {0xFF, 0xD8};
    // SOF0: length 0x11, precision 8, height 0x01E0 (480), width 0x0280 (640), then components.
    const std::vector<uint8_t> sof0 = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03};
    const std::vector<WalkCase> cases = {
        {"SOI, APP0 (16), SOF0 with height and width inside", Join({soi, App0(), sof0}), true},
        {"SOI straight into SOS", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01}, false},
        {"empty", {}, false},
        {"SOI only", {0xFF, 0xD8}, false},
        {"lone FF at the end", {0xFF, 0xD8, 0xFF}, false},
        // SOF0 at i = 2: succeeds only when i + 9 < size, i.e. size >= 12.
        {"SOF0 cut after width low byte (size 11)", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80},
         false},
        {"SOF0 with one byte past the width (size 12)",
         {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03}, true},
        // DHT (C4), JPG (C8) and DAC (CC) are segments, not frame headers.
        {"DHT then SOF2", Join({soi, {0xFF, 0xC4, 0x00, 0x04, 0x00, 0x00}, {0xFF, 0xC2}, std::vector<uint8_t>(8, 0)}),
         true},
        {"JPG (C8) is skipped, then SOS", Join({soi, {0xFF, 0xC8, 0x00, 0x02}, {0xFF, 0xDA, 0, 0, 0, 0, 0, 0, 0, 0}}),
         false},
        {"DAC (CC) is skipped, then SOF15", Join({soi, {0xFF, 0xCC, 0x00, 0x02}, {0xFF, 0xCF}, std::vector<uint8_t>(8, 0)}),
         true},
        {"every frame header kind: C1", Join({soi, {0xFF, 0xC1}, std::vector<uint8_t>(8, 0)}), true},
        {"every frame header kind: C3", Join({soi, {0xFF, 0xC3}, std::vector<uint8_t>(8, 0)}), true},
        {"every frame header kind: C5", Join({soi, {0xFF, 0xC5}, std::vector<uint8_t>(8, 0)}), true},
        {"every frame header kind: C7", Join({soi, {0xFF, 0xC7}, std::vector<uint8_t>(8, 0)}), true},
        {"every frame header kind: C9", Join({soi, {0xFF, 0xC9}, std::vector<uint8_t>(8, 0)}), true},
        {"every frame header kind: CB", Join({soi, {0xFF, 0xCB}, std::vector<uint8_t>(8, 0)}), true},
        {"every frame header kind: CD", Join({soi, {0xFF, 0xCD}, std::vector<uint8_t>(8, 0)}), true},
        // Restart markers carry no length: two bytes each.
        {"RST0..RST7 stepped over by two",
         Join({soi, {0xFF, 0xD0, 0xFF, 0xD7}, {0xFF, 0xC0}, std::vector<uint8_t>(8, 0)}), true},
        // Non-FF bytes between segments are stepped over one at a time.
        {"filler bytes before the frame header", Join({soi, {0x00, 0x12, 0x34}, {0xFF, 0xC0}, std::vector<uint8_t>(8, 0)}),
         true},
        // A segment whose length bytes are cut off ends the walk.
        {"segment marker with one length byte", {0xFF, 0xD8, 0xFF, 0xE1, 0x00}, false},
        {"segment marker without length", {0xFF, 0xD8, 0xFF, 0xE1}, false},
        // A segment length that runs past the end ends the walk.
        {"APP1 longer than the data", Join({soi, {0xFF, 0xE1, 0xFF, 0xFF}, {0xFF, 0xC0}, std::vector<uint8_t>(8, 0)}),
         false},
        // The SOF0 bytes inside a skipped segment are not seen.
        {"frame header hidden inside a comment", Join({soi, {0xFF, 0xFE, 0x00, 0x0C, 0xFF, 0xC0}, std::vector<uint8_t>(8, 0)}),
         false},
        // Length 0 still moves the walk forward (no endless loop): it lands
        // on the length bytes and steps over them.
        {"zero-length segment", Join({soi, {0xFF, 0xE0, 0x00, 0x00}, {0xFF, 0xC0}, std::vector<uint8_t>(8, 0)}), true},
        {"EOI (D9) read as a segment with a length", {0xFF, 0xD8, 0xFF, 0xD9, 0x00, 0x02, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0, 0},
         true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindJpegFrameHeader(c.bytes.data(), c.bytes.size()), c.found) << c.name;
    }
    EXPECT_FALSE(FindJpegFrameHeader(nullptr, 10));
}

TEST(ResolutionKind, SizeClasses) {
    struct Case {
        int32_t width, height, kind;
    };
    const Case cases[] = {
        {176, 144, 1}, {199, 1000, 1},                   // below 200: QCIF
        {200, 10, 2},  {352, 288, 2}, {399, 100, 2},     // below 400: CIF
        {704, 240, 3}, {1023, 511, 3},                   // wide and below 1024: 2CIF
        {704, 480, 4}, {704, 352, 4}, {1024, 240, 4},    // as tall as half the width, or 1024 wide: 4CIF
        {640, 0x7FFFFFFF, 4},                            // a huge height does not overflow
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ResolutionKind(c.width, c.height), c.kind) << c.width << "x" << c.height;
    }
}

}  // namespace
