#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// A BYE (PT 203): a source leaves the session.
struct RtcpBye {
    static constexpr uint8_t kPacketType = 203;
    static constexpr size_t kOneSourceSize = 8;

    uint8_t sourceCount = 0;
    uint32_t firstSsrc = 0;  // valid when sourceCount > 0

    // BYE for one source; `versionBits` as in RtcpReceiverReport::Build.
    static size_t Build(uint8_t* out, size_t capacity, uint8_t versionBits, uint32_t ssrc);
    // One packet of `length` bytes; false when it is no BYE or shorter than
    // its source list.
    static bool Parse(const uint8_t* data, size_t length, RtcpBye& bye);
};

}  // namespace kestrel
