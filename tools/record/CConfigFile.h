#pragma once
#include <string>
#include <vector>

#include "tools/record/RecordOptions.h"

namespace kestrel::record {

// The recorder's TOML configuration: settings for every camera at the top,
// then one [[camera]] table per camera that overrides them. Every key is
// checked; the first wrong one is reported with its line.
//
//   model = "SNC-RZ50P"           # defaults for every camera
//   user = "admin"
//   password_file = "/etc/halyard/camera.pw"
//   output = "/var/lib/halyard"
//
//   [[camera]]
//   name = "door"
//   address = "192.168.0.90"
//   fps = 10
class CConfigFile {
public:
    // base: the command line's settings, which the file's override.
    bool Load(const std::string& path, const RecordOptions& base, std::vector<CameraSetup>& cameras);
    bool Parse(const std::string& text, const std::string& path, const RecordOptions& base,
               std::vector<CameraSetup>& cameras);
    // "FILE:LINE: what is wrong".
    const std::string& Error() const { return m_error; }
    // Where recordings go when a camera names no folder of its own.
    const std::string& OutputRoot() const { return m_outputRoot; }

private:
    std::string m_error;
    std::string m_outputRoot;
};

}  // namespace kestrel::record
