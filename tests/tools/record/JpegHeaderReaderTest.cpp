#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/record/CJpegHeaderReader.h"
#include "tools/record/CSimulatorStamp.h"

using kestrel::record::CJpegHeaderReader;
using kestrel::record::CSimulatorStamp;
using kestrel::record::JpegInfo;

namespace {

// A picture's headers as the simulator and most cameras write them.
const std::vector<uint8_t> kHeaders = {
    0xFF, 0xD8,                                            //  0 SOI
    0xFF, 0xE0, 0x00, 0x10,                                //  2 APP0, length 16
    'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00,            //  6 JFIF ...
    0x00, 0x01, 0x00, 0x01, 0x00, 0x00,                    // 14 ... density, no thumbnail
    0xFF, 0xFE, 0x00, 0x0E,                                // 20 COM, length 14
    'C', 'S', 'I', 'M', 0x01, 0x00, 0x00, 0x03,            // 24 magic, version 1, flags, ring 3
    0x00, 0x00, 0x01, 0x02,                                // 32 frame number 258
    0xFF, 0xDB, 0x00, 0x04, 0x00, 0x01,                    // 36 DQT, length 4 (content cut short on purpose)
    0xFF, 0xC0, 0x00, 0x0B, 0x08,                          // 42 SOF0, length 11, precision 8
    0x01, 0x20,                                            // 47 height 288
    0x01, 0x60,                                            // 49 width 352
    0x01, 0x01, 0x11, 0x00,                                // 51 one component
    0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00,  // 55 SOS
    0x12, 0x34,                                            // 65 entropy-coded data
    0xFF, 0xD9,                                            // 67 EOI
};

}  // namespace

TEST(JpegHeaderReader, ReadsSizeAndCommentOfACompletePicture) {
    JpegInfo info;
    ASSERT_TRUE(CJpegHeaderReader::Inspect(kHeaders.data(), kHeaders.size(), info));
    EXPECT_EQ(info.width, 352);
    EXPECT_EQ(info.height, 288);
    ASSERT_NE(info.comment, nullptr);
    EXPECT_EQ(info.comment, kHeaders.data() + 24);
    EXPECT_EQ(info.commentSize, 12u);
    uint64_t number = 0;
    ASSERT_TRUE(CSimulatorStamp::Read(info.comment, info.commentSize, number));
    EXPECT_EQ(number, 258u);
}

// Every cut of the headers: no read past the data, and a size only when the
// whole frame header is inside.
TEST(JpegHeaderReader, EveryTruncationIsSafe) {
    for (size_t cut = 0; cut <= kHeaders.size(); ++cut) {
        std::vector<uint8_t> part(kHeaders.begin(), kHeaders.begin() + static_cast<long>(cut));
        JpegInfo info;
        const bool found = CJpegHeaderReader::Inspect(part.data(), part.size(), info);
        EXPECT_EQ(found, cut >= 55) << "cut at " << cut;
        if (info.comment != nullptr) {
            EXPECT_GE(cut, 36u) << "comment reported before its end at cut " << cut;
            EXPECT_LE(info.comment + info.commentSize, part.data() + part.size());
        }
    }
}

TEST(JpegHeaderReader, DamagedHeaders) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool found;
        int width;
    };
    const std::vector<Case> cases = {
        {"no SOI", {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x20, 0x01, 0x01, 0x11, 0x00}, false, 0},
        {"scan before frame header",
         {0xFF, 0xD8,                                   // SOI
          0xFF, 0xDA, 0x00, 0x02,                       // SOS
          0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x20, 0x01, 0x01, 0x11, 0x00},
         false, 0},
        {"segment length 0",
         {0xFF, 0xD8,                                   // SOI
          0xFF, 0xE1, 0x00, 0x00,                       // APP1 with an impossible length
          0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x20, 0x01, 0x01, 0x11, 0x00},
         false, 0},
        {"length runs past the end",
         {0xFF, 0xD8,                                   // SOI
          0xFF, 0xE1, 0x7F, 0xFF, 0x00},                // APP1 claims 32767 bytes
         false, 0},
        {"frame header too short for its size",
         {0xFF, 0xD8,                                   // SOI
          0xFF, 0xC0, 0x00, 0x05, 0x08, 0x00, 0x10},    // SOF0 length 5: no width
         false, 0},
        {"fill bytes before a marker",
         {0xFF, 0xD8,                                   // SOI
          0xFF, 0xFF, 0xFF,                             // fill
          0xFF, 0xC2, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x20, 0x01, 0x01, 0x11, 0x00},  // SOF2 32x16
         true, 32},
        {"DHT is no frame header",
         {0xFF, 0xD8,                                   // SOI
          0xFF, 0xC4, 0x00, 0x07, 0x00, 0x10, 0x00, 0x20, 0x01,  // DHT with size-like bytes
          0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x40, 0x01, 0x01, 0x11, 0x00},  // SOF0 64x8
         true, 64},
        {"garbage where a marker belongs",
         {0xFF, 0xD8,                                   // SOI
          0x00, 0x00,                                   // not a marker
          0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x20, 0x01, 0x01, 0x11, 0x00},
         false, 0},
    };
    for (const auto& c : cases) {
        JpegInfo info;
        EXPECT_EQ(CJpegHeaderReader::Inspect(c.bytes.data(), c.bytes.size(), info), c.found) << c.name;
        EXPECT_EQ(info.width, c.width) << c.name;
    }
    JpegInfo info;
    EXPECT_FALSE(CJpegHeaderReader::Inspect(nullptr, 10, info));
}

TEST(SimulatorStamp, OnlyTheSimulatorsCommentCounts) {
    struct Case {
        const char* name;
        std::vector<uint8_t> comment;
        bool read;
        uint64_t number;
    };
    const std::vector<Case> cases = {
        {"stamp", {'C', 'S', 'I', 'M', 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFE}, true, 0xFFFFFFFEu},
        {"stamp with more fields", {'C', 'S', 'I', 'M', 1, 1, 0, 9, 0, 0, 0, 7, 0, 0, 0x10, 0}, true, 7},
        {"one byte short", {'C', 'S', 'I', 'M', 1, 0, 0, 0, 0, 0, 0}, false, 0},
        {"other layout version", {'C', 'S', 'I', 'M', 2, 0, 0, 0, 0, 0, 0, 1}, false, 0},
        {"someone else's comment", {'H', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'}, false, 0},
    };
    for (const auto& c : cases) {
        uint64_t number = 0;
        EXPECT_EQ(CSimulatorStamp::Read(c.comment.data(), c.comment.size(), number), c.read) << c.name;
        if (c.read) {
            EXPECT_EQ(number, c.number) << c.name;
        }
    }
    uint64_t number = 0;
    EXPECT_FALSE(CSimulatorStamp::Read(nullptr, 12, number));
}
