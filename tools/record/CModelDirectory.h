#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::record {

// The directory the driver reads model files from: the one of the running
// executable. The recorder looks there too, to name what is missing and,
// on the IP interface, to learn the picture size of a resolution kind.
class CModelDirectory {
public:
    explicit CModelDirectory(std::string directory) : m_dir(std::move(directory)) {}

    // Directory of /proc/self/exe, with a trailing slash.
    static std::string ExecutableDirectory();

    const std::string& Path() const { return m_dir; }
    bool Has(const std::string& model) const;
    std::vector<std::string> List() const;  // model names, sorted
    // Width and height the model file gives for kind 2..4 (CIF, 2CIF, 4CIF).
    bool ResolutionSize(const std::string& model, int32_t kind, uint16_t& width, uint16_t& height) const;

private:
    std::string m_dir;
};

}  // namespace kestrel::record
