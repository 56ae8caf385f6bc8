#include "tools/record/CEmbeddedCameras.h"

#include "tools/record/CLogQueue.h"

#ifdef HALYARD_RECORD_SIMULATOR
#include "tools/camsim/CCameraFarm.h"
#else
// Built without the simulator library: the recorder then needs --camera.
namespace camsim {
class CCameraFarm {};
}  // namespace camsim
#endif

namespace kestrel::record {

CEmbeddedCameras::CEmbeddedCameras() = default;

CEmbeddedCameras::~CEmbeddedCameras() { Stop(); }

#ifdef HALYARD_RECORD_SIMULATOR
bool CEmbeddedCameras::Start(unsigned count, const std::string& user, const std::string& password, CLogQueue* log,
                             std::vector<CameraTarget>& targets, std::string& error) {
    camsim::CameraConfig config;
    if (!user.empty()) {
        config.auth = camsim::AuthMode::Basic;
        config.user = user;
        config.password = password;
    }
    if (log != nullptr) {
        config.log = [log](const std::string& line) { log->Post("simulator: " + line); };
    }
    m_farm = std::make_unique<camsim::CCameraFarm>(count > 8 ? 2u : 1u);
    if (!m_farm->Start(config, count, 0, &error)) {
        m_farm.reset();
        if (error.empty()) error = "the simulated camera did not start";
        return false;
    }
    targets.clear();
    for (size_t i = 0; i < m_farm->Size(); ++i) {
        CameraTarget target;
        target.address = "127.0.0.1";
        target.port = m_farm->At(i).Port();
        targets.push_back(target);
    }
    return true;
}

void CEmbeddedCameras::ToggleSensors() {
    if (!m_farm) return;
    m_sensor = !m_sensor;
    for (size_t i = 0; i < m_farm->Size(); ++i) m_farm->At(i).SetSensor(1, m_sensor);
}

void CEmbeddedCameras::Stop() {
    if (m_farm) m_farm->Stop();
    m_farm.reset();
}
#else
bool CEmbeddedCameras::Start(unsigned, const std::string&, const std::string&, CLogQueue*, std::vector<CameraTarget>&,
                             std::string& error) {
    error = "this build has no camera simulator; give a camera with --camera";
    return false;
}

void CEmbeddedCameras::ToggleSensors() { m_sensor = !m_sensor; }

void CEmbeddedCameras::Stop() { m_farm.reset(); }
#endif

}  // namespace kestrel::record
