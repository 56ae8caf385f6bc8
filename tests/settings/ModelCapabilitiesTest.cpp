#include "settings/ModelCapabilities.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/settings/SettingsFiles.h"

using kestrel::ModelCapabilities;
using settings_test::Key;
using settings_test::ModelXml;
using settings_test::TempDirectory;

namespace {

using Intervals = std::vector<uint32_t>;
using Modes = std::vector<int32_t>;

const Intervals kAllIntervals = {1000, 500, 333, 250, 200, 166, 125, 83, 40, 33};

std::vector<Key> Cif(const char* rate) {
    std::vector<Key> keys = {{"resolutions/cif", "true"}, {"resolutions/cifx", "352"}, {"resolutions/cify", "288"}};
    if (rate != nullptr) {
        keys.push_back({"framerate/res1", rate});
    }
    return keys;
}

class ModelCapabilitiesTest : public ::testing::Test {
protected:
    // Writes the keys as "<model>.xml" and reads them back.
    bool Read(const std::vector<Key>& keys, const std::string& model = "model") {
        dir.Write(model + ".xml", ModelXml(keys));
        return kestrel::ReadModelCapabilities(model, capabilities, rootName, dir.Path());
    }
    Modes ListModes() {
        Modes modes;
        int32_t mode = 0;
        for (bool more = capabilities.GetFirstMode(mode); more; more = capabilities.GetNextMode(mode)) {
            modes.push_back(mode);
        }
        return modes;
    }
    TempDirectory dir;
    ModelCapabilities capabilities;
    std::string rootName;
};

TEST_F(ModelCapabilitiesTest, CifFrameRateSetsIntervals) {
    struct Row {
        const char* rate;  // framerate/res1, null: absent
        uint32_t minimum;
        Intervals intervals;
    };
    const Row rows[] = {
        {"25", 40, {1000, 500, 333, 250, 200, 166, 125, 83, 40}},
        {nullptr, 1000, {1000}},          // nothing to inherit: F = 1
        {"60", 16, kAllIntervals},
        {"abc", 1000, {1000}},            // a failing read still stores 0
        {"3", 333, {1000, 500, 333}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rate ? row.rate : "absent");
        ASSERT_TRUE(Read(Cif(row.rate)));
        ASSERT_EQ(1u, capabilities.resolutions.size());
        const kestrel::ResolutionEntry& entry = capabilities.resolutions[0];
        EXPECT_EQ(2, entry.kind);
        EXPECT_EQ(352, entry.width);
        EXPECT_EQ(288, entry.height);
        EXPECT_EQ(row.minimum, entry.minimumInterval);
        EXPECT_EQ(row.intervals, entry.intervals);
    }
}

TEST_F(ModelCapabilitiesTest, ResolutionEntries) {
    struct Entry {
        int32_t kind;
        uint16_t width;
        uint16_t height;
        uint32_t minimum;
        bool operator==(const Entry&) const = default;
    };
    auto sized = [](const char* name, const char* width, const char* height) {
        const std::string base = std::string("resolutions/") + name;
        return std::vector<Key>{{base, "true"}, {base + "x", width}, {base + "y", height}};
    };
    auto join = [](std::vector<std::vector<Key>> parts) {
        std::vector<Key> keys;
        for (auto& part : parts) keys.insert(keys.end(), part.begin(), part.end());
        return keys;
    };
    struct Row {
        const char* what;
        std::vector<Key> keys;
        std::vector<Entry> entries;
    };
    const Row rows[] = {
        {"2CIF inherits CIF's rate, 4CIF has its own",
         join({Cif("25"), sized("cif2", "704", "288"), sized("cif4", "704", "576"), {{"framerate/res3", "5"}}}),
         {{2, 352, 288, 40}, {3, 704, 288, 40}, {4, 704, 576, 200}}},
        {"same size listed once", join({Cif("25"), sized("cif2", "352", "288")}), {{2, 352, 288, 40}}},
        {"width 0 always listed", join({sized("cif", "0", "0"), sized("cif2", "0", "0")}),
         {{2, 0, 0, 1000}, {3, 0, 0, 1000}}},
        {"size not a number", sized("cif", "wide", "288"), {}},
        {"height absent", {{"resolutions/cif", "true"}, {"resolutions/cifx", "352"}}, {}},
        {"sizes cut to 16 bits", sized("cif4", "65888", "576"), {{4, 352, 576, 1000}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(Read(row.keys));
        std::vector<Entry> entries;
        for (const kestrel::ResolutionEntry& e : capabilities.resolutions) {
            entries.push_back({e.kind, e.width, e.height, e.minimumInterval});
        }
        EXPECT_EQ(row.entries, entries);
    }
}

TEST_F(ModelCapabilitiesTest, CameraCountSpellings) {
    struct Row {
        std::vector<Key> keys;
        int32_t count;
    };
    const Row rows[] = {
        {{{"cameraCount", "0"}, {"CameraCount", "4"}}, 4},
        {{}, 1},
        {{{"cameracount", "2"}, {"CameraCount", "4"}}, 2},
        {{{"cameraCount", "x"}, {"cameracount", "3"}}, 3},
        {{{"cameraCount", "0"}}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.count);
        ASSERT_TRUE(Read(row.keys));
        EXPECT_EQ(row.count, capabilities.cameraCount);
    }
}

TEST_F(ModelCapabilitiesTest, ModesFromTextMarkOrName) {
    struct Row {
        const char* model;
        std::vector<Key> keys;
        Modes modes;
    };
    const Row rows[] = {
        {"model", {{"mode", "jpeg"}}, {2}},
        {"model", {{"mode", "MJPEG"}}, {}},                   // case-sensitive: neither
        {"model", {{"mode", "jpeg,mpeg4"}}, {4, 2}},          // MPEG-4 first, whatever the order
        {"model", {{"mpeg4", std::nullopt}}, {4}},            // empty mpeg4 child marks it
        {"model", {{"mode", ""}, {"mpeg4", std::nullopt}}, {4}},  // empty mode counts as absent
        {"Cam-MPEG4", {}, {4}},                               // the name, in any case
        {"model", {}, {2}},
        {"model", {{"mode", "mpeg4"}, {"mpeg4", std::nullopt}}, {4}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.model);
        ASSERT_TRUE(Read(row.keys, row.model));
        EXPECT_EQ(row.modes, capabilities.modes);
        EXPECT_EQ(row.modes, ListModes());
    }
}

TEST_F(ModelCapabilitiesTest, ModeCursorEndsAndRestarts) {
    ASSERT_TRUE(Read({{"mode", "mpeg4 jpeg"}}));
    int32_t mode = 0;
    ASSERT_EQ((Modes{4, 2}), ListModes());
    EXPECT_FALSE(capabilities.GetNextMode(mode));  // stays ended
    ASSERT_TRUE(capabilities.GetFirstMode(mode));
    EXPECT_EQ(4, mode);
}

TEST_F(ModelCapabilitiesTest, FlagsAndCountsAreExact) {
    ASSERT_TRUE(Read({{"resolutions/ccria", "true"},
                      {"framerate/ccfia", "True"},
                      {"framerate/cswnn", "true"},
                      {"io/input", "4"},
                      {"io/output", "0"}}));
    EXPECT_TRUE(capabilities.ccria);
    EXPECT_FALSE(capabilities.ccfia);
    EXPECT_TRUE(capabilities.cswnn);
    EXPECT_EQ(4, capabilities.inputCount);
    EXPECT_EQ(0, capabilities.outputCount);
    EXPECT_EQ("model", capabilities.modelName);
    EXPECT_EQ("sony", rootName);
}

TEST_F(ModelCapabilitiesTest, ReadingAgainStartsAfresh) {
    ASSERT_TRUE(Read({{"mode", "jpeg"}, {"io/input", "2"}, {"resolutions/cif", "true"},
                      {"resolutions/cifx", "0"}, {"resolutions/cify", "0"}}));
    ASSERT_TRUE(Read({{"mode", "jpeg"}, {"resolutions/cif", "true"},
                      {"resolutions/cifx", "0"}, {"resolutions/cify", "0"}}));
    EXPECT_EQ(Modes{2}, capabilities.modes);
    EXPECT_EQ(1u, capabilities.resolutions.size());
    EXPECT_EQ(0, capabilities.inputCount);
}

TEST_F(ModelCapabilitiesTest, RootElementAndMark) {
    dir.Write("marked.xml", "<?xml version=\"1.0\"?>\n<!-- c -->\n<?pi x?>\n<sony><mpeg4/></sony>");
    dir.Write("pi.xml", "<sony><?mpeg4 not an element?><jpeg/></sony>");
    dir.Write("deep.xml", "<sony><video><mpeg4/></video></sony>");
    struct Row {
        const char* model;
        bool mark;
    };
    for (const Row& row : {Row{"marked", true}, Row{"pi", false}, Row{"deep", false}}) {
        SCOPED_TRACE(row.model);
        bool mark = !row.mark;
        ASSERT_TRUE(kestrel::FindRootElement(row.model, rootName, mark, dir.Path()));
        EXPECT_EQ("sony", rootName);
        EXPECT_EQ(row.mark, mark);
    }
    ASSERT_EQ(0, ::mkfifo((dir.Path() + "fifo.xml").c_str(), 0600));
    for (const char* model : {"absent", "fifo"}) {  // a FIFO must not block the reader
        bool mark = false;
        EXPECT_FALSE(kestrel::FindRootElement(model, rootName, mark, dir.Path())) << model;
    }
}

}  // namespace
