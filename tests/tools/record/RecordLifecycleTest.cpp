// A camera's lifecycle driven step by step with made-up times: what the
// status shows, when the session is closed and when it is tried again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/record/CCameraLifecycle.h"

using namespace kestrel::record;
using Clock = CCameraLifecycle::Clock;
using Action = CCameraLifecycle::Action;

namespace {

enum class Step { Tick, Opened, OpenFailed };

struct Row {
    int ms;  // since the start
    Step step;
    uint64_t pictures;  // for Tick
    int32_t channel;    // for Tick: 0 running, 2 signal lost, 3 stopped; 9: stopped, and the driver reported a problem
    Action action;      // expected from Tick
    std::string shown;  // expected Describe afterwards
};

void Play(const char* name, const std::vector<Row>& rows, CCameraLifecycle::Settings settings = {}) {
    CCameraLifecycle lifecycle(settings);
    const Clock::time_point t0{std::chrono::hours(1)};
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const auto now = t0 + std::chrono::milliseconds(r.ms);
        switch (r.step) {
        case Step::Tick:
            EXPECT_EQ(lifecycle.Tick(now, r.pictures, r.channel == 9 ? 3 : r.channel, r.channel == 9), r.action)
                << name << " row " << i;
            break;
        case Step::Opened:
            lifecycle.Opened(now);
            break;
        case Step::OpenFailed:
            lifecycle.OpenFailed(now);
            break;
        }
        EXPECT_EQ(lifecycle.Describe(now), r.shown) << name << " row " << i;
    }
}

constexpr auto T = Step::Tick;
constexpr auto O = Step::Opened;
constexpr auto F = Step::OpenFailed;
constexpr auto N = Action::None;

}  // namespace

TEST(CameraLifecycle, StatesFollowPicturesAndTheChannel) {
    Play("streams, pauses, loses its signal, comes back",
         {{0, T, 0, -1, Action::Open, "connecting"},
          {10, O, 0, 0, N, "connecting"},
          {500, T, 0, 3, N, "connecting"},
          {900, T, 1, 0, N, "streaming"},
          {2800, T, 1, 0, N, "streaming"},  // inside the quiet limit
          {2900, T, 1, 0, N, "no pictures for 2 s"},
          {4950, T, 1, 0, N, "no pictures for 4 s"},
          {5000, T, 1, 2, N, "signal lost"},  // the driver says so: that wins
          {5200, T, 7, 0, N, "streaming"}});
    // Dead from the start: closed after the stall limit, tried again after
    // 1, 2, 4 ... s, never longer than the limit.
    CCameraLifecycle::Settings s;
    s.stall = std::chrono::seconds(3);
    s.retryMax = std::chrono::seconds(5);
    Play("back-off",
         {{0, T, 0, -1, Action::Open, "connecting"},
          {0, O, 0, 0, N, "connecting"},
          {2999, T, 0, 3, N, "connecting"},
          {3000, T, 0, 3, Action::Close, "retrying in 1 s"},
          {3500, T, 0, -1, N, "retrying in 1 s"},
          {4000, T, 0, -1, Action::Open, "retrying in 0 s"},
          {4000, F, 0, 0, N, "retrying in 2 s"},  // Open itself failed
          {6000, T, 0, -1, Action::Open, "retrying in 0 s"},
          {6000, F, 0, 0, N, "retrying in 4 s"},
          {10000, T, 0, -1, Action::Open, "retrying in 0 s"},
          {10000, F, 0, 0, N, "retrying in 5 s"},  // 8 s capped
          {15000, T, 0, -1, Action::Open, "retrying in 0 s"},
          {15000, F, 0, 0, N, "retrying in 5 s"},
          {20000, T, 0, -1, Action::Open, "retrying in 0 s"},
          {20000, O, 0, 0, N, "connecting"},
          {20100, T, 0, 9, Action::Close, "retrying in 5 s"}},  // refused at once: no stall wait
         s);
    // A picture starts the back-off again; a picture that comes while no
    // session is open is not taken for one of the next session.
    Play("back-off restarts after a picture",
         {{0, T, 0, -1, Action::Open, "connecting"},
          {0, F, 0, 0, N, "retrying in 1 s"},
          {1000, T, 0, -1, Action::Open, "retrying in 0 s"},
          {1000, F, 0, 0, N, "retrying in 2 s"},
          {2500, T, 5, -1, N, "retrying in 1 s"},
          {3000, T, 5, -1, Action::Open, "retrying in 0 s"},
          {3000, O, 5, 0, N, "connecting"},
          {3100, T, 5, 0, N, "connecting"},
          {3200, T, 6, 0, N, "streaming"},
          {3400, T, 6, 9, N, "streaming"},  // a problem after a picture waits for the stall limit
          {13200, T, 6, 2, Action::Close, "retrying in 1 s"}},
         CCameraLifecycle::Settings{});
}

// Answered: the camera's channel ran, so a silence is not a dead web server.
TEST(CameraLifecycle, AnsweredAndAttempts) {
    CCameraLifecycle lifecycle({});
    const Clock::time_point t0{std::chrono::hours(1)};
    EXPECT_EQ(lifecycle.Tick(t0, 0, -1), Action::Open);
    lifecycle.Opened(t0);
    lifecycle.Tick(t0 + std::chrono::seconds(1), 0, 3);
    EXPECT_FALSE(lifecycle.Answered());
    lifecycle.Tick(t0 + std::chrono::seconds(2), 0, 0);
    EXPECT_TRUE(lifecycle.Answered());
    lifecycle.Stop();
    EXPECT_EQ(lifecycle.Tick(t0 + std::chrono::seconds(30), 0, 0), Action::None);
    EXPECT_EQ(lifecycle.Describe(t0), "stopped");
    EXPECT_EQ(lifecycle.Attempts(), 1u);
}
