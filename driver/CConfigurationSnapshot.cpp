#include "driver/CConfigurationSnapshot.h"

namespace kestrel {

DriverConfiguration CConfigurationSnapshot::Get() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_config;
}

void CConfigurationSnapshot::Replace(const DriverConfiguration& config) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_config = config;
}

bool CConfigurationSnapshot::Resolution(int32_t kind, int32_t& width, int32_t& height) const {
    if (kind < 1 || kind > 4) return false;
    const auto i = static_cast<size_t>(kind - 1);
    std::lock_guard<std::mutex> lock(m_lock);
    width = m_config.width[i];
    height = m_config.height[i];
    return m_config.supported[i];
}

}  // namespace kestrel
