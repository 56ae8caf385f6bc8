#pragma once
#include <openssl/ssl.h>

#include <string>

namespace camsim {

// The camera's HTTPS identity: a server context with a certificate that is
// loaded from PEM files or made on the spot (self-signed, for localhost,
// 127.0.0.1 and the bind address).
class CTlsIdentity {
public:
    CTlsIdentity() = default;
    ~CTlsIdentity();
    CTlsIdentity(const CTlsIdentity&) = delete;
    CTlsIdentity& operator=(const CTlsIdentity&) = delete;

    bool Generate(const std::string& bindAddress, std::string* error);
    bool Load(const std::string& certFile, const std::string& keyFile, std::string* error);

    SSL_CTX* Context() const { return m_ctx; }
    const std::string& CertificatePem() const { return m_certPem; }

private:
    bool MakeContext(X509* cert, EVP_PKEY* key, std::string* error);

    SSL_CTX* m_ctx = nullptr;
    std::string m_certPem;
};

}  // namespace camsim
