// The RTP sequence statistics fed any run of sequence numbers, compared step
// by step with the RFC 3550 A.1 code written out again in its own int
// arithmetic, and with what the extended highest number may do.
//
// Input: pairs of bytes, each a sequence number (big-endian). A leading
// byte chooses a start offset, so that runs near the 16-bit wrap are cheap
// for the fuzzer to reach.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzInput.h"
#include "runtime/CStopToken.h"
#include "runtime/ITickClock.h"
#include "transport/CRTCPSendReceive.h"

namespace {

// RFC 3550 A.1, as printed there (u_int16 max_seq, u_int32 cycles, ...).
struct Source {
    uint16_t max_seq = 0;
    uint32_t cycles = 0;
    uint32_t base_seq = 0;
    uint32_t bad_seq = 0;
    uint32_t probation = 0;
    uint32_t received = 0;
};

constexpr int RTP_SEQ_MOD = 1 << 16;
constexpr int MAX_DROPOUT = 3000;
constexpr int MAX_MISORDER = 100;
constexpr int MIN_SEQUENTIAL = 2;

void init_seq(Source* s, uint16_t seq) {
    s->base_seq = seq;
    s->max_seq = seq;
    s->bad_seq = RTP_SEQ_MOD + 1;
    s->cycles = 0;
    s->received = 0;
}

int update_seq(Source* s, uint16_t seq) {
    uint16_t udelta = static_cast<uint16_t>(seq - s->max_seq);
    if (s->probation) {
        if (seq == s->max_seq + 1) {
            s->probation--;
            s->max_seq = seq;
            if (s->probation == 0) {
                init_seq(s, seq);
                s->received++;
                return 1;
            }
        } else {
            s->probation = MIN_SEQUENTIAL - 1;
            s->max_seq = seq;
        }
        return 0;
    } else if (udelta < MAX_DROPOUT) {
        if (seq < s->max_seq) s->cycles += RTP_SEQ_MOD;
        s->max_seq = seq;
    } else if (udelta <= RTP_SEQ_MOD - MAX_MISORDER) {
        if (seq == s->bad_seq) {
            init_seq(s, seq);
        } else {
            s->bad_seq = (seq + 1) & (RTP_SEQ_MOD - 1);
            return 0;
        }
    } else {
        // duplicate or reordered packet
    }
    s->received++;
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::FuzzInput in(data, size);
    const uint16_t offset = in.U16();
    // No thread, no socket: the statistics need neither.
    kestrel::CRTCPSendReceive rtcp(kestrel::ITickClock::System(), [] { return std::array<uint32_t, 4>{1, 2, 3, 4}; });
    Source model;
    bool started = false;
    uint32_t previousExtended = 0;
    while (in.Left() >= 2) {
        const auto seq = static_cast<uint16_t>(in.U16() + offset);
        if (!started) {
            init_seq(&model, seq);
            started = true;
            previousExtended = seq;
        }
        const uint16_t udelta = static_cast<uint16_t>(seq - model.max_seq);
        update_seq(&model, seq);
        rtcp.RtpSequenceSeen(seq);

        const kestrel::CRTCPSendReceive::SequenceState state = rtcp.GetSequenceState();
        FUZZ_CHECK(rtcp.GetLastSequenceNumber() == seq);
        FUZZ_CHECK(state.maxSeq == model.max_seq);
        FUZZ_CHECK(state.cycles == model.cycles);
        FUZZ_CHECK(state.badSeq == model.bad_seq);
        FUZZ_CHECK(state.received == model.received);
        FUZZ_CHECK(state.probation == 0);  // never entered: it starts at 0

        const uint32_t extended = rtcp.GetExtendedHighestSequence();
        FUZZ_CHECK(extended == model.cycles + model.max_seq);
        FUZZ_CHECK((extended & 0xFFFFu) == state.maxSeq);
        FUZZ_CHECK(state.cycles % 65536u == 0);
        if (udelta != 0 && udelta < MAX_DROPOUT) {
            // In order, perhaps past a wrap: the number grows by the step.
            FUZZ_CHECK(extended == previousExtended + udelta);
        } else if (extended != previousExtended) {
            // Otherwise only a confirmed jump moves it: a restart of the count.
            FUZZ_CHECK(extended == seq && state.cycles == 0);
        }
        previousExtended = extended;
    }
    return 0;
}
