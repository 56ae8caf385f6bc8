#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/camsim/CCamera.h"
#include "tools/camsim/CPictureCache.h"
#include "tools/camsim/CStreamScheduler.h"

namespace camsim {

// Many cameras in one process, one web server port each, sharing a small
// pool of sending threads and one picture cache.
class CCameraFarm {
public:
    explicit CCameraFarm(unsigned senderThreads = 1);
    ~CCameraFarm();
    CCameraFarm(const CCameraFarm&) = delete;
    CCameraFarm& operator=(const CCameraFarm&) = delete;

    // Camera i listens on basePort + i (each on a free port when basePort
    // is 0) and is named "cam<i>". Stops the ones started on failure.
    bool Start(const CameraConfig& base, unsigned count, uint16_t basePort, std::string* error);
    // Stops every camera; their figures stay readable until destruction.
    void Stop();

    size_t Size() const { return m_cameras.size(); }
    CCamera& At(size_t i) { return *m_cameras[i]; }
    const CCamera& At(size_t i) const { return *m_cameras[i]; }

private:
    CPictureCache m_cache;
    std::vector<std::unique_ptr<CStreamScheduler>> m_schedulers;
    std::vector<std::unique_ptr<CCamera>> m_cameras;
};

}  // namespace camsim
