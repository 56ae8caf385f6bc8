#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrel::record {

// Counts pictures that never arrived. With a picture number from the source
// (the simulator writes one into every picture) the count is exact. Without
// it, a gap of more than 1.5 usual intervals counts as the pictures that fit
// into it; the usual interval is the median of the recent ones (the
// requested interval until three are known), so a camera that sends slower
// than asked is not taken for one that loses pictures.
class CLossCounter {
public:
    explicit CLossCounter(uint32_t nominalIntervalMs);

    // Returns how many pictures were lost just before this one.
    uint64_t OnPicture(int64_t monotonicUs, bool hasNumber, uint64_t number);
    uint64_t Lost() const { return m_lost; }

private:
    static constexpr size_t kWindow = 16;

    double Expected() const;
    void Remember(double deltaUs);

    double m_nominalUs;
    std::array<double, kWindow> m_recent{};
    size_t m_recentCount = 0;
    size_t m_recentNext = 0;
    int64_t m_lastUs = 0;
    uint64_t m_lastNumber = 0;
    bool m_havePrevious = false;
    bool m_numbered = false;
    uint64_t m_lost = 0;
};

}  // namespace kestrel::record
