#pragma once
#include <memory>
#include <string>
#include <vector>

#include "tools/record/RecordOptions.h"

namespace camsim {
class CCameraFarm;
}

namespace kestrel::record {

class CLogQueue;

// Simulated cameras inside the recorder's process, on free loopback ports,
// so that a recording can be shown on any machine.
class CEmbeddedCameras {
public:
    CEmbeddedCameras();
    ~CEmbeddedCameras();
    CEmbeddedCameras(const CEmbeddedCameras&) = delete;
    CEmbeddedCameras& operator=(const CEmbeddedCameras&) = delete;

    // With a user name the cameras ask for it and the password.
    bool Start(unsigned count, const std::string& user, const std::string& password, CLogQueue* log,
               std::vector<CameraTarget>& targets, std::string& error);
    // Switches sensor 1 of every camera, so that --input has something to show.
    void ToggleSensors();
    void Stop();

private:
    std::unique_ptr<camsim::CCameraFarm> m_farm;
    bool m_sensor = false;
};

}  // namespace kestrel::record
