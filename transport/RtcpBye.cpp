#include "transport/RtcpBye.h"

#include "runtime/CByteReader.h"
#include "runtime/CByteWriter.h"

namespace kestrel {

// BYE (RFC 3550 6.6); an optional reason after the list is not read:
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// |V=2|P|    SC   |   PT=BYE=203  |        length (words - 1)     |  0
// |                           SSRC/CSRC                           |  4, SC words
size_t RtcpBye::Build(uint8_t* out, size_t capacity, uint8_t versionBits, uint32_t ssrc) {
    CByteWriter w(out, capacity);
    w.U8(static_cast<uint8_t>((versionBits & 0xC0) | 0x01));
    w.U8(kPacketType);
    w.U16(1);
    w.U32(ssrc);
    return w.Ok() ? w.Size() : 0;
}

bool RtcpBye::Parse(const uint8_t* data, size_t length, RtcpBye& bye) {
    bye = RtcpBye{};
    CByteReader r(data, length);
    const uint8_t first = r.U8();
    const uint8_t type = r.U8();
    r.U16();
    if (!r.Ok() || (first >> 6) != 2 || type != kPacketType) return false;
    bye.sourceCount = first & 0x1F;
    if (r.Remaining() < size_t{4} * bye.sourceCount) return false;
    if (bye.sourceCount > 0) bye.firstSsrc = r.U32();
    return r.Ok();
}

}  // namespace kestrel
