#pragma once
#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/CStopToken.h"
#include "runtime/ITickClock.h"
#include "web/CAnswerBody.h"
#include "web/CAnswerHead.h"
#include "web/CRequestBuilder.h"

namespace Web {

// No answer body is taken beyond this.
constexpr size_t kAnswerBodyLimit = 0x100000;

// One request at a time on libcurl: the handles and their options, the
// attempt's deadline on the injected clock, the certificate pin, the answer
// as it arrives (head and bounded body). One working thread; only
// Interrupt may be called from another one.
class CCurlTransfer {
public:
    // What the request carries to authenticate itself.
    struct Credentials {
        const std::string* user = nullptr;  // nullptr: none
        const std::string* password = nullptr;
        uint32_t scheme = 0;  // scheme bit
    };

    // How the wait for the answer's head ended.
    enum class HeadWait {
        HeadReady,        // a final head, with or without body bytes behind it
        Sent,             // a send-only request is written out
        FailedSending,    // `error` says why; the request was not written whole
        FailedAnswering,  // `error` says why; the request was written
    };
    struct HeadResult {
        HeadWait how = HeadWait::HeadReady;
        uint32_t error = 0;
    };

    // `timeLimitMs` bounds each attempt on `clock` (0: unbounded) and
    // libcurl's connect on the real clock; `stop` ends every wait.
    CCurlTransfer(uint32_t timeLimitMs, kestrel::ITickClock& clock, const kestrel::CStopToken& stop);
    ~CCurlTransfer();
    CCurlTransfer(const CCurlTransfer&) = delete;
    CCurlTransfer& operator=(const CCurlTransfer&) = delete;

    // false when libcurl could not be set up: every request fails.
    bool Usable() const { return m_easy != nullptr && m_multi != nullptr; }
    // Whether libcurl takes `url` as it stands.
    static bool ParsesAsUrl(const std::string& url);

    // The attempt's deadline counts from here.
    void StartClock() { m_attemptStartMs = m_clock.NowMs(); }
    uint32_t TimeLeftMs() const;

    // Hands the built request to a fresh handle and starts it. With `pin`
    // empty a secure request notes the key it meets; otherwise another key
    // fails it. false when libcurl refuses the request or the scheme.
    bool Start(const BuiltRequest& built, const std::vector<uint8_t>& body, const Credentials& credentials, bool secure,
               const std::string& pin);
    // Waits for the started request's head (or, send-only, for it to be
    // written).
    HeadResult WaitForHead(bool sendOnly);
    bool IsOpen() const { return m_open; }
    // Drops the request; a body read to its end keeps its connection.
    void Close();

    const CAnswerHead& Head() const { return m_head; }
    CAnswerBody& Body() { return m_body; }
    // Waits until some body bytes wait; 0 or the error that ended the wait.
    uint32_t WaitForBody();
    // Reads body bytes into `out` (see CAnswerBody::BeginWhole) until it
    // holds `wanted`; 0 or the error that ended the wait.
    uint32_t ReadWhole(std::vector<uint8_t>& out, size_t wanted);
    // The transfer finished without an error.
    bool EndedCleanly() const { return m_done && m_doneCode == CURLE_OK; }

    // The pin of the key the request met, when it was to note one; empty
    // otherwise (also on a reused connection, whose first request pinned).
    std::string MetKeyPin() const;

    // From any thread: wakes the working thread's wait and, while the
    // handles are alive, runs `whileAlive`.
    void Interrupt(const std::function<void()>& whileAlive);
    // Closes an open request and frees the handles (closing cached
    // connections); Interrupt after this does nothing. An owner whose
    // Interrupt may run meanwhile closes first, under its own lock.
    void Shutdown();

private:
    CURL* NewEasy();
    bool FreshEasy();
    template <typename Value>
    void Set(CURLoption option, Value value);
    void SetTarget(const BuiltRequest& built, const std::vector<uint8_t>& body);
    bool SetCredentials(const Credentials& credentials);
    void SetPin(const BuiltRequest& built, bool secure, const std::string& pin);
    void SetHeaders(const std::vector<std::string>& lines);
    bool StillSending(unsigned& prereqSeen, bool sending);
    template <typename Ready>
    uint32_t Pump(Ready ready);
    bool HeadIsFinal() const;
    void CollectDone();
    void Wait(uint32_t leftMs);

    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnWrite(char* data, size_t size, size_t count, void* self);
    static size_t OnRead(char* data, size_t size, size_t count, void* self);
    static int OnSeek(void* self, curl_off_t offset, int origin);
    static int OnPrereq(void* self, char* remoteIp, char* localIp, int remotePort, int localPort);

    const uint32_t m_timeLimitMs;
    kestrel::ITickClock& m_clock;
    const kestrel::CStopToken& m_stop;
    uint32_t m_attemptStartMs = 0;

    // An easy handle carries one request, the multi handle the connections
    // (reused between requests) and lets Interrupt wake a wait; the share
    // keeps TLS sessions from one handle to the next.
    CAnswerBody m_body;  // first: its reserve may throw before anything is held
    CURL* m_easy = nullptr;
    bool m_easyUsed = false;  // m_easy has been in the multi handle
    CURLM* m_multi = nullptr;
    CURLSH* m_share = nullptr;
    std::mutex m_multiLock;  // keeps m_multi alive while Interrupt wakes it
    struct curl_slist* m_headerList = nullptr;
    bool m_optionsOk = true;  // no option of the request was refused

    // The request in progress or the last one; open while the easy handle
    // sits in the multi handle.
    bool m_open = false;
    bool m_sendOnly = false;
    std::vector<uint8_t> m_upload;
    size_t m_uploadPos = 0;
    size_t m_uploadDeclared = 0;
    bool m_follow = false;         // libcurl follows redirects itself
    bool m_authMayRepeat = false;  // libcurl may answer a 401 itself
    bool m_pinAsked = false;       // the request looks at the certificate for a pin
    bool m_discarding = false;     // body bytes of a request being closed
    bool m_paused = false;
    unsigned m_prereqCount = 0;
    bool m_done = false;
    CURLcode m_doneCode = CURLE_OK;
    CAnswerHead m_head;
};

}  // namespace Web
