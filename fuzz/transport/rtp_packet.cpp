// ParseRtpPacket on any datagram: never reads outside it, and what it
// accepts is exactly what a header walk written here again accepts.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzInput.h"
#include "transport/RtpPacket.h"

namespace {

// The expected header length, or 0 when the datagram is to be rejected.
size_t ExpectedHeaderLength(const uint8_t* d, size_t n) {
    if (n < 13 || (d[0] >> 6) != 2) return 0;
    size_t header = 12 + 4 * size_t{static_cast<uint8_t>(d[0] & 0x0F)};
    if (d[0] & 0x10) {
        if (n < header + 4) return 0;
        header += 4 + 4 * ((size_t{d[header + 2]} << 8) | d[header + 3]);
    }
    return n < header ? 0 : header;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kestrel::RtpPacket packet;
    packet.payloadLength = 0xDEAD;  // must be cleared by the parse
    const bool accepted = kestrel::ParseRtpPacket(data, size, packet);
    const size_t header = ExpectedHeaderLength(data, size);
    FUZZ_CHECK(accepted == (header != 0));
    if (!accepted) {
        FUZZ_CHECK(packet.payload == nullptr && packet.payloadLength == 0);
        return 0;
    }
    FUZZ_CHECK(packet.payload == data + header);
    FUZZ_CHECK(packet.payloadLength == size - header);
    FUZZ_CHECK(packet.csrcCount == (data[0] & 0x0F));
    FUZZ_CHECK((packet.csrcList != nullptr) == (packet.csrcCount != 0));
    FUZZ_CHECK((packet.extensionData != nullptr) == ((data[0] & 0x10) != 0));
    if (packet.extensionData != nullptr) {
        // The extension lies wholly inside the datagram, before the payload.
        FUZZ_CHECK(packet.extensionData + 4 * size_t{packet.extensionLength} == packet.payload);
    }
    FUZZ_CHECK(packet.marker == (data[1] >> 7));
    FUZZ_CHECK(packet.payloadType == (data[1] & 0x7F));
    FUZZ_CHECK(packet.sequenceNumber == ((data[2] << 8) | data[3]));
    // Touch every payload byte, so that ASan sees a wrong length.
    uint8_t sum = 0;
    for (uint32_t i = 0; i < packet.payloadLength; ++i) sum = static_cast<uint8_t>(sum + packet.payload[i]);
    (void)sum;
    return 0;
}
