#include "transport/RtpPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/transport/TransportTestSupport.h"
#include "transport/CRTPReceiver.h"

using namespace kestrel;
using namespace transporttest;

namespace {

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// 0x80: V=2, no padding, no extension, CC=0.
const Bytes kFixed = {
    0x80,                    // V=2 P=0 X=0 CC=0
    0xE3,                    // M=1 PT=99
    0x12, 0x34,              // sequence 0x1234
    0xDE, 0xAD, 0xBE, 0xEF,  // timestamp
    0x01, 0x02, 0x03, 0x04,  // SSRC
};

struct ParseRow {
    const char* what;
    Bytes datagram;
    bool accepted;
    size_t payloadOffset;  // when accepted
    uint32_t payloadLength;
};

TEST(ParseRtpPacket, HeaderFormsAndTruncations) {
    // clang-format off
    const ParseRow rows[] = {
        {"empty", {}, false, 0, 0},
        {"fixed header only, 12 bytes", kFixed, false, 0, 0},
        {"one payload byte", Concat({kFixed, {0xAA}}), true, 12, 1},
        {"version 0", {0x00, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, false, 0, 0},
        {"version 1", {0x40, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, false, 0, 0},
        {"version 3", {0xC0, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, false, 0, 0},
        {"CC=1, header ends at the CSRC list: empty payload",
         {0x81, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
          0xC0, 0xC1, 0xC2, 0xC3},  // CSRC 1
         true, 16, 0},
        {"CC=1, CSRC cut short",
         {0x81, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
          0xC0, 0xC1, 0xC2},  // 3 of 4 CSRC bytes
         false, 0, 0},
        {"CC=15 in 60 bytes (needs 72)", Concat({{0x8F, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, Bytes(48, 0xC5)}),
         false, 0, 0},
        {"CC=15 in 72 bytes", Concat({{0x8F, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, Bytes(60, 0xC5)}), true, 72, 0},
        {"CC=15 in 73 bytes", Concat({{0x8F, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, Bytes(61, 0xC5)}), true, 72, 1},
        {"X=1, empty extension, header ends at it",
         {0x90, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
          0xAB, 0xCD, 0x00, 0x00},  // profile 0xABCD, 0 words
         true, 16, 0},
        {"X=1, extension header cut short",
         {0x90, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
          0xAB, 0xCD, 0x00},  // length field incomplete
         false, 0, 0},
        {"X=1, one word announced, none present",
         {0x90, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
          0xAB, 0xCD, 0x00, 0x01},
         false, 0, 0},
        {"X=1, 300 words and 3 payload bytes",
         Concat({{0x90, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
                  0xAB, 0xCD, 0x01, 0x2C},  // 0x012C = 300 words: both bytes count
                 Bytes(1200, 0xEE), {1, 2, 3}}),
         true, 12 + 4 + 1200, 3},
        {"X=1, 300 words, one byte short",
         Concat({{0x90, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAB, 0xCD, 0x01, 0x2C}, Bytes(1199, 0xEE)}),
         false, 0, 0},
        {"CC=15 and X=1 past the end: no read beyond the datagram",
         Concat({{0x9F, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, Bytes(62, 0xC5)}),  // extension header needs 76
         false, 0, 0},
        {"CC=2 and X=1 with one word, then 2 bytes",
         {0x92, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
          0xC0, 0xC0, 0xC0, 0xC0,   // CSRC 1
          0xC1, 0xC1, 0xC1, 0xC1,   // CSRC 2
          0x10, 0x00, 0x00, 0x01,   // profile 0x1000, 1 word
          0xE0, 0xE1, 0xE2, 0xE3,   // extension word
          0x55, 0x66},              // payload
         true, 28, 2},
        {"padding bit set: payload keeps the padding",
         {0xA0, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
          0x11, 0x00, 0x00, 0x03},  // 1 byte data, 3 bytes padding (count 3)
         true, 12, 4},
    };
    // clang-format on
    for (const ParseRow& row : rows) {
        SCOPED_TRACE(row.what);
        RtpPacket packet;
        packet.sequenceNumber = 0x7777;  // must be cleared
        const bool accepted = ParseRtpPacket(row.datagram.data(), row.datagram.size(), packet);
        ASSERT_EQ(accepted, row.accepted);
        if (!accepted) continue;
        EXPECT_EQ(packet.payload, row.datagram.data() + row.payloadOffset);
        EXPECT_EQ(packet.payloadLength, row.payloadLength);
    }
}

TEST(ParseRtpPacket, EveryTruncationOfAFullHeader) {
    // CC=2, X=1 with 2 words, 5 payload bytes: the header is 12+8+4+8 = 32.
    const Bytes full = Concat({{0x92, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
                               Bytes(8, 0xC0),            // two CSRCs
                               {0x00, 0x00, 0x00, 0x02},  // extension: 2 words
                               Bytes(8, 0xE0),            // extension data
                               Bytes(5, 0x99)});          // payload
    for (size_t length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(length);
        // A copy of exactly `length` bytes, so ASan sees any overread.
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        RtpPacket packet;
        const bool accepted = ParseRtpPacket(cut.data(), cut.size(), packet);
        EXPECT_EQ(accepted, length >= 32);
        if (accepted) {
            EXPECT_EQ(packet.payloadLength, length - 32);
        }
    }
}

TEST(ParseRtpPacket, HeaderFields) {
    const Bytes datagram = {
        0xB1,                    // V=2 P=1 X=1 CC=1
        0x9A,                    // M=1 PT=26 (JPEG)
        0xFF, 0xFE,              // sequence 65534
        0x00, 0x01, 0x5F, 0x90,  // timestamp 90000
        0x11, 0x22, 0x33, 0x44,  // SSRC
        0xC0, 0xC1, 0xC2, 0xC3,  // CSRC
        0xBE, 0xDE, 0x00, 0x01,  // profile 0xBEDE, 1 word
        0xE0, 0xE1, 0xE2, 0xE3,  // extension word
        0x01, 0x02,              // payload
    };
    RtpPacket packet;
    ASSERT_TRUE(ParseRtpPacket(datagram.data(), datagram.size(), packet));
    EXPECT_EQ(packet.csrcCount, 1);
    EXPECT_EQ(packet.csrcList, datagram.data() + 12);
    EXPECT_EQ(packet.marker, 1);
    EXPECT_EQ(packet.padding, 1);
    EXPECT_EQ(packet.payloadType, 26);
    EXPECT_EQ(packet.sequenceNumber, 65534);
    EXPECT_EQ(packet.timestamp, 90000u);
    // SSRC and profile keep the wire's byte order.
    EXPECT_EQ(std::memcmp(&packet.ssrc, datagram.data() + 8, 4), 0);
    EXPECT_EQ(std::memcmp(&packet.extensionProfile, datagram.data() + 16, 2), 0);
    EXPECT_EQ(packet.extensionLength, 1);
    EXPECT_EQ(packet.extensionData, datagram.data() + 20);
    EXPECT_EQ(packet.payload, datagram.data() + 24);
    EXPECT_EQ(packet.payloadLength, 2u);

    const Bytes plain = Concat({kFixed, {0xAA}});
    ASSERT_TRUE(ParseRtpPacket(plain.data(), plain.size(), packet));
    EXPECT_EQ(packet.csrcCount, 0);
    EXPECT_EQ(packet.csrcList, nullptr);
    EXPECT_EQ(packet.extensionData, nullptr);
    EXPECT_EQ(packet.extensionLength, 0);
    EXPECT_EQ(packet.padding, 0);
}

// Records what the receiver hands on.
class RecordingRtpUser : public IRTPReceiverUser {
public:
    void PacketReceived(CRTPReceiver* receiver, const Ipv4Endpoint& from, const RtpPacket& packet) override {
        std::lock_guard<std::mutex> lock(mutex);
        this->receiver = receiver;
        this->from = from;
        sequences.push_back(packet.sequenceNumber);
        payloads.emplace_back(packet.payload, packet.payload + packet.payloadLength);
    }
    void ReceiveTimeout() override { ++timeouts; }
    void ReceiverClosed(CRTPReceiver* receiver) override {
        std::lock_guard<std::mutex> lock(mutex);
        this->receiver = receiver;
        ++closed;
    }
    std::mutex mutex;
    CRTPReceiver* receiver = nullptr;
    Ipv4Endpoint from;
    std::vector<uint16_t> sequences;
    std::vector<Bytes> payloads;
    std::atomic<int> timeouts{0};
    int closed = 0;
};

TEST(CRTPReceiver, PassesValidPacketsOfItsOwnPortAndForwardsTimeoutAndClosure) {
    RecordingRtpUser user;
    CRTPReceiver receiver;
    EXPECT_EQ(receiver.GetPort().GetReceiveBufferSize(), 4096u);
    receiver.SetUser(&user);
    CUDPPort stranger;  // a datagram said to come from another port is not ours
    const Bytes valid = Concat({kFixed, {0xAA}});
    receiver.DataReceived(&stranger, Ipv4Endpoint{kLoopback, 1}, valid.data(), valid.size());

    receiver.GetPort().SetWaitTimeout(0, 20000);
    ASSERT_EQ(receiver.GetPort().Open(0), UdpSuccess);
    Peer sender;
    const uint16_t port = receiver.GetPort().GetPort();
    ASSERT_EQ(sender.Send(port, kFixed), UdpSuccess);                                         // too short
    ASSERT_EQ(sender.Send(port, {0x40, 0x60, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 1}), UdpSuccess);  // version 1
    ASSERT_EQ(sender.Send(port, Concat({kFixed, {0xAA, 0xBB}})), UdpSuccess);
    const auto delivered = [&] {
        std::lock_guard<std::mutex> lock(user.mutex);
        return !user.payloads.empty();
    };
    for (int i = 0; i < 500 && (user.timeouts == 0 || !delivered()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(user.timeouts, 0);
    receiver.GetPort().Close();
    std::lock_guard<std::mutex> lock(user.mutex);
    ASSERT_EQ(user.sequences, std::vector<uint16_t>{0x1234});
    EXPECT_EQ(user.payloads.at(0), (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(user.from.address, kLoopback);
    EXPECT_EQ(user.from.port, sender.Port());
    EXPECT_EQ(user.closed, 1);
    EXPECT_EQ(user.receiver, &receiver);
}

}  // namespace
