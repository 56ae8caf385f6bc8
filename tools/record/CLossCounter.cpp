#include "tools/record/CLossCounter.h"

#include <cmath>

namespace kestrel::record {

CLossCounter::CLossCounter(uint32_t nominalIntervalMs)
    : m_expectedUs(nominalIntervalMs == 0 ? 1000.0 : 1000.0 * nominalIntervalMs) {}

uint64_t CLossCounter::OnPicture(int64_t monotonicUs, bool hasNumber, uint64_t number) {
    uint64_t lost = 0;
    if (m_havePrevious) {
        if (hasNumber && m_exact) {
            // A number at or below the last one means the source started over.
            if (number > m_lastNumber + 1) lost = number - m_lastNumber - 1;
        } else if (!hasNumber && !m_exact) {
            const double delta = static_cast<double>(monotonicUs - m_lastUs);
            if (delta > 1.5 * m_expectedUs) {
                lost = static_cast<uint64_t>(std::llround(delta / m_expectedUs)) - 1;
            } else if (delta > 0) {
                m_expectedUs = 0.9 * m_expectedUs + 0.1 * delta;
            }
        }
    }
    m_exact = hasNumber;
    m_havePrevious = true;
    m_lastUs = monotonicUs;
    m_lastNumber = number;
    m_lost += lost;
    return lost;
}

}  // namespace kestrel::record
