#include "web/HttpText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace {

using namespace Web;

uint32_t Scheme(const std::string& value) {
    return FirstAuthScheme(reinterpret_cast<const uint8_t*>(value.data()), value.size());
}

TEST(HttpText, FirstAuthSchemeOfAChallengeList) {
    struct Row {
        const char* value;
        uint32_t scheme;
    };
    // clang-format off
    const Row rows[] = {
        {"Basic realm=\"cam\"", SchemeBasic},
        {"digest realm=\"cam\", nonce=\"abc\", qop=\"auth\"", SchemeDigest},  // case-insensitive
        {"NTLM", SchemeNtlm},
        {"Negotiate", SchemeNegotiate},
        {"Passport1.4 srealm=x", SchemePassport},
        {"Digest realm=\"Basic, NTLM\", nonce=x, Basic realm=y", SchemeDigest},  // names in quotes are values
        {"Bearer realm=x, Basic realm=y", SchemeBasic},   // unknown schemes are passed over
        {"Foo abc==, NTLM", SchemeNtlm},                  // token68 with padding
        {"Foo Basic", 0},                                 // "Basic" is Foo's token68 here
        {"Foo Basic, Digest", SchemeDigest},
        {"  ,  ,Digest", SchemeDigest},                   // empty list elements
        {"Foo realm=\"unterminated, Basic", 0},           // the quote swallows the rest
        {"Foo realm=\"esc\\\"aped\", Basic", SchemeBasic},
        {"", 0},
        {"realm=x", 0},
        {"\x01\x02 Basic", SchemeBasic},                  // stray bytes are stepped over
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(Scheme(row.value), row.scheme) << row.value;
    }
}

// Only schemes the caller can answer count; a forged challenge naming
// others teaches nothing.
TEST(HttpText, FirstAnswerableAuthScheme) {
    const uint32_t answerable = SchemeBasic | SchemeDigest;
    const std::pair<const char*, uint32_t> rows[] = {
        {"NTLM", 0},
        {"Passport1.4 srealm=x", 0},
        {"Negotiate, NTLM", 0},
        {"NTLM, Digest realm=x, nonce=y", SchemeDigest},
        {"Passport1.4 Basic, Basic realm=x", SchemeBasic},  // the first "Basic" is Passport's token68
        {"Basic realm=x, Digest realm=y", SchemeBasic},
    };
    for (const auto& [value, scheme] : rows) {
        EXPECT_EQ(FirstAuthScheme(reinterpret_cast<const uint8_t*>(value), std::strlen(value), answerable), scheme)
            << value;
    }
}

TEST(HttpText, AuthSchemeValuesMapToBits) {
    const uint32_t expected[] = {SchemeBasic,     SchemeNtlm,      SchemePassport, SchemeDigest, SchemeNegotiate,
                                 SchemeNegotiate, SchemeNegotiate, SchemeNegotiate};  // bit 4 is tested first
    for (uint32_t value = 0; value < 8; ++value) EXPECT_EQ(SchemeOfAuthValue(value), expected[value]) << value;
}

TEST(HttpText, StatusLines) {
    struct Row {
        std::string line;
        uint32_t code;
    };
    // clang-format off
    const Row rows[] = {
        {"HTTP/1.1 200 OK\r\n", 200},
        {"HTTP/1.0 401 Unauthorized\r\n", 401},
        {"HTTP/1.1 204\r\n", 204},        // no reason phrase
        {"HTTP/2 404 \r\n", 404},
        {"HTTP/1.1 2000 OK\r\n", 0},      // four digits
        {"HTTP/1.1 20\r\n", 0},           // truncated code
        {"HTTP/1.1 ", 0},                 // truncated after the version
        {"HTTP/", 0},                     // only the protocol name
        {"HTTP", 0},                      // shorter than the protocol name
        {"Content-Length: 200\r\n", 0},   // a header, not a status line
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(ParseStatusLine(reinterpret_cast<const uint8_t*>(row.line.data()), row.line.size()), row.code)
            << row.line;
    }
}

TEST(HttpText, DecimalValuesThatFit32Bits) {
    struct Row {
        std::string text;
        bool ok;
        uint32_t value;
    };
    // clang-format off
    const Row rows[] = {
        {" 1234", true, 1234},
        {"0", true, 0},
        {"4294967295", true, 4294967295u},
        {"4294967296", false, 0},        // one past 32 bits
        {" 12 \r\n", true, 12},
        {"", false, 0},
        {"-1", false, 0},
        {"12, 12", false, 0},            // a list is not one number
        {"0x10", false, 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        uint32_t value = 0;
        EXPECT_EQ(ParseDecimalU32(reinterpret_cast<const uint8_t*>(row.text.data()), row.text.size(), value), row.ok)
            << row.text;
        if (row.ok) {
            EXPECT_EQ(value, row.value) << row.text;
        }
    }
}

TEST(HttpText, RequestTargets) {
    struct Row {
        const char* path;
        bool unescapedQuery;
        const char* target;
    };
    // clang-format off
    const Row rows[] = {
        {"/command/camera.cgi?JpFrameRate=8", true, "/command/camera.cgi?JpFrameRate=8"},
        {"mjpeg?UdpMode=unicast&UdpPort=3556", true, "/mjpeg?UdpMode=unicast&UdpPort=3556"},
        {"command/main.cgi?trigger=alarmout1on", true, "/command/main.cgi?trigger=alarmout1on"},
        {"/a/../b?x=%41", true, "/a/../b?x=%41"},          // no normalising, escapes kept
        {"/p?q={1}|\"", true, "/p?q={1}|\""},               // query as given
        {"/p?q={1}|\"", false, "/p?q=%7B1%7D%7C%22"},       // escaped without flag 1
        {"/{x}?q", true, "/%7Bx%7D?q"},                     // the path part is always escaped
        {"/a b?c d", true, "/a%20b?c%20d"},                 // blanks never go out raw
        {"/x?a\r\nInjected: 1", true, "/x?a%0D%0AInjected:%201"},
        {"/p?\xC3\xA9", false, "/p?%C3%A9"},
        {"/p#frag", true, "/p#frag"},
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(BuildRequestTarget(row.path, row.unescapedQuery), row.target) << row.path;
    }
}

TEST(HttpText, HeaderLines) {
    struct Row {
        const char* line;
        bool ok;
        const char* normalized;
    };
    // clang-format off
    const Row rows[] = {
        {"X-Camera: 1", true, "X-Camera: 1"},
        {"X-Camera:1\r\n", true, "X-Camera: 1"},     // one trailing line end is allowed
        {"X-Empty:", true, "X-Empty;"},              // empty value, libcurl's spelling
        {"X-Two: a\r\nX-Three: b", false, ""},       // two lines in one
        {"X-Nul: a\nb", false, ""},
        {"No colon", false, ""},
        {": value", false, ""},
        {"Bad Name: v", false, ""},
    };
    // clang-format on
    for (const Row& row : rows) {
        std::string out;
        EXPECT_EQ(NormalizeHeaderLine(row.line, out), row.ok) << row.line;
        if (row.ok) {
            EXPECT_EQ(out, row.normalized) << row.line;
        }
    }
}

}  // namespace
