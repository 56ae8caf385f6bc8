#include "bench/driver/PlainAssembler.h"

#include <cstring>

namespace halyardbench {

namespace {
constexpr size_t kHeaderSize = 12;
}

PlainAssembler::PlainAssembler(size_t capacity) : m_buffer(capacity) {}

PlainAssembler::Result PlainAssembler::Add(const uint8_t* data, size_t size) {
    if (size < kHeaderSize || data[0] != 0x80) return Result::Dropped;
    const bool marker = (data[1] & 0x80) != 0;
    const uint16_t sequence = static_cast<uint16_t>((data[2] << 8) | data[3]);
    if (m_haveSequence && sequence != m_nextSequence) m_broken = true;
    m_haveSequence = true;
    m_nextSequence = static_cast<uint16_t>(sequence + 1);

    const size_t payload = size - kHeaderSize;
    if (payload > m_buffer.size() - m_size) {
        m_broken = true;
    } else if (!m_broken) {
        std::memcpy(m_buffer.data() + m_size, data + kHeaderSize, payload);
        m_size += payload;
    }
    if (!marker) return Result::More;

    // A whole JPEG from start of image to end of image, nothing lost on the way.
    const uint8_t* p = m_buffer.data();
    const bool whole =
        !m_broken && m_size >= 4 && p[0] == 0xFF && p[1] == 0xD8 && p[m_size - 2] == 0xFF && p[m_size - 1] == 0xD9;
    m_pictureSize = whole ? m_size : 0;
    m_size = 0;
    m_broken = false;  // the next datagram starts the next picture
    return whole ? Result::Picture : Result::Dropped;
}

}  // namespace halyardbench
