#include "tools/record/CSelfSignedCertificate.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

namespace kestrel::record {

namespace {

std::string SslError(const char* what) {
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    ERR_clear_error();
    return std::string(what) + ": " + text;
}

bool IsIpv4(const std::string& text) {
    in_addr addr{};
    return ::inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

}  // namespace

CSelfSignedCertificate::~CSelfSignedCertificate() {
    X509_free(m_cert);
    EVP_PKEY_free(m_key);
}

bool CSelfSignedCertificate::Generate(const std::string& hostAddress, std::string& error) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    auto fail = [&](const char* what) {
        error = SslError(what);
        X509_free(cert);
        EVP_PKEY_free(key);
        return false;
    };
    if (key == nullptr || cert == nullptr) return fail("key generation");
    X509_set_version(cert, 2);
    unsigned char serial[8];
    if (RAND_bytes(serial, sizeof serial) != 1) return fail("random serial");
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    if (bn == nullptr || BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert)) == nullptr) {
        BN_free(bn);
        return fail("serial");
    }
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 825L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Halyard"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("halyard-record"), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    std::string san = "DNS:localhost,IP:127.0.0.1";
    if (IsIpv4(hostAddress) && hostAddress != "127.0.0.1" && hostAddress != "0.0.0.0") san += ",IP:" + hostAddress;
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, san.c_str());
    if (ext == nullptr) return fail("subject names");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    if (X509_sign(cert, key, EVP_sha256()) == 0) return fail("signature");
    X509_free(m_cert);
    EVP_PKEY_free(m_key);
    m_cert = cert;
    m_key = key;
    return true;
}

std::string CSelfSignedCertificate::Sha256Fingerprint() const {
    if (m_cert == nullptr) return "";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(m_cert, EVP_sha256(), digest, &length) != 1) return "";
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0) text += ':';
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

}  // namespace kestrel::record
