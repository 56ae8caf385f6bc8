#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::record {

// One camera to record, as given on the command line.
struct CameraTarget {
    std::string address;
    uint16_t port = 80;
    bool operator==(const CameraTarget&) const = default;
};

enum class DriverInterface { Legacy, IP };

// Container of the video segments; None writes no video.
enum class VideoFormat { None, Matroska, Avi };

// Alarm output switch requested with --output; index counts from 0 here.
struct OutputRequest {
    uint32_t index = 0;
    bool on = false;
    bool operator==(const OutputRequest&) const = default;
};

// Everything the command line decides. The password never leaves this
// process except towards the driver.
struct RecordOptions {
    std::vector<CameraTarget> cameras;
    uint32_t simulated = 0;  // embedded simulated cameras; used when no camera is given
    std::string model = "SNC-RZ50P";
    std::string user;
    std::string password;
    std::string passwordFile;
    bool askPassword = false;
    int32_t resolution = 2;  // 1 QCIF, 2 CIF, 3 2CIF, 4 4CIF
    uint32_t intervalMs = 200;
    int32_t quality = 60;
    int32_t standard = 0;  // 0 PAL, 1 NTSC
    DriverInterface api = DriverInterface::Legacy;
    double durationS = 0;  // 0: until Ctrl-C
    std::string outputDir;
    bool writeJpeg = false;
    VideoFormat video = VideoFormat::Matroska;
    uint32_t segmentS = 600;    // a new video file at each multiple of this on the wall clock
    uint64_t maxDiskBytes = 0;  // video segments of the whole recording; 0: no limit
    double keepDays = 0;        // finished segments older than this go; 0: kept
    bool showInputs = false;
    std::vector<OutputRequest> outputs;
    std::string library;
    bool verbose = false;
    bool quiet = false;                  // no status line, warnings and errors only
    int logLevel = 3;                    // driver messages shown: 1 error, 2 warning, 3 info, 100 debug
    uint32_t firstPictureTimeoutS = 10;  // also the silence after which a camera is reconnected
    uint32_t retryMaxS = 60;             // longest wait between reconnection attempts
    uint16_t httpPort = 0;               // --port / http_port; 0: 80, or 443 with https
    bool https = false;
    bool insecure = false;
    std::string configFile;
    // Live view in the browser; off unless --http is given.
    bool live = false;
    std::string liveAddress = "127.0.0.1";
    uint16_t livePort = 8080;  // 0: any free port, printed at start
    std::string livePasswordFile;
    std::string livePassword;
    bool operator==(const RecordOptions&) const = default;
};

// One camera as the recorder runs it: its own name, folder and settings, so
// that cameras from a configuration file can differ in everything.
struct CameraSetup {
    std::string name;  // camera1, camera2 ... unless the configuration names it
    CameraTarget target;
    std::string folder;  // the camera's files go to FOLDER/
    RecordOptions options;
    bool operator==(const CameraSetup&) const = default;
};

}  // namespace kestrel::record
