#include "web/CCurlTransfer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "web/CBaseHttpSender.h"
#include "web/CertificatePin.h"
#include "web/HttpText.h"

namespace Web {
namespace {

constexpr uint32_t ErrorIncorrectHandleState = 12019;

std::once_flag g_curlStarted;

uint32_t MapCurlError(CURLcode code) {
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

long CurlAuthOfScheme(uint32_t scheme) {
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

}  // namespace

CCurlTransfer::CCurlTransfer(uint32_t timeLimitMs, kestrel::ITickClock& clock, const kestrel::CStopToken& stop)
    : m_timeLimitMs(timeLimitMs), m_clock(clock), m_stop(stop), m_body(kAnswerBodyLimit, CURL_MAX_WRITE_SIZE) {
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
        if (m_multi != nullptr) curl_multi_cleanup(m_multi);
        m_multi = nullptr;
        return;
    }
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, 16L);
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 16L);
}

CCurlTransfer::~CCurlTransfer() { Shutdown(); }

void CCurlTransfer::Shutdown() {
    // Only an open request is closed here: a closed one may be reset by an
    // Interrupt meanwhile.
    if (m_open) {
        Close();
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

void CCurlTransfer::Interrupt(const std::function<void()>& whileAlive) {
    // Under m_multiLock Shutdown cannot free the handles meanwhile.
    std::lock_guard<std::mutex> guard(m_multiLock);
    if (m_multi == nullptr) {
        return;
    }
    curl_multi_wakeup(m_multi);
    whileAlive();
}

// A handle with the options of the client; a refused one only loses that
// option.
CURL* CCurlTransfer::NewEasy() {
    CURL* e = curl_easy_init();
    if (e == nullptr) {
        return nullptr;
    }
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Kestrel::HttpSender");
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_timeLimitMs));
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CCurlTransfer::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CCurlTransfer::OnWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &CCurlTransfer::OnRead);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
    curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, &CCurlTransfer::OnSeek);
    curl_easy_setopt(e, CURLOPT_SEEKDATA, this);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CCurlTransfer::OnPrereq);
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
bool CCurlTransfer::FreshEasy() {
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

bool CCurlTransfer::ParsesAsUrl(const std::string& url) {
    CURLU* parsed = curl_url();
    if (parsed == nullptr) {
        throw std::bad_alloc();
    }
    const bool parses = curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_PATH_AS_IS) == CURLUE_OK;
    curl_url_cleanup(parsed);
    return parses;
}

// What is left of the attempt's time; wraps of the tick count are harmless.
uint32_t CCurlTransfer::TimeLeftMs() const {
    const uint32_t spent = m_clock.NowMs() - m_attemptStartMs;
    return spent >= m_timeLimitMs ? 0 : m_timeLimitMs - spent;
}

template <typename Value>
void CCurlTransfer::Set(CURLoption option, Value value) {
    if (curl_easy_setopt(m_easy, option, value) != CURLE_OK) {
        m_optionsOk = false;
    }
}

bool CCurlTransfer::Start(const BuiltRequest& built, const std::vector<uint8_t>& body, const Credentials& credentials,
                          bool secure, const std::string& pin) {
    if (!Usable() || !FreshEasy()) {
        return false;
    }
    m_optionsOk = true;
    SetTarget(built, body);
    if (!SetCredentials(credentials)) {
        return false;
    }
    SetPin(built, secure, pin);
    SetHeaders(built.headers);
    if (!m_optionsOk || curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
        return false;
    }
    m_easyUsed = true;
    m_open = true;
    return true;
}

// The request line carries the target exactly as built. The URL holds it
// too, because Digest signs the URL's path and query.
void CCurlTransfer::SetTarget(const BuiltRequest& built, const std::vector<uint8_t>& body) {
    m_follow = built.follow;
    Set(CURLOPT_URL, built.url.c_str());
    Set(CURLOPT_REQUEST_TARGET, m_follow ? static_cast<const char*>(nullptr) : built.target.c_str());
    Set(CURLOPT_FOLLOWLOCATION, m_follow ? 1L : 0L);

    m_upload.assign(body.begin(), body.end());
    m_uploadPos = 0;
    m_uploadDeclared = built.declaredLength;
    const char* customVerb = built.customVerb.empty() ? nullptr : built.customVerb.c_str();
    if (built.hasBody) {
        Set(CURLOPT_NOBODY, 0L);
        Set(CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
        Set(CURLOPT_POST, 1L);
        Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_uploadDeclared));
    } else {
        Set(CURLOPT_HTTPGET, 1L);
        Set(CURLOPT_NOBODY, built.head ? 1L : 0L);
    }
    Set(CURLOPT_CUSTOMREQUEST, customVerb);
}

bool CCurlTransfer::SetCredentials(const Credentials& credentials) {
    m_authMayRepeat = false;
    if (credentials.user == nullptr || credentials.scheme == 0) {
        Set(CURLOPT_USERNAME, static_cast<const char*>(nullptr));
        Set(CURLOPT_PASSWORD, static_cast<const char*>(nullptr));
        Set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        return true;
    }
    const long auth = CurlAuthOfScheme(credentials.scheme);
    if (auth == 0) {
        return false;  // credentials refused
    }
    Set(CURLOPT_USERNAME, credentials.user->c_str());
    Set(CURLOPT_PASSWORD, credentials.password != nullptr ? credentials.password->c_str() : "");
    Set(CURLOPT_HTTPAUTH, auth);
    m_authMayRepeat = auth != static_cast<long>(CURLAUTH_BASIC);
    return true;
}

void CCurlTransfer::SetPin(const BuiltRequest& built, bool secure, const std::string& pin) {
    Set(CURLOPT_SSL_VERIFYPEER, built.ignoreCertErrors ? 0L : 1L);
    Set(CURLOPT_SSL_VERIFYHOST, built.ignoreCertErrors ? 0L : 2L);
    m_pinAsked = false;
    if (!secure) {
        return;
    }
    if (!pin.empty()) {
        Set(CURLOPT_PINNEDPUBLICKEY, pin.c_str());
    } else {
        m_pinAsked = true;
        Set(CURLOPT_CERTINFO, 1L);
    }
}

void CCurlTransfer::SetHeaders(const std::vector<std::string>& lines) {
    if (m_headerList != nullptr) {
        curl_slist_free_all(m_headerList);
        m_headerList = nullptr;
    }
    for (const std::string& line : lines) {
        curl_slist* grown = curl_slist_append(m_headerList, line.c_str());
        if (grown == nullptr) {
            throw std::bad_alloc();
        }
        m_headerList = grown;
    }
    Set(CURLOPT_HTTPHEADER, m_headerList);
}

// Milliseconds of the wait for the network, at least 1 so a wait never
// spins, at most 1000 so a clock stepped by a test is looked at again soon.
void CCurlTransfer::Wait(uint32_t leftMs) {
    const int ms = m_timeLimitMs != 0 ? static_cast<int>(std::clamp<uint32_t>(leftMs, 1, 1000)) : 1000;
    curl_multi_poll(m_multi, nullptr, 0, ms, nullptr);
}

// A new connection or a request libcurl repeats (authentication) is
// written again: sending starts over. It ends when the body is out.
bool CCurlTransfer::StillSending(unsigned& prereqSeen, bool sending) {
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
    return sending;
}

CCurlTransfer::HeadResult CCurlTransfer::WaitForHead(bool sendOnly) {
    m_sendOnly = sendOnly;
    // One deadline for the whole attempt: a camera that trickles its answer
    // gets no more time than one that sends nothing.
    const bool timed = m_timeLimitMs != 0;
    bool sending = true;
    unsigned prereqSeen = 0;
    auto failed = [&sending](uint32_t error) {
        return HeadResult{sending ? HeadWait::FailedSending : HeadWait::FailedAnswering, error};
    };
    for (;;) {
        if (m_stop.StopRequested()) {
            return failed(ErrorCancelled);
        }
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            return failed(ErrorGeneric);
        }
        CollectDone();
        const uint32_t left = TimeLeftMs();
        sending = StillSending(prereqSeen, sending);
        if (!sending && sendOnly) {
            return {HeadWait::Sent, 0};
        }
        if (HeadIsFinal()) {
            return {HeadWait::HeadReady, 0};
        }
        if (m_done) {
            if (m_doneCode != CURLE_OK) {
                return failed(MapCurlError(m_doneCode));
            }
            return {HeadWait::FailedAnswering, ErrorInvalidServerResponse};
        }
        if (timed && left == 0) {
            return failed(ErrorTimeout);
        }
        Wait(left);
    }
}

bool CCurlTransfer::HeadIsFinal() const {
    if (!m_head.Done()) {
        return false;
    }
    if (m_body.Started() || m_done) {
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

void CCurlTransfer::CollectDone() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy) {
            m_done = true;
            m_doneCode = message->data.result;
        }
    }
}

void CCurlTransfer::Close() {
    if (m_open) {
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
        m_open = false;
    }
    m_sendOnly = false;
    m_prereqCount = 0;
    m_done = false;
    m_doneCode = CURLE_OK;
    m_head.Reset();
    m_body.Reset();
    m_paused = false;
}

// Runs the transfer until `ready` holds, it ends, or the attempt's
// deadline passes.
template <typename Ready>
uint32_t CCurlTransfer::Pump(Ready ready) {
    if (!m_head.Done()) {
        return ErrorIncorrectHandleState;  // the response was never awaited
    }
    const bool timed = m_timeLimitMs != 0;
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
            return m_body.TooLarge() ? ErrorAnswerTooLarge : MapCurlError(m_doneCode);
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
        Wait(left);
    }
}

uint32_t CCurlTransfer::WaitForBody() {
    return Pump([this] { return m_body.Waiting() > 0; });
}

uint32_t CCurlTransfer::ReadWhole(std::vector<uint8_t>& out, size_t wanted) {
    m_body.BeginWhole(out);
    const uint32_t error = Pump([&] { return out.size() >= wanted; });
    m_body.EndWhole();
    return error;
}

std::string CCurlTransfer::MetKeyPin() const {
    if (!m_pinAsked) {
        return {};
    }
    struct curl_certinfo* info = nullptr;
    if (curl_easy_getinfo(m_easy, CURLINFO_CERTINFO, &info) != CURLE_OK || info == nullptr || info->num_of_certs < 1) {
        return {};
    }
    for (const curl_slist* item = info->certinfo[0]; item != nullptr; item = item->next) {
        if (std::strncmp(item->data, "Cert:", 5) == 0) {
            return PinOfCertificatePem(item->data + 5, std::strlen(item->data + 5));
        }
    }
    return {};
}

size_t CCurlTransfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    const size_t n = size * count;
    try {
        static_cast<CCurlTransfer*>(self)->m_head.OnLine(reinterpret_cast<const uint8_t*>(data), n);
    } catch (...) {
        return 0;  // nothing may leave a libcurl callback; the transfer ends
    }
    return n;
}

size_t CCurlTransfer::OnWrite(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CCurlTransfer*>(self);
    const size_t n = size * count;
    if (transfer->m_discarding) {
        return n;
    }
    try {
        switch (transfer->m_body.Deliver(reinterpret_cast<const uint8_t*>(data), n)) {
        case CAnswerBody::Taken::Kept:
            return n;
        case CAnswerBody::Taken::Held:
            // libcurl keeps this delivery until resumed.
            transfer->m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        case CAnswerBody::Taken::TooLarge:
            return 0;  // ends the transfer
        }
    } catch (...) {
        // nothing may leave a libcurl callback; the transfer ends
    }
    return 0;
}

size_t CCurlTransfer::OnRead(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<CCurlTransfer*>(self);
    const size_t room = size * count;
    const size_t left = transfer->m_upload.size() - transfer->m_uploadPos;
    if (left > 0) {
        const size_t n = std::min(room, left);
        std::memcpy(data, transfer->m_upload.data() + transfer->m_uploadPos, n);
        transfer->m_uploadPos += n;
        return n;
    }
    if (transfer->m_uploadDeclared > transfer->m_upload.size()) {
        return CURL_READFUNC_PAUSE;  // the rest is the caller's, never ours
    }
    return 0;
}

int CCurlTransfer::OnSeek(void* self, curl_off_t offset, int origin) {
    auto* transfer = static_cast<CCurlTransfer*>(self);
    if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > transfer->m_upload.size()) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    transfer->m_uploadPos = static_cast<size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

int CCurlTransfer::OnPrereq(void* self, char*, char*, int, int) {
    ++static_cast<CCurlTransfer*>(self)->m_prereqCount;
    return CURL_PREREQFUNC_OK;
}

}  // namespace Web
