#include <gtest/gtest.h>

#include <vector>

#include "tools/record/CLossCounter.h"

using kestrel::record::CLossCounter;

namespace {

struct Arrival {
    int64_t ms;        // arrival time
    bool hasNumber;
    uint64_t number;
    uint64_t lost;     // expected count before this picture
};

void Check(const char* name, uint32_t intervalMs, const std::vector<Arrival>& arrivals, uint64_t total) {
    CLossCounter counter(intervalMs);
    for (size_t i = 0; i < arrivals.size(); ++i) {
        const auto& a = arrivals[i];
        EXPECT_EQ(counter.OnPicture(a.ms * 1000, a.hasNumber, a.number), a.lost) << name << " picture " << i;
    }
    EXPECT_EQ(counter.Lost(), total) << name;
}

}  // namespace

TEST(LossCounter, ByPictureNumber) {
    Check("steady", 40, {{0, true, 10, 0}, {40, true, 11, 0}, {80, true, 12, 0}}, 0);
    Check("two missing", 40, {{0, true, 10, 0}, {40, true, 11, 0}, {160, true, 14, 2}}, 2);
    // Late arrival with the right number is no loss, whatever the timing says.
    Check("late but complete", 40, {{0, true, 1, 0}, {1000, true, 2, 0}}, 0);
    // A stream that starts over (new stream after a restart) begins a new count.
    Check("restart", 40, {{0, true, 500, 0}, {40, true, 501, 0}, {80, true, 0, 0}, {120, true, 1, 0}}, 0);
    Check("first picture", 40, {{0, true, 1000, 0}}, 0);
}

TEST(LossCounter, ByTiming) {
    Check("steady", 40, {{0, false, 0, 0}, {40, false, 0, 0}, {80, false, 0, 0}, {121, false, 0, 0}}, 0);
    Check("one gap of three", 40, {{0, false, 0, 0}, {40, false, 0, 0}, {200, false, 0, 3}}, 3);
    Check("jitter below 1.5 intervals", 100, {{0, false, 0, 0}, {140, false, 0, 0}, {200, false, 0, 0}}, 0);
    // The camera sends slower than asked (its maximum is lower): after the
    // first few, the usual interval is the camera's and nothing more counts.
    std::vector<Arrival> slower = {{0, false, 0, 0}, {100, false, 0, 2}, {200, false, 0, 2}, {300, false, 0, 2}};
    for (int i = 4; i <= 40; ++i) slower.push_back({i * 100, false, 0, 0});
    Check("camera slower than asked", 40, slower, 6);
    // A break of a few seconds counts its pictures but leaves the rate alone.
    std::vector<Arrival> pause;
    for (int i = 0; i < 10; ++i) pause.push_back({i * 40, false, 0, 0});
    pause.push_back({360 + 2000, false, 0, 49});
    pause.push_back({360 + 2040, false, 0, 0});
    pause.push_back({360 + 2160, false, 0, 2});
    Check("break", 40, pause, 51);
}

TEST(LossCounter, SwitchingBetweenModesDoesNotInventLosses) {
    Check("number then none", 40, {{0, true, 5, 0}, {400, false, 0, 0}, {440, false, 0, 0}}, 0);
    Check("none then number", 40, {{0, false, 0, 0}, {400, true, 9, 0}, {440, true, 10, 0}}, 0);
}
