// A minimal host: asks the driver which frame intervals to offer, once
// linked against libHalyard.so and once loading it with dlopen
// (HALYARD_DLOPEN names the file).
#include <cstdio>
#include <vector>

#include "host/CCaptureAPIEx.h"
#include "host/HalyardExports.h"
#include "host/ICaptureCapabilities.h"
#include "host/IFrameIntervalList.h"

#ifdef HALYARD_DLOPEN
#include <dlfcn.h>
#endif

namespace {

class IntervalList : public IFrameIntervalList {
public:
    void SetDefault(uint32_t interval) override { defaultInterval = interval; }
    void Add(uint32_t interval) override { intervals.push_back(interval); }
    std::vector<uint32_t> intervals;
    uint32_t defaultInterval = 0;
};

class Capabilities : public ICaptureCapabilities {
public:
    void Reserved1() override {}
    void Reserved2() override {}
    void Reserved3() override {}
    void Reserved4() override {}
    void Reserved5() override {}
    void Reserved6() override {}
    void Reserved7() override {}
    IFrameIntervalList* GetList(int32_t which) override { return which == 1 ? &list : nullptr; }
    IntervalList list;
};

}  // namespace

int main() {
#ifdef HALYARD_DLOPEN
    void* library = dlopen(HALYARD_DLOPEN, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    auto query = reinterpret_cast<QueryModelCapabilitiesFn>(dlsym(library, "QueryModelCapabilities"));
    auto create = reinterpret_cast<CreateCaptureFn>(dlsym(library, "CreateCapture"));
    auto destroy = reinterpret_cast<DeleteCaptureFn>(dlsym(library, "DeleteCapture"));
    if (query == nullptr || create == nullptr || destroy == nullptr) {
        std::fprintf(stderr, "an export is missing\n");
        return 1;
    }
#else
    QueryModelCapabilitiesFn query = &QueryModelCapabilities;
    CreateCaptureFn create = &CreateCapture;
    DeleteCaptureFn destroy = &DeleteCapture;
#endif
    Capabilities capabilities;
    if (query(1, 0, &capabilities) != 1) {
        std::fprintf(stderr, "QueryModelCapabilities did not answer\n");
        return 1;
    }
    const std::vector<uint32_t> expected = {66, 100, 125, 166, 200, 250, 333, 500, 1000};
    if (capabilities.list.intervals != expected || capabilities.list.defaultInterval != 200) {
        std::fprintf(stderr, "unexpected frame intervals\n");
        return 1;
    }
    CCaptureAPIEx* driver = create(0);
    const bool driverOk = driver != nullptr && driver->GetCameraCount() == 1 && destroy(&driver) && driver == nullptr;
#ifdef HALYARD_DLOPEN
    dlclose(library);
#endif
    if (!driverOk) {
        std::fprintf(stderr, "driver object not usable\n");
        return 1;
    }
    std::printf("frame intervals:");
    for (uint32_t i : capabilities.list.intervals) std::printf(" %u", i);
    std::printf(", default %u\n", capabilities.list.defaultInterval);
    return 0;
}
