#pragma once
#include <cstddef>
#include <cstdint>

namespace kestrel {

// A parsed RTP packet pointing into the receive buffer; valid only during
// the call that carries it.
struct RtpPacket {
    uint8_t csrcCount = 0;
    const uint8_t* csrcList = nullptr;  // null when the count is 0
    uint32_t ssrc = 0;                  // network byte order, as received
    uint8_t marker = 0;
    uint8_t padding = 0;  // recorded only
    uint8_t payloadType = 0;
    uint16_t sequenceNumber = 0;    // host order
    uint32_t timestamp = 0;         // host order
    uint16_t extensionLength = 0;   // 32-bit words, 0 when absent
    uint16_t extensionProfile = 0;  // network order, as received
    const uint8_t* extensionData = nullptr;
    uint32_t payloadLength = 0;
    const uint8_t* payload = nullptr;
};

// Parses the fixed RTP header; false for anything malformed.
bool ParseRtpPacket(const uint8_t* data, size_t length, RtpPacket& packet);

}  // namespace kestrel
