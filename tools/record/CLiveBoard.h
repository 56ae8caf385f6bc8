#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "tools/record/CLatestPicture.h"
#include "tools/record/ILiveSource.h"

namespace kestrel::record {

// What the recorder shows on its web page: each camera's newest picture,
// the figures of the last status line, its files and its outputs. The
// recorder's main loop replaces the whole set with each status line; the
// server's threads read it.
class CLiveBoard : public ILiveSource {
public:
    using ListRecordings = std::function<std::vector<RecordingFile>()>;
    using SwitchOutputFn = std::function<bool(uint32_t output, bool on, std::string& error)>;

    struct Camera {
        LiveCameraStatus status;
        std::shared_ptr<CLatestPicture> latest;
        ListRecordings recordings;
        SwitchOutputFn switchOutput;
    };

    // A camera no longer in the set has its viewers ended.
    void Update(std::vector<Camera> cameras, double elapsedS);
    // Ends every viewer for good.
    void Close();

    size_t CameraCount() const override;
    double ElapsedS() const override;
    std::vector<LiveCameraStatus> Status() const override;
    std::shared_ptr<CLatestPicture> Latest(size_t index) const override;
    std::vector<RecordingFile> Recordings(size_t index) const override;
    bool SwitchOutput(size_t index, uint32_t output, bool on, std::string& error) override;

private:
    mutable std::mutex m_mutex;
    std::vector<Camera> m_cameras;
    double m_elapsedS = 0;
    std::mutex m_switchMutex;  // one output request at a time
};

}  // namespace kestrel::record
