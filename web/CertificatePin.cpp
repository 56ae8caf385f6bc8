#include "web/CertificatePin.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <climits>
#include <vector>

namespace Web {

std::string PinOfCertificatePem(const char* pem, size_t size) {
    if (pem == nullptr || size == 0 || size > INT_MAX) {
        return {};
    }
    BIO* bio = BIO_new_mem_buf(pem, static_cast<int>(size));
    if (bio == nullptr) {
        return {};
    }
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (cert == nullptr) {
        return {};
    }
    std::string pin;
    unsigned char* der = nullptr;
    const int derSize = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
    if (derSize > 0) {
        unsigned char digest[SHA256_DIGEST_LENGTH];
        SHA256(der, static_cast<size_t>(derSize), digest);
        unsigned char text[4 * ((SHA256_DIGEST_LENGTH + 2) / 3) + 1];
        const int n = EVP_EncodeBlock(text, digest, SHA256_DIGEST_LENGTH);
        pin = "sha256//" + std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(n));
    }
    OPENSSL_free(der);
    X509_free(cert);
    return pin;
}

}  // namespace Web
