#pragma once

namespace kestrel::record {

// The main thread's wait: Ctrl-C / SIGTERM / SIGHUP (through a signalfd, so no
// handler runs on a random thread) or a wake-up descriptor, with a time limit.
// Construct it before any other thread starts: it blocks the three signals in
// the calling thread, and threads started later inherit that.
class CEventLoop {
public:
    enum class Event { Timeout, Signal, Woken };

    explicit CEventLoop(int wakeFd);
    ~CEventLoop();
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    Event Wait(int timeoutMs);
    int LastSignal() const { return m_lastSignal; }

private:
    int m_signalFd = -1;
    int m_wakeFd;
    int m_lastSignal = 0;
};

}  // namespace kestrel::record
