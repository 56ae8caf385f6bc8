#include "tools/record/CCameraLifecycle.h"

#include <algorithm>

namespace kestrel::record {

namespace {

long CeilSeconds(CCameraLifecycle::Clock::duration d) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    return ms <= 0 ? 0 : static_cast<long>((ms + 999) / 1000);
}

long FloorSeconds(CCameraLifecycle::Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(d).count());
}

}  // namespace

CCameraLifecycle::CCameraLifecycle(Settings settings) : m_settings(settings) {}

CCameraLifecycle::Action CCameraLifecycle::Tick(Clock::time_point now, uint64_t pictures, int32_t channelState,
                                                bool failed) {
    if (m_state == State::Stopped) return Action::None;
    if (!m_open) {
        m_pictures = pictures;  // a picture still in flight from the last session is not this session's
        return now >= m_retryAt ? Action::Open : Action::None;
    }
    if (pictures > m_pictures) {
        m_pictures = pictures;
        m_lastPictureAt = now;
        m_pictureThisSession = true;
        m_failures = 0;
        m_answered = true;
        m_state = State::Streaming;
        return Action::None;
    }
    if (channelState == 0) m_answered = true;
    const Clock::time_point since = m_pictureThisSession ? m_lastPictureAt : m_openedAt;
    // A camera that refused or cannot be reached is left alone for the
    // back-off instead of being asked again every second by the driver.
    if (now - since >= m_settings.stall || (failed && !m_pictureThisSession)) {
        m_open = false;
        ScheduleRetry(now);
        return Action::Close;
    }
    if (channelState == 2) {
        m_state = State::SignalLost;
    } else if (!m_pictureThisSession) {
        m_state = State::Connecting;
    } else if (now - m_lastPictureAt >= m_settings.quiet) {
        m_state = State::NoPictures;
    } else {
        m_state = State::Streaming;
    }
    return Action::None;
}

void CCameraLifecycle::Opened(Clock::time_point now) {
    if (m_state == State::Stopped) return;
    ++m_attempts;
    m_open = true;
    m_openedAt = now;
    m_pictureThisSession = false;
    m_state = State::Connecting;
}

void CCameraLifecycle::OpenFailed(Clock::time_point now) {
    if (m_state == State::Stopped) return;
    ++m_attempts;
    m_open = false;
    ScheduleRetry(now);
}

void CCameraLifecycle::Stop() {
    m_open = false;
    m_state = State::Stopped;
}

// 1, 2, 4 ... seconds up to the limit; a picture starts the row again.
void CCameraLifecycle::ScheduleRetry(Clock::time_point now) {
    Clock::duration wait = std::chrono::seconds(1);
    for (uint32_t i = 0; i < m_failures && wait < m_settings.retryMax; ++i) wait *= 2;
    wait = std::min(wait, m_settings.retryMax);
    ++m_failures;
    m_retryAt = now + wait;
    m_state = State::Retrying;
}

const char* CCameraLifecycle::Name(State state) {
    switch (state) {
    case State::Connecting:
        return "connecting";
    case State::Streaming:
        return "streaming";
    case State::NoPictures:
        return "no pictures";
    case State::SignalLost:
        return "signal lost";
    case State::Retrying:
        return "retrying";
    case State::Stopped:
        return "stopped";
    }
    return "?";
}

std::string CCameraLifecycle::Describe(Clock::time_point now) const {
    switch (m_state) {
    case State::Retrying:
        return "retrying in " + std::to_string(CeilSeconds(m_retryAt - now)) + " s";
    case State::NoPictures:
        return "no pictures for " + std::to_string(FloorSeconds(now - m_lastPictureAt)) + " s";
    default:
        return Name(m_state);
    }
}

}  // namespace kestrel::record
