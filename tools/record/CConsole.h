#pragma once
#include <string>

namespace kestrel::record {

// Standard output of the recorder, used by the main thread only. On a
// terminal the status is one line rewritten in place, with log lines
// scrolling above it; otherwise every status is a plain log line.
class CConsole {
public:
    CConsole();
    explicit CConsole(bool terminal) : m_terminal(terminal) {}

    void Line(const std::string& text);
    void Status(const std::string& text);
    // Leaves the status line on screen and moves below it.
    void EndStatus();
    bool Terminal() const { return m_terminal; }

private:
    bool m_terminal;
    std::string m_status;
};

}  // namespace kestrel::record
