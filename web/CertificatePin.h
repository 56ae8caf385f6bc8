#pragma once
#include <cstddef>
#include <string>

namespace Web {

// The public-key pin libcurl takes ("sha256//" and the base64 SHA-256 of
// the DER SubjectPublicKeyInfo) of a PEM certificate; empty when the text
// is not one.
std::string PinOfCertificatePem(const char* pem, size_t size);

}  // namespace Web
