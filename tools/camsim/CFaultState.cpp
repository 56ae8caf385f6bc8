#include "tools/camsim/CFaultState.h"

#include <algorithm>

namespace camsim {

void CFaultState::SetRtp(const RtpFaults& faults) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.rtp = faults;
    auto clamp = [](double v) { return std::clamp(v, 0.0, 1.0); };
    m_pending.rtp.dropFraction = clamp(faults.dropFraction);
    m_pending.rtp.duplicateFraction = clamp(faults.duplicateFraction);
    m_pending.rtp.reorderFraction = clamp(faults.reorderFraction);
}

RtpFaults CFaultState::Rtp() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending.rtp;
}

void CFaultState::SetPaused(bool paused) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.rtp.paused = paused;
}

void CFaultState::RequestSequenceJump(uint32_t delta) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.sequenceJump += delta;
}

void CFaultState::RequestNewSsrc(std::optional<uint32_t> ssrc) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.newSsrc = true;
    m_pending.ssrc = ssrc;
}

void CFaultState::RequestLongDatagram(size_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.longDatagram = bytes;
}

void CFaultState::RequestPicture(std::shared_ptr<const EncodedPicture> picture) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.replacement = std::move(picture);
}

CFaultState::PictureFaults CFaultState::Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    PictureFaults out = m_pending;
    m_pending.sequenceJump = 0;
    m_pending.newSsrc = false;
    m_pending.ssrc.reset();
    m_pending.longDatagram = 0;
    // The stream keeps out.replacement until it has sent it; the last
    // reference may go on the stream's thread, which is rare and on demand.
    m_pending.replacement.reset();
    return out;
}

void CFaultState::AddHttpRule(const HttpFaultRule& rule) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.push_back(rule);
}

void CFaultState::ClearHttpRules() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_rules.clear();
    }
    ReleaseHangs();
}

std::vector<HttpFaultRule> CFaultState::HttpRules() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rules;
}

std::optional<HttpFaultRule> CFaultState::MatchHttp(std::string_view target) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
        const bool all = it->pattern.empty() || it->pattern == "*";
        if (!all && target.find(it->pattern) == std::string_view::npos) continue;
        HttpFaultRule hit = *it;
        if (it->remaining > 0 && --it->remaining == 0) m_rules.erase(it);
        return hit;
    }
    return std::nullopt;
}

void CFaultState::Reset() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = PictureFaults{};
        m_rules.clear();
    }
    ReleaseHangs();
}

}  // namespace camsim
