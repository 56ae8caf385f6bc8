#include "web/CHttpSender.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "web/CRequestBuilder.h"
#include "web/CertificatePin.h"
#include "web/HttpText.h"

namespace Web {
namespace {

constexpr uint32_t ErrorIncorrectHandleState = 12019;
constexpr uint32_t ErrorHeaderNotFound = 12150;

using Clock = std::chrono::steady_clock;

std::once_flag g_curlStarted;

uint32_t MapCurlError(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return 0;
    case CURLE_OPERATION_TIMEDOUT:
        return ErrorTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return ErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return ErrorCannotConnect;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return ErrorKeyChanged;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
        return ErrorTlsFailure;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return ErrorConnectionReset;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:  // a reply that is not HTTP/1.x at all
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return ErrorInvalidServerResponse;
    case CURLE_ABORTED_BY_CALLBACK:
        return ErrorCancelled;
    default:
        return ErrorGeneric;
    }
}

long CurlAuthOfScheme(uint32_t scheme)
{
    switch (scheme) {
    case SchemeBasic:
        return static_cast<long>(CURLAUTH_BASIC);
    case SchemeNtlm:
        return static_cast<long>(CURLAUTH_NTLM);
    case SchemeDigest:
        return static_cast<long>(CURLAUTH_DIGEST);
    case SchemeNegotiate:
        return static_cast<long>(CURLAUTH_NEGOTIATE);
    default:
        return 0;  // Passport: libcurl has no such scheme
    }
}

// Milliseconds of the wait for the network, at least 1 so a wait never
// spins, at most 1000 so a clock stepped by a test is looked at again soon.
int WaitMs(uint32_t leftMs)
{
    return static_cast<int>(std::clamp<uint32_t>(leftMs, 1, 1000));
}

}  // namespace

CHttpSender::CHttpSender(const kestrel::DEVICE_INFO& device, std::shared_ptr<CHttpTrust> trust,
                         kestrel::ITickClock& clock)
    : CBaseHttpSender(device), m_clock(clock), m_trust(std::move(trust))
{
    // First: a constructor that throws runs no destructor, so nothing may
    // be held yet when this is refused.
    m_pending.reserve(CURL_MAX_WRITE_SIZE);
    if (m_trust == nullptr) {
        m_trust = m_device.httpTrust;
    }
    if (m_trust == nullptr) {
        m_trust = std::make_shared<CHttpTrust>();
    }
    m_secure = m_device.port == 443 ? 1 : 0;
    std::call_once(g_curlStarted, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_multi = curl_multi_init();
    // Without it each request's handle starts every TLS session afresh.
    m_share = curl_share_init();
    if (m_share != nullptr && curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
        curl_share_cleanup(m_share);
        m_share = nullptr;
    }
    m_easy = m_multi != nullptr ? NewEasy() : nullptr;
    if (m_easy == nullptr || m_multi == nullptr) {
        // Every Send fails from now on.
        if (m_multi != nullptr) curl_multi_cleanup(m_multi);
        m_multi = nullptr;
        return;
    }
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, 16L);
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 16L);
}

// A handle with the options of the client; a refused one only loses that
// option.
CURL* CHttpSender::NewEasy()
{
    CURL* e = curl_easy_init();
    if (e == nullptr) {
        return nullptr;
    }
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Kestrel::HttpSender");
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_device.requestTimeLimitMs));
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CHttpSender::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CHttpSender::OnWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &CHttpSender::OnRead);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
    curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &CHttpSender::OnSeek);
    curl_easy_setopt(e, CURLOPT_SEEKDATA, this);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CHttpSender::OnPrereq);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, this);
    if (m_share != nullptr) {
        curl_easy_setopt(e, CURLOPT_SHARE, m_share);
    }
    return e;
}

// libcurl 7.88 keeps a pointer to the last header of a handle's previous
// transfer after freeing it, and appends a response's continuation line
// ("HTTP/1.1 200 OK\r\n X: y") to it: a camera could corrupt the heap.
// A handle that has carried a request is therefore never used again; its
// connection stays in the multi handle's cache. The price: libcurl's
// Digest nonce goes with it, so Digest costs a 401 round trip per request.
bool CHttpSender::FreshEasy()
{
    if (!m_easyUsed) {
        return m_easy != nullptr;
    }
    CURL* fresh = NewEasy();
    if (fresh == nullptr) {
        return false;
    }
    curl_easy_cleanup(m_easy);
    m_easy = fresh;
    m_easyUsed = false;
    return true;
}

CHttpSender::~CHttpSender()
{
    {
        std::lock_guard<std::mutex> work(m_workLock);
        CloseRequest();
    }
    if (m_headerList != nullptr) {
        curl_slist_free_all(m_headerList);
        m_headerList = nullptr;
    }
    {
        // Closing the multi handle closes the cached connections.
        std::lock_guard<std::mutex> guard(m_multiLock);
        if (m_multi != nullptr) {
            curl_multi_cleanup(m_multi);
            m_multi = nullptr;
        }
    }
    if (m_easy != nullptr) {
        curl_easy_cleanup(m_easy);
        m_easy = nullptr;
    }
    if (m_share != nullptr) {
        curl_share_cleanup(m_share);
        m_share = nullptr;
    }
}

uint32_t CHttpSender::StatusCode() const { return m_statusCode; }
uint32_t CHttpSender::ContentLength() const { return m_contentLength; }
uint32_t CHttpSender::LastError() const { return m_lastError; }
uint32_t CHttpSender::LearnedScheme() const { return m_trust->LearnedScheme(); }
uint32_t CHttpSender::Secure() const { return m_secure; }
uint32_t CHttpSender::ReadFailure() const { return m_readFailure; }
void CHttpSender::ForgetScheme() { m_trust->ForgetScheme(); }
void CHttpSender::ResetCancel() { m_stop.Reset(); }

// What is left of the attempt's time; wraps of the tick count are harmless.
uint32_t CHttpSender::TimeLeftMs() const
{
    const uint32_t spent = m_clock.NowMs() - m_attemptStartMs;
    return spent >= m_device.requestTimeLimitMs ? 0 : m_device.requestTimeLimitMs - spent;
}

bool CHttpSender::Send(const HttpRequest& request)
{
    std::lock_guard<std::mutex> work(m_workLock);
    m_authRetried = false;
    if (m_stop.StopRequested()) {
        // A stop in force: nothing new goes to the camera until a restart.
        CloseRequest();
        m_statusCode = 0;
        m_contentLength = 0;
        m_lastError = ErrorCancelled;
        return false;
    }
    return SendCopy(request);
}

// The body of Send; the 401 learning step re-enters here, so that a Cancel
// arriving meanwhile is not cleared and still ends the request.
bool CHttpSender::SendCopy(const HttpRequest& request)
{
    HttpRequest copy(request);
    copy.secure = m_secure;
    Next next = Attempt(copy);
    if (next == Next::TryOtherProtocol && !m_stop.StopRequested()) {
        if (copy.secure == 1 && !m_device.userName.empty()) {
            // The password would follow in clear.
            m_lastError = ErrorDowngradeRefused;
            return false;
        }
        copy.secure = copy.secure == 0 ? 1 : 0;
        next = Attempt(copy);
    }
    if (next == Next::Answered) {
        m_secure = copy.secure;
        return true;
    }
    return false;
}

void CHttpSender::Cancel()
{
    m_stop.RequestStop();
    // Under m_multiLock the destructor cannot free the handles meanwhile.
    std::lock_guard<std::mutex> guard(m_multiLock);
    if (m_multi == nullptr) {
        return;
    }
    curl_multi_wakeup(m_multi);
    // When no operation runs, release the request here; otherwise the
    // working thread sees the flag as soon as its wait wakes up.
    if (m_workLock.try_lock()) {
        CloseRequest();
        m_workLock.unlock();
    }
}

CHttpSender::Next CHttpSender::Attempt(HttpRequest& copy)
{
    CloseRequest();
    m_statusCode = 0;
    m_contentLength = 0;
    m_lastError = 0;

    if (!m_connected && !MakeConnection()) {
        return Next::GiveUp;
    }
    if (copy.verb.empty() || copy.path.empty()) {
        return Next::GiveUp;
    }
    m_attemptStartMs = m_clock.NowMs();
    m_probing = false;
    if (!FreshEasy() || !PrepareRequest(copy) || curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
        SettleProbe(CHttpTrust::Probe::Unknown);
        return Next::GiveUp;
    }
    m_easyUsed = true;
    m_requestOpen = true;

    const bool sendOnly =
        copy.body.size() < copy.totalLength || (copy.flags & HttpRequest::FlagSendOnly) != 0;
    m_sendOnly = sendOnly;
    const Outcome outcome = RunRequest(sendOnly);
    if (!outcome.ok || sendOnly) {
        SettleProbe(CHttpTrust::Probe::Unknown);
    }
    if (!outcome.ok) {
        m_lastError = outcome.error;
        CloseRequest();
        // A camera whose key changed is not to be asked over plain HTTP.
        if (outcome.error == ErrorKeyChanged) {
            return Next::GiveUp;
        }
        if (outcome.whileSending) {
            return outcome.error == ErrorTimeout ? Next::GiveUp : Next::TryOtherProtocol;
        }
        return outcome.error == ErrorInvalidServerResponse ? Next::GiveUp : Next::TryOtherProtocol;
    }
    if (copy.secure == 1 && !PinSeenKey()) {
        SettleProbe(CHttpTrust::Probe::Unknown);
        m_lastError = ErrorKeyChanged;
        CloseRequest();
        return Next::GiveUp;
    }
    if (sendOnly) {
        return Next::Answered;
    }
    return AfterHead(copy);
}

// A 401 to a request sent before anything was learned teaches the scheme
// the camera offers, and the request goes again with it when it went out
// with another (or without credentials).
CHttpSender::Next CHttpSender::AfterHead(HttpRequest& copy)
{
    ReadHeadResults();
    const uint32_t offered = m_statusCode == 401 ? FirstAnswerableScheme() : 0;
    if (m_probing) {
        // A 401 naming Basic is a wrong password, not a refused scheme.
        SettleProbe(m_statusCode != 401 || offered == SchemeBasic ? CHttpTrust::Probe::Taken
                    : offered != 0                                ? CHttpTrust::Probe::Refused
                                                                  : CHttpTrust::Probe::Unknown);
    }
    if (m_statusCode != 401 || m_authRetried || m_learnedAtPrepare != 0) {
        return Next::Answered;
    }
    if (offered != 0) {
        m_trust->Learn(offered);
    }
    const uint32_t scheme = m_trust->LearnedScheme();
    CloseRequest();
    if (offered != 0 && scheme != m_usedScheme) {
        m_authRetried = true;
        return SendCopy(copy) ? Next::Answered : Next::TryOtherProtocol;
    }
    return Next::Answered;
}

void CHttpSender::SettleProbe(CHttpTrust::Probe outcome)
{
    if (m_probing) {
        m_probing = false;
        m_trust->SettleProbe(outcome);
    }
}

// The first key seen over TLS is pinned; a connection that presents another
// one is refused by libcurl, this catches a sender that raced another.
bool CHttpSender::PinSeenKey()
{
    if (!m_pinAsked) {
        return true;
    }
    struct curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(m_easy, CURLINFO_CERTINFO, &info) != CURLE_OK || info == nullptr ||
        info->num_of_certs < 1) {
        return true;  // a reused connection: its first request pinned or will
    }
    for (const curl_slist* item = info->certinfo[0]; item != nullptr; item = item->next) {
        if (std::strncmp(item->data, "Cert:", 5) == 0) {
            const std::string pin = PinOfCertificatePem(item->data + 5, std::strlen(item->data + 5));
            return pin.empty() || m_trust->PinOrMatch(pin);
        }
    }
    return true;
}

bool CHttpSender::MakeConnection()
{
    if (m_easy == nullptr || m_multi == nullptr) {
        return false;
    }
    std::string hostPort;
    if (!CRequestBuilder::HostPort(m_device.address, m_device.port, hostPort)) {
        return false;
    }
    CURLU* url = curl_url();
    if (url == nullptr) {
        throw std::bad_alloc();
    }
    const std::string probe = "http://" + hostPort + "/";
    const CURLUcode rc = curl_url_set(url, CURLUPART_URL, probe.c_str(), 0);
    curl_url_cleanup(url);
    if (rc != CURLUE_OK) {
        return false;
    }
    m_hostPort = std::move(hostPort);
    m_connected = true;
    return true;
}

// Hands the built request to the easy handle; libcurl's own parts (the URL
// check, the TLS pin) and the shared trust's say on Basic stay here.
bool CHttpSender::PrepareRequest(const HttpRequest& copy)
{
    m_learnedAtPrepare = m_trust->LearnedScheme();
    BuiltRequest& built = m_built;
    if (!CRequestBuilder::Build(copy, m_hostPort, !m_device.userName.empty(), m_learnedAtPrepare, built)) {
        return false;
    }
    CURL* e = m_easy;
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        if (curl_easy_setopt(e, option, value) != CURLE_OK) ok = false;
    };
    const bool secure = copy.secure == 1;
    m_follow = built.follow;

    // The request line carries the target exactly as built. The URL holds
    // it too, because Digest signs the URL's path and query; a target that
    // libcurl cannot parse as a URL still goes out, unsigned by Digest.
    CURLU* parsed = curl_url();
    if (parsed == nullptr) {
        throw std::bad_alloc();
    }
    const bool parses = curl_url_set(parsed, CURLUPART_URL, built.url.c_str(), CURLU_PATH_AS_IS) == CURLUE_OK;
    curl_url_cleanup(parsed);
    if (!parses) {
        if (m_follow) {
            return false;
        }
        built.url = CRequestBuilder::HostOnlyUrl(built);
    }
    set(CURLOPT_URL, built.url.c_str());
    set(CURLOPT_REQUEST_TARGET, m_follow ? static_cast<const char*>(nullptr) : built.target.c_str());
    set(CURLOPT_FOLLOWLOCATION, m_follow ? 1L : 0L);

    m_upload.assign(copy.body.begin(), copy.body.end());
    m_uploadPos = 0;
    m_uploadDeclared = built.declaredLength;
    const char* customVerb = built.customVerb.empty() ? nullptr : built.customVerb.c_str();
    if (built.hasBody) {
        set(CURLOPT_NOBODY, 0L);
        set(CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
        set(CURLOPT_POST, 1L);
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_uploadDeclared));
        set(CURLOPT_CUSTOMREQUEST, customVerb);
    } else {
        set(CURLOPT_HTTPGET, 1L);
        set(CURLOPT_NOBODY, built.head ? 1L : 0L);
        set(CURLOPT_CUSTOMREQUEST, customVerb);
    }

    m_authMayRepeat = false;
    if (built.basicInAdvance) {
        const auto basic = m_trust->MayAskWithBasic(Clock::now() + std::chrono::milliseconds(TimeLeftMs()), [this] { return m_stop.StopRequested(); });
        m_probing = basic == CHttpTrust::Basic::Probe;
        if (basic == CHttpTrust::Basic::Withhold) {
            built.scheme = 0;
        }
    }
    m_usedScheme = built.scheme;
    if (built.credentials && built.scheme != 0) {
        const long auth = CurlAuthOfScheme(built.scheme);
        if (auth == 0) {
            return false;  // credentials refused
        }
        set(CURLOPT_USERNAME, m_device.userName.c_str());
        set(CURLOPT_PASSWORD, m_device.password.c_str());
        set(CURLOPT_HTTPAUTH, auth);
        m_authMayRepeat = auth != static_cast<long>(CURLAUTH_BASIC);
    } else {
        set(CURLOPT_USERNAME, static_cast<const char*>(nullptr));
        set(CURLOPT_PASSWORD, static_cast<const char*>(nullptr));
        set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    }

    set(CURLOPT_SSL_VERIFYPEER, built.ignoreCertErrors ? 0L : 1L);
    set(CURLOPT_SSL_VERIFYHOST, built.ignoreCertErrors ? 0L : 2L);
    m_pinAsked = false;
    if (secure) {
        const std::string pin = m_trust->PinnedKey();
        if (!pin.empty()) {
            set(CURLOPT_PINNEDPUBLICKEY, pin.c_str());
        } else {
            m_pinAsked = true;
            set(CURLOPT_CERTINFO, 1L);
        }
    }

    if (m_headerList != nullptr) {
        curl_slist_free_all(m_headerList);
        m_headerList = nullptr;
    }
    for (const std::string& line : built.headers) {
        curl_slist* grown = curl_slist_append(m_headerList, line.c_str());
        if (grown == nullptr) {
            throw std::bad_alloc();
        }
        m_headerList = grown;
    }
    set(CURLOPT_HTTPHEADER, m_headerList);
    return ok;
}

CHttpSender::Outcome CHttpSender::RunRequest(bool sendOnly)
{
    // One deadline for the whole attempt: a camera that trickles its answer
    // gets no more time than one that sends nothing.
    const bool timed = m_device.requestTimeLimitMs != 0;
    bool sending = true;
    unsigned prereqSeen = 0;
    for (;;) {
        if (m_stop.StopRequested()) {
            return {false, ErrorCancelled, sending};
        }
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            return {false, ErrorGeneric, sending};
        }
        CollectDone();
        const uint32_t left = TimeLeftMs();

        // A new connection or a request libcurl repeats (authentication)
        // is written again: sending starts over.
        if (m_prereqCount != prereqSeen) {
            prereqSeen = m_prereqCount;
            sending = true;
        }
        if (sending && prereqSeen != 0) {
            curl_off_t uploaded = 0;
            curl_easy_getinfo(m_easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
            if (uploaded >= 0 && static_cast<uint64_t>(uploaded) >= m_upload.size()) {
                sending = false;
            }
        }

        if (!sending && sendOnly) {
            return {true, 0, false};
        }
        if (HeadIsFinal()) {
            return {true, 0, false};
        }
        if (m_done) {
            if (m_doneCode != CURLE_OK) {
                return {false, MapCurlError(m_doneCode), sending};
            }
            return {false, ErrorInvalidServerResponse, false};
        }
        if (timed && left == 0) {
            return {false, ErrorTimeout, sending};
        }
        curl_multi_poll(m_multi, nullptr, 0, timed ? WaitMs(left) : 1000, nullptr);
    }
}

bool CHttpSender::HeadIsFinal() const
{
    if (!m_head.Done()) {
        return false;
    }
    if (m_bodyStarted || m_done) {
        return true;
    }
    // libcurl answers these itself on the same transfer and hides their body;
    // only body bytes or the end of the transfer show that it did not.
    if (m_head.Status() == 401 && m_authMayRepeat) {
        return false;
    }
    if (m_follow && m_head.HasLocation() && m_head.Status() >= 300 && m_head.Status() < 400) {
        return false;
    }
    return true;
}

void CHttpSender::ReadHeadResults()
{
    m_statusCode = m_head.Status();
    if (m_statusCode == 204) {
        return;
    }
    uint32_t length = 0;
    if (m_head.ContentLength(length)) {
        m_contentLength = length;
        return;
    }
    m_lastError = ErrorHeaderNotFound;
}

// Only what the driver can answer is learned: a challenge naming Passport
// or NTLM alone would otherwise stop every later request.
uint32_t CHttpSender::FirstAnswerableScheme() const { return m_head.FirstScheme(SchemeBasic | SchemeDigest); }

void CHttpSender::CollectDone()
{
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy) {
            m_done = true;
            m_doneCode = message->data.result;
        }
    }
}

void CHttpSender::CloseRequest()
{
    if (m_requestOpen) {
        // Resume a paused transfer first so that no pause outlives it; what
        // it still delivers is dropped.
        m_discarding = true;
        curl_easy_pause(m_easy, CURLPAUSE_CONT);
        // A body read to its end is often one step short of a finished
        // transfer; finishing it (without waiting) keeps the connection.
        for (int step = 0; step < 2 && m_head.Done() && !m_sendOnly && !m_done; ++step) {
            int running = 0;
            if (curl_multi_perform(m_multi, &running) != CURLM_OK) break;
            CollectDone();
        }
        curl_multi_remove_handle(m_multi, m_easy);
        m_discarding = false;
        m_requestOpen = false;
    }
    ResetResponseState();
}

void CHttpSender::ResetResponseState()
{
    m_sendOnly = false;
    m_prereqCount = 0;
    m_done = false;
    m_doneCode = CURLE_OK;
    m_head.Reset();
    m_bodyStarted = false;
    m_paused = false;
    m_pending.clear();
    m_pendingPos = 0;
    m_bodyBytes = 0;
    m_tooLarge = false;
}

bool CHttpSender::RequestUsable()
{
    if (m_stop.StopRequested()) {
        CloseRequest();
    }
    return m_requestOpen;
}

// Runs the transfer until `ready` holds, it ends, or the attempt's
// deadline passes.
template <typename Ready>
uint32_t CHttpSender::Pump(Ready ready)
{
    if (!m_head.Done()) {
        return ErrorIncorrectHandleState;  // the response was never awaited
    }
    const bool timed = m_device.requestTimeLimitMs != 0;
    for (;;) {
        if (ready()) {
            return 0;
        }
        if (m_stop.StopRequested()) {
            return ErrorCancelled;
        }
        if (m_paused) {
            m_paused = false;
            if (curl_easy_pause(m_easy, CURLPAUSE_CONT) != CURLE_OK) {
                return ErrorGeneric;
            }
            continue;
        }
        if (m_done) {
            return m_tooLarge ? ErrorAnswerTooLarge : MapCurlError(m_doneCode);
        }
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            return ErrorGeneric;
        }
        CollectDone();
        if (ready() || m_done || m_paused) {
            continue;
        }
        const uint32_t left = TimeLeftMs();
        if (timed && left == 0) {
            return ErrorTimeout;
        }
        curl_multi_poll(m_multi, nullptr, 0, timed ? WaitMs(left) : 1000, nullptr);
    }
}

uint32_t CHttpSender::FillPending()
{
    return Pump([this] { return m_pendingPos < m_pending.size(); });
}

uint32_t CHttpSender::QueryDataAvailable()
{
    std::lock_guard<std::mutex> work(m_workLock);
    if (!RequestUsable() || FillPending() != 0) {
        return 0;
    }
    return static_cast<uint32_t>(m_pending.size() - m_pendingPos);
}

// The body goes from libcurl's buffer straight into `out`, sized up front
// when its length is known; only what arrived with the head passes through
// the sender's own buffer.
uint32_t CHttpSender::ReadResponse(std::vector<uint8_t>& out)
{
    std::lock_guard<std::mutex> work(m_workLock);
    out.clear();
    m_readFailure = 0;
    if (!RequestUsable()) {
        return 0;
    }
    uint32_t error = 0;
    if (m_contentLength > kAnswerBodyLimit) {
        error = ErrorAnswerTooLarge;  // refused before a byte of it is read
    } else if (m_tooLarge) {
        error = ErrorAnswerTooLarge;
    } else {
        const size_t wanted = m_contentLength != 0 ? m_contentLength : kAnswerBodyLimit;
        if (m_contentLength != 0) {
            out.reserve(wanted);
        }
        out.assign(m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingPos), m_pending.end());
        m_pending.clear();
        m_pendingPos = 0;
        m_sink = &out;
        error = Pump([&] { return out.size() >= wanted; });
        m_sink = nullptr;
        if (m_tooLarge) {
            error = ErrorAnswerTooLarge;
        } else if (error != 0 && m_done && m_doneCode == CURLE_OK) {
            error = 0;  // the body ended before the limit: that is all of it
        }
        if (out.size() > wanted) {
            out.resize(wanted);
        }
    }
    if (error != 0) {
        // A body cut off in time stays short; one too large is not kept.
        m_lastError = error;
        m_readFailure = error;
        if (error == ErrorAnswerTooLarge) {
            out.clear();
            CloseRequest();
        }
    }
    return static_cast<uint32_t>(out.size());
}

uint32_t CHttpSender::ReadData(std::vector<uint8_t>& out, uint32_t maxBytes, bool clear)
{
    std::lock_guard<std::mutex> work(m_workLock);
    if (clear) {
        out.clear();
    }
    m_readFailure = 0;
    if (!RequestUsable() || maxBytes == 0) {
        return 0;
    }
    const uint32_t error = FillPending();
    if (error != 0) {
        m_lastError = error;
        m_readFailure = error;
        return 0;
    }
    const size_t n = std::min<size_t>(maxBytes, m_pending.size() - m_pendingPos);
    const auto first = m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingPos);
    out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(n));
    m_pendingPos += n;
    return static_cast<uint32_t>(n);
}

size_t CHttpSender::OnHeader(char* data, size_t size, size_t count, void* self)
{
    const size_t n = size * count;
    try {
        static_cast<CHttpSender*>(self)->m_head.OnLine(reinterpret_cast<const uint8_t*>(data), n);
    } catch (...) {
        return 0;  // nothing may leave a libcurl callback; the transfer ends
    }
    return n;
}

size_t CHttpSender::OnWrite(char* data, size_t size, size_t count, void* self)
{
    auto* sender = static_cast<CHttpSender*>(self);
    const size_t n = size * count;
    if (sender->m_discarding) {
        return n;
    }
    sender->m_bodyStarted = true;
    if (n > kAnswerBodyLimit - sender->m_bodyBytes) {
        sender->m_tooLarge = true;
        return 0;  // ends the transfer
    }
    if (sender->m_sink != nullptr) {
        try {
            sender->m_sink->insert(sender->m_sink->end(), data, data + n);
        } catch (...) {
            return 0;  // nothing may leave a libcurl callback; the transfer ends
        }
        sender->m_bodyBytes += n;
        return n;
    }
    if (sender->m_pendingPos < sender->m_pending.size()) {
        // One delivery is buffered; libcurl keeps this one until resumed.
        sender->m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    sender->m_pending.assign(data, data + n);
    sender->m_pendingPos = 0;
    sender->m_bodyBytes += n;
    return n;
}

size_t CHttpSender::OnRead(char* data, size_t size, size_t count, void* self)
{
    auto* sender = static_cast<CHttpSender*>(self);
    const size_t room = size * count;
    const size_t left = sender->m_upload.size() - sender->m_uploadPos;
    if (left > 0) {
        const size_t n = std::min(room, left);
        std::memcpy(data, sender->m_upload.data() + sender->m_uploadPos, n);
        sender->m_uploadPos += n;
        return n;
    }
    if (sender->m_uploadDeclared > sender->m_upload.size()) {
        return CURL_READFUNC_PAUSE;  // the rest is the caller's, never ours
    }
    return 0;
}

int CHttpSender::OnSeek(void* self, curl_off_t offset, int origin)
{
    auto* sender = static_cast<CHttpSender*>(self);
    if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > sender->m_upload.size()) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    sender->m_uploadPos = static_cast<size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

int CHttpSender::OnPrereq(void* self, char*, char*, int, int)
{
    ++static_cast<CHttpSender*>(self)->m_prereqCount;
    return CURL_PREREQFUNC_OK;
}

}  // namespace Web
