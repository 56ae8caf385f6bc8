#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/RtcpReceiverReport.h"

namespace kestrel {

// A sender report (PT 200): the camera sends them, the driver reads the
// sender and the NTP time it echoes in its next receiver report.
struct RtcpSenderReport {
    static constexpr uint8_t kPacketType = 200;
    static constexpr size_t kNoBlockSize = 28;

    uint32_t senderSsrc = 0;
    uint64_t ntpTimestamp = 0;
    uint32_t rtpTimestamp = 0;
    uint32_t packetCount = 0;
    uint32_t octetCount = 0;
    uint8_t blockCount = 0;
    RtcpReportBlock firstBlock;  // valid when blockCount > 0

    // The middle 32 bits of the NTP time: what a receiver report echoes as LSR.
    uint32_t MiddleNtp() const { return static_cast<uint32_t>(ntpTimestamp >> 16); }

    // No report blocks. Returns the bytes written, 0 when it does not fit.
    static size_t Build(uint8_t* out, size_t capacity, uint32_t senderSsrc, uint64_t ntpTimestamp,
                        uint32_t rtpTimestamp, uint32_t packetCount, uint32_t octetCount);
    // One packet of `length` bytes (from its own header). False when it is
    // no sender report or shorter than its sender info and blocks.
    static bool Parse(const uint8_t* data, size_t length, RtcpSenderReport& report);
};

}  // namespace kestrel
