#include "tools/record/CLiveBoard.h"

#include <algorithm>

namespace kestrel::record {

void CLiveBoard::Update(std::vector<Camera> cameras, double elapsedS) {
    std::vector<std::shared_ptr<CLatestPicture>> gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& old : m_cameras) {
            const bool kept =
                std::any_of(cameras.begin(), cameras.end(), [&](const Camera& c) { return c.latest == old.latest; });
            if (!kept && old.latest) gone.push_back(old.latest);
        }
        m_cameras = std::move(cameras);
        m_elapsedS = elapsedS;
    }
    for (auto& slot : gone) slot->Close();
}

void CLiveBoard::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& camera : m_cameras) {
        if (camera.latest) camera.latest->Close();
    }
}

size_t CLiveBoard::CameraCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cameras.size();
}

double CLiveBoard::ElapsedS() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_elapsedS;
}

std::vector<LiveCameraStatus> CLiveBoard::Status() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<LiveCameraStatus> status;
    for (const auto& camera : m_cameras) status.push_back(camera.status);
    return status;
}

std::shared_ptr<CLatestPicture> CLiveBoard::Latest(size_t index) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return index < m_cameras.size() ? m_cameras[index].latest : nullptr;
}

std::vector<RecordingFile> CLiveBoard::Recordings(size_t index) const {
    ListRecordings list;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index < m_cameras.size()) list = m_cameras[index].recordings;
    }
    return list ? list() : std::vector<RecordingFile>{};  // the folder is read without the lock
}

bool CLiveBoard::SwitchOutput(size_t index, uint32_t output, bool on, std::string& error) {
    SwitchOutputFn switchOutput;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (index < m_cameras.size()) switchOutput = m_cameras[index].switchOutput;
    }
    if (!switchOutput) {
        error = "this camera has no outputs";
        return false;
    }
    std::lock_guard<std::mutex> lock(m_switchMutex);
    return switchOutput(output, on, error);
}

}  // namespace kestrel::record
