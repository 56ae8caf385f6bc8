#include "runtime/CByteWriter.h"

#include <cstring>

namespace kestrel {

void CByteWriter::U24(uint32_t value) noexcept {
    if (uint8_t* p = Take(3)) {
        p[0] = static_cast<uint8_t>(value >> 16);
        p[1] = static_cast<uint8_t>(value >> 8);
        p[2] = static_cast<uint8_t>(value);
    }
}

void CByteWriter::U64(uint64_t value) noexcept {
    if (uint8_t* p = Take(8)) {
        Put32(p, static_cast<uint32_t>(value >> 32));
        Put32(p + 4, static_cast<uint32_t>(value));
    }
}

void CByteWriter::Bytes(const uint8_t* data, size_t count) noexcept {
    if (count == 0) return;
    if (data == nullptr) {
        m_ok = false;
        return;
    }
    if (uint8_t* p = Take(count)) std::memcpy(p, data, count);
}

void CByteWriter::Zeros(size_t count) noexcept {
    if (count == 0) return;
    if (uint8_t* p = Take(count)) std::memset(p, 0, count);
}

void CByteWriter::PatchU16(size_t offset, uint16_t value) noexcept {
    if (!m_ok || offset > m_size || m_size - offset < 2) {
        m_ok = false;
        return;
    }
    Put16(m_buffer + offset, value);
}

}  // namespace kestrel
