#include "tools/record/CModelDirectory.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <pugixml.hpp>

namespace kestrel::record {

std::string CModelDirectory::ExecutableDirectory() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return "./";
    std::string dir(path, static_cast<size_t>(n));
    return dir.substr(0, dir.find_last_of('/') + 1);
}

bool CModelDirectory::Has(const std::string& model) const {
    struct stat st {};
    const std::string path = m_dir + model + ".xml";
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> CModelDirectory::List() const {
    std::vector<std::string> models;
    DIR* dir = ::opendir(m_dir.c_str());
    if (dir == nullptr) return models;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0) {
            models.push_back(name.substr(0, name.size() - 4));
        }
    }
    ::closedir(dir);
    std::sort(models.begin(), models.end());
    return models;
}

bool CModelDirectory::ResolutionSize(const std::string& model, int32_t kind, uint16_t& width, uint16_t& height) const {
    static const char* const kNames[] = {nullptr, "qcif", "cif", "cif2", "cif4"};
    if (kind < 1 || kind > 4) return false;
    pugi::xml_document doc;
    if (!doc.load_file((m_dir + model + ".xml").c_str())) return false;
    const pugi::xml_node root = doc.document_element();
    const pugi::xml_node resolutions = root.child("resolutions");
    const std::string name = kNames[kind];
    const long w = std::atol(resolutions.child((name + "x").c_str()).attribute("value").value());
    const long h = std::atol(resolutions.child((name + "y").c_str()).attribute("value").value());
    if (w <= 0 || h <= 0 || w > 65535 || h > 65535) return false;
    width = static_cast<uint16_t>(w);
    height = static_cast<uint16_t>(h);
    return true;
}

}  // namespace kestrel::record
