#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace Web {
class CHttpTrust;
}

namespace kestrel {

// The camera's address and credentials with the driver's two time limits.
// Copied whole into every HTTP sender.
struct DEVICE_INFO {
    virtual ~DEVICE_INFO() = default;

    uint32_t requestTimeLimitMs = 5000;  // HTTP requests and thread stops
    uint32_t frameTimeLimitMs = 15000;   // without an accepted frame: signal lost
    std::string address;
    uint16_t port = 80;
    std::string userName;
    std::string password;
    std::string serverType;  // the model name; names the model file
    // What the driver object's HTTP senders learn about the camera; every
    // copy of the record shares it.
    std::shared_ptr<Web::CHttpTrust> httpTrust;
};

}  // namespace kestrel
