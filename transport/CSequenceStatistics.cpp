#include "transport/CSequenceStatistics.h"

namespace kestrel {

namespace {

constexpr uint32_t kSeqMod = 1u << 16;
constexpr uint16_t kMaxDropout = 3000;
constexpr uint16_t kMaxMisorder = 100;
constexpr uint32_t kMinSequential = 2;
constexpr int32_t kMaxLost = 0x7FFFFF;
constexpr int32_t kMinLost = -0x800000;

}  // namespace

void CSequenceStatistics::Reset() { *this = CSequenceStatistics{}; }

// init_seq; probation stays as it is: a first packet is taken at once.
void CSequenceStatistics::Init(uint16_t sequenceNumber) {
    m_baseSeq = sequenceNumber;
    m_state.maxSeq = sequenceNumber;
    m_state.badSeq = kSeqMod + 1;  // matches no sequence number
    m_state.cycles = 0;
    m_state.received = 0;
    m_expectedPrior = 0;
    m_receivedPrior = 0;
}

// update_seq.
void CSequenceStatistics::Seen(uint16_t sequenceNumber) {
    if (!m_started) {
        Init(sequenceNumber);
        m_started = true;
    }
    State& s = m_state;
    const auto delta = static_cast<uint16_t>(sequenceNumber - s.maxSeq);
    if (s.probation != 0) {
        // In the RFC's int arithmetic: 65535 + 1 is never in sequence.
        if (uint32_t{sequenceNumber} == uint32_t{s.maxSeq} + 1) {
            --s.probation;
            s.maxSeq = sequenceNumber;
            if (s.probation == 0) {
                Init(sequenceNumber);
                ++s.received;
            }
        } else {
            s.probation = kMinSequential - 1;
            s.maxSeq = sequenceNumber;
        }
        return;
    }
    if (delta < kMaxDropout) {
        if (sequenceNumber < s.maxSeq) s.cycles += kSeqMod;
        s.maxSeq = sequenceNumber;
    } else if (delta <= kSeqMod - kMaxMisorder) {
        if (uint32_t{sequenceNumber} == s.badSeq) {
            Init(sequenceNumber);
        } else {
            s.badSeq = (uint32_t{sequenceNumber} + 1) & (kSeqMod - 1);
            return;
        }
    }
    // else: a duplicate or a reordered packet.
    ++s.received;
}

uint32_t CSequenceStatistics::Expected() const { return m_started ? ExtendedHighest() - m_baseSeq + 1 : 0; }

int32_t CSequenceStatistics::CumulativeLost() const {
    const int64_t lost = int64_t{Expected()} - int64_t{m_state.received};
    if (lost > kMaxLost) return kMaxLost;
    if (lost < kMinLost) return kMinLost;
    return static_cast<int32_t>(lost);
}

uint8_t CSequenceStatistics::TakeFractionLost() {
    const uint32_t expected = Expected();
    const uint32_t expectedInterval = expected - m_expectedPrior;
    const uint32_t receivedInterval = m_state.received - m_receivedPrior;
    m_expectedPrior = expected;
    m_receivedPrior = m_state.received;
    const int64_t lostInterval = int64_t{expectedInterval} - int64_t{receivedInterval};
    if (expectedInterval == 0 || lostInterval <= 0) return 0;
    return static_cast<uint8_t>((lostInterval << 8) / expectedInterval);
}

}  // namespace kestrel
