#include "web/CRequestBuilder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/HttpText.h"

namespace {

using Web::BuiltRequest;
using Web::CRequestBuilder;
using Web::HttpRequest;

TEST(CRequestBuilder, HostPortRefusesAddressesThatReachElsewhere) {
    struct Row {
        const char* address;
        const char* hostPort;  // nullptr: refused
    };
    // clang-format off
    const Row rows[] = {
        {"10.0.0.5", "10.0.0.5:8080"},
        {"cam.local", "cam.local:8080"},
        {"fe80::1", "[fe80::1]:8080"},  // a literal gets its brackets
        {"[::1]", "[::1]:8080"},         // once
        {"", nullptr},
        {"evil.com/x", nullptr},
        {"user@cam", nullptr},
        {"cam?x", nullptr},
        {"cam#x", nullptr},
        {"cam\\x", nullptr},
        {"cam x", nullptr},
        {"cam\x7f", nullptr},
        {"cam\r\nHost: other", nullptr},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        std::string out = "unchanged";
        EXPECT_EQ(CRequestBuilder::HostPort(row.address, 8080, out), row.hostPort != nullptr);
        EXPECT_EQ(out, row.hostPort != nullptr ? row.hostPort : "unchanged");
    }
}

TEST(CRequestBuilder, VerbBodyAndTargetDecideTheTransfer) {
    struct Row {
        const char* verb;
        const char* path;
        size_t body;
        uint32_t totalLength;
        uint32_t flags;
        uint32_t secure;
        bool built;
        const char* url;
        const char* customVerb;
        bool hasBody, head, follow;
        size_t declared;
    };
    const uint32_t plain = HttpRequest::FlagUnescapedQuery | HttpRequest::FlagNoRedirects;
    const Row rows[] = {
        {"GET", "/a?b=c d", 0, 0, plain, 0, true, "http://h:80/a?b=c%20d", "", false, false, false, 0},
        {"GET", "x", 0, 0, plain, 1, true, "https://h:80/x", "", false, false, false, 0},  // "/" added
        {"GET", "/r", 0, 0, HttpRequest::FlagUnescapedQuery, 0, true, "http://h:80/r", "", false, false, true, 0},
        {"HEAD", "/", 0, 0, plain, 0, true, "http://h:80/", "", false, true, false, 0},
        {"DELETE", "/", 0, 0, plain, 0, true, "http://h:80/", "DELETE", false, false, false, 0},
        {"POST", "/p", 3, 0, plain, 0, true, "http://h:80/p", "", true, false, false, 3},
        {"PUT", "/p", 3, 0, plain, 0, true, "http://h:80/p", "PUT", true, false, false, 3},
        {"POST", "/p", 3, 10, plain, 0, true, "http://h:80/p", "", true, false, false, 10},  // rest comes later
        {"POST", "/p", 0, 10, plain, 0, true, "http://h:80/p", "", true, false, false, 10},
        {"POST", "/p", 5, 2, plain, 0, true, "http://h:80/p", "", true, false, false, 5},  // never less than given
        {"GET /x HTTP/1.1\r\n", "/", 0, 0, plain, 0, false, "", "", false, false, false, 0},
        {"G T", "/", 0, 0, plain, 0, false, "", "", false, false, false, 0},
        {"", "/", 0, 0, plain, 0, false, "", "", false, false, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.verb) + " " + row.path);
        HttpRequest request(row.verb, row.path);
        request.body.assign(row.body, 'b');
        request.totalLength = row.totalLength;
        request.flags = row.flags;
        request.secure = row.secure;
        BuiltRequest built;
        ASSERT_EQ(CRequestBuilder::Build(request, "h:80", false, 0, built), row.built);
        if (!row.built) continue;
        EXPECT_EQ(built.url, row.url);
        EXPECT_EQ(built.customVerb, row.customVerb);
        EXPECT_EQ(built.hasBody, row.hasBody);
        EXPECT_EQ(built.head, row.head);
        EXPECT_EQ(built.follow, row.follow);
        EXPECT_EQ(built.declaredLength, row.declared);
        EXPECT_EQ(built.url.substr(built.url.find("h:80") + 4), built.target);
    }
    BuiltRequest built;
    ASSERT_TRUE(CRequestBuilder::Build(HttpRequest("GET", "/a b?c"), "[::1]:81", false, 0, built));
    EXPECT_EQ(CRequestBuilder::HostOnlyUrl(built), "http://[::1]:81/");
}

// The credentials go with the learned scheme, else with the request's own;
// Basic before anything is learned is the shared trust's call.
TEST(CRequestBuilder, AuthenticationDecision) {
    struct Row {
        bool hasUser;
        uint32_t authScheme;
        uint32_t learned;
        bool credentials;
        uint32_t scheme;
        bool basicInAdvance;
    };
    // clang-format off
    const Row rows[] = {
        {true, HttpRequest::AuthBasic, 0, true, Web::SchemeBasic, true},
        {true, HttpRequest::AuthBasic, Web::SchemeDigest, true, Web::SchemeDigest, false},
        {true, HttpRequest::AuthBasic, Web::SchemeBasic, true, Web::SchemeBasic, false},
        {true, HttpRequest::AuthDigest, 0, true, Web::SchemeDigest, false},
        {true, HttpRequest::AuthNtlm, Web::SchemeDigest, true, Web::SchemeDigest, false},
        {true, HttpRequest::AuthNone, Web::SchemeDigest, false, Web::SchemeNegotiate, false},  // value 5 names Negotiate
        {false, HttpRequest::AuthBasic, 0, false, Web::SchemeBasic, false},
        {false, HttpRequest::AuthDigest, Web::SchemeBasic, false, Web::SchemeDigest, false},  // learned only counts with a user
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.hasUser << " " << row.authScheme << " " << row.learned);
        HttpRequest request("GET", "/");
        request.authScheme = row.authScheme;
        BuiltRequest built;
        ASSERT_TRUE(CRequestBuilder::Build(request, "h:80", row.hasUser, row.learned, built));
        EXPECT_EQ(built.credentials, row.credentials);
        EXPECT_EQ(built.scheme, row.scheme);
        EXPECT_EQ(built.basicInAdvance, row.basicInAdvance);
    }
}

TEST(CRequestBuilder, CallerHeadersReplaceEachOtherAndTheDefaults) {
    struct Row {
        std::vector<std::string> given;
        size_t body;
        std::vector<std::string> lines;  // nothing: refused
        bool built;
    };
    const Row rows[] = {
        {{}, 0, {"Accept:", "Expect:", "Pragma: no-cache", "Cache-Control: no-cache"}, true},
        {{}, 1, {"Accept:", "Expect:", "Content-Type:", "Pragma: no-cache", "Cache-Control: no-cache"}, true},
        {{"X-A: 1", "x-a: 2", "accept: image/jpeg"},
         0,
         {"x-a: 2", "accept: image/jpeg", "Expect:", "Pragma: no-cache", "Cache-Control: no-cache"},
         true},
        {{"Content-Type: text/xml", "Cache-Control: max-age=0"},
         1,
         {"Content-Type: text/xml", "Cache-Control: max-age=0", "Accept:", "Expect:", "Pragma: no-cache"},
         true},
        {{"X: a\r\nHost: evil"}, 0, {}, false},
        {{": no name"}, 0, {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.given.empty() ? std::string("none") : row.given.front());
        HttpRequest request(row.body != 0 ? "POST" : "GET", "/");
        request.body.assign(row.body, 'b');
        request.headers = row.given;
        BuiltRequest built;
        ASSERT_EQ(CRequestBuilder::Build(request, "h:80", false, 0, built), row.built);
        if (row.built) {
            EXPECT_EQ(built.headers, row.lines);
        }
    }
}

TEST(CRequestBuilder, CertificateErrorsAreIgnoredOnlyWhenAskedAndSecure) {
    for (const uint32_t secure : {0u, 1u}) {
        for (const bool ignore : {false, true}) {
            HttpRequest request("GET", "/");
            request.secure = secure;
            request.flags = ignore ? HttpRequest::FlagIgnoreCertErrors : 0;
            BuiltRequest built;
            ASSERT_TRUE(CRequestBuilder::Build(request, "h:443", false, 0, built));
            EXPECT_EQ(built.ignoreCertErrors, secure == 1 && ignore);
        }
    }
}

}  // namespace
