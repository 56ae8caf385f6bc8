#pragma once
#include <cstdint>

namespace kestrel::record {

// Counts pictures that never arrived. With a picture number from the source
// (the simulator writes one into every picture) the count is exact; without
// it, a gap in arrival times of more than 1.5 usual intervals counts as the
// pictures that fit into it. The usual interval starts at the requested one
// and follows what the camera really sends.
class CLossCounter {
public:
    explicit CLossCounter(uint32_t nominalIntervalMs);

    // Returns how many pictures were lost just before this one.
    uint64_t OnPicture(int64_t monotonicUs, bool hasNumber, uint64_t number);
    uint64_t Lost() const { return m_lost; }
    bool Exact() const { return m_exact; }

private:
    double m_expectedUs;
    int64_t m_lastUs = 0;
    uint64_t m_lastNumber = 0;
    bool m_havePrevious = false;
    bool m_exact = false;
    uint64_t m_lost = 0;
};

}  // namespace kestrel::record
