#include "settings/DriverConfiguration.h"

#include "runtime/TextCompare.h"
#include "settings/CXMLSettingsAPI.h"
#include "settings/TextValues.h"

namespace kestrel {

namespace {

// This reader fetches every value as the attribute node "<root>/<key>/@value".
std::string ReadText(CXMLSettingsAPI& file, const std::string& root, const std::string& key) {
    return file.GetNodeText(root + "/" + key + "/@value");
}

bool ReadFlag(CXMLSettingsAPI& file, const std::string& root, const std::string& key) {
    return EqualsNoCase(ReadText(file, root, key), "true");
}

// An absent or empty value keeps what the field held.
void ReadInt(CXMLSettingsAPI& file, const std::string& root, const std::string& key, int32_t& field) {
    const std::string text = ReadText(file, root, key);
    if (!text.empty()) {
        field = AtoiValue(text);
    }
}

}  // namespace

bool ReadDriverConfiguration(DriverConfiguration& config, const std::string& manufacturer, const std::string& fileName,
                             const std::string& baseDirectory) {
    if (manufacturer.empty() || fileName.empty()) {
        return false;
    }
    CXMLSettingsAPI file;
    file.SetBaseDirectory(baseDirectory);
    if (file.Open(fileName.c_str()) != CXMLSettingsAPI::kOk) {
        return false;
    }

    config.qualityMin = ReadText(file, manufacturer, "quality/min");
    config.qualityMax = ReadText(file, manufacturer, "quality/max");
    config.rtpKeepAlive = ReadText(file, manufacturer, "rtp/keepalive");
    config.videoMode = ReadText(file, manufacturer, "videomode");

    static constexpr const char* kResolutionNames[4] = {"qcif", "cif", "cif2", "cif4"};
    for (int i = 0; i < 4; ++i) {
        const std::string name = std::string("resolutions/") + kResolutionNames[i];
        // A resolution the file does not enable keeps the earlier open's state.
        if (!ReadFlag(file, manufacturer, name)) {
            continue;
        }
        ReadInt(file, manufacturer, name + "x", config.width[i]);
        ReadInt(file, manufacturer, name + "y", config.height[i]);
        config.supported[i] = config.width[i] > 0 && config.height[i] > 0;
    }

    ReadInt(file, manufacturer, "framerate/max", config.maxFrameRate);
    ReadInt(file, manufacturer, "framerate/res0", config.maxFpsRes[0]);
    ReadInt(file, manufacturer, "framerate/res1", config.maxFpsRes[1]);
    ReadInt(file, manufacturer, "framerate/res2", config.maxFpsRes[2]);
    ReadInt(file, manufacturer, "framerate/res3", config.maxFpsRes[3]);
    ReadInt(file, manufacturer, "io/output", config.configuredOutputCount);
    ReadInt(file, manufacturer, "io/input", config.configuredInputCount);

    for (bool supported : config.supported) {
        if (supported) {
            // The driver always runs one channel, whatever the model has.
            config.cameraCount = 1;
            return true;
        }
    }
    return false;
}

}  // namespace kestrel
