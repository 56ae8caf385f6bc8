#pragma once
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

namespace kestrel::record {

// A certificate and key made at start for the live view's HTTPS: nothing to
// set up, and the fingerprint printed at start lets a user check what the
// browser shows.
class CSelfSignedCertificate {
public:
    CSelfSignedCertificate() = default;
    ~CSelfSignedCertificate();
    CSelfSignedCertificate(const CSelfSignedCertificate&) = delete;
    CSelfSignedCertificate& operator=(const CSelfSignedCertificate&) = delete;

    // hostAddress goes into the certificate's names beside localhost and 127.0.0.1.
    bool Generate(const std::string& hostAddress, std::string& error);

    X509* Certificate() const { return m_cert; }
    EVP_PKEY* Key() const { return m_key; }
    // "AB:CD:..." over the DER form, as browsers show it.
    std::string Sha256Fingerprint() const;

private:
    X509* m_cert = nullptr;
    EVP_PKEY* m_key = nullptr;
};

}  // namespace kestrel::record
