#include "transport/RtcpReceiverReport.h"

#include "runtime/CByteReader.h"
#include "runtime/CByteWriter.h"

namespace kestrel {

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kBlockSize = 24;

}  // namespace

RtcpReportBlock RtcpReportBlock::Read(CByteReader& r) {
    RtcpReportBlock b;
    b.sourceSsrc = r.U32();
    b.fractionLost = r.U8();
    const uint32_t lost = r.U24();
    b.cumulativeLost = (lost & 0x800000u) != 0 ? static_cast<int32_t>(lost) - 0x1000000 : static_cast<int32_t>(lost);
    b.extendedHighestSeq = r.U32();
    b.jitter = r.U32();
    b.lastSenderReport = r.U32();
    b.delaySinceLastSr = r.U32();
    return b;
}

// Receiver report (RFC 3550 6.4.2):
//
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// |V=2|P|   RC    |   PT=RR=201   |        length (words - 1)     |  0
// |                     SSRC of packet sender                     |  4
// then RC blocks of 24 bytes:
// |                     SSRC of source                            |  +0
// | fraction lost |       cumulative number of packets lost       |  +4
// |           extended highest sequence number received           |  +8
// |                      interarrival jitter                      | +12
// |                         last SR (LSR)                         | +16
// |                   delay since last SR (DLSR)                  | +20
size_t RtcpReceiverReport::Build(uint8_t* out, size_t capacity, uint8_t versionBits, uint32_t reporterSsrc,
                                 const RtcpReportBlock& block) {
    CByteWriter w(out, capacity);
    w.U8(static_cast<uint8_t>((versionBits & 0xC0) | 0x01));
    w.U8(kPacketType);
    w.U16(static_cast<uint16_t>(kOneBlockSize / 4 - 1));
    w.U32(reporterSsrc);
    w.U32(block.sourceSsrc);
    w.U8(block.fractionLost);
    w.U24(static_cast<uint32_t>(block.cumulativeLost) & 0xFFFFFFu);
    w.U32(block.extendedHighestSeq);
    w.U32(block.jitter);
    w.U32(block.lastSenderReport);
    w.U32(block.delaySinceLastSr);
    return w.Ok() ? w.Size() : 0;
}

bool RtcpReceiverReport::Parse(const uint8_t* data, size_t length, RtcpReceiverReport& report) {
    report = RtcpReceiverReport{};
    CByteReader r(data, length);
    const uint8_t first = r.U8();
    const uint8_t type = r.U8();
    r.U16();
    report.reporterSsrc = r.U32();
    if (!r.Ok() || (first >> 6) != 2 || type != kPacketType) return false;
    report.blockCount = first & 0x1F;
    if (length < kHeaderSize + kBlockSize * report.blockCount) return false;
    if (report.blockCount > 0) report.firstBlock = RtcpReportBlock::Read(r);
    return r.Ok();
}

}  // namespace kestrel
