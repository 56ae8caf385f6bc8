#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "web/CBaseHttpSender.h"

namespace Web {

// WinHTTP-numbered errors kept in lastError.
constexpr uint32_t ErrorTimeout = 12002;
constexpr uint32_t ErrorGeneric = 12004;
constexpr uint32_t ErrorNameNotResolved = 12007;
constexpr uint32_t ErrorCancelled = 12017;
constexpr uint32_t ErrorCannotConnect = 12029;
constexpr uint32_t ErrorConnectionReset = 12030;
constexpr uint32_t ErrorInvalidServerResponse = 12152;
constexpr uint32_t ErrorTlsFailure = 12175;

// The sender on libcurl. One working thread at a time; Cancel from any
// thread. (The implementation adds its private members.)
class CHttpSender : public CBaseHttpSender {
public:
    explicit CHttpSender(const kestrel::DEVICE_INFO& device);
    ~CHttpSender() override;

    bool Send(const HttpRequest& request) override;
    void Cancel() override;
    uint32_t QueryDataAvailable() override;
    uint32_t ReadResponse(std::vector<uint8_t>& out) override;
    uint32_t ReadData(std::vector<uint8_t>& out, uint32_t maxBytes, bool clear) override;

    // Results of the last Send, read by the caller afterwards.
    uint32_t StatusCode() const;
    uint32_t ContentLength() const;
    uint32_t LastError() const;
    uint32_t LearnedScheme() const;
    uint32_t Secure() const;
};

}  // namespace Web
