#include "tools/camsim/CTlsIdentity.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <memory>

namespace camsim {
namespace {

std::string SslError(const char* what) {
    char buf[256] = {};
    ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
    ERR_clear_error();
    return std::string(what) + ": " + buf;
}

struct Deleter {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};

}  // namespace

CTlsIdentity::~CTlsIdentity() {
    if (m_ctx != nullptr) SSL_CTX_free(m_ctx);
}

bool CTlsIdentity::MakeContext(X509* cert, EVP_PKEY* key, std::string* error) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr) {
        if (error) *error = SslError("SSL_CTX_new");
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate(ctx, cert) != 1 || SSL_CTX_use_PrivateKey(ctx, key) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        if (error) *error = SslError("certificate");
        SSL_CTX_free(ctx);
        return false;
    }
    std::unique_ptr<BIO, Deleter> bio(BIO_new(BIO_s_mem()));
    if (bio && PEM_write_bio_X509(bio.get(), cert) == 1) {
        char* data = nullptr;
        const long len = BIO_get_mem_data(bio.get(), &data);
        if (len > 0) m_certPem.assign(data, static_cast<size_t>(len));
    }
    if (m_ctx != nullptr) SSL_CTX_free(m_ctx);
    m_ctx = ctx;
    return true;
}

bool CTlsIdentity::Generate(const std::string& bindAddress, std::string* error) {
    std::unique_ptr<EVP_PKEY, Deleter> key(EVP_EC_gen("P-256"));
    if (!key) {
        if (error) *error = SslError("key generation");
        return false;
    }
    std::unique_ptr<X509, Deleter> cert(X509_new());
    if (!cert) {
        if (error) *error = SslError("X509_new");
        return false;
    }
    X509_set_version(cert.get(), 2);
    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Halyard"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("halyard-camsim"), -1,
                               -1, 0);
    X509_set_issuer_name(cert.get(), name);
    std::string san = "DNS:localhost,IP:127.0.0.1";
    if (!bindAddress.empty() && bindAddress != "127.0.0.1" && bindAddress != "0.0.0.0") san += ",IP:" + bindAddress;
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert.get(), cert.get(), nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Deleter> ext(X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, san.c_str()));
    if (ext) X509_add_ext(cert.get(), ext.get(), -1);
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        if (error) *error = SslError("X509_sign");
        return false;
    }
    return MakeContext(cert.get(), key.get(), error);
}

bool CTlsIdentity::Load(const std::string& certFile, const std::string& keyFile, std::string* error) {
    std::unique_ptr<BIO, Deleter> cb(BIO_new_file(certFile.c_str(), "r"));
    std::unique_ptr<BIO, Deleter> kb(BIO_new_file(keyFile.c_str(), "r"));
    if (!cb || !kb) {
        if (error) *error = "cannot read " + (!cb ? certFile : keyFile);
        ERR_clear_error();
        return false;
    }
    std::unique_ptr<X509, Deleter> cert(PEM_read_bio_X509(cb.get(), nullptr, nullptr, nullptr));
    std::unique_ptr<EVP_PKEY, Deleter> key(PEM_read_bio_PrivateKey(kb.get(), nullptr, nullptr, nullptr));
    if (!cert || !key) {
        if (error) *error = SslError("PEM");
        return false;
    }
    return MakeContext(cert.get(), key.get(), error);
}

}  // namespace camsim
