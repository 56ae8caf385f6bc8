#include "bench/driver/PlainAssembler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using halyardbench::PlainAssembler;
using Result = PlainAssembler::Result;
using Bytes = std::vector<uint8_t>;

// 0x80 | M+PT 26 | sequence | timestamp 0x00000100 | SSRC 0x11223344 | payload
Bytes Datagram(uint16_t sequence, bool marker, const Bytes& payload) {
    const uint8_t header[12] = {0x80,
                                static_cast<uint8_t>((marker ? 0x80 : 0x00) | 26),
                                static_cast<uint8_t>(sequence >> 8),
                                static_cast<uint8_t>(sequence),
                                0x00,
                                0x00,
                                0x01,
                                0x00,
                                0x11,
                                0x22,
                                0x33,
                                0x44};
    Bytes d(sizeof header + payload.size());
    for (size_t i = 0; i < sizeof header; ++i) d[i] = header[i];
    for (size_t i = 0; i < payload.size(); ++i) d[sizeof header + i] = payload[i];
    return d;
}

const Bytes kHead = {0xFF, 0xD8, 0xFF, 0xDB};  // SOI, then a table marker
const Bytes kMiddle = {0x01, 0x02, 0x03};
const Bytes kTail = {0x04, 0xFF, 0xD9};  // ends with EOI

struct Case {
    std::string name;
    std::vector<Bytes> datagrams;
    std::vector<Result> expected;  // one per datagram
    Bytes picture;                 // after the last datagram, when it is a picture
};

class PlainAssemblerCases : public ::testing::TestWithParam<Case> {};

TEST_P(PlainAssemblerCases, DeliversOnlyWholePictures) {
    const Case& c = GetParam();
    PlainAssembler assembler(64);
    ASSERT_EQ(c.datagrams.size(), c.expected.size());
    for (size_t i = 0; i < c.datagrams.size(); ++i)
        EXPECT_EQ(assembler.Add(c.datagrams[i].data(), c.datagrams[i].size()), c.expected[i]) << "datagram " << i;
    if (c.expected.back() == Result::Picture) {
        EXPECT_EQ(Bytes(assembler.Picture(), assembler.Picture() + assembler.PictureSize()), c.picture);
    }
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kWhole = Concat({kHead, kMiddle, kTail});

INSTANTIATE_TEST_SUITE_P(
    , PlainAssemblerCases,
    ::testing::Values(
        Case{"ThreeSlices",
             {Datagram(7, false, kHead), Datagram(8, false, kMiddle), Datagram(9, true, kTail)},
             {Result::More, Result::More, Result::Picture},
             kWhole},
        Case{"OneDatagram", {Datagram(1, true, kWhole)}, {Result::Picture}, kWhole},
        Case{"SequenceWrapsAround",
             {Datagram(65535, false, kHead), Datagram(0, false, kMiddle), Datagram(1, true, kTail)},
             {Result::More, Result::More, Result::Picture},
             kWhole},
        Case{"MiddleLost", {Datagram(7, false, kHead), Datagram(9, true, kTail)}, {Result::More, Result::Dropped}, {}},
        Case{"PictureAfterALossIsWholeAgain",
             {Datagram(7, false, kHead), Datagram(9, true, kTail), Datagram(10, false, kHead),
              Datagram(11, false, kMiddle), Datagram(12, true, kTail)},
             {Result::More, Result::Dropped, Result::More, Result::More, Result::Picture},
             kWhole},
        Case{"LossBeforeTheFirstSliceOfThePicture",
             {Datagram(7, true, kWhole), Datagram(9, false, kHead), Datagram(10, true, Concat({kMiddle, kTail}))},
             {Result::Picture, Result::More, Result::Dropped},
             {}},
        Case{"JoinedMidPicture",
             {Datagram(8, false, kMiddle), Datagram(9, true, kTail), Datagram(10, true, kWhole)},
             {Result::More, Result::Dropped, Result::Picture},
             kWhole},
        Case{"NoEndOfImage",
             {Datagram(1, false, kHead), Datagram(2, true, kMiddle)},
             {Result::More, Result::Dropped},
             {}},
        Case{"EndsInAnotherMarker",
             {Datagram(1, false, kHead), Datagram(2, true, {0x04, 0xFF, 0xDA})},  // SOS, not EOI
             {Result::More, Result::Dropped},
             {}},
        Case{"LargerThanTheBuffer",
             {Datagram(1, false, kHead), Datagram(2, false, Bytes(61, 0x00)), Datagram(3, true, kTail)},
             {Result::More, Result::More, Result::Dropped},
             {}},
        Case{"ExactlyTheBuffer",
             {Datagram(1, false, kHead), Datagram(2, false, Bytes(57, 0x00)), Datagram(3, true, kTail)},
             {Result::More, Result::More, Result::Picture},
             Concat({kHead, Bytes(57, 0x00), kTail})}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// Datagrams that are not this stream's RTP are ignored and do not break the
// picture being assembled.
TEST(PlainAssembler, IgnoresShortAndForeignDatagrams) {
    const struct {
        const char* what;
        Bytes datagram;
    } foreign[] = {
        {"empty", {}},
        {"header cut at 11 bytes", {0x80, 0x1A, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0x11, 0x22, 0x33}},
        {"version 1", {0x40, 0x1A, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0xAA}},
        {"with a CSRC", {0x81, 0x9A, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0xFF, 0xD9}},
    };
    for (const auto& f : foreign) {
        PlainAssembler assembler(64);
        const Bytes head = Datagram(7, false, kHead);
        const Bytes rest = Datagram(8, true, Concat({kMiddle, kTail}));
        EXPECT_EQ(assembler.Add(head.data(), head.size()), Result::More) << f.what;
        EXPECT_EQ(assembler.Add(f.datagram.data(), f.datagram.size()), Result::Dropped) << f.what;
        ASSERT_EQ(assembler.Add(rest.data(), rest.size()), Result::Picture) << f.what;
        EXPECT_EQ(Bytes(assembler.Picture(), assembler.Picture() + assembler.PictureSize()), kWhole) << f.what;
    }
}

}  // namespace
