// The build copies models/*.xml beside this executable; both readers must
// take every file from there, with no directory given.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "settings/CXMLSettingsAPI.h"
#include "settings/DriverConfiguration.h"
#include "settings/ModelCapabilities.h"

namespace {

TEST(ShippedModels, EveryFileReadsWithBothReaders) {
    struct Standard {
        char suffix;
        const char* videoMode;
        int32_t frameRate;
        int32_t width[4], height[4];
    } standards[] = {
        {'P', "PAL", 25, {176, 352, 704, 704}, {144, 288, 288, 576}},
        {'N', "NTSC", 30, {176, 352, 704, 704}, {120, 240, 240, 480}},
    };
    std::set<std::string> expected;
    for (const char* base : {"SNC-RZ50", "SNC-CS50", "SNC-RX530", "SNC-RX550", "SNC-RX570", "SNC-DF50", "SNC-DF80"}) {
        for (const Standard& standard : standards) {
            const std::string model = std::string(base) + standard.suffix;
            expected.insert(model + ".xml");
            SCOPED_TRACE(model);
            kestrel::DriverConfiguration config;
            ASSERT_TRUE(kestrel::ReadDriverConfiguration(config, "sony", model + ".xml"));
            EXPECT_EQ(config.qualityMin + "-" + config.qualityMax + " " + config.rtpKeepAlive, "1-10 60");
            EXPECT_EQ(standard.videoMode, config.videoMode);
            EXPECT_EQ(standard.frameRate, config.maxFrameRate);
            for (int i = 0; i < 4; ++i) {
                EXPECT_TRUE(config.supported[i]) << i;
                EXPECT_EQ(standard.width[i], config.width[i]) << i;
                EXPECT_EQ(standard.height[i], config.height[i]) << i;
                EXPECT_EQ(standard.frameRate, config.maxFpsRes[i]) << i;
            }
            EXPECT_GT(config.configuredInputCount, 0);
            EXPECT_GT(config.configuredOutputCount, 0);

            kestrel::ModelCapabilities capabilities;
            std::string rootName;
            ASSERT_TRUE(kestrel::ReadModelCapabilities(model, capabilities, rootName));
            EXPECT_EQ("sony", rootName);
            EXPECT_EQ(1, capabilities.cameraCount);
            EXPECT_EQ(std::vector<int32_t>{2}, capabilities.modes);
            EXPECT_EQ(config.configuredInputCount, capabilities.inputCount);
            EXPECT_EQ(config.configuredOutputCount, capabilities.outputCount);
            ASSERT_EQ(3u, capabilities.resolutions.size());
            for (size_t i = 0; i < 3; ++i) {
                const kestrel::ResolutionEntry& entry = capabilities.resolutions[i];
                EXPECT_EQ(static_cast<int32_t>(i) + 2, entry.kind);
                EXPECT_EQ(standard.width[i + 1], entry.width);
                EXPECT_EQ(standard.height[i + 1], entry.height);
                EXPECT_EQ(1000u / static_cast<uint32_t>(standard.frameRate), entry.minimumInterval);
            }
        }
    }
    std::set<std::string> found;  // nothing else is shipped beside them
    for (const auto& item : std::filesystem::directory_iterator(CXMLSettingsAPI::GetProcessDirectory())) {
        if (item.path().extension() == ".xml") found.insert(item.path().filename().string());
    }
    EXPECT_EQ(expected, found);
}

}  // namespace
