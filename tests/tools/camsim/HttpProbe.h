#pragma once
#include <cstdint>
#include <string>

namespace camsim_test {

struct HttpAnswer {
    long status = 0;        // 0: no answer
    std::string body;
    std::string headers;
    int curlCode = 0;
};

// A client for the simulator's web server in the tests: libcurl for the
// ordinary cases, a raw socket where the exact request line matters.
class HttpProbe {
public:
    enum class Auth { None, Basic, Digest, Any };
    static HttpAnswer Get(const std::string& url, Auth auth = Auth::None, const std::string& user = "",
                          const std::string& password = "", long timeoutMs = 5000);
    // Sends requestText as is and reads until the server closes; the whole
    // answer, or "" when the connection closed without one.
    static std::string Raw(uint16_t port, const std::string& requestText, int timeoutMs = 5000);
};

}  // namespace camsim_test
