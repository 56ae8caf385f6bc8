#include "tools/camsim/CCameraFarm.h"

#include <algorithm>

namespace camsim {

CCameraFarm::CCameraFarm(unsigned senderThreads) {
    for (unsigned i = 0; i < std::max(1u, senderThreads); ++i)
        m_schedulers.push_back(std::make_unique<CStreamScheduler>(&m_cache));
}

CCameraFarm::~CCameraFarm() {
    Stop();
    // Cameras go before the schedulers they use.
    m_cameras.clear();
}

bool CCameraFarm::Start(const CameraConfig& base, unsigned count, uint16_t basePort, std::string* error) {
    for (unsigned i = 0; i < count; ++i) {
        CameraConfig c = base;
        c.name = "camera" + std::to_string(i + 1);  // as halyard-record names them
        if (basePort != 0) {
            if (basePort + i > 65535) {
                if (error) *error = "port range ends past 65535";
                Stop();
                m_cameras.clear();
                return false;
            }
            c.httpPort = static_cast<uint16_t>(basePort + i);
        }
        c.faultSeed = base.faultSeed + 1000003ull * i;
        auto cam = std::make_unique<CCamera>(c, m_schedulers[i % m_schedulers.size()].get());
        std::string why;
        if (!cam->Start(&why)) {
            if (error) *error = c.name + ": " + why;
            Stop();
            m_cameras.clear();
            return false;
        }
        m_cameras.push_back(std::move(cam));
    }
    return true;
}

void CCameraFarm::Stop() {
    for (auto& c : m_cameras) c->Stop();
}

}  // namespace camsim
