// The two readers of a model file, each with its own conversion rules.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "settings/DriverConfiguration.h"
#include "settings/ModelCapabilities.h"
#include "settings/TextValues.h"
#include "tests/settings/SettingsFiles.h"

namespace {

using settings_test::Model;
using settings_test::Size;
using Modes = std::vector<int32_t>;

const std::string kCif = "<resolutions>" + Size("cif", "352", "288") + "</resolutions>";

class ModelReaders : public ::testing::Test {
protected:
    bool ReadDriver(const std::string& model) {
        return kestrel::ReadDriverConfiguration(config, "sony", model + ".xml", dir.Path());
    }
    bool ReadModel(const std::string& model) {
        return kestrel::ReadModelCapabilities(model, capabilities, rootName, dir.Path());
    }
    // Writes "model.xml" (or `model`.xml) and reads it for the capabilities.
    bool Read(const std::string& inner, const std::string& model = "model") {
        dir.Write(model + ".xml", Model(inner));
        return ReadModel(model);
    }
    Modes ListModes() {
        Modes modes;
        int32_t mode = 0;
        for (bool more = capabilities.GetFirstMode(mode); more; more = capabilities.GetNextMode(mode))
            modes.push_back(mode);
        EXPECT_FALSE(capabilities.GetNextMode(mode)) << "an ended cursor stays ended";
        return modes;
    }
    settings_test::TempDirectory dir;
    kestrel::DriverConfiguration config;
    kestrel::ModelCapabilities capabilities;
    std::string rootName;
};

TEST_F(ModelReaders, DriverReaderReadsIntegersTheAtoiWay) {
    // clang-format off
    const std::pair<const char*, int32_t> rows[] = {
        {"25", 25}, {" 25fps", 25}, {"-3", -3},
        {"abc", 0},                   // no digits: 0 replaces the old value
        {"", 11},                     // empty: the old value stays
        {"99999999999", 2147483647},  // saturates instead of overflowing
    };
    // clang-format on
    for (const auto& [text, expected] : rows) {
        dir.Write("rate.xml", Model(kCif + "<framerate><max value='" + text + "'/></framerate>"));
        config.maxFrameRate = 11;
        ASSERT_TRUE(ReadDriver("rate")) << text;
        EXPECT_EQ(expected, config.maxFrameRate) << text;
    }
}

// The driver reads its keep-alive and quality bounds the same way.
TEST(AtoiValue, SignsBlanksAndSaturationBothWays) {
    const std::pair<const char*, int32_t> rows[] = {{"", 0},
                                                    {"abc", 0},
                                                    {"42", 42},
                                                    {" \t7x", 7},
                                                    {"-3", -3},
                                                    {"+5", 5},
                                                    {"99999999999999999999", INT32_MAX},
                                                    {"-2147483648", INT32_MIN},
                                                    {"-99999999999999999999", INT32_MIN}};
    for (const auto& [text, expected] : rows) EXPECT_EQ(kestrel::AtoiValue(text), expected) << text;
}

TEST_F(ModelReaders, DriverReaderKeepsWhatALaterFileLacksAndNeedsAResolution) {
    dir.Write("first.xml", Model(kCif + "<quality><min value='4'/></quality><framerate><max value='25'/></framerate>"
                                        "<io><input value='2'/></io>"));
    dir.Write("second.xml", Model("<resolutions><cif value='false'/></resolutions>"));
    config.cameraCount = 4;
    ASSERT_TRUE(ReadDriver("first"));
    EXPECT_EQ(1u, config.cameraCount);
    ASSERT_TRUE(ReadDriver("second"));  // sets no flag, but CIF stays from the first
    EXPECT_TRUE(config.supported[1]);
    EXPECT_EQ(352, config.width[1]);
    EXPECT_EQ(25, config.maxFrameRate);
    EXPECT_EQ(2, config.configuredInputCount);
    EXPECT_EQ("", config.qualityMin) << "texts are replaced, by empty when absent";

    dir.Write("none.xml", Model("<quality><min value='1'/></quality>"));
    config = {};
    EXPECT_FALSE(ReadDriver("none"));
    EXPECT_FALSE(kestrel::ReadDriverConfiguration(config, "", "first.xml", dir.Path()));
    EXPECT_FALSE(kestrel::ReadDriverConfiguration(config, "sony", "", dir.Path()));
}

TEST_F(ModelReaders, WhereTheReadersPartWays) {
    // Capitals enable CIF for the driver reader only.
    dir.Write("caps.xml",
              Model("<resolutions><cif value='TRUE'/><cifx value='352'/><cify value='288'/></resolutions>"));
    ASSERT_TRUE(ReadDriver("caps"));
    EXPECT_TRUE(config.supported[1]);
    EXPECT_EQ(288, config.height[1]);
    ASSERT_TRUE(ReadModel("caps"));
    EXPECT_TRUE(capabilities.resolutions.empty());
    // Width 0: unsupported for one, listed by the other.
    dir.Write("zero.xml", Model("<resolutions>" + Size("cif", "0", "288") + "</resolutions>"));
    config = {};
    EXPECT_FALSE(ReadDriver("zero"));
    EXPECT_FALSE(config.supported[1]);
    ASSERT_TRUE(ReadModel("zero"));
    ASSERT_EQ(1u, capabilities.resolutions.size());
    EXPECT_EQ(288, capabilities.resolutions[0].height);
    // Another root fails the driver reader only.
    dir.Write("axis.xml", Model(kCif, "axis"));
    EXPECT_FALSE(ReadDriver("axis"));
    ASSERT_TRUE(ReadModel("axis"));
    EXPECT_EQ("axis", rootName);
    EXPECT_EQ(1u, capabilities.resolutions.size());
    // A file that is not well-formed, empty or missing fails both.
    dir.Write("broken.xml", "<sony><resolutions><cif value=\"true\"/></sony>");
    dir.Write("empty.xml", "");
    for (const char* model : {"broken", "empty", "missing"}) {
        EXPECT_FALSE(ReadDriver(model)) << model;
        EXPECT_FALSE(ReadModel(model)) << model;
    }
}

// Each entry as "kind WxH minimum: intervals".
TEST_F(ModelReaders, ResolutionEntriesAndIntervals) {
    const std::string cif = Size("cif", "352", "288");
    const std::string all = "1000 500 333 250 200 166 125 83 40";
    struct Row {
        std::string sizes, rates;
        std::vector<std::string> entries;
        // clang-format off
    } rows[] = {
        {cif, "<res1 value='25'/>", {"2 352x288 40: " + all}},
        {cif, "", {"2 352x288 1000: 1000"}},                            // nothing to inherit: 1 per second
        {cif, "<res1 value='60'/>", {"2 352x288 16: " + all + " 33"}},
        {cif, "<res1 value='abc'/>", {"2 352x288 1000: 1000"}},         // a failing read still stores 0
        {cif, "<res1 value='3'/>", {"2 352x288 333: 1000 500 333"}},
        {cif + Size("cif2", "704", "288") + Size("cif4", "704", "576"), "<res1 value='25'/><res3 value='5'/>",
         {"2 352x288 40: " + all, "3 704x288 40: " + all, "4 704x576 200: 1000 500 333 250 200"}},  // 2CIF inherits
        {cif + Size("cif2", "352", "288"), "", {"2 352x288 1000: 1000"}},  // the same size listed once
        {Size("cif", "0", "0") + Size("cif2", "0", "0"), "", {"2 0x0 1000: 1000", "3 0x0 1000: 1000"}},
        {Size("cif", "wide", "288"), "", {}},                            // size not a number
        {"<cif value='true'/><cifx value='352'/>", "", {}},              // height absent
        {Size("cif4", "65888", "576"), "", {"4 352x576 1000: 1000"}},    // sizes cut to 16 bits
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sizes + row.rates);
        ASSERT_TRUE(Read("<resolutions>" + row.sizes + "</resolutions><framerate>" + row.rates + "</framerate>"));
        std::vector<std::string> entries;
        for (const kestrel::ResolutionEntry& e : capabilities.resolutions) {
            std::ostringstream text;
            text << e.kind << " " << e.width << "x" << e.height << " " << e.minimumInterval << ":";
            for (uint32_t interval : e.intervals) text << " " << interval;
            entries.push_back(text.str());
        }
        EXPECT_EQ(row.entries, entries);
    }
}

TEST_F(ModelReaders, CameraCountSpellingsModesAndFlags) {
    // clang-format off
    const std::pair<const char*, int32_t> counts[] = {
        {"<cameraCount value='0'/><CameraCount value='4'/>", 4}, {"", 1},
        {"<cameracount value='2'/><CameraCount value='4'/>", 2},
        {"<cameraCount value='x'/><cameracount value='3'/>", 3}, {"<cameraCount value='0'/>", 1},
    };
    // clang-format on
    for (const auto& [inner, count] : counts) {
        ASSERT_TRUE(Read(inner));
        EXPECT_EQ(count, capabilities.cameraCount) << inner;
    }
    struct Row {
        const char* model;
        const char* inner;
        Modes modes;
        // clang-format off
    } rows[] = {
        {"model", "<mode value='jpeg'/>", {2}},
        {"model", "<mode value='MJPEG'/>", {}},                    // case-sensitive: neither
        {"model", "<mode value='jpeg,mpeg4'/>", {4, 2}},           // MPEG-4 first, whatever the order
        {"model", "<mpeg4/>", {4}},                                // an empty mpeg4 child marks it
        {"model", "<mode value=''/><mpeg4/>", {4}},                // an empty mode counts as absent
        {"model", "<mode value='mpeg4'/><mpeg4/>", {4}},
        {"Cam-MPEG4", "", {4}},                                    // the name, in any case
        {"model", "", {2}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.model) + row.inner);
        ASSERT_TRUE(Read(row.inner, row.model));
        EXPECT_EQ(row.modes, capabilities.modes);
        EXPECT_EQ(row.modes, ListModes());
        EXPECT_EQ(row.modes, ListModes()) << "the cursor starts again";
    }
    // Flags are exact "true"; a second read starts afresh.
    ASSERT_TRUE(
        Read("<mode value='jpeg'/><resolutions><ccria value='true'/></resolutions><framerate>"
             "<ccfia value='True'/><cswnn value='true'/></framerate><io><input value='4'/></io>"));
    EXPECT_TRUE(capabilities.ccria);
    EXPECT_FALSE(capabilities.ccfia);
    EXPECT_TRUE(capabilities.cswnn);
    EXPECT_EQ(4, capabilities.inputCount);
    EXPECT_EQ("model", capabilities.modelName);
    ASSERT_TRUE(Read("<mode value='jpeg'/><resolutions>" + Size("cif", "0", "0") + "</resolutions>"));
    ASSERT_TRUE(Read("<mode value='jpeg'/><resolutions>" + Size("cif", "0", "0") + "</resolutions>"));
    EXPECT_EQ(Modes{2}, capabilities.modes);
    EXPECT_EQ(1u, capabilities.resolutions.size());
    EXPECT_EQ(0, capabilities.inputCount);
}

TEST_F(ModelReaders, RootElementAndTheMpeg4Mark) {
    dir.Write("marked.xml", "<?xml version=\"1.0\"?>\n<!-- c -->\n<?pi x?>\n<sony><mpeg4/></sony>");
    dir.Write("pi.xml", "<sony><?mpeg4 not an element?><jpeg/></sony>");
    dir.Write("deep.xml", "<sony><video><mpeg4/></video></sony>");
    const std::pair<const char*, bool> rows[] = {{"marked", true}, {"pi", false}, {"deep", false}};
    for (const auto& [model, marked] : rows) {
        bool mark = !marked;
        ASSERT_TRUE(kestrel::FindRootElement(model, rootName, mark, dir.Path())) << model;
        EXPECT_EQ("sony", rootName);
        EXPECT_EQ(marked, mark) << model;
    }
    ASSERT_EQ(0, ::mkfifo((dir.Path() + "fifo.xml").c_str(), 0600));
    for (const char* model : {"absent", "fifo"}) {  // a FIFO must not block the reader
        bool mark = false;
        EXPECT_FALSE(kestrel::FindRootElement(model, rootName, mark, dir.Path())) << model;
    }
}

}  // namespace
