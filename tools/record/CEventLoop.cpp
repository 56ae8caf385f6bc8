#include "tools/record/CEventLoop.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel::record {

CEventLoop::CEventLoop(int wakeFd) : m_wakeFd(wakeFd) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    m_signalFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

CEventLoop::~CEventLoop() {
    if (m_signalFd >= 0) ::close(m_signalFd);
}

CEventLoop::Event CEventLoop::Wait(int timeoutMs) {
    pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const int n = ::poll(fds, 2, timeoutMs < 0 ? 0 : timeoutMs);
    if (n <= 0) return Event::Timeout;
    if ((fds[0].revents & POLLIN) != 0) {
        signalfd_siginfo info{};
        if (::read(m_signalFd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
            m_lastSignal = static_cast<int>(info.ssi_signo);
            return Event::Signal;
        }
    }
    if ((fds[1].revents & POLLIN) != 0) return Event::Woken;
    return Event::Timeout;
}

}  // namespace kestrel::record
