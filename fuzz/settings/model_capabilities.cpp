// The IP interface's model-file reader on any file: no crash, no throw, and
// a record that keeps the rules of the format whatever the file says.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "fuzz/TempDirectory.h"
#include "settings/ModelCapabilities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzsupport::TempDirectory directory;
    if (!directory.Write("FUZZ.xml", data, size)) return 0;

    kestrel::ModelCapabilities caps;
    std::string root;
    if (!kestrel::ReadModelCapabilities("FUZZ", caps, root, directory.Path())) return 0;

    FUZZ_CHECK(!root.empty());
    FUZZ_CHECK(caps.modelName == "FUZZ");
    FUZZ_CHECK(caps.cameraCount != 0);
    FUZZ_CHECK(caps.resolutions.size() <= 3);
    int32_t previousKind = 0;
    for (size_t i = 0; i < caps.resolutions.size(); ++i) {
        const kestrel::ResolutionEntry& e = caps.resolutions[i];
        FUZZ_CHECK(e.kind >= 2 && e.kind <= 4 && e.kind > previousKind);
        previousKind = e.kind;
        // 1000 / rate: 0 for a rate above 1000 (or one that is negative as
        // unsigned), which lists every interval.
        FUZZ_CHECK(e.minimumInterval <= 1000);
        FUZZ_CHECK(!e.intervals.empty() && e.intervals.front() == 1000);
        for (size_t k = 0; k < e.intervals.size(); ++k) {
            FUZZ_CHECK(e.intervals[k] >= e.minimumInterval);
            if (k > 0) FUZZ_CHECK(e.intervals[k] < e.intervals[k - 1]);
        }
        std::vector<uint32_t> listed;
        for (uint32_t interval : {1000u, 500u, 333u, 250u, 200u, 166u, 125u, 83u, 40u, 33u}) {
            if (interval >= e.minimumInterval) listed.push_back(interval);
        }
        FUZZ_CHECK(e.intervals == listed);
        for (size_t j = 0; j < i; ++j) {
            const kestrel::ResolutionEntry& o = caps.resolutions[j];
            FUZZ_CHECK(e.width == 0 || o.width != e.width || o.height != e.height);
        }
    }
    FUZZ_CHECK(caps.modes.size() <= 2);
    for (int32_t mode : caps.modes) FUZZ_CHECK(mode == 2 || mode == 4);

    // The enumeration walks the modes in order and then says no more.
    int32_t mode = 0;
    size_t walked = 0;
    for (bool more = caps.GetFirstMode(mode); more; more = caps.GetNextMode(mode)) {
        FUZZ_CHECK(walked < caps.modes.size() && mode == caps.modes[walked]);
        ++walked;
    }
    FUZZ_CHECK(walked == caps.modes.size());

    // Read again into the filled record: the same record, nothing doubled.
    kestrel::ModelCapabilities again = caps;
    std::string rootAgain;
    FUZZ_CHECK(kestrel::ReadModelCapabilities("FUZZ", again, rootAgain, directory.Path()));
    FUZZ_CHECK(rootAgain == root && again.modes == caps.modes && again.resolutions.size() == caps.resolutions.size());
    return 0;
}
