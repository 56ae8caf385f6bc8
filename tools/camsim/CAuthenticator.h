#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "tools/camsim/CamsimTypes.h"

namespace camsim {

// Server side of HTTP Basic and Digest (MD5, qop=auth, RFC 7616; the older
// form without qop is accepted too) authentication. Nonces are stateless:
// a counter plus a keyed hash, so any nonce this camera issued verifies.
class CAuthenticator {
public:
    CAuthenticator(AuthMode mode, std::string user, std::string password, std::string realm);

    // True when the request may pass. Otherwise *challenge is the value of
    // the WWW-Authenticate header to send with 401.
    bool Check(std::string_view method, std::string_view target, std::string_view authorization,
               std::string* challenge);
    AuthMode Mode() const { return m_mode; }

    // Splits the parameters of a Digest header ("Digest a=b, c=\"d\"").
    static bool ParseDigest(std::string_view header, std::map<std::string, std::string>* fields);
    static bool DecodeBase64(std::string_view text, std::string* out);
    static std::string Md5Hex(std::string_view text);

private:
    std::string MakeNonce();
    bool NonceValid(const std::string& nonce) const;
    bool CheckBasic(std::string_view authorization) const;
    bool CheckDigest(std::string_view method, std::string_view target, std::string_view authorization) const;

    const AuthMode m_mode;
    const std::string m_user;
    const std::string m_password;
    const std::string m_realm;
    std::string m_secret;
    std::string m_opaque;
    std::atomic<uint64_t> m_nonceCounter{0};
};

}  // namespace camsim
