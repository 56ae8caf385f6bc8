#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// Version of the host core module; decides how debug levels are mapped.
struct HostVersion {
    uint16_t major = 5;
    uint16_t minor = 12;
    uint16_t build = 0;
    uint16_t revision = 0;
};

// Reads the version of the host core module loaded in this process: the
// shared object whose file name starts with "libosprey.so"; its version is
// the numeric suffix of its real path. 5.12.0.0 when none can be read.
HostVersion ReadHostCoreVersion();
// The version encoded in a path such as ".../libosprey.so.6.3.1.2"; false
// when the file name carries no number.
bool ParseHostCoreVersion(const std::string& path, HostVersion& version);

// The level the host receives for a message of the given level.
int AdaptDebugLevel(int level, const HostVersion& version);

}  // namespace kestrel
