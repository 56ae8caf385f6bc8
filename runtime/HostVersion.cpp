#include "runtime/HostVersion.h"

#include <link.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrel {

namespace {

constexpr const char kModulePrefix[] = "libosprey.so";

int CollectModule(struct dl_phdr_info* info, size_t, void* data) {
    auto* paths = static_cast<std::vector<std::string>*>(data);
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
    const char* slash = std::strrchr(info->dlpi_name, '/');
    const char* base = slash ? slash + 1 : info->dlpi_name;
    if (std::strncmp(base, kModulePrefix, sizeof(kModulePrefix) - 1) == 0) {
        paths->emplace_back(info->dlpi_name);
    }
    return 0;
}

}  // namespace

bool ParseHostCoreVersion(const std::string& path, HostVersion& version) {
    const size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.compare(0, sizeof(kModulePrefix) - 1, kModulePrefix) != 0) return false;
    std::string rest = base.substr(sizeof(kModulePrefix) - 1);
    if (rest.empty() || rest[0] != '.') return false;
    uint16_t parts[4] = {0, 0, 0, 0};
    size_t index = 0;
    size_t pos = 1;
    while (pos <= rest.size() && index < 4) {
        size_t end = rest.find('.', pos);
        if (end == std::string::npos) end = rest.size();
        const std::string piece = rest.substr(pos, end - pos);
        if (piece.empty() || piece.size() > 5 || piece.find_first_not_of("0123456789") != std::string::npos) break;
        const unsigned long value = std::strtoul(piece.c_str(), nullptr, 10);
        if (value > 0xFFFF) break;
        parts[index++] = static_cast<uint16_t>(value);
        pos = end + 1;
    }
    if (index == 0) return false;
    version = HostVersion{parts[0], parts[1], parts[2], parts[3]};
    return true;
}

HostVersion ReadHostCoreVersion() {
    std::vector<std::string> paths;
    dl_iterate_phdr(CollectModule, &paths);
    for (const std::string& path : paths) {
        char resolved[PATH_MAX];
        const std::string real = ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
        HostVersion version;
        if (ParseHostCoreVersion(real, version)) return version;
    }
    return HostVersion{};
}

int AdaptDebugLevel(int level, const HostVersion& version) {
    const uint32_t v = (static_cast<uint32_t>(version.major) << 16) | version.minor;
    const uint32_t v512 = (5u << 16) | 12u;
    const uint32_t v63 = (6u << 16) | 3u;
    if (v < v512) {
        if (level == 3 || level == 100) return 2;
    } else if (v < v63) {
        if (level == 100) return 3;
    }
    return level;
}

}  // namespace kestrel
