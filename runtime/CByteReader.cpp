#include "runtime/CByteReader.h"

namespace kestrel {

uint64_t CByteReader::U64() noexcept {
    if (!Take(8)) return 0;
    const uint8_t* p = m_data + m_offset - 8;
    return (uint64_t{Get32(p)} << 32) | Get32(p + 4);
}

const uint8_t* CByteReader::Bytes(size_t count) noexcept {
    if (!Take(count)) return nullptr;
    return m_data + m_offset - count;
}

}  // namespace kestrel
