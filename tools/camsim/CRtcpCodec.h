#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "tools/camsim/CamsimTypes.h"

namespace camsim {

// RTCP as the camera side needs it: builds sender reports, reads the
// receiver reports and BYE that come back.
class CRtcpCodec {
public:
    // Sender report followed by an SDES chunk with the CNAME. Returns the
    // bytes written, 0 when out is too small.
    //
    //  0: V=2 P=0 RC=0 | PT=200 | length=6
    //  4: SSRC
    //  8: NTP seconds | 12: NTP fraction
    // 16: RTP timestamp | 20: packet count | 24: octet count
    // 28: V=2 SC=1 | PT=202 | length | SSRC | CNAME=1 len text, 0-padded to 32 bits
    static size_t BuildSenderReport(uint8_t* out, size_t capacity, uint32_t ssrc, uint64_t ntp, uint32_t rtpTime,
                                    uint32_t packets, uint32_t octets, std::string_view cname);

    struct Parsed {
        unsigned receiverReports = 0;
        unsigned byes = 0;
        unsigned others = 0;  // other packet types
        bool malformed = false;
        std::optional<ReceiverReport> lastReport;
    };
    // Walks a compound packet; stops at the first malformed part, keeping
    // what came before it.
    static Parsed Parse(const uint8_t* data, size_t size);

    // 64-bit NTP time from the system clock.
    static uint64_t NtpNow();
};

}  // namespace camsim
