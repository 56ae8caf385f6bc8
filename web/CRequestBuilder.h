#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "web/HttpRequest.h"

namespace Web {

// What goes on the wire for one attempt of a request, worked out without a
// connection: the transfer only hands it to libcurl.
struct BuiltRequest {
    std::string url;              // scheme://host:port + target
    std::string target;           // the request line's target, exactly as built
    bool follow = false;          // libcurl follows redirects itself
    bool hasBody = false;         // a body is declared (POST-like transfer)
    bool head = false;            // HEAD: no answer body is read
    std::string customVerb;       // the verb when libcurl would not send it on its own; empty otherwise
    size_t declaredLength = 0;    // body bytes announced, may exceed the body given
    bool credentials = false;     // a user is set and the request takes credentials
    uint32_t scheme = 0;          // scheme bit of the request; with credentials, the one they go with (0: held back)
    bool basicInAdvance = false;  // credentials would go as Basic before the camera named its scheme
    bool ignoreCertErrors = false;
    std::vector<std::string> headers;  // lines for libcurl, defaults included
};

// Builds the attempt for a request, a device address and what was learned
// about the camera's authentication. No I/O and no libcurl.
class CRequestBuilder {
public:
    // "host:port" for URLs; false for an address that could smuggle in a
    // path, a user or a second host. IPv6 literals get their brackets.
    static bool HostPort(const std::string& address, uint16_t port, std::string& out);

    // false when the request cannot be put on the wire (verb or header
    // line that would split it). When basicInAdvance is set, the shared
    // trust decides whether the credentials go; held back, scheme is 0.
    static bool Build(const HttpRequest& request, const std::string& hostPort, bool hasUser, uint32_t learnedScheme,
                      BuiltRequest& out);

    // The URL with its target cut down to "/", for a target libcurl cannot
    // parse as a URL: the request line still carries the real one.
    static std::string HostOnlyUrl(const BuiltRequest& built);

private:
    static bool BuildHeaders(const std::vector<std::string>& given, bool hasBody, std::vector<std::string>& lines);
};

}  // namespace Web
