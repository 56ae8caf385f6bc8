#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Writes big-endian (network order) fields into a caller's fixed buffer.
// A write that does not fit writes nothing, and the writer stays failed, so a
// builder writes a whole packet and checks Ok() once.
class CByteWriter {
public:
    CByteWriter(uint8_t* buffer, size_t capacity) noexcept
        : m_buffer(buffer), m_capacity(buffer == nullptr ? 0 : capacity) {}

    void U8(uint8_t value) noexcept {
        if (uint8_t* p = Take(1)) p[0] = value;
    }
    void U16(uint16_t value) noexcept {
        if (uint8_t* p = Take(2)) Put16(p, value);
    }
    void U24(uint32_t value) noexcept;
    void U32(uint32_t value) noexcept {
        if (uint8_t* p = Take(4)) Put32(p, value);
    }
    void U64(uint64_t value) noexcept;
    void Bytes(const uint8_t* data, size_t count) noexcept;
    void Zeros(size_t count) noexcept;

    // Rewrites a field already written (a length known only at the end).
    void PatchU16(size_t offset, uint16_t value) noexcept;

    bool Ok() const noexcept { return m_ok; }
    size_t Size() const noexcept { return m_size; }

    static void Put16(uint8_t* p, uint16_t value) noexcept {
        p[0] = static_cast<uint8_t>(value >> 8);
        p[1] = static_cast<uint8_t>(value);
    }
    static void Put32(uint8_t* p, uint32_t value) noexcept {
        p[0] = static_cast<uint8_t>(value >> 24);
        p[1] = static_cast<uint8_t>(value >> 16);
        p[2] = static_cast<uint8_t>(value >> 8);
        p[3] = static_cast<uint8_t>(value);
    }

private:
    uint8_t* Take(size_t count) noexcept {
        if (!m_ok || count > m_capacity - m_size) {
            m_ok = false;
            return nullptr;
        }
        uint8_t* p = m_buffer + m_size;
        m_size += count;
        return p;
    }

    uint8_t* m_buffer;
    size_t m_capacity;
    size_t m_size = 0;
    bool m_ok = true;
};

}  // namespace kestrel
