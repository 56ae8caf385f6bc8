#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::record {

class CLatestPicture;

// One camera as the live view shows it; the figures of the status line.
struct LiveCameraStatus {
    std::string name;     // "camera1"
    std::string address;  // "192.168.0.90:80"
    std::string state;    // "streaming", "signal lost", "retrying in 4 s" ...
    double picturesPerS = 0;
    double kbitPerS = 0;
    uint64_t pictures = 0;
    uint64_t lost = 0;
    uint64_t gaps = 0;
    std::vector<int32_t> inputs;  // 0 unknown, 1 off, 2 on
    uint32_t outputs = 0;
};

// A recorded file of one camera, as listed by the recorder.
struct RecordingFile {
    std::string name;     // file name only; what a download asks for
    std::string path;     // where it lies; never built from a request
    int64_t startUs = 0;  // 0 when unknown
    double lengthS = -1;  // negative when unknown
    uint64_t size = 0;
    bool writing = false;  // the file being written now
};

// What the live view reads from the recorder. Every call may come from any
// of the server's threads at any time while the server runs; cameras may
// come and go between calls (the configuration is re-read).
class ILiveSource {
public:
    virtual ~ILiveSource() = default;
    virtual size_t CameraCount() const = 0;
    virtual double ElapsedS() const = 0;
    // One entry per camera, in camera order.
    virtual std::vector<LiveCameraStatus> Status() const = 0;
    // The camera's newest picture, held by the viewer for as long as it
    // watches; index counts from 0. Empty for an unknown camera.
    virtual std::shared_ptr<CLatestPicture> Latest(size_t index) const = 0;
    virtual std::vector<RecordingFile> Recordings(size_t index) const = 0;
    // output counts from 0; false with a reason when it could not be asked for.
    virtual bool SwitchOutput(size_t index, uint32_t output, bool on, std::string& error) = 0;
};

}  // namespace kestrel::record
