#include "tools/record/CPasswordReader.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kestrel::record {

namespace {

// What a signal handler needs to give the terminal its echo back. Written
// before the handlers are installed, cleared after they are gone.
volatile sig_atomic_t g_promptFd = -1;
termios g_savedTerminal{};

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void RestoreEchoAndDie(int signal) {
    const int fd = g_promptFd;
    if (fd >= 0) {
        ::tcsetattr(fd, TCSAFLUSH, &g_savedTerminal);
        const ssize_t n = ::write(fd, "\n", 1);
        (void)n;
    }
    // SA_RESETHAND has put the default action back: the program ends by
    // this signal, the status a shell reports as interrupted (130 for ^C).
    ::raise(signal);
}

// While the echo is off, the signals that end the program end it only
// after the echo is back on.
class EchoGuard {
public:
    EchoGuard(int fd, const termios& saved) {
        g_savedTerminal = saved;
        g_promptFd = fd;
        struct sigaction action {};
        action.sa_handler = RestoreEchoAndDie;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigset_t ending;
        sigemptyset(&ending);
        for (size_t i = 0; i < kSignalCount; ++i) {
            ::sigaction(kEndingSignals[i], &action, &m_previous[i]);
            sigaddset(&ending, kEndingSignals[i]);
        }
        // A caller that blocked them (to read them later) would leave the
        // prompt deaf to ^C.
        ::pthread_sigmask(SIG_UNBLOCK, &ending, &m_mask);
    }
    ~EchoGuard() {
        ::tcsetattr(g_promptFd, TCSAFLUSH, &g_savedTerminal);
        ::pthread_sigmask(SIG_SETMASK, &m_mask, nullptr);
        for (size_t i = 0; i < kSignalCount; ++i) ::sigaction(kEndingSignals[i], &m_previous[i], nullptr);
        g_promptFd = -1;
    }
    EchoGuard(const EchoGuard&) = delete;
    EchoGuard& operator=(const EchoGuard&) = delete;

private:
    static constexpr size_t kSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];
    struct sigaction m_previous[kSignalCount] {};
    sigset_t m_mask{};
};

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
    bool ok = false;
    {
        EchoGuard guard(fd, saved);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
        const ssize_t shown = ::write(fd, prompt.data(), prompt.size());
        (void)shown;
        ok = ReadLine(fd, password);
    }
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
