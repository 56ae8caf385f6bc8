#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "tools/record/CLatestPicture.h"
#include "tools/record/ILiveSource.h"

namespace kestrel::record {

// What the recorder shows on its web page: the newest picture of each
// camera and the figures of the last status line. The recorder's main loop
// updates it; the server's threads read it.
class CLiveBoard : public ILiveSource {
public:
    using ListRecordings = std::function<std::vector<RecordingFile>()>;
    using SwitchOutputFn = std::function<bool(uint32_t output, bool on, std::string& error)>;

    explicit CLiveBoard(size_t cameras);

    CLatestPicture& Slot(size_t index) { return *m_slots.at(index); }
    // Before the server starts.
    void SetCamera(size_t index, ListRecordings recordings, SwitchOutputFn switchOutput);
    void Update(std::vector<LiveCameraStatus> status, double elapsedS);
    // Wakes every viewer for good.
    void Close();

    size_t CameraCount() const override { return m_slots.size(); }
    double ElapsedS() const override;
    std::vector<LiveCameraStatus> Status() const override;
    const CLatestPicture& Latest(size_t index) const override { return *m_slots.at(index); }
    std::vector<RecordingFile> Recordings(size_t index) const override;
    bool SwitchOutput(size_t index, uint32_t output, bool on, std::string& error) override;

private:
    std::vector<std::unique_ptr<CLatestPicture>> m_slots;
    std::vector<ListRecordings> m_recordings;
    std::vector<SwitchOutputFn> m_switches;
    mutable std::mutex m_mutex;  // guards the figures and serialises output switching
    std::vector<LiveCameraStatus> m_status;
    double m_elapsedS = 0;
};

}  // namespace kestrel::record
