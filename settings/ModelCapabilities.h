#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// One resolution offered by a model, as the IP interface lists it.
struct ResolutionEntry {
    uint32_t minimumInterval = 40;
    std::vector<uint32_t> intervals;  // longest first
    int32_t kind = 0;                 // 2 CIF, 3 2CIF, 4 4CIF
    uint16_t width = 0;
    uint16_t height = 0;
};

// What the IP interface needs to know of a model beyond the legacy driver.
struct ModelCapabilities {
    std::vector<int32_t> modes;       // 2 JPEG, 4 MPEG-4, in the order found
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

// Reads "<model>.xml" from the host executable's directory; rootName
// receives the name of the file's root element.
bool ReadModelCapabilities(const std::string& model, ModelCapabilities& capabilities,
                           std::string& rootName);
// The first element of the file: its name and whether it has an "mpeg4" child.
bool FindRootElement(const std::string& model, std::string& rootName, bool& mpeg4Mark);

}  // namespace kestrel
