#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Text handling of the HTTP sender that does not need a connection: the
// request target, header lines, and the parts of a response head it reads.
namespace Web {

// Authentication scheme bits, numbered as the camera-facing code knows them.
constexpr uint32_t SchemeBasic = 1;
constexpr uint32_t SchemeNtlm = 2;
constexpr uint32_t SchemePassport = 4;
constexpr uint32_t SchemeDigest = 8;
constexpr uint32_t SchemeNegotiate = 16;

// The request's authScheme value (0..5) as a scheme bit.
uint32_t SchemeOfAuthValue(uint32_t authScheme);

// The first scheme a WWW-Authenticate value names that is among `accepted`
// (scheme bits), or 0.
//   value = challenge *( "," challenge )
//   challenge = scheme [ 1*SP ( token68 / auth-param *( "," auth-param ) ) ]
//   auth-param = token "=" ( token / quoted-string )
uint32_t FirstAuthScheme(const uint8_t* value, size_t size, uint32_t accepted = 0x1F);

// Status code of a status line "HTTP/x.y NNN reason"; 0 when it is not one.
uint32_t ParseStatusLine(const uint8_t* line, size_t size);

// A decimal header value (optional blanks around it) that fits 32 bits.
bool ParseDecimalU32(const uint8_t* text, size_t size, uint32_t& value);

// The request target for a path: a leading "/" is added when missing.
// Blanks and control bytes never go out raw (they would break the request
// line); other unsafe bytes are escaped in the path and, unless
// unescapedQuery, in the query.
std::string BuildRequestTarget(const std::string& path, bool unescapedQuery);

// A caller's header line "Name: value" in the form libcurl takes; false when
// the line is not one header (no name, bytes that would split it).
bool NormalizeHeaderLine(const std::string& line, std::string& out);

// Name part of a normalized header line, for replacing by name.
std::string HeaderName(const std::string& normalized);

// True when a verb is a plain HTTP token.
bool IsHttpToken(const std::string& text);

}  // namespace Web
