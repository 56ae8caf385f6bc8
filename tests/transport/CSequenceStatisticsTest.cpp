// Sequence state and loss figures of one RTP source, row by row against
// hand-computed values.
#include "transport/CSequenceStatistics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace kestrel;

namespace {

std::vector<uint16_t> Steps(uint32_t count, uint32_t step) {
    std::vector<uint16_t> out;
    for (uint32_t i = 0; i < count; ++i) out.push_back(static_cast<uint16_t>(i * step));
    return out;
}

}  // namespace

TEST(CSequenceStatistics, StateAndLossRowByRow) {
    struct Row {
        const char* what;
        std::vector<uint16_t> sequence;
        uint16_t maxSeq;
        uint32_t cycles;
        uint32_t badSeq;
        uint32_t received;
        uint32_t expected;
        int32_t lost;
    };
    const Row rows[] = {
        {"first packet", {500}, 500, 0, 65537, 1, 1, 0},
        {"in order", {100, 101, 102}, 102, 0, 65537, 3, 3, 0},
        {"wrap counts a cycle", {65535, 0}, 0, 65536, 65537, 2, 2, 0},
        {"two wraps in steps of 2000", Steps(70, 2000), 138000 % 65536, 131072, 65537, 70, 138001, 138001 - 70},
        {"gap of 2999 is in order, 2998 lost", {1000, 3999}, 3999, 0, 65537, 2, 3000, 2998},
        {"jump of 3000 is remembered, not taken", {100, 3100}, 100, 0, 3101, 1, 1, 0},
        {"repeated jump restarts the statistics", {100, 3100, 3101}, 3101, 0, 65537, 1, 1, 0},
        {"100 behind is taken as a jump", {1000, 900}, 1000, 0, 901, 1, 1, 0},
        {"99 behind is taken as reordered", {1000, 901}, 1000, 0, 65537, 2, 1, -1},
        {"reordered pair", {10, 12, 11, 13}, 13, 0, 65537, 4, 4, 0},
        {"duplicate counts as received", {7, 7}, 7, 0, 65537, 2, 1, -1},
        {"one lost", {1, 2, 4}, 4, 0, 65537, 3, 4, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CSequenceStatistics stats;
        for (uint16_t s : row.sequence) stats.Seen(s);
        const CSequenceStatistics::State& state = stats.GetState();
        EXPECT_EQ(state.maxSeq, row.maxSeq);
        EXPECT_EQ(state.cycles, row.cycles);
        EXPECT_EQ(state.badSeq, row.badSeq);
        EXPECT_EQ(state.probation, 0u);
        EXPECT_EQ(state.received, row.received);
        EXPECT_EQ(stats.ExtendedHighest(), row.cycles + row.maxSeq);
        EXPECT_EQ(stats.Expected(), row.expected);
        EXPECT_EQ(stats.CumulativeLost(), row.lost);
    }
}

TEST(CSequenceStatistics, FractionLostCoversOnlyTheIntervalSinceTheLastReport) {
    CSequenceStatistics stats;
    EXPECT_EQ(stats.Expected(), 0u);
    EXPECT_EQ(stats.TakeFractionLost(), 0);  // nothing seen: no division by zero
    // 0..7 with 2 and 5 lost: 2 of 8 = 64/256.
    for (uint16_t s : {0, 1, 3, 4, 6, 7}) stats.Seen(s);
    EXPECT_EQ(stats.TakeFractionLost(), 64);
    EXPECT_EQ(stats.TakeFractionLost(), 0);  // an empty interval
    // 8..11 complete: the earlier loss does not count again.
    for (uint16_t s : {8, 9, 10, 11}) stats.Seen(s);
    EXPECT_EQ(stats.TakeFractionLost(), 0);
    EXPECT_EQ(stats.CumulativeLost(), 2);
    // More duplicates than losses: 0, not a negative fraction.
    for (uint16_t s : {11, 11, 13}) stats.Seen(s);
    EXPECT_EQ(stats.TakeFractionLost(), 0);
    // 3 of 4 lost: 192/256, truncated like the RFC's integer division.
    stats.Seen(17);
    EXPECT_EQ(stats.TakeFractionLost(), 192);
}

TEST(CSequenceStatistics, LossClampsToTheReportFieldAndResetForgetsTheStream) {
    CSequenceStatistics stats;
    // 0x7FFFFF + 2 packets expected with only a handful received: the
    // 24-bit field holds at most 0x7FFFFF.
    uint32_t seq = 0;
    for (int i = 0; i < 4200; ++i, seq += 2999) stats.Seen(static_cast<uint16_t>(seq));
    EXPECT_GT(stats.Expected(), 0x800000u);
    EXPECT_EQ(stats.CumulativeLost(), 0x7FFFFF);

    stats.Reset();
    EXPECT_FALSE(stats.IsStarted());
    EXPECT_EQ(stats.CumulativeLost(), 0);
    stats.Seen(40000);
    EXPECT_TRUE(stats.IsStarted());
    EXPECT_EQ(stats.ExtendedHighest(), 40000u);
    EXPECT_EQ(stats.Expected(), 1u);
}
