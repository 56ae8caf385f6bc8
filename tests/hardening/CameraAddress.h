#pragma once
// The loopback address this test program's simulated cameras live on, and
// the one its drivers are pointed at. ctest hands each entry an address of
// its own (tests/CMakeLists.txt), so that a stream another program leaves
// running into a reused RTP port is dropped as a stranger's; run by hand,
// the program uses 127.0.0.1.
#include <cstdlib>
#include <string>

namespace hardening {

inline const std::string& CameraAddress() {
    static const std::string address = [] {
        const char* given = std::getenv("HALYARD_TEST_CAMERA_ADDRESS");
        return std::string(given != nullptr && *given != '\0' ? given : "127.0.0.1");
    }();
    return address;
}

}  // namespace hardening
