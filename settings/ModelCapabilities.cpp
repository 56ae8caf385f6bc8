#include "settings/ModelCapabilities.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include "settings/CXMLSettingsAPI.h"
#include "settings/TextValues.h"

namespace kestrel {

bool ModelCapabilities::GetFirstMode(int32_t& mode) {
    if (modes.empty()) {
        modeCursor = -1;
        return false;
    }
    modeCursor = 0;
    mode = modes[0];
    return true;
}

bool ModelCapabilities::GetNextMode(int32_t& mode) {
    if (modeCursor < 0) {
        return false;
    }
    ++modeCursor;
    if (static_cast<size_t>(modeCursor) < modes.size()) {
        mode = modes[static_cast<size_t>(modeCursor)];
        return true;
    }
    modeCursor = -1;
    return false;
}

namespace {

// This reader fetches every value as the "value" attribute of the element
// "<root>/<key>", and counts a read as done only when it yields something.
struct ModelFile {
    CXMLSettingsAPI& settings;
    const std::string& root;
};

bool ReadStringValue(const ModelFile& file, const std::string& key, std::string& value) {
    // The root name comes from the file: it is an argument, never part of
    // the format.
    value = file.settings.GetValueAttribute("%s/%s", file.root.c_str(), key.c_str());
    return !value.empty();
}

// Any text present is stored, even one that is not a number (as 0).
bool ReadIntValue(const ModelFile& file, const std::string& key, int32_t& value) {
    std::string text;
    if (!ReadStringValue(file, key, text)) {
        return false;
    }
    value = AtoiValue(text);
    return value != 0 || text[0] == '0';
}

// Case matters here, unlike in the driver configuration's flags.
bool ReadExactTrue(const ModelFile& file, const std::string& key) {
    std::string text;
    return ReadStringValue(file, key, text) && text == "true";
}

constexpr uint32_t kIntervals[] = {1000, 500, 333, 250, 200, 166, 125, 83, 40, 33};

struct ResolutionKey {
    const char* name;
    int32_t kind;
    const char* frameRate;
};
constexpr ResolutionKey kResolutions[] = {
    {"cif", 2, "framerate/res1"},
    {"cif2", 3, "framerate/res2"},
    {"cif4", 4, "framerate/res3"},
};

void ReadResolutions(const ModelFile& file, ModelCapabilities& capabilities) {
    // Shared by the resolutions in turn: one without a frame rate of its own
    // inherits the rate of the one before.
    int32_t frameRate = 0;
    for (const ResolutionKey& key : kResolutions) {
        const std::string name = std::string("resolutions/") + key.name;
        if (!ReadExactTrue(file, name)) {
            continue;
        }
        int32_t width = 0;
        int32_t height = 0;
        if (!ReadIntValue(file, name + "x", width) || !ReadIntValue(file, name + "y", height)) {
            continue;
        }
        ReadIntValue(file, key.frameRate, frameRate);
        if (static_cast<uint32_t>(frameRate) < 1) {
            frameRate = 1;
        }

        ResolutionEntry entry;
        entry.kind = key.kind;
        entry.width = static_cast<uint16_t>(width);
        entry.height = static_cast<uint16_t>(height);
        entry.minimumInterval = 1000u / static_cast<uint32_t>(frameRate);
        for (uint32_t interval : kIntervals) {
            if (interval >= entry.minimumInterval) {
                entry.intervals.push_back(interval);
            }
        }
        const bool listed =
            entry.width != 0 && std::any_of(capabilities.resolutions.begin(), capabilities.resolutions.end(),
                                            [&](const ResolutionEntry& other) {
                                                return other.width == entry.width && other.height == entry.height;
                                            });
        if (!listed) {
            capabilities.resolutions.push_back(std::move(entry));
        }
    }
}

void ReadModes(const ModelFile& file, ModelCapabilities& capabilities, bool mpeg4Mark) {
    std::string mode;
    if (ReadStringValue(file, "mode", mode)) {
        if (mode.find("mpeg") != std::string::npos) {
            capabilities.modes.push_back(4);
        }
        if (mode.find("jpeg") != std::string::npos) {
            capabilities.modes.push_back(2);
        }
        return;
    }
    std::string lowerName = capabilities.modelName.substr(0, 255);
    std::transform(lowerName.begin(), lowerName.end(), lowerName.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    const bool mpeg4 = mpeg4Mark || lowerName.find("mpeg") != std::string::npos;
    capabilities.modes.push_back(mpeg4 ? 4 : 2);
}

}  // namespace

bool FindRootElement(const std::string& model, std::string& rootName, bool& mpeg4Mark,
                     const std::string& baseDirectory) {
    const std::string directory = CXMLSettingsAPI::ResolveDirectory(baseDirectory);
    if (directory.find('/') == std::string::npos) {
        return false;
    }
    std::unique_ptr<pugi::xml_document> document;
    if (CXMLSettingsAPI::CreateDOMDocument(document) != CXMLSettingsAPI::kOk) {
        return false;
    }
    if (!CXMLSettingsAPI::LoadDocument(*document, directory + model + ".xml")) {
        return false;
    }
    for (const pugi::xml_node& child : document->children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        rootName = child.name();
        mpeg4Mark = false;
        for (const pugi::xml_node& grandChild : child.children()) {
            if (grandChild.type() == pugi::node_element && std::string_view(grandChild.name()) == "mpeg4") {
                mpeg4Mark = true;
                break;
            }
        }
        return true;
    }
    return false;
}

bool ReadModelCapabilities(const std::string& model, ModelCapabilities& capabilities, std::string& rootName,
                           const std::string& baseDirectory) {
    bool mpeg4Mark = false;
    if (!FindRootElement(model, rootName, mpeg4Mark, baseDirectory)) {
        return false;
    }
    // Start from an empty record, so that reading again does not add the
    // modes and resolutions a second time.
    capabilities = ModelCapabilities{};
    capabilities.modelName = model;

    CXMLSettingsAPI settings;
    settings.SetBaseDirectory(baseDirectory);
    if (settings.Open((model + ".xml").c_str()) != CXMLSettingsAPI::kOk) {
        return false;
    }
    const ModelFile file{settings, rootName};

    int32_t cameraCount = 0;
    for (const char* key : {"cameraCount", "cameracount", "CameraCount"}) {
        int32_t value = 0;
        if (ReadIntValue(file, key, value) && value != 0) {
            cameraCount = value;
            break;
        }
    }
    capabilities.cameraCount = cameraCount != 0 ? cameraCount : 1;

    ReadResolutions(file, capabilities);

    capabilities.ccria = ReadExactTrue(file, "resolutions/ccria");
    capabilities.ccfia = ReadExactTrue(file, "framerate/ccfia");
    capabilities.cswnn = ReadExactTrue(file, "framerate/cswnn");

    int32_t count = 0;
    if (ReadIntValue(file, "io/input", count)) {
        capabilities.inputCount = count;
    }
    if (ReadIntValue(file, "io/output", count)) {
        capabilities.outputCount = count;
    }

    ReadModes(file, capabilities, mpeg4Mark);
    return true;
}

}  // namespace kestrel
