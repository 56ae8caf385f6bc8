#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::record {

// One camera to record, as given on the command line.
struct CameraTarget {
    std::string address;
    uint16_t port = 80;
};

enum class DriverInterface { Legacy, IP };

// Alarm output switch requested with --output; index counts from 0 here.
struct OutputRequest {
    uint32_t index = 0;
    bool on = false;
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
    bool writeJpeg = true;
    bool writeAvi = false;
    bool showInputs = false;
    std::vector<OutputRequest> outputs;
    std::string library;
    bool verbose = false;
    uint32_t firstPictureTimeoutS = 10;
    // Live view in the browser; off unless --http is given.
    bool http = false;
    std::string httpAddress = "127.0.0.1";
    uint16_t httpPort = 8080;  // 0: any free port, printed at start
    std::string httpPasswordFile;
    std::string httpPassword;
};

}  // namespace kestrel::record
