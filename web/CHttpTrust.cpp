#include "web/CHttpTrust.h"

namespace Web {

void CHttpTrust::Learn(uint32_t scheme)
{
    uint32_t none = 0;
    m_scheme.compare_exchange_strong(none, scheme);
}

std::string CHttpTrust::PinnedKey() const
{
    std::lock_guard<std::mutex> lock(m_pinLock);
    return m_pin;
}

bool CHttpTrust::PinOrMatch(const std::string& pin)
{
    std::lock_guard<std::mutex> lock(m_pinLock);
    if (m_pin.empty()) {
        m_pin = pin;
        return true;
    }
    return m_pin == pin;
}

}  // namespace Web
