#include "tools/camsim/CAuthenticator.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>

#include "runtime/TextCompare.h"

namespace camsim {
namespace {

std::string Hex(const unsigned char* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    s.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

using kestrel::StartsWithNoCase;

std::string Lower(std::string s) {
    for (char& c : s) c = kestrel::LowerAscii(c);
    return s;
}

std::string_view WithoutSlash(std::string_view s) { return (!s.empty() && s[0] == '/') ? s.substr(1) : s; }

}  // namespace

CAuthenticator::CAuthenticator(AuthMode mode, std::string user, std::string password, std::string realm)
    : m_mode(mode), m_user(std::move(user)), m_password(std::move(password)), m_realm(std::move(realm)) {
    unsigned char key[16] = {};
    RAND_bytes(key, sizeof key);
    m_secret = Hex(key, sizeof key);
    m_opaque = Md5Hex(m_realm + ":" + m_secret).substr(0, 16);
}

std::string CAuthenticator::Md5Hex(std::string_view text) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), md, &len, EVP_md5(), nullptr);
    return Hex(md, len);
}

bool CAuthenticator::DecodeBase64(std::string_view text, std::string* out) {
    out->clear();
    unsigned value = 0;
    int bits = 0;
    size_t pad = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=') {
            ++pad;
            continue;
        } else
            return false;
        if (pad > 0) return false;  // data after padding
        value = (value << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out->push_back(static_cast<char>((value >> bits) & 0xFF));
        }
    }
    return pad <= 2;
}

bool CAuthenticator::ParseDigest(std::string_view header, std::map<std::string, std::string>* fields) {
    fields->clear();
    if (!StartsWithNoCase(header, "Digest ")) return false;
    size_t i = 7;
    const size_t n = header.size();
    while (i < n) {
        while (i < n && (header[i] == ' ' || header[i] == '\t' || header[i] == ',')) ++i;
        if (i >= n) break;
        const size_t nameStart = i;
        while (i < n && header[i] != '=' && header[i] != ',' && header[i] != ' ') ++i;
        std::string name = Lower(std::string(header.substr(nameStart, i - nameStart)));
        while (i < n && header[i] == ' ') ++i;
        if (i >= n || header[i] != '=') return false;
        ++i;
        while (i < n && header[i] == ' ') ++i;
        std::string value;
        if (i < n && header[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                char c = header[i++];
                if (c == '\\' && i < n) {
                    value.push_back(header[i++]);
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    value.push_back(c);
                }
            }
            if (!closed) return false;
        } else {
            const size_t vs = i;
            while (i < n && header[i] != ',' && header[i] != ' ') ++i;
            value = std::string(header.substr(vs, i - vs));
        }
        if (name.empty()) return false;
        (*fields)[name] = value;
    }
    return true;
}

std::string CAuthenticator::MakeNonce() {
    const uint64_t n = m_nonceCounter.fetch_add(1) + 1;
    char count[17];
    std::snprintf(count, sizeof count, "%016llx", static_cast<unsigned long long>(n));
    return std::string(count) + Md5Hex(std::string(count) + ":" + m_secret).substr(0, 16);
}

bool CAuthenticator::NonceValid(const std::string& nonce) const {
    if (nonce.size() != 32) return false;
    return nonce.substr(16) == Md5Hex(nonce.substr(0, 16) + ":" + m_secret).substr(0, 16);
}

bool CAuthenticator::CheckBasic(std::string_view authorization) const {
    if (!StartsWithNoCase(authorization, "Basic ")) return false;
    std::string_view b64 = authorization.substr(6);
    while (!b64.empty() && b64.front() == ' ') b64.remove_prefix(1);
    while (!b64.empty() && b64.back() == ' ') b64.remove_suffix(1);
    std::string decoded;
    if (!DecodeBase64(b64, &decoded)) return false;
    return decoded == m_user + ":" + m_password;
}

bool CAuthenticator::CheckDigest(std::string_view method, std::string_view target,
                                 std::string_view authorization) const {
    std::map<std::string, std::string> f;
    if (!ParseDigest(authorization, &f)) return false;
    auto get = [&f](const char* k) -> std::string {
        auto it = f.find(k);
        return it == f.end() ? std::string() : it->second;
    };
    if (get("username") != m_user || get("realm") != m_realm || !NonceValid(get("nonce"))) return false;
    const std::string algorithm = Lower(get("algorithm"));
    if (!algorithm.empty() && algorithm != "md5") return false;
    if (f.count("opaque") && get("opaque") != m_opaque) return false;
    // The uri parameter names the request target; a client that adds or
    // drops the leading slash of a slash-less target still matches.
    const std::string uri = get("uri");
    if (uri != target && WithoutSlash(uri) != WithoutSlash(target)) return false;
    const std::string ha1 = Md5Hex(m_user + ":" + m_realm + ":" + m_password);
    const std::string ha2 = Md5Hex(std::string(method) + ":" + uri);
    const std::string qop = get("qop");
    std::string expected;
    if (qop.empty()) {
        expected = Md5Hex(ha1 + ":" + get("nonce") + ":" + ha2);
    } else if (qop == "auth") {
        if (get("nc").empty() || get("cnonce").empty()) return false;
        expected = Md5Hex(ha1 + ":" + get("nonce") + ":" + get("nc") + ":" + get("cnonce") + ":auth:" + ha2);
    } else {
        return false;
    }
    return Lower(get("response")) == expected;
}

bool CAuthenticator::Check(std::string_view method, std::string_view target, std::string_view authorization,
                           std::string* challenge) {
    switch (m_mode) {
    case AuthMode::None:
        return true;
    case AuthMode::Basic:
        if (CheckBasic(authorization)) return true;
        if (challenge) *challenge = "Basic realm=\"" + m_realm + "\"";
        return false;
    case AuthMode::Digest:
        if (CheckDigest(method, target, authorization)) return true;
        if (challenge)
            *challenge = "Digest realm=\"" + m_realm + "\", qop=\"auth\", nonce=\"" + MakeNonce() + "\", opaque=\"" +
                         m_opaque + "\", algorithm=MD5";
        return false;
    }
    return false;
}

}  // namespace camsim
