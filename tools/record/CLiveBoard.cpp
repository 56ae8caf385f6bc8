#include "tools/record/CLiveBoard.h"

namespace kestrel::record {

CLiveBoard::CLiveBoard(size_t cameras) : m_recordings(cameras), m_switches(cameras), m_status(cameras) {
    for (size_t i = 0; i < cameras; ++i) {
        m_slots.push_back(std::make_unique<CLatestPicture>());
        m_status[i].name = "camera" + std::to_string(i + 1);
        m_status[i].state = "starting";
    }
}

void CLiveBoard::SetCamera(size_t index, ListRecordings recordings, SwitchOutputFn switchOutput) {
    m_recordings.at(index) = std::move(recordings);
    m_switches.at(index) = std::move(switchOutput);
}

void CLiveBoard::Update(std::vector<LiveCameraStatus> status, double elapsedS) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (status.size() == m_slots.size()) m_status = std::move(status);
    m_elapsedS = elapsedS;
}

void CLiveBoard::Close() {
    for (auto& slot : m_slots) slot->Close();
}

double CLiveBoard::ElapsedS() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_elapsedS;
}

std::vector<LiveCameraStatus> CLiveBoard::Status() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status;
}

std::vector<RecordingFile> CLiveBoard::Recordings(size_t index) const {
    if (index >= m_recordings.size() || !m_recordings[index]) return {};
    return m_recordings[index]();
}

bool CLiveBoard::SwitchOutput(size_t index, uint32_t output, bool on, std::string& error) {
    if (index >= m_switches.size() || !m_switches[index]) {
        error = "this camera has no outputs";
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_switches[index](output, on, error);
}

}  // namespace kestrel::record
