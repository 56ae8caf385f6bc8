#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "settings/ResolutionEntry.h"

namespace kestrel {

// What the IP interface needs to know of a model beyond the legacy driver.
struct ModelCapabilities {
    std::vector<int32_t> modes;  // 2 JPEG, 4 MPEG-4, in the order found
    int32_t modeCursor = -1;
    std::vector<ResolutionEntry> resolutions;
    std::string modelName;
    int32_t cameraCount = 1;
    int32_t inputCount = 0;
    int32_t outputCount = 0;
    bool ccfia = false;
    bool ccria = false;
    bool cswnn = false;

    bool GetFirstMode(int32_t& mode);
    bool GetNextMode(int32_t& mode);
};

// Reads "<model>.xml" from the host executable's directory (baseDirectory
// instead, when given); rootName receives the name of the file's root
// element. The record is filled afresh.
bool ReadModelCapabilities(const std::string& model, ModelCapabilities& capabilities, std::string& rootName,
                           const std::string& baseDirectory = {});
// The first element of the file: its name and whether it has an "mpeg4" child.
bool FindRootElement(const std::string& model, std::string& rootName, bool& mpeg4Mark,
                     const std::string& baseDirectory = {});

}  // namespace kestrel
