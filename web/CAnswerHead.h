#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Web {

// The head of the camera's answer as libcurl hands it over, one line per
// call: the status, the header lines (bounded in count and bytes) and what
// the sender reads from them. No libcurl and no I/O.
class CAnswerHead {
public:
    static constexpr size_t kLineLimit = 256;
    static constexpr size_t kByteLimit = 65536;

    // One line with its line end: a status line starts a new head (an
    // earlier one was interim or answered by libcurl), an empty line ends a
    // final one, lines after that are trailers and ignored.
    void OnLine(const uint8_t* data, size_t size);
    void Reset();

    uint32_t Status() const { return m_status; }
    // A head with a final status (200 and up) has ended.
    bool Done() const { return m_done; }
    bool HasLocation() const { return m_hasLocation; }
    const std::vector<std::string>& Lines() const { return m_lines; }

    // The Content-Length value when the first such line holds a 32-bit
    // decimal; false when missing or unreadable.
    bool ContentLength(uint32_t& length) const;
    // The first scheme of a WWW-Authenticate line among `accepted` (scheme
    // bits), 0 when none.
    uint32_t FirstScheme(uint32_t accepted) const;

private:
    uint32_t m_status = 0;
    bool m_done = false;
    bool m_hasLocation = false;
    std::vector<std::string> m_lines;
    size_t m_bytes = 0;
};

}  // namespace Web
