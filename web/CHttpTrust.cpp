#include "web/CHttpTrust.h"

namespace Web {

void CHttpTrust::Learn(uint32_t scheme) {
    uint32_t none = 0;
    m_scheme.compare_exchange_strong(none, scheme);
}

CHttpTrust::Basic CHttpTrust::MayAskWithBasic(std::chrono::steady_clock::time_point deadline,
                                              const std::function<bool()>& stop) {
    std::unique_lock<std::mutex> lock(m_basicLock);
    for (;;) {
        switch (m_basic) {
        case BasicState::Unknown:
            m_basic = BasicState::InFlight;
            return Basic::Probe;
        case BasicState::Taken:
            return Basic::Send;
        case BasicState::Refused:
            return Basic::Withhold;
        case BasicState::InFlight:
            break;
        }
        // In slices: a cancelled request must not wait for another's answer.
        if (stop() || std::chrono::steady_clock::now() >= deadline) {
            return Basic::Withhold;
        }
        m_basicSettled.wait_for(lock, std::chrono::milliseconds(20));
    }
}

void CHttpTrust::SettleProbe(Probe outcome) {
    {
        std::lock_guard<std::mutex> lock(m_basicLock);
        m_basic = outcome == Probe::Taken     ? BasicState::Taken
                  : outcome == Probe::Refused ? BasicState::Refused
                                              : BasicState::Unknown;
    }
    m_basicSettled.notify_all();
}

std::string CHttpTrust::PinnedKey() const {
    std::lock_guard<std::mutex> lock(m_pinLock);
    return m_pin;
}

bool CHttpTrust::PinOrMatch(const std::string& pin) {
    std::lock_guard<std::mutex> lock(m_pinLock);
    if (m_pin.empty()) {
        m_pin = pin;
        return true;
    }
    return m_pin == pin;
}

}  // namespace Web
