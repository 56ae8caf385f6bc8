// The driver object's parts: the capability walk the host does with its
// cursors, and the channel table's ownership rules.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "channels/CChannelThreadMark.h"
#include "driver/CCapabilityList.h"
#include "driver/CChannelTable.h"

namespace {

using namespace kestrel;

std::vector<uint32_t> WalkIntervals(CCapabilityList& list) {
    std::vector<uint32_t> out;
    uint32_t value = 0;
    for (int more = list.FirstFrameInterval(&value); more != 0; more = list.NextFrameInterval(&value)) {
        out.push_back(value);
    }
    return out;
}

TEST(CCapabilityList, CursorsWalkEachListAndStayAtTheEnd) {
    CCapabilityList list({0x4745504A, 0x3234504D});
    uint32_t fourcc = 0;
    int kind = 0;
    EXPECT_EQ(list.FirstResolution(&kind), 0) << "nothing offered before Open";
    EXPECT_EQ(list.NextFourCC(&fourcc), 0) << "next before first ends at once";
    EXPECT_EQ(WalkIntervals(list), std::vector<uint32_t>());

    const bool supported[4] = {false, true, false, true};
    list.Offer({40, 1000}, supported);
    EXPECT_EQ(WalkIntervals(list), std::vector<uint32_t>({40, 1000}));
    EXPECT_EQ(list.NextFrameInterval(nullptr), 0) << "the end holds";
    ASSERT_EQ(list.FirstResolution(&kind), 1);
    EXPECT_EQ(kind, 2);
    ASSERT_EQ(list.NextResolution(&kind), 1);
    EXPECT_EQ(kind, 4);
    EXPECT_EQ(list.NextResolution(&kind), 0);

    // A later Open gives new intervals but keeps the first resolution list.
    const bool all[4] = {true, true, true, true};
    list.Offer({1000}, all);
    EXPECT_EQ(WalkIntervals(list), std::vector<uint32_t>({1000}));
    ASSERT_EQ(list.FirstResolution(&kind), 1);
    EXPECT_EQ(kind, 2);
    list.ClearFrameIntervals();
    EXPECT_EQ(WalkIntervals(list), std::vector<uint32_t>());

    // Selecting walks the format cursor: found in place, or at the end.
    EXPECT_EQ(list.SelectFourCC(0x4745504A), 1);
    ASSERT_EQ(list.NextFourCC(&fourcc), 1);
    EXPECT_EQ(fourcc, 0x3234504Du);
    EXPECT_EQ(list.SelectFourCC(0x12345678), 0);
    EXPECT_EQ(list.NextFourCC(&fourcc), 0);
}

// Records its life in a log the test keeps.
class LoggedChannel : public ICameraChannel {
public:
    LoggedChannel(std::vector<std::string>& log, std::string name) : m_log(log), m_name(std::move(name)) {}
    ~LoggedChannel() override { m_log.push_back("delete " + m_name); }
    bool Start(uint32_t, int32_t, int32_t, int32_t) override { return true; }
    void Stop() override {
        m_log.push_back("stop " + m_name);
        if (throwOnStop) throw std::runtime_error("stop failed");
    }
    CameraState GetState() override { return StateRunning; }
    bool throwOnStop = false;

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

TEST(CChannelTable, PlacesOnlyIntoEmptySlotsAndFinishesEveryChannelOnce) {
    std::vector<std::string> log;
    auto make = [&](const char* name, bool throwOnStop = false) {
        return [&log, name, throwOnStop] {
            auto channel = std::make_unique<LoggedChannel>(log, name);
            channel->throwOnStop = throwOnStop;
            return std::unique_ptr<ICameraChannel>(std::move(channel));
        };
    };
    auto starts = [](ICameraChannel&) { return true; };
    auto fails = [](ICameraChannel&) { return false; };
    {
        CChannelTable table;
        table.Resize(3);
        EXPECT_TRUE(table.Place(0, make("a"), starts));
        EXPECT_FALSE(table.Place(0, make("b"), starts)) << "the slot is taken";
        EXPECT_FALSE(table.Place(1, make("c"), fails)) << "a failed start keeps nothing";
        EXPECT_FALSE(table.Place(3, make("d"), starts)) << "no such slot: nothing made";
        EXPECT_TRUE(table.Place(2, make("e", true), starts));
        EXPECT_EQ(log, std::vector<std::string>({"delete b", "delete c"}));
        log.clear();

        CameraState state = StateStopped;
        EXPECT_TRUE(table.Read(0, [&](ICameraChannel& c) { state = c.GetState(); }));
        EXPECT_EQ(state, StateRunning);
        EXPECT_FALSE(table.Read(1, [](ICameraChannel&) {}));
        EXPECT_TRUE(table.Remove(2)) << "a throwing stop is swallowed";
        EXPECT_FALSE(table.Remove(2));
        EXPECT_EQ(log, std::vector<std::string>({"stop e", "delete e"}));
        log.clear();
    }
    EXPECT_EQ(log, std::vector<std::string>({"stop a", "delete a"})) << "the destructor finishes the rest";
}

// A host callback on a channel's own thread removes it: it is asked to stop
// and parked, and destroyed only by a call from elsewhere.
TEST(CChannelTable, AChannelRemovedOnItsOwnThreadIsParked) {
    std::vector<std::string> log;
    CChannelTable table;
    table.Resize(1);
    ICameraChannel* placed = nullptr;
    ASSERT_TRUE(table.Place(
        0,
        [&] {
            auto channel = std::make_unique<LoggedChannel>(log, "a");
            placed = channel.get();
            return std::unique_ptr<ICameraChannel>(std::move(channel));
        },
        [](ICameraChannel&) { return true; }));
    {
        CChannelThreadMark mark(placed);
        EXPECT_TRUE(table.Remove(0));
        table.FinishParked();  // still on its thread: nothing happens
    }
    EXPECT_EQ(log, std::vector<std::string>({"stop a"}));
    table.FinishParked();
    EXPECT_EQ(log, std::vector<std::string>({"stop a", "stop a", "delete a"}));
}

}  // namespace
