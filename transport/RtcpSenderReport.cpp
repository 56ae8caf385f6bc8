#include "transport/RtcpSenderReport.h"

#include "runtime/CByteReader.h"
#include "runtime/CByteWriter.h"

namespace kestrel {

namespace {

constexpr size_t kBlockSize = 24;

}  // namespace

// Sender report (RFC 3550 6.4.1):
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// |V=2|P|   RC    |   PT=SR=200   |        length (words - 1)     |  0
// |                         SSRC of sender                        |  4
// |              NTP timestamp, most significant word             |  8
// |             NTP timestamp, least significant word             | 12
// |                         RTP timestamp                         | 16
// |                     sender's packet count                     | 20
// |                      sender's octet count                     | 24
// then RC report blocks of 24 bytes, laid out as in a receiver report.
size_t RtcpSenderReport::Build(uint8_t* out, size_t capacity, uint32_t senderSsrc, uint64_t ntpTimestamp,
                               uint32_t rtpTimestamp, uint32_t packetCount, uint32_t octetCount) {
    CByteWriter w(out, capacity);
    w.U8(0x80);
    w.U8(kPacketType);
    w.U16(static_cast<uint16_t>(kNoBlockSize / 4 - 1));
    w.U32(senderSsrc);
    w.U64(ntpTimestamp);
    w.U32(rtpTimestamp);
    w.U32(packetCount);
    w.U32(octetCount);
    return w.Ok() ? w.Size() : 0;
}

bool RtcpSenderReport::Parse(const uint8_t* data, size_t length, RtcpSenderReport& report) {
    report = RtcpSenderReport{};
    CByteReader r(data, length);
    const uint8_t first = r.U8();
    const uint8_t type = r.U8();
    r.U16();
    report.senderSsrc = r.U32();
    report.ntpTimestamp = r.U64();
    report.rtpTimestamp = r.U32();
    report.packetCount = r.U32();
    report.octetCount = r.U32();
    if (!r.Ok() || (first >> 6) != 2 || type != kPacketType) return false;
    report.blockCount = first & 0x1F;
    if (r.Remaining() < kBlockSize * report.blockCount) return false;
    if (report.blockCount > 0) report.firstBlock = RtcpReportBlock::Read(r);
    return r.Ok();
}

}  // namespace kestrel
