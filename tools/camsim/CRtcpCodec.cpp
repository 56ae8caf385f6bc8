#include "tools/camsim/CRtcpCodec.h"

#include <chrono>

#include "runtime/CByteReader.h"
#include "runtime/CByteWriter.h"
#include "transport/RtcpBye.h"
#include "transport/RtcpReceiverReport.h"
#include "transport/RtcpSenderReport.h"

namespace camsim {

using kestrel::CByteReader;
using kestrel::CByteWriter;
using kestrel::RtcpBye;
using kestrel::RtcpReceiverReport;
using kestrel::RtcpSenderReport;

size_t CRtcpCodec::BuildSenderReport(uint8_t* out, size_t capacity, uint32_t ssrc, uint64_t ntp, uint32_t rtpTime,
                                     uint32_t packets, uint32_t octets, std::string_view cname) {
    if (cname.size() > 255) cname = cname.substr(0, 255);
    // SDES chunk: SSRC, item type and length, text, then at least one zero
    // byte ending the item list, padded to a 32-bit boundary.
    const size_t chunk = (4 + 2 + cname.size() + 1 + 3) & ~size_t{3};
    const size_t total = 28 + 4 + chunk;
    if (out == nullptr || capacity < total) return 0;
    if (RtcpSenderReport::Build(out, capacity, ssrc, ntp, rtpTime, packets, octets) != 28) return 0;
    uint8_t* s = out + 28;
    s[0] = 0x81;
    s[1] = 202;
    CByteWriter::Put16(s + 2, static_cast<uint16_t>((4 + chunk) / 4 - 1));
    CByteWriter::Put32(s + 4, ssrc);
    s[8] = 1;  // CNAME
    s[9] = static_cast<uint8_t>(cname.size());
    size_t i = 10;
    for (char c : cname) s[i++] = static_cast<uint8_t>(c);
    while (i < 4 + chunk) s[i++] = 0;
    return total;
}

CRtcpCodec::Parsed CRtcpCodec::Parse(const uint8_t* data, size_t size) {
    Parsed r;
    if (data == nullptr || size == 0) {
        r.malformed = true;
        return r;
    }
    size_t at = 0;
    while (at < size) {
        // Common header: V(2) P(1) count(5) | PT(8) | length in words - 1 (16)
        if (size - at < 4) {
            r.malformed = true;
            break;
        }
        const uint8_t* p = data + at;
        if ((p[0] >> 6) != 2) {
            r.malformed = true;
            break;
        }
        const unsigned type = p[1];
        const size_t bytes = (size_t{CByteReader::Get16(p + 2)} + 1) * 4;
        if (bytes > size - at) {
            r.malformed = true;
            break;
        }
        if (type == RtcpReceiverReport::kPacketType) {
            RtcpReceiverReport parsed;
            if (!RtcpReceiverReport::Parse(p, bytes, parsed)) {
                r.malformed = true;
                break;
            }
            ReceiverReport rr;
            rr.reporterSsrc = parsed.reporterSsrc;
            if (parsed.blockCount > 0) {
                const kestrel::RtcpReportBlock& b = parsed.firstBlock;
                rr.hasBlock = true;
                rr.sourceSsrc = b.sourceSsrc;
                rr.fractionLost = b.fractionLost;
                rr.cumulativeLost = b.cumulativeLost;
                rr.extendedHighestSeq = b.extendedHighestSeq;
                rr.jitter = b.jitter;
                rr.lsr = b.lastSenderReport;
                rr.dlsr = b.delaySinceLastSr;
            }
            ++r.receiverReports;
            r.lastReport = rr;
        } else if (type == RtcpBye::kPacketType) {
            RtcpBye bye;
            if (!RtcpBye::Parse(p, bytes, bye)) {
                r.malformed = true;
                break;
            }
            ++r.byes;
        } else {
            ++r.others;
        }
        at += bytes;
    }
    return r;
}

uint64_t CRtcpCodec::NtpNow() {
    using namespace std::chrono;
    const auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    const uint64_t secs = static_cast<uint64_t>(ns / 1000000000) + 2208988800ull;
    const uint64_t frac = (static_cast<uint64_t>(ns % 1000000000) << 32) / 1000000000ull;
    return (secs << 32) | frac;
}

}  // namespace camsim
