// The build copies models/*.xml beside this executable; both readers must
// take every file from there, with no directory given.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "settings/CXMLSettingsAPI.h"
#include "settings/DriverConfiguration.h"
#include "settings/ModelCapabilities.h"

namespace {

TEST(ShippedModels, EveryFileReadsWithBothReaders) {
    // Suffix; sizes QCIF to 4CIF with their rates; what the second reader lists (all but QCIF).
    // clang-format off
    const std::string standards[][3] = {
        {"P", "PAL 25 fps: 176x144/25 352x288/25 704x288/25 704x576/25", "2=352x288/40ms 3=704x288/40ms 4=704x576/40ms"},
        {"N", "NTSC 30 fps: 176x120/30 352x240/30 704x240/30 704x480/30", "2=352x240/33ms 3=704x240/33ms 4=704x480/33ms"},
    };
    // clang-format on
    std::set<std::string> expected;
    for (const char* base : {"SNC-RZ50", "SNC-CS50", "SNC-RX530", "SNC-RX550", "SNC-RX570", "SNC-DF50", "SNC-DF80"}) {
        for (const auto& [suffix, sizes, entries] : standards) {
            const std::string model = base + suffix;
            expected.insert(model + ".xml");
            SCOPED_TRACE(model);
            kestrel::DriverConfiguration config;
            ASSERT_TRUE(kestrel::ReadDriverConfiguration(config, "sony", model + ".xml"));
            std::ostringstream driver;
            driver << "quality " << config.qualityMin << "-" << config.qualityMax << ", keep-alive "
                   << config.rtpKeepAlive << ", " << config.videoMode << " " << config.maxFrameRate << " fps:";
            for (int i = 0; i < 4; ++i) {
                driver << " " << config.width[i] << "x" << config.height[i] << "/" << config.maxFpsRes[i]
                       << (config.supported[i] ? "" : " (off)");
            }
            EXPECT_EQ(driver.str(), "quality 1-10, keep-alive 60, " + sizes);
            EXPECT_GT(config.configuredInputCount, 0);
            EXPECT_GT(config.configuredOutputCount, 0);

            kestrel::ModelCapabilities capabilities;
            std::string rootName;
            ASSERT_TRUE(kestrel::ReadModelCapabilities(model, capabilities, rootName));
            std::ostringstream listed, wanted;
            listed << rootName << ", " << capabilities.cameraCount << " camera, io " << capabilities.inputCount << "/"
                   << capabilities.outputCount << ", modes";
            for (int32_t mode : capabilities.modes) listed << " " << mode;
            listed << ":";
            for (const kestrel::ResolutionEntry& e : capabilities.resolutions) {
                listed << " " << e.kind << "=" << e.width << "x" << e.height << "/" << e.minimumInterval << "ms";
            }
            wanted << "sony, 1 camera, io " << config.configuredInputCount << "/" << config.configuredOutputCount
                   << ", modes 2: " << entries;
            EXPECT_EQ(listed.str(), wanted.str());
        }
    }
    std::set<std::string> found;  // nothing else is shipped beside them
    for (const auto& item : std::filesystem::directory_iterator(CXMLSettingsAPI::GetProcessDirectory())) {
        if (item.path().extension() == ".xml") found.insert(item.path().filename().string());
    }
    EXPECT_EQ(expected, found);
}

}  // namespace
