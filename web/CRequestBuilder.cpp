#include "web/CRequestBuilder.h"

#include <algorithm>
#include <cstring>

#include "web/HttpText.h"

namespace Web {

bool CRequestBuilder::HostPort(const std::string& address, uint16_t port, std::string& out) {
    if (address.empty()) {
        return false;
    }
    for (const char c : address) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F || std::strchr("/?#@\\", c) != nullptr) {
            return false;
        }
    }
    std::string host = address;
    if (host.find(':') != std::string::npos && host.front() != '[') {
        host = "[" + host + "]";
    }
    out = host + ":" + std::to_string(port);
    return true;
}

bool CRequestBuilder::Build(const HttpRequest& request, const std::string& hostPort, bool hasUser,
                            uint32_t learnedScheme, BuiltRequest& out) {
    out = BuiltRequest{};
    if (!IsHttpToken(request.verb)) {
        return false;
    }
    const bool secure = request.secure == 1;
    out.follow = (request.flags & HttpRequest::FlagNoRedirects) == 0;
    out.target = BuildRequestTarget(request.path, (request.flags & HttpRequest::FlagUnescapedQuery) != 0);
    out.url = (secure ? "https://" : "http://") + hostPort + out.target;

    out.declaredLength = std::max<size_t>(request.body.size(), request.totalLength);
    out.hasBody = out.declaredLength > 0;
    if (out.hasBody) {
        if (request.verb != "POST") out.customVerb = request.verb;
    } else {
        out.head = request.verb == "HEAD";
        if (!out.head && request.verb != "GET") out.customVerb = request.verb;
    }

    // Until the camera names its scheme, Basic goes out in advance only
    // as far as the camera has shown to take it; otherwise the request asks
    // without credentials and learns from the 401.
    out.credentials = hasUser && request.authScheme != HttpRequest::AuthNone;
    out.scheme = learnedScheme != 0 && out.credentials ? learnedScheme : SchemeOfAuthValue(request.authScheme);
    out.basicInAdvance = out.credentials && learnedScheme == 0 && out.scheme == SchemeBasic;
    out.ignoreCertErrors = secure && (request.flags & HttpRequest::FlagIgnoreCertErrors) != 0;

    return BuildHeaders(request.headers, out.hasBody, out.headers);
}

// Caller's lines replace each other by name, then what libcurl would add on
// its own is either replaced by them or switched off.
bool CRequestBuilder::BuildHeaders(const std::vector<std::string>& given, bool hasBody,
                                   std::vector<std::string>& lines) {
    lines.reserve(given.size() + 5);
    for (const std::string& raw : given) {
        std::string line;
        if (!NormalizeHeaderLine(raw, line)) {
            return false;
        }
        const std::string name = HeaderName(line);
        auto same =
            std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return HeaderName(l) == name; });
        if (same != lines.end()) {
            *same = std::move(line);
        } else {
            lines.push_back(std::move(line));
        }
    }
    auto addDefault = [&](const char* name, const char* line) {
        for (const std::string& l : lines) {
            if (HeaderName(l) == name) return;
        }
        lines.emplace_back(line);
    };
    addDefault("accept", "Accept:");
    addDefault("expect", "Expect:");
    if (hasBody) {
        addDefault("content-type", "Content-Type:");
    }
    // Always to the camera itself, never from a cache on the way.
    addDefault("pragma", "Pragma: no-cache");
    addDefault("cache-control", "Cache-Control: no-cache");
    return true;
}

std::string CRequestBuilder::HostOnlyUrl(const BuiltRequest& built) {
    return built.url.substr(0, built.url.size() - built.target.size()) + "/";
}

}  // namespace Web
