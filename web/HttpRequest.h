#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Web {

// One HTTP request. Made from a verb and a path, every other field is empty
// and flags is 7 (unescaped query, certificate errors ignored, no redirects).
struct HttpRequest {
    // flags bits
    static constexpr uint32_t FlagUnescapedQuery = 1;
    static constexpr uint32_t FlagIgnoreCertErrors = 2;
    static constexpr uint32_t FlagNoRedirects = 4;
    static constexpr uint32_t FlagSendOnly = 8;

    // authScheme values
    static constexpr uint32_t AuthBasic = 0;
    static constexpr uint32_t AuthNtlm = 1;
    static constexpr uint32_t AuthPassport = 2;
    static constexpr uint32_t AuthDigest = 3;
    static constexpr uint32_t AuthNegotiate = 4;
    static constexpr uint32_t AuthNone = 5;

    HttpRequest() = default;
    HttpRequest(std::string verbText, std::string pathText) : verb(std::move(verbText)), path(std::move(pathText)) {}

    std::string verb;
    std::string path;
    uint32_t secure = 0;
    uint32_t authScheme = AuthBasic;
    std::vector<uint8_t> body;
    uint32_t totalLength = 0;
    std::vector<std::string> headers;
    uint32_t flags = FlagUnescapedQuery | FlagIgnoreCertErrors | FlagNoRedirects;
};

}  // namespace Web
