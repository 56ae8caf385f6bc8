#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

class CByteReader;

// One report block: how a receiver sees one source.
struct RtcpReportBlock {
    uint32_t sourceSsrc = 0;
    uint8_t fractionLost = 0;
    int32_t cumulativeLost = 0;  // 24-bit signed on the wire
    uint32_t extendedHighestSeq = 0;
    uint32_t jitter = 0;
    uint32_t lastSenderReport = 0;  // LSR
    uint32_t delaySinceLastSr = 0;  // DLSR, 1/65536 s

    // The 24 bytes at the reader; receiver and sender reports share them.
    static RtcpReportBlock Read(CByteReader& r);
};

// A receiver report (PT 201): the driver builds them, the simulator and the
// recorder read them.
struct RtcpReceiverReport {
    static constexpr uint8_t kPacketType = 201;
    static constexpr size_t kOneBlockSize = 32;

    uint32_t reporterSsrc = 0;
    uint8_t blockCount = 0;
    RtcpReportBlock firstBlock;  // valid when blockCount > 0

    // One block. `versionBits` are the top two bits of the first byte, as
    // the peer sent them. Returns the bytes written, 0 when it does not fit.
    static size_t Build(uint8_t* out, size_t capacity, uint8_t versionBits, uint32_t reporterSsrc,
                        const RtcpReportBlock& block);
    // One packet of `length` bytes (from its own header). False when it is
    // no receiver report or shorter than its blocks.
    static bool Parse(const uint8_t* data, size_t length, RtcpReceiverReport& report);
};

}  // namespace kestrel
