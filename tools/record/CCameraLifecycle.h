#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace kestrel::record {

// The states one camera goes through while the recorder runs, decided from
// what can be seen from outside the driver: pictures counted and the
// channel state it reports. Time comes in from the caller, so the rules run
// without a clock of their own.
//
//   Retrying --(due: Open)--> Connecting --(picture)--> Streaming
//      ^                         |                       |  ^
//      |                         |             (quiet)   v  | (picture)
//      +--(silent for the stall limit, or failed: Close)-- NoPictures / SignalLost
class CCameraLifecycle {
public:
    using Clock = std::chrono::steady_clock;

    enum class State { Connecting, Streaming, NoPictures, SignalLost, Retrying, Stopped };
    // What the caller has to do to its driver session now.
    enum class Action { None, Open, Close };

    struct Settings {
        Clock::duration stall = std::chrono::seconds(10);     // silence that closes the session
        Clock::duration retryMax = std::chrono::seconds(60);  // longest wait between attempts
        Clock::duration quiet = std::chrono::seconds(2);      // silence no longer called streaming
    };

    explicit CCameraLifecycle(Settings settings);

    // channelState: 0 running, 2 signal lost, 3 stopped, -1 none; pictures
    // counts every picture of the camera so far (across sessions); failed:
    // the driver reported a problem in this session (refused, unreachable).
    Action Tick(Clock::time_point now, uint64_t pictures, int32_t channelState, bool failed = false);
    // The outcome of the caller's Open.
    void Opened(Clock::time_point now);
    void OpenFailed(Clock::time_point now);
    void Stop();

    State Current() const { return m_state; }
    // "retrying in 4 s", "no pictures for 3 s", "streaming", ...
    std::string Describe(Clock::time_point now) const;
    static const char* Name(State state);
    // The camera's channel ran (its web server took the configuration)
    // in some session, though no picture may have come.
    bool Answered() const { return m_answered; }
    uint32_t Attempts() const { return m_attempts; }

private:
    void ScheduleRetry(Clock::time_point now);

    Settings m_settings;
    State m_state = State::Connecting;
    bool m_open = false;
    Clock::time_point m_retryAt{};  // when not open: next attempt
    Clock::time_point m_openedAt{};
    Clock::time_point m_lastPictureAt{};
    bool m_pictureThisSession = false;
    uint64_t m_pictures = 0;
    uint32_t m_failures = 0;  // attempts in a row without a picture
    uint32_t m_attempts = 0;
    bool m_answered = false;
};

}  // namespace kestrel::record
