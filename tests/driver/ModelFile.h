#pragma once
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace drivertest {

// A model file written beside the test executable, where the driver looks
// for it, and removed again.
class ModelFile {
public:
    ModelFile(const std::string& model, const std::string& body) {
        char exe[4096] = {0};
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof(exe) - 1);
        std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string("./x");
        dir = dir.substr(0, dir.find_last_of('/') + 1);
        m_path = dir + model + ".xml";
        std::ofstream(m_path) << body;
    }
    ~ModelFile() { std::remove(m_path.c_str()); }
    ModelFile(const ModelFile&) = delete;
    ModelFile& operator=(const ModelFile&) = delete;

private:
    std::string m_path;
};

// A PAL model with QCIF and CIF (and optionally 4CIF), maximum 25 fps.
inline std::string PalModel(const std::string& extra = "", int maxRate = 25) {
    return "<?xml version=\"1.0\"?>\n<sony>\n"
           "  <quality><min value=\"20\"/><max value=\"80\"/></quality>\n"
           "  <rtp><keepalive value=\"30\"/></rtp>\n"
           "  <resolutions>\n"
           "    <qcif value=\"true\"/><qcifx value=\"176\"/><qcify value=\"144\"/>\n"
           "    <cif value=\"TRUE\"/><cifx value=\"352\"/><cify value=\"288\"/>\n"
           "  </resolutions>\n"
           "  <framerate><max value=\"" + std::to_string(maxRate) + "\"/><res1 value=\"25\"/></framerate>\n" +
           extra + "</sony>\n";
}

}  // namespace drivertest
