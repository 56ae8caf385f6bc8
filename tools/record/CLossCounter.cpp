#include "tools/record/CLossCounter.h"

#include <algorithm>
#include <cmath>

namespace kestrel::record {

CLossCounter::CLossCounter(uint32_t nominalIntervalMs)
    : m_nominalUs(nominalIntervalMs == 0 ? 1000.0 : 1000.0 * nominalIntervalMs) {}

double CLossCounter::Expected() const {
    if (m_recentCount < 3) return m_nominalUs;
    std::array<double, kWindow> sorted = m_recent;
    auto* end = sorted.data() + m_recentCount;
    auto* mid = sorted.data() + m_recentCount / 2;
    std::nth_element(sorted.data(), mid, end);
    return *mid;
}

void CLossCounter::Remember(double deltaUs) {
    m_recent[m_recentNext] = deltaUs;
    m_recentNext = (m_recentNext + 1) % kWindow;
    if (m_recentCount < kWindow) ++m_recentCount;
}

uint64_t CLossCounter::OnPicture(int64_t monotonicUs, bool hasNumber, uint64_t number) {
    uint64_t lost = 0;
    if (m_havePrevious && hasNumber == m_numbered) {
        if (hasNumber) {
            // A number at or below the last one means the source started over.
            if (number > m_lastNumber + 1) lost = number - m_lastNumber - 1;
        } else {
            const double delta = static_cast<double>(monotonicUs - m_lastUs);
            const double expected = Expected();
            if (delta > 1.5 * expected) lost = static_cast<uint64_t>(std::llround(delta / expected)) - 1;
            // Long breaks (a camera away for a while) say nothing about its rate.
            if (delta > 0 && delta < 4 * expected) Remember(delta);
        }
    }
    m_numbered = hasNumber;
    m_havePrevious = true;
    m_lastUs = monotonicUs;
    m_lastNumber = number;
    m_lost += lost;
    return lost;
}

}  // namespace kestrel::record
