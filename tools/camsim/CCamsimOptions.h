#pragma once
// halyard-camsim's command line: read, checked as a whole and turned into
// the settings every camera starts from.
//
//   camsim::CCamsimOptions options;
//   if (auto status = options.Parse(argc, argv, std::cout, std::cerr)) return *status;
//   farm.Start(options.camera, options.cameras, options.port, &error);
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "tools/camsim/CamsimTypes.h"

namespace camsim {

class CCamsimOptions {
public:
    // The exit status when the program ends here (help, a bad or refused
    // option; the reason written to err), nullopt to run.
    std::optional<int> Parse(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

    CameraConfig camera;  // no log function: the caller sets one
    uint16_t port = 0;
    unsigned cameras = 1;
    unsigned senderThreads = 1;
    // --stream-to ADDR:PORT; streamPort 0 when absent.
    std::string streamHost;
    uint16_t streamPort = 0;
    double durationSeconds = 0;
    bool quiet = false;
};

}  // namespace camsim
