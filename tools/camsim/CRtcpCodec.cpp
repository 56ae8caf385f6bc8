#include "tools/camsim/CRtcpCodec.h"

#include <chrono>

#include "runtime/CByteReader.h"
#include "runtime/CByteWriter.h"

namespace camsim {

using kestrel::CByteReader;
using kestrel::CByteWriter;

size_t CRtcpCodec::BuildSenderReport(uint8_t* out, size_t capacity, uint32_t ssrc, uint64_t ntp, uint32_t rtpTime,
                                     uint32_t packets, uint32_t octets, std::string_view cname) {
    if (cname.size() > 255) cname = cname.substr(0, 255);
    // SDES chunk: SSRC, item type and length, text, then at least one zero
    // byte ending the item list, padded to a 32-bit boundary.
    const size_t chunk = (4 + 2 + cname.size() + 1 + 3) & ~size_t{3};
    const size_t total = 28 + 4 + chunk;
    if (out == nullptr || capacity < total) return 0;
    out[0] = 0x80;
    out[1] = 200;
    CByteWriter::Put16(out + 2, 6);
    CByteWriter::Put32(out + 4, ssrc);
    CByteWriter::Put32(out + 8, static_cast<uint32_t>(ntp >> 32));
    CByteWriter::Put32(out + 12, static_cast<uint32_t>(ntp));
    CByteWriter::Put32(out + 16, rtpTime);
    CByteWriter::Put32(out + 20, packets);
    CByteWriter::Put32(out + 24, octets);
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
        const unsigned count = p[0] & 0x1F;
        const unsigned type = p[1];
        const size_t bytes = (size_t{CByteReader::Get16(p + 2)} + 1) * 4;
        if (bytes > size - at) {
            r.malformed = true;
            break;
        }
        if (type == 201) {
            // RR: reporter SSRC, then count blocks of 24 bytes:
            // SSRC | fraction(8) cumulative lost(24) | ext. highest seq |
            // jitter | LSR | DLSR
            if (bytes < 8 + 24 * size_t{count}) {
                r.malformed = true;
                break;
            }
            ReceiverReport rr;
            rr.reporterSsrc = CByteReader::Get32(p + 4);
            if (count > 0) {
                const uint8_t* b = p + 8;
                rr.hasBlock = true;
                rr.sourceSsrc = CByteReader::Get32(b);
                rr.fractionLost = b[4];
                uint32_t lost = (uint32_t{b[5]} << 16) | (uint32_t{b[6]} << 8) | b[7];
                rr.cumulativeLost = (lost & 0x800000) ? static_cast<int32_t>(lost) - 0x1000000 : static_cast<int32_t>(lost);
                rr.extendedHighestSeq = CByteReader::Get32(b + 8);
                rr.jitter = CByteReader::Get32(b + 12);
                rr.lsr = CByteReader::Get32(b + 16);
                rr.dlsr = CByteReader::Get32(b + 20);
            }
            ++r.receiverReports;
            r.lastReport = rr;
        } else if (type == 203) {
            // BYE: count SSRCs follow the header.
            if (bytes < 4 + 4 * size_t{count}) {
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
