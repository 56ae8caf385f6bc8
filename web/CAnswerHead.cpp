#include "web/CAnswerHead.h"

#include <string_view>

#include "runtime/TextCompare.h"
#include "web/HttpText.h"

namespace Web {
namespace {

bool HeaderIs(const std::string& line, std::string_view name) {
    return line.size() > name.size() && line[name.size()] == ':' && kestrel::StartsWithNoCase(line, name);
}

// The value after the colon, blanks included (the parsers skip them).
const uint8_t* ValueOf(const std::string& line, size_t& size) {
    const size_t colon = line.find(':');
    size = line.size() - colon - 1;
    return reinterpret_cast<const uint8_t*>(line.data()) + colon + 1;
}

}  // namespace

void CAnswerHead::Reset() {
    m_status = 0;
    m_done = false;
    m_hasLocation = false;
    m_lines.clear();
    m_bytes = 0;
}

void CAnswerHead::OnLine(const uint8_t* data, size_t size) {
    const uint32_t status = ParseStatusLine(data, size);
    if (status != 0) {
        Reset();
        m_status = status;
        return;
    }
    if (size == 0 || data[0] == '\r' || data[0] == '\n') {
        if (m_status >= 200) {
            m_done = true;
        }
        return;
    }
    if (m_done) {
        return;  // trailers
    }
    size_t len = size;
    while (len > 0 && (data[len - 1] == '\r' || data[len - 1] == '\n')) --len;
    if (m_lines.size() < kLineLimit && m_bytes + len <= kByteLimit) {
        m_lines.emplace_back(reinterpret_cast<const char*>(data), len);
        m_bytes += len;
        if (HeaderIs(m_lines.back(), "location")) {
            m_hasLocation = true;
        }
    }
}

bool CAnswerHead::ContentLength(uint32_t& length) const {
    for (const std::string& line : m_lines) {
        if (HeaderIs(line, "content-length")) {
            size_t size = 0;
            const uint8_t* value = ValueOf(line, size);
            return ParseDecimalU32(value, size, length);
        }
    }
    return false;
}

uint32_t CAnswerHead::FirstScheme(uint32_t accepted) const {
    for (const std::string& line : m_lines) {
        if (HeaderIs(line, "www-authenticate")) {
            size_t size = 0;
            const uint8_t* value = ValueOf(line, size);
            const uint32_t scheme = FirstAuthScheme(value, size, accepted);
            if (scheme != 0) {
                return scheme;
            }
        }
    }
    return 0;
}

}  // namespace Web
