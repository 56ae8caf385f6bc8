// The password prompt on a real (pseudo-)terminal: the echo is off while it
// asks, and back on however the asking ends, also when ^C ends the program.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "tools/record/CPasswordReader.h"

namespace {

using kestrel::record::CPasswordReader;

bool EchoOn(int fd) {
    termios t{};
    return ::tcgetattr(fd, &t) == 0 && (t.c_lflag & ECHO) != 0;
}

// Reads what the child wrote until `needle` shows or the time is up.
std::string ReadUntil(int master, const std::string& needle,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::string seen;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (seen.find(needle) == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char buf[256];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<size_t>(n));
    }
    return seen;
}

// Waits for the child to end within a few seconds; kills it otherwise.
int WaitChild(pid_t child) {
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

TEST(PasswordPrompt, EchoIsBackOnHoweverTheAskingEnds) {
    enum class End { Line, CtrlC, Terminate, HangUp };
    const struct {
        const char* name;
        End end;
        int signal;  // the child ends by it; 0: it returns
    } cases[] = {
        {"a typed line", End::Line, 0},
        {"^C typed", End::CtrlC, SIGINT},
        {"SIGTERM", End::Terminate, SIGTERM},
        {"SIGHUP", End::HangUp, SIGHUP},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int master = -1;
        int slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The pseudo-terminal becomes the child's controlling terminal,
            // which the reader opens as /dev/tty.
            ::close(master);
            ::setsid();
            ::ioctl(slave, TIOCSCTTY, 0);
            // A caller that blocked the signals must still be interruptible.
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, SIGINT);
            sigaddset(&blocked, SIGTERM);
            ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
            std::string password;
            std::string error;
            const bool ok = CPasswordReader::FromTerminal("Password for u: ", password, error);
            ::_exit(ok && password == "hunter2" ? 0 : 1);
        }
        // The parent keeps the terminal open, so its modes can be read after
        // the child has gone.
        const std::string prompt = ReadUntil(master, "Password for u: ");
        ASSERT_NE(prompt.find("Password for u: "), std::string::npos);
        EXPECT_FALSE(EchoOn(slave)) << "echo on while asking";
        switch (c.end) {
        case End::Line:
            ASSERT_EQ(::write(master, "hunter2\n", 8), 8);
            break;
        case End::CtrlC:
            ASSERT_EQ(::write(master, "\x03", 1), 1);
            break;
        case End::Terminate:
            ::kill(child, SIGTERM);
            break;
        case End::HangUp:
            ::kill(child, SIGHUP);
            break;
        }
        const int status = WaitChild(child);
        if (c.signal == 0) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
        }
        EXPECT_TRUE(EchoOn(slave)) << "echo left off";
        EXPECT_EQ(ReadUntil(master, "hunter2", std::chrono::milliseconds(200)).find("hunter2"), std::string::npos)
            << "the password was echoed";
        ::close(master);
        ::close(slave);
    }
}

}  // namespace
