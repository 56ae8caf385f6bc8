#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/DEVICE_INFO.h"
#include "web/HttpRequest.h"

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
constexpr uint32_t ErrorAnswerTooLarge = 12184;
// Our own, beyond the WinHTTP numbers.
constexpr uint32_t ErrorDowngradeRefused = 12190;
constexpr uint32_t ErrorKeyChanged = 12191;

// A blocking HTTP client bound to one camera. Channels and digital I/O hold
// their senders through it, so that libcurl stays inside web/.
class CBaseHttpSender {
public:
    // The sender on libcurl.
    static std::unique_ptr<CBaseHttpSender> Create(const kestrel::DEVICE_INFO& device);
    // What a failure of ours means, for the caller's message; nullptr for
    // errors that speak for themselves.
    static const char* FailureText(uint32_t error);

    explicit CBaseHttpSender(const kestrel::DEVICE_INFO& device) : m_device(device) {}
    virtual ~CBaseHttpSender() = default;  // slot 0
    CBaseHttpSender(const CBaseHttpSender&) = delete;
    CBaseHttpSender& operator=(const CBaseHttpSender&) = delete;

    virtual bool Send(const HttpRequest& request) = 0;                                        // slot 1
    virtual void Cancel() = 0;                                                                // slot 2
    virtual uint32_t QueryDataAvailable() = 0;                                                // slot 3
    virtual uint32_t ReadResponse(std::vector<uint8_t>& out) = 0;                             // slot 4
    virtual uint32_t ReadData(std::vector<uint8_t>& out, uint32_t maxBytes, bool clear) = 0;  // slot 5

    // Results of the last Send, read by the caller afterwards.
    virtual uint32_t StatusCode() const = 0;
    virtual uint32_t LastError() const = 0;
    // The error that ended the last ReadResponse or ReadData, 0 when the
    // body was read whole (or as far as asked).
    virtual uint32_t ReadFailure() const = 0;
    // At a stream start: what was learned about authentication may no
    // longer hold.
    virtual void ForgetScheme() = 0;
    // Cancel stays in force, every Send failing at once with ErrorCancelled,
    // until the owner starts the work again and calls this.
    virtual void ResetCancel() {}

protected:
    kestrel::DEVICE_INFO m_device;
};

}  // namespace Web
