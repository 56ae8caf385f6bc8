#pragma once
#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/CStopToken.h"
#include "runtime/ITickClock.h"
#include "web/CAnswerHead.h"
#include "web/CBaseHttpSender.h"
#include "web/CHttpTrust.h"
#include "web/CRequestBuilder.h"

namespace Web {

// No answer body is taken beyond this.
constexpr size_t kAnswerBodyLimit = 0x100000;

// The sender on libcurl. One working thread at a time; Cancel from any
// thread, also while the destructor runs, but not after it has returned.
// Senders given the same trust share what they learn about the camera;
// without one a sender has its own.
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
    CHttpTrust& Trust() { return *m_trust; }

private:
    // How a request in flight ended: ok, or the error and whether the
    // request had been written completely by then.
    struct Outcome {
        bool ok = false;
        uint32_t error = 0;
        bool whileSending = false;
    };

    // What Send does after one attempt: it has the answer (or a send-only
    // request went out), it tries again over the other protocol, or it
    // fails with lastError.
    enum class Next { Answered, TryOtherProtocol, GiveUp };

    bool SendCopy(const HttpRequest& request);
    Next Attempt(HttpRequest& copy);
    CURL* NewEasy();
    bool FreshEasy();
    bool MakeConnection();
    bool PrepareRequest(const HttpRequest& copy);
    Outcome RunRequest(bool sendOnly);
    template <typename Ready>
    uint32_t Pump(Ready ready);
    uint32_t FillPending();
    void CollectDone();
    void CloseRequest();
    bool RequestUsable();
    bool HeadIsFinal() const;
    void ReadHeadResults();
    uint32_t FirstAnswerableScheme() const;
    Next AfterHead(HttpRequest& copy);
    bool PinSeenKey();
    void SettleProbe(CHttpTrust::Probe outcome);
    void ResetResponseState();
    uint32_t TimeLeftMs() const;

    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnWrite(char* data, size_t size, size_t count, void* self);
    static size_t OnRead(char* data, size_t size, size_t count, void* self);
    static int OnSeek(void* self, curl_off_t offset, int origin);
    static int OnPrereq(void* self, char* remoteIp, char* localIp, int remotePort, int localPort);

    // Client: an easy handle carries one request, the multi handle the
    // connections (reused between requests) and lets Cancel wake a wait;
    // the share keeps TLS sessions from one handle to the next.
    CURL* m_easy = nullptr;
    bool m_easyUsed = false;  // m_easy has been in the multi handle
    CURLM* m_multi = nullptr;
    CURLSH* m_share = nullptr;
    std::mutex m_multiLock;  // keeps m_multi alive while Cancel wakes it
    std::mutex m_workLock;   // held by the working thread's operations

    // Connection: "host:port" for URLs, made by the first attempt.
    bool m_connected = false;
    std::string m_hostPort;

    // The request in progress or the last one; open while the easy handle
    // sits in the multi handle.
    bool m_requestOpen = false;
    bool m_sendOnly = false;
    struct curl_slist* m_headerList = nullptr;
    BuiltRequest m_built;
    std::vector<uint8_t> m_upload;
    size_t m_uploadPos = 0;
    size_t m_uploadDeclared = 0;
    bool m_follow = false;          // libcurl follows redirects itself
    bool m_authMayRepeat = false;   // libcurl may answer a 401 itself
    bool m_discarding = false;      // body bytes of a request being closed
    unsigned m_prereqCount = 0;
    bool m_done = false;
    CURLcode m_doneCode = CURLE_OK;
    CAnswerHead m_head;
    bool m_bodyStarted = false;
    bool m_paused = false;
    std::vector<uint8_t> m_pending;  // at most one delivery of body bytes
    size_t m_pendingPos = 0;
    std::vector<uint8_t>* m_sink = nullptr;  // ReadResponse's vector while it reads
    size_t m_bodyBytes = 0;                   // of this response so far
    bool m_tooLarge = false;
    kestrel::ITickClock& m_clock;
    uint32_t m_attemptStartMs = 0;  // the deadline counts from here
    uint32_t m_learnedAtPrepare = 0;  // the shared scheme when the request was made
    uint32_t m_usedScheme = 0;        // the request's scheme, 0 when credentials were held back
    bool m_authRetried = false;  // the one resend after a 401 is used
    bool m_probing = false;      // the request carries the Basic probe
    bool m_pinAsked = false;     // the request looks at the certificate for a pin
    uint32_t m_readFailure = 0;
    std::shared_ptr<CHttpTrust> m_trust;

    uint32_t m_statusCode = 0;
    uint32_t m_contentLength = 0;
    uint32_t m_lastError = 0;
    uint32_t m_secure = 0;
    kestrel::CStopToken m_stop;  // Cancel; held until ResetCancel
};

}  // namespace Web
