#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

// Takes a fuzzer's bytes apart: fixed-size numbers from the front, runs of
// bytes of a chosen length. Past the end every number reads as 0 and every
// run is empty, so a target never has to check what is left.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_pos >= m_size; }
    size_t Left() const { return m_size - m_pos; }

    uint8_t U8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>((U8() << 8) | U8()); }
    uint32_t U32() { return (uint32_t{U16()} << 16) | U16(); }

    // Up to `count` bytes; `got` says how many there were.
    const uint8_t* Bytes(size_t count, size_t& got) {
        got = count < Left() ? count : Left();
        const uint8_t* start = m_data + m_pos;
        m_pos += got;
        return start;
    }
    // Everything that is left.
    const uint8_t* Rest(size_t& got) { return Bytes(Left(), got); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

}  // namespace fuzzsupport

// An invariant of a target: a failure aborts, so libFuzzer keeps the input
// and the corpus replay test fails.
#define FUZZ_CHECK(cond)                                                    \
    do {                                                                    \
        if (!(cond)) ::fuzzsupport::CheckFailed(#cond, __FILE__, __LINE__); \
    } while (0)

namespace fuzzsupport {
[[noreturn]] inline void CheckFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}
}  // namespace fuzzsupport
