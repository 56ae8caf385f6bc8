#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Reads big-endian (network order) fields from a buffer it does not own.
// A read past the end fails, returns 0 and leaves the reader failed for good,
// so a parser can read a whole header and check Ok() once.
class CByteReader {
public:
    CByteReader(const uint8_t* data, size_t length) noexcept : m_data(data), m_length(data == nullptr ? 0 : length) {}

    uint8_t U8() noexcept {
        if (!Take(1)) return 0;
        return m_data[m_offset - 1];
    }
    uint16_t U16() noexcept {
        if (!Take(2)) return 0;
        return Get16(m_data + m_offset - 2);
    }
    uint32_t U24() noexcept {
        if (!Take(3)) return 0;
        const uint8_t* p = m_data + m_offset - 3;
        return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[2]};
    }
    uint32_t U32() noexcept {
        if (!Take(4)) return 0;
        return Get32(m_data + m_offset - 4);
    }
    uint64_t U64() noexcept;

    // The next `count` bytes without copying them, or nullptr (and failed).
    const uint8_t* Bytes(size_t count) noexcept;
    bool Skip(size_t count) noexcept { return Take(count); }

    bool Ok() const noexcept { return m_ok; }
    size_t Offset() const noexcept { return m_offset; }
    size_t Remaining() const noexcept { return m_length - m_offset; }

    // For callers that checked the bounds themselves.
    static uint16_t Get16(const uint8_t* p) noexcept { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
    static uint32_t Get32(const uint8_t* p) noexcept {
        return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
    }

private:
    bool Take(size_t count) noexcept {
        if (!m_ok || count > m_length - m_offset) {
            m_ok = false;
            return false;
        }
        m_offset += count;
        return true;
    }

    const uint8_t* m_data;
    size_t m_length;
    size_t m_offset = 0;
    bool m_ok = true;
};

}  // namespace kestrel
