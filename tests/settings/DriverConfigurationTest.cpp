#include "settings/DriverConfiguration.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/ModelCapabilities.h"
#include "tests/settings/SettingsFiles.h"

using kestrel::DriverConfiguration;
using kestrel::ModelCapabilities;
using settings_test::Key;
using settings_test::ModelXml;
using settings_test::TempDirectory;

namespace {

class DriverConfigurationTest : public ::testing::Test {
protected:
    bool ReadDriver(const std::string& model) {
        return kestrel::ReadDriverConfiguration(config, "sony", model + ".xml", dir.Path());
    }
    bool ReadModel(const std::string& model) {
        return kestrel::ReadModelCapabilities(model, capabilities, rootName, dir.Path());
    }
    TempDirectory dir;
    DriverConfiguration config;
    ModelCapabilities capabilities;
    std::string rootName;
};

TEST_F(DriverConfigurationTest, IntegersAreReadTheAtoiWay) {
    struct Row {
        const char* text;
        int32_t expected;
    };
    const Row rows[] = {
        {"25", 25},
        {" 25fps", 25},       // leading blank skipped, stops at the letters
        {"-3", -3},
        {"abc", 0},           // no digits: 0 replaces the old value
        {"", 11},             // empty value: the old value stays
        {"99999999999", 2147483647},  // saturates instead of overflowing
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        dir.Write("rate.xml", ModelXml({{"resolutions/cif", "true"},
                                        {"resolutions/cifx", "352"},
                                        {"resolutions/cify", "288"},
                                        {"framerate/max", row.text}}));
        config.maxFrameRate = 11;
        ASSERT_TRUE(ReadDriver("rate"));
        EXPECT_EQ(row.expected, config.maxFrameRate);
    }
}

TEST_F(DriverConfigurationTest, LaterFileKeepsWhatItLacks) {
    dir.Write("first.xml", ModelXml({{"quality/min", "4"},
                                     {"resolutions/cif", "true"},
                                     {"resolutions/cifx", "352"},
                                     {"resolutions/cify", "288"},
                                     {"framerate/max", "25"},
                                     {"io/input", "2"}}));
    dir.Write("second.xml", ModelXml({{"resolutions/cif", "false"}}));
    config.cameraCount = 4;
    ASSERT_TRUE(ReadDriver("first"));
    EXPECT_EQ(1u, config.cameraCount);
    // No flag is set by the second file, but CIF stays from the first.
    ASSERT_TRUE(ReadDriver("second"));
    EXPECT_TRUE(config.supported[1]);
    EXPECT_EQ(352, config.width[1]);
    EXPECT_EQ(25, config.maxFrameRate);
    EXPECT_EQ(2, config.configuredInputCount);
    EXPECT_EQ("", config.qualityMin);  // texts are replaced, by empty when absent
}

TEST_F(DriverConfigurationTest, RefusesWithoutNameOrResolution) {
    dir.Write("none.xml", ModelXml({{"quality/min", "1"}}));
    EXPECT_FALSE(ReadDriver("none"));
    EXPECT_FALSE(ReadDriver("absent"));
    EXPECT_FALSE(kestrel::ReadDriverConfiguration(config, "", "none.xml", dir.Path()));
    EXPECT_FALSE(kestrel::ReadDriverConfiguration(config, "sony", "", dir.Path()));
}

// The two readers of one file follow different rules; these cases pin down
// where they part.
TEST_F(DriverConfigurationTest, CapitalTrueEnablesOnlyForDriverReader) {
    dir.Write("caps.xml", ModelXml({{"resolutions/cif", "TRUE"},
                                    {"resolutions/cifx", "352"},
                                    {"resolutions/cify", "288"}}));
    ASSERT_TRUE(ReadDriver("caps"));
    EXPECT_TRUE(config.supported[1]);
    EXPECT_EQ(352, config.width[1]);
    EXPECT_EQ(288, config.height[1]);
    ASSERT_TRUE(ReadModel("caps"));
    EXPECT_TRUE(capabilities.resolutions.empty());
}

TEST_F(DriverConfigurationTest, ZeroWidthUnsupportedButListed) {
    dir.Write("zero.xml", ModelXml({{"resolutions/cif", "true"},
                                    {"resolutions/cifx", "0"},
                                    {"resolutions/cify", "288"}}));
    EXPECT_FALSE(ReadDriver("zero"));
    EXPECT_FALSE(config.supported[1]);
    ASSERT_TRUE(ReadModel("zero"));
    ASSERT_EQ(1u, capabilities.resolutions.size());
    EXPECT_EQ(0, capabilities.resolutions[0].width);
    EXPECT_EQ(288, capabilities.resolutions[0].height);
}

TEST_F(DriverConfigurationTest, OtherRootFailsDriverReaderOnly) {
    dir.Write("axis.xml", ModelXml({{"resolutions/cif", "true"},
                                    {"resolutions/cifx", "352"},
                                    {"resolutions/cify", "288"}},
                                   "axis"));
    EXPECT_FALSE(ReadDriver("axis"));
    ASSERT_TRUE(ReadModel("axis"));
    EXPECT_EQ("axis", rootName);
    EXPECT_EQ(1u, capabilities.resolutions.size());
}

TEST_F(DriverConfigurationTest, BrokenOrMissingFileFailsBoth) {
    dir.Write("broken.xml", "<sony><resolutions><cif value=\"true\"/></sony>");
    dir.Write("empty.xml", "");
    for (const char* model : {"broken", "empty", "missing"}) {
        SCOPED_TRACE(model);
        EXPECT_FALSE(ReadDriver(model));
        EXPECT_FALSE(ReadModel(model));
    }
}

}  // namespace
