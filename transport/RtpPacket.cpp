#include "transport/RtpPacket.h"

#include <cstdint>
#include <cstring>

#include "runtime/CByteReader.h"
namespace kestrel {

namespace {

constexpr size_t kFixedHeader = 12;

}  // namespace

// RTP fixed header, big-endian (RFC 3550 5.1):
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |V=2|P|X|  CC   |M|     PT      |       sequence number         |  0
// |                           timestamp                           |  4
// |           synchronization source (SSRC) identifier            |  8
// |            contributing source (CSRC) identifiers             | 12, CC words
// |      defined by profile       |        length (words)         | if X
// |                        header extension                       | length words
// |                            payload ...                        |
//
// Padding (P) is only recorded: the payload keeps any padding bytes.
bool ParseRtpPacket(const uint8_t* data, size_t length, RtpPacket& packet) {
    packet = RtpPacket{};
    if (data == nullptr || length <= kFixedHeader || length > UINT32_MAX) return false;
    if ((data[0] & 0xC0) != 0x80) return false;

    size_t headerLength = kFixedHeader;
    const uint8_t csrcCount = data[0] & 0x0F;
    if (csrcCount != 0) {
        packet.csrcCount = csrcCount;
        packet.csrcList = data + kFixedHeader;
        headerLength += 4u * csrcCount;
    }
    if ((data[0] & 0x10) != 0) {
        const size_t extensionOffset = headerLength;
        headerLength += 4;
        if (length < headerLength) return false;
        const uint8_t* extensionHeader = data + extensionOffset;
        // The profile field stays in wire order, like the SSRC.
        std::memcpy(&packet.extensionProfile, extensionHeader, sizeof packet.extensionProfile);
        packet.extensionLength = CByteReader::Get16(extensionHeader + 2);
        packet.extensionData = data + headerLength;
        headerLength += 4u * packet.extensionLength;
    }
    if (length < headerLength) return false;

    packet.marker = (data[1] >> 7) & 0x01;
    packet.padding = (data[0] >> 5) & 0x01;
    packet.payloadType = data[1] & 0x7F;
    packet.sequenceNumber = CByteReader::Get16(data + 2);
    packet.timestamp = CByteReader::Get32(data + 4);
    std::memcpy(&packet.ssrc, data + 8, sizeof packet.ssrc);
    packet.payload = data + headerLength;
    packet.payloadLength = static_cast<uint32_t>(length - headerLength);
    return true;
}

}  // namespace kestrel
