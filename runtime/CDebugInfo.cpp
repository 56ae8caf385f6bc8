#include "runtime/CDebugInfo.h"

#include <cstring>
#include <new>

namespace kestrel {

CDebugInfo::CDebugInfo(const char* text, int8_t level) : m_level(level) {
    if (text != nullptr && text[0] != '\0') {
        const size_t length = std::strlen(text);
        m_text = new (std::nothrow) char[length + 1];
        if (m_text != nullptr) std::memcpy(m_text, text, length + 1);
    }
}

CDebugInfo::~CDebugInfo() { delete[] m_text; }

int8_t CDebugInfo::GetLevel() const { return m_level; }

const char* CDebugInfo::GetText() const { return m_text; }

}  // namespace kestrel
