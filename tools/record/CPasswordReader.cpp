#include "tools/record/CPasswordReader.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::record {

namespace {

// One line from fd, at most 4 KiB; the line end is not kept.
bool ReadLine(int fd, std::string& line) {
    line.clear();
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0 || c == '\n') break;
        if (line.size() >= 4096) return false;
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    c = 0;
    return true;
}

}  // namespace

bool CPasswordReader::FromFile(const std::string& path, std::string& password, std::string& error) {
    if (path == "-") {
        if (!ReadLine(STDIN_FILENO, password)) {
            error = "cannot read the password from standard input";
            return false;
        }
        return true;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open the password file " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = ReadLine(fd, password);
    ::close(fd);
    if (!ok) {
        error = "cannot read the password file " + path + " (one line of at most 4096 characters expected)";
        return false;
    }
    return true;
}

bool CPasswordReader::FromTerminal(const std::string& prompt, std::string& password, std::string& error) {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = "--ask-password needs a terminal; use --password-file instead";
        return false;
    }
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) {
        ::close(fd);
        error = "--ask-password needs a terminal; use --password-file instead";
        return false;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
    const ssize_t shown = ::write(fd, prompt.data(), prompt.size());
    (void)shown;
    const bool ok = ReadLine(fd, password);
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    ::close(fd);
    if (!ok) {
        error = "cannot read the password from the terminal";
        return false;
    }
    return true;
}

void CPasswordReader::Wipe(std::string& secret) {
    volatile char* p = secret.data();
    for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

}  // namespace kestrel::record
