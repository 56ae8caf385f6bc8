#include "web/CAnswerBody.h"

#include <algorithm>

namespace Web {

CAnswerBody::CAnswerBody(size_t limit, size_t deliveryHint) : m_limit(limit) { m_pending.reserve(deliveryHint); }

CAnswerBody::Taken CAnswerBody::Deliver(const uint8_t* data, size_t size) {
    m_started = true;
    if (size > m_limit - m_bytes) {
        m_tooLarge = true;
        return Taken::TooLarge;
    }
    if (m_whole != nullptr) {
        m_whole->insert(m_whole->end(), data, data + size);
    } else if (Waiting() > 0) {
        return Taken::Held;
    } else {
        m_pending.assign(data, data + size);
        m_pendingPos = 0;
    }
    m_bytes += size;
    return Taken::Kept;
}

void CAnswerBody::Reset() {
    m_pending.clear();
    m_pendingPos = 0;
    m_whole = nullptr;
    m_bytes = 0;
    m_started = false;
    m_tooLarge = false;
}

void CAnswerBody::BeginWhole(std::vector<uint8_t>& out) {
    out.insert(out.end(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingPos), m_pending.end());
    m_pending.clear();
    m_pendingPos = 0;
    m_whole = &out;
}

size_t CAnswerBody::TakeInto(std::vector<uint8_t>& out, size_t maxBytes) {
    const size_t n = std::min(maxBytes, Waiting());
    const auto first = m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingPos);
    out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(n));
    m_pendingPos += n;
    return n;
}

}  // namespace Web
