// The driver's model-file reader on any file: no crash, no throw, and a
// result that agrees with itself (reading the same file twice changes
// nothing; what is called supported has a size).
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzInput.h"
#include "fuzz/TempDirectory.h"
#include "settings/DriverConfiguration.h"

namespace {

bool Same(const kestrel::DriverConfiguration& a, const kestrel::DriverConfiguration& b) {
    for (int i = 0; i < 4; ++i) {
        if (a.width[i] != b.width[i] || a.height[i] != b.height[i] || a.supported[i] != b.supported[i] ||
            a.maxFpsRes[i] != b.maxFpsRes[i]) {
            return false;
        }
    }
    return a.qualityMin == b.qualityMin && a.qualityMax == b.qualityMax && a.rtpKeepAlive == b.rtpKeepAlive &&
           a.videoMode == b.videoMode && a.configuredInputCount == b.configuredInputCount &&
           a.configuredOutputCount == b.configuredOutputCount && a.cameraCount == b.cameraCount &&
           a.maxFrameRate == b.maxFrameRate;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzsupport::TempDirectory directory;
    if (!directory.Write("FUZZ.xml", data, size)) return 0;

    kestrel::DriverConfiguration config;
    const bool read = kestrel::ReadDriverConfiguration(config, "sony", "FUZZ.xml", directory.Path());
    bool anySupported = false;
    for (int i = 0; i < 4; ++i) {
        if (config.supported[i]) {
            anySupported = true;
            FUZZ_CHECK(config.width[i] > 0 && config.height[i] > 0);
        }
    }
    FUZZ_CHECK(read == anySupported);
    if (read) FUZZ_CHECK(config.cameraCount == 1);

    // A later open of the same file keeps what the first one read.
    kestrel::DriverConfiguration again = config;
    FUZZ_CHECK(kestrel::ReadDriverConfiguration(again, "sony", "FUZZ.xml", directory.Path()) == read);
    FUZZ_CHECK(Same(config, again));
    return 0;
}
