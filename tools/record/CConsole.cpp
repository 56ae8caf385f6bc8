#include "tools/record/CConsole.h"

#include <unistd.h>

#include <cstdio>

namespace kestrel::record {

CConsole::CConsole() : m_terminal(::isatty(STDOUT_FILENO) == 1) {}

void CConsole::Line(const std::string& text) {
    if (m_terminal && !m_status.empty()) {
        std::fprintf(stdout, "\r\033[K%s\n%s", text.c_str(), m_status.c_str());
    } else {
        std::fprintf(stdout, "%s\n", text.c_str());
    }
    std::fflush(stdout);
}

void CConsole::Status(const std::string& text) {
    if (m_terminal) {
        m_status = text;
        std::fprintf(stdout, "\r\033[K%s", text.c_str());
    } else {
        std::fprintf(stdout, "status: %s\n", text.c_str());
    }
    std::fflush(stdout);
}

void CConsole::EndStatus() {
    if (m_terminal && !m_status.empty()) {
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
    m_status.clear();
}

}  // namespace kestrel::record
