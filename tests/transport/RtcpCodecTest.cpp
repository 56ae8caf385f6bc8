// Sender report, receiver report and BYE codecs against annotated bytes: what is built is
// what a peer reads, and no truncation or damage is read as a packet.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "transport/RtcpBye.h"
#include "transport/RtcpReceiverReport.h"
#include "transport/RtcpSenderReport.h"

using namespace kestrel;

namespace {

const std::vector<uint8_t> kReceiverReport = {
    0x81, 0xC9, 0x00, 0x07,  // V=2 P=0 RC=1, PT=201, length 7 words - 1
    0x11, 0x22, 0x33, 0x44,  // reporter SSRC
    0xCA, 0xFE, 0xBA, 0xBE,  // source SSRC
    0x40,                    // fraction lost 64/256
    0xFF, 0xFF, 0xFE,        // cumulative lost -2 (24-bit signed)
    0x00, 0x01, 0x00, 0x05,  // extended highest sequence: 1 cycle, number 5
    0x00, 0x00, 0x00, 0x20,  // jitter 32
    0x12, 0x34, 0x56, 0x78,  // LSR
    0x00, 0x01, 0x80, 0x00,  // DLSR 1.5 s in 1/65536 s
};

const std::vector<uint8_t> kBye = {
    0x81, 0xCB, 0x00, 0x01,  // V=2 P=0 SC=1, PT=203, length 1
    0x11, 0x22, 0x33, 0x44,  // SSRC leaving
};

RtcpReportBlock Block() {
    RtcpReportBlock b;
    b.sourceSsrc = 0xCAFEBABE;
    b.fractionLost = 0x40;
    b.cumulativeLost = -2;
    b.extendedHighestSeq = 0x00010005;
    b.jitter = 32;
    b.lastSenderReport = 0x12345678;
    b.delaySinceLastSr = 0x00018000;
    return b;
}

}  // namespace

TEST(RtcpReceiverReport, BuildsTheAnnotatedBytesAndReadsThemBack) {
    uint8_t out[64] = {};
    ASSERT_EQ(RtcpReceiverReport::Build(out, sizeof out, 0x80, 0x11223344, Block()), kReceiverReport.size());
    EXPECT_EQ(std::vector<uint8_t>(out, out + kReceiverReport.size()), kReceiverReport);
    // Only the version bits of the peer's first byte are taken.
    ASSERT_EQ(RtcpReceiverReport::Build(out, sizeof out, 0xBF, 0x11223344, Block()), kReceiverReport.size());
    EXPECT_EQ(out[0], 0x81);

    RtcpReceiverReport report;
    ASSERT_TRUE(RtcpReceiverReport::Parse(kReceiverReport.data(), kReceiverReport.size(), report));
    EXPECT_EQ(report.reporterSsrc, 0x11223344u);
    EXPECT_EQ(report.blockCount, 1);
    EXPECT_EQ(report.firstBlock.sourceSsrc, 0xCAFEBABEu);
    EXPECT_EQ(report.firstBlock.fractionLost, 0x40);
    EXPECT_EQ(report.firstBlock.cumulativeLost, -2);
    EXPECT_EQ(report.firstBlock.extendedHighestSeq, 0x00010005u);
    EXPECT_EQ(report.firstBlock.jitter, 32u);
    EXPECT_EQ(report.firstBlock.lastSenderReport, 0x12345678u);
    EXPECT_EQ(report.firstBlock.delaySinceLastSr, 0x00018000u);
}

struct Damage {
    size_t offset;
    uint8_t value;
    const char* what;
};

// Every truncation (from an exact-size heap copy, so an overread shows) and
// each damage must be refused by the codec's Parse.
template <typename Report>
void ExpectNoTruncationOrDamageParses(const std::vector<uint8_t>& whole, std::initializer_list<Damage> damages) {
    Report report;
    for (size_t n = 0; n < whole.size(); ++n) {
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
        EXPECT_FALSE(Report::Parse(cut.data(), cut.size(), report)) << n << " bytes";
    }
    for (const Damage& d : damages) {
        std::vector<uint8_t> bad = whole;
        bad[d.offset] = d.value;
        EXPECT_FALSE(Report::Parse(bad.data(), bad.size(), report)) << d.what;
    }
}

TEST(RtcpReceiverReport, NoTruncationOrDamageIsAReport) {
    // clang-format off
    ExpectNoTruncationOrDamageParses<RtcpReceiverReport>(kReceiverReport, {
        {0, 0x41, "version 1"},
        {0, 0xC1, "version 3"},
        {1, 0xC8, "a sender report's type"},
        {1, 0xCB, "a BYE's type"},
        {0, 0x82, "two blocks announced, one present"},
    });
    // clang-format on
    RtcpReceiverReport report;
    // No block: the 8-byte header alone is a whole report.
    const uint8_t empty[] = {0x80, 0xC9, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44};
    ASSERT_TRUE(RtcpReceiverReport::Parse(empty, sizeof empty, report));
    EXPECT_EQ(report.blockCount, 0);
    // Too small a buffer to build into: nothing claimed written.
    uint8_t small[31];
    EXPECT_EQ(RtcpReceiverReport::Build(small, sizeof small, 0x80, 1, Block()), 0u);
}

TEST(RtcpBye, BuildsParsesAndRefusesEveryTruncation) {
    uint8_t out[16] = {};
    ASSERT_EQ(RtcpBye::Build(out, sizeof out, 0x80, 0x11223344), kBye.size());
    EXPECT_EQ(std::vector<uint8_t>(out, out + kBye.size()), kBye);
    EXPECT_EQ(RtcpBye::Build(out, 7, 0x80, 0x11223344), 0u);

    RtcpBye bye;
    ASSERT_TRUE(RtcpBye::Parse(kBye.data(), kBye.size(), bye));
    EXPECT_EQ(bye.sourceCount, 1);
    EXPECT_EQ(bye.firstSsrc, 0x11223344u);
    for (size_t n = 0; n < kBye.size(); ++n) {
        std::vector<uint8_t> cut(kBye.begin(), kBye.begin() + static_cast<long>(n));
        EXPECT_FALSE(RtcpBye::Parse(cut.data(), cut.size(), bye)) << n << " bytes";
    }
    for (const auto& [offset, value] : {std::pair<size_t, uint8_t>{0, 0x41}, {1, 0xC9}, {0, 0x82}}) {
        std::vector<uint8_t> bad = kBye;
        bad[offset] = value;
        EXPECT_FALSE(RtcpBye::Parse(bad.data(), bad.size(), bye)) << "byte " << offset << " = " << int{value};
    }
}

namespace {

const std::vector<uint8_t> kSenderReport = {
    0x81, 0xC8, 0x00, 0x0C,  // V=2 P=0 RC=1, PT=200, length 12 words - 1
    0xCA, 0xFE, 0xBA, 0xBE,  // sender SSRC
    0x83, 0xAA, 0x7E, 0x80,  // NTP seconds
    0x12, 0x34, 0x56, 0x78,  // NTP fraction; bytes 10-13 are the LSR 0x7E801234
    0x00, 0x01, 0x5F, 0x90,  // RTP timestamp 90000
    0x00, 0x00, 0x00, 0x2A,  // packet count 42
    0x00, 0x00, 0x10, 0x00,  // octet count 4096
    0x11, 0x22, 0x33, 0x44,  // block: source SSRC
    0x00, 0x00, 0x00, 0x03,  // fraction 0, cumulative lost 3
    0x00, 0x00, 0x00, 0x09,  // extended highest sequence 9
    0x00, 0x00, 0x00, 0x00,  // jitter
    0x00, 0x00, 0x00, 0x00,  // LSR
    0x00, 0x00, 0x00, 0x00,  // DLSR
};

}  // namespace

TEST(RtcpSenderReport, ParsesTheAnnotatedBytesAndBuildsItsHead) {
    RtcpSenderReport report;
    ASSERT_TRUE(RtcpSenderReport::Parse(kSenderReport.data(), kSenderReport.size(), report));
    EXPECT_EQ(report.senderSsrc, 0xCAFEBABEu);
    EXPECT_EQ(report.ntpTimestamp, 0x83AA7E8012345678u);
    EXPECT_EQ(report.MiddleNtp(), 0x7E801234u);
    EXPECT_EQ(report.rtpTimestamp, 90000u);
    EXPECT_EQ(report.packetCount, 42u);
    EXPECT_EQ(report.octetCount, 4096u);
    EXPECT_EQ(report.blockCount, 1);
    EXPECT_EQ(report.firstBlock.sourceSsrc, 0x11223344u);
    EXPECT_EQ(report.firstBlock.cumulativeLost, 3);
    EXPECT_EQ(report.firstBlock.extendedHighestSeq, 9u);

    // Built without blocks: the first 28 bytes with RC=0 and length 6.
    uint8_t out[28] = {};
    ASSERT_EQ(RtcpSenderReport::Build(out, sizeof out, 0xCAFEBABE, 0x83AA7E8012345678u, 90000, 42, 4096), 28u);
    std::vector<uint8_t> head(kSenderReport.begin(), kSenderReport.begin() + 28);
    head[0] = 0x80;
    head[3] = 0x06;
    EXPECT_EQ(std::vector<uint8_t>(out, out + 28), head);
    EXPECT_EQ(RtcpSenderReport::Build(out, 27, 1, 2, 3, 4, 5), 0u);
    ASSERT_TRUE(RtcpSenderReport::Parse(out, sizeof out, report));
    EXPECT_EQ(report.blockCount, 0);
}

TEST(RtcpSenderReport, NoTruncationOrDamageIsAReport) {
    // clang-format off
    ExpectNoTruncationOrDamageParses<RtcpSenderReport>(kSenderReport, {
        {0, 0x41, "version 1"},
        {0, 0xC1, "version 3"},
        {1, 0xC9, "a receiver report's type"},
        {1, 0xCB, "a BYE's type"},
        {0, 0x82, "two blocks announced, one present"},
    });
    // clang-format on
}
