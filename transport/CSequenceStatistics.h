#pragma once

#include <cstdint>

namespace kestrel {

// The sequence state of one RTP source (RFC 3550 A.1) and the loss figures
// derived from it (A.3). Not thread safe: one thread feeds it, and whoever
// reads it from another thread gets the figures published by its owner.
class CSequenceStatistics {
public:
    struct State {
        uint16_t maxSeq = 0;  // highest sequence number seen
        uint32_t cycles = 0;  // wrap count, in units of 65536
        uint32_t badSeq = 0;  // the number that would confirm a big jump
        uint32_t probation = 0;
        uint32_t received = 0;
    };

    // One packet's sequence number; the first one starts the count.
    void Seen(uint16_t sequenceNumber);
    // Back to "no packet yet", as for a new stream.
    void Reset();

    bool IsStarted() const { return m_started; }
    const State& GetState() const { return m_state; }
    uint32_t ExtendedHighest() const { return m_state.cycles + m_state.maxSeq; }
    // Packets expected since the count (re)started.
    uint32_t Expected() const;
    // Expected minus received, clamped to the 24-bit signed report field.
    int32_t CumulativeLost() const;
    // Lost in 1/256 since the previous call (or the start), 0 when
    // duplicates outnumber the losses; the next interval starts here.
    uint8_t TakeFractionLost();

private:
    void Init(uint16_t sequenceNumber);

    State m_state;
    uint32_t m_baseSeq = 0;
    uint32_t m_expectedPrior = 0;
    uint32_t m_receivedPrior = 0;
    bool m_started = false;
};

}  // namespace kestrel
