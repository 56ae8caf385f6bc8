#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/CStopToken.h"
#include "runtime/ITickClock.h"
#include "web/CBaseHttpSender.h"
#include "web/CCurlTransfer.h"
#include "web/CHttpTrust.h"
#include "web/CRequestBuilder.h"

namespace Web {

// The sender on libcurl: the request builder, the transfer and what the
// camera taught about authentication and its certificate. One working
// thread at a time; Cancel from any thread, also while the destructor runs,
// but not after it has returned. Senders given the same trust share what
// they learn about the camera; without one a sender has its own.
class CHttpSender : public CBaseHttpSender {
public:
    // The attempt's deadline reads `clock`; libcurl's connect time-out and the
    // wait for another sender's Basic probe stay on the real clock.
    explicit CHttpSender(const kestrel::DEVICE_INFO& device, std::shared_ptr<CHttpTrust> trust = nullptr,
                         kestrel::ITickClock& clock = kestrel::ITickClock::System());
    ~CHttpSender() override;

    bool Send(const HttpRequest& request) override;
    void Cancel() override;
    uint32_t QueryDataAvailable() override;
    uint32_t ReadResponse(std::vector<uint8_t>& out) override;
    uint32_t ReadData(std::vector<uint8_t>& out, uint32_t maxBytes, bool clear) override;

    uint32_t StatusCode() const override;
    uint32_t LastError() const override;
    uint32_t ReadFailure() const override;
    void ForgetScheme() override;
    void ResetCancel() override;

    uint32_t ContentLength() const;
    uint32_t LearnedScheme() const;
    uint32_t Secure() const;

private:
    // What Send does after one attempt: it has the answer (or a send-only
    // request went out), it tries again over the other protocol, or it
    // fails with lastError.
    enum class Next { Answered, TryOtherProtocol, GiveUp };

    bool SendCopy(const HttpRequest& request);
    Next Attempt(HttpRequest& copy);
    static Next AfterFailure(const CCurlTransfer::HeadResult& result);
    bool MakeConnection();
    bool StartRequest(const HttpRequest& copy);
    uint32_t SchemeToSend(BuiltRequest& built);
    bool RequestUsable();
    void ReadHeadResults();
    uint32_t FirstAnswerableScheme() const;
    Next AfterHead(HttpRequest& copy);
    bool PinMetKey();
    void SettleProbe(CHttpTrust::Probe outcome);
    uint32_t ReadWhole(std::vector<uint8_t>& out);

    kestrel::CStopToken m_stop;  // Cancel; held until ResetCancel
    std::mutex m_workLock;       // held by the working thread's operations
    std::shared_ptr<CHttpTrust> m_trust;
    CCurlTransfer m_transfer;

    // Connection: "host:port" for URLs, made by the first attempt.
    bool m_connected = false;
    std::string m_hostPort;

    // Authentication of the request in progress.
    BuiltRequest m_built;
    uint32_t m_learnedAtPrepare = 0;  // the shared scheme when the request was made
    uint32_t m_usedScheme = 0;        // the request's scheme, 0 when credentials were held back
    bool m_authRetried = false;       // the one resend after a 401 is used
    bool m_probing = false;           // the request carries the Basic probe

    // Results of the last Send and read.
    uint32_t m_statusCode = 0;
    uint32_t m_contentLength = 0;
    uint32_t m_lastError = 0;
    uint32_t m_secure = 0;
    uint32_t m_readFailure = 0;
};

}  // namespace Web
