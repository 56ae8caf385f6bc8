#include "web/CHttpSender.h"

#include <chrono>

#include "web/HttpText.h"

namespace Web {
namespace {

constexpr uint32_t ErrorHeaderNotFound = 12150;

}  // namespace

CHttpSender::CHttpSender(const kestrel::DEVICE_INFO& device, std::shared_ptr<CHttpTrust> trust,
                         kestrel::ITickClock& clock)
    : CBaseHttpSender(device), m_trust(std::move(trust)), m_transfer(m_device.requestTimeLimitMs, clock, m_stop) {
    if (m_trust == nullptr) {
        m_trust = m_device.httpTrust;
    }
    if (m_trust == nullptr) {
        m_trust = std::make_shared<CHttpTrust>();
    }
    m_secure = m_device.port == 443 ? 1 : 0;
}

CHttpSender::~CHttpSender() {
    {
        std::lock_guard<std::mutex> work(m_workLock);
        m_transfer.Close();
    }
    m_transfer.Shutdown();
}

uint32_t CHttpSender::StatusCode() const { return m_statusCode; }
uint32_t CHttpSender::ContentLength() const { return m_contentLength; }
uint32_t CHttpSender::LastError() const { return m_lastError; }
uint32_t CHttpSender::LearnedScheme() const { return m_trust->LearnedScheme(); }
uint32_t CHttpSender::Secure() const { return m_secure; }
uint32_t CHttpSender::ReadFailure() const { return m_readFailure; }
void CHttpSender::ForgetScheme() { m_trust->ForgetScheme(); }
void CHttpSender::ResetCancel() { m_stop.Reset(); }

bool CHttpSender::Send(const HttpRequest& request) {
    std::lock_guard<std::mutex> work(m_workLock);
    m_authRetried = false;
    if (m_stop.StopRequested()) {
        // A stop in force: nothing new goes to the camera until a restart.
        m_transfer.Close();
        m_statusCode = 0;
        m_contentLength = 0;
        m_lastError = ErrorCancelled;
        return false;
    }
    return SendCopy(request);
}

// The body of Send; the 401 learning step re-enters here, so that a Cancel
// arriving meanwhile is not cleared and still ends the request.
bool CHttpSender::SendCopy(const HttpRequest& request) {
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

void CHttpSender::Cancel() {
    m_stop.RequestStop();
    // When no operation runs, release the request here; otherwise the
    // working thread sees the stop as soon as its wait wakes up.
    m_transfer.Interrupt([this] {
        if (m_workLock.try_lock()) {
            m_transfer.Close();
            m_workLock.unlock();
        }
    });
}

CHttpSender::Next CHttpSender::Attempt(HttpRequest& copy) {
    m_transfer.Close();
    m_statusCode = 0;
    m_contentLength = 0;
    m_lastError = 0;

    if (!m_connected && !MakeConnection()) {
        return Next::GiveUp;
    }
    if (copy.verb.empty() || copy.path.empty()) {
        return Next::GiveUp;
    }
    m_transfer.StartClock();
    m_probing = false;
    if (!StartRequest(copy)) {
        SettleProbe(CHttpTrust::Probe::Unknown);
        return Next::GiveUp;
    }
    const bool sendOnly = copy.body.size() < copy.totalLength || (copy.flags & HttpRequest::FlagSendOnly) != 0;
    const CCurlTransfer::HeadResult result = m_transfer.WaitForHead(sendOnly);
    const bool failed =
        result.how == CCurlTransfer::HeadWait::FailedSending || result.how == CCurlTransfer::HeadWait::FailedAnswering;
    if (failed || sendOnly) {
        SettleProbe(CHttpTrust::Probe::Unknown);
    }
    if (failed) {
        m_lastError = result.error;
        m_transfer.Close();
        return AfterFailure(result);
    }
    if (copy.secure == 1 && !PinMetKey()) {
        SettleProbe(CHttpTrust::Probe::Unknown);
        m_lastError = ErrorKeyChanged;
        m_transfer.Close();
        return Next::GiveUp;
    }
    if (sendOnly) {
        return Next::Answered;
    }
    return AfterHead(copy);
}

// Whether a failed attempt is worth the other protocol.
CHttpSender::Next CHttpSender::AfterFailure(const CCurlTransfer::HeadResult& result) {
    // A camera whose key changed is not to be asked over plain HTTP.
    if (result.error == ErrorKeyChanged) {
        return Next::GiveUp;
    }
    if (result.how == CCurlTransfer::HeadWait::FailedSending) {
        return result.error == ErrorTimeout ? Next::GiveUp : Next::TryOtherProtocol;
    }
    return result.error == ErrorInvalidServerResponse ? Next::GiveUp : Next::TryOtherProtocol;
}

// A 401 to a request sent before anything was learned teaches the scheme
// the camera offers, and the request goes again with it when it went out
// with another (or without credentials).
CHttpSender::Next CHttpSender::AfterHead(HttpRequest& copy) {
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
    m_transfer.Close();
    if (offered != 0 && scheme != m_usedScheme) {
        m_authRetried = true;
        return SendCopy(copy) ? Next::Answered : Next::TryOtherProtocol;
    }
    return Next::Answered;
}

void CHttpSender::SettleProbe(CHttpTrust::Probe outcome) {
    if (m_probing) {
        m_probing = false;
        m_trust->SettleProbe(outcome);
    }
}

// The first key seen over TLS is pinned; a connection that presents another
// one is refused by libcurl, this catches a sender that raced another.
bool CHttpSender::PinMetKey() {
    const std::string pin = m_transfer.MetKeyPin();
    return pin.empty() || m_trust->PinOrMatch(pin);
}

bool CHttpSender::MakeConnection() {
    if (!m_transfer.Usable()) {
        return false;
    }
    std::string hostPort;
    if (!CRequestBuilder::HostPort(m_device.address, m_device.port, hostPort) ||
        !CCurlTransfer::ParsesAsUrl("http://" + hostPort + "/")) {
        return false;
    }
    m_hostPort = std::move(hostPort);
    m_connected = true;
    return true;
}

// Builds the request and hands it to the transfer; the shared trust has its
// say on Basic and on the certificate's key.
bool CHttpSender::StartRequest(const HttpRequest& copy) {
    m_learnedAtPrepare = m_trust->LearnedScheme();
    BuiltRequest& built = m_built;
    if (!CRequestBuilder::Build(copy, m_hostPort, !m_device.userName.empty(), m_learnedAtPrepare, built)) {
        return false;
    }
    // A target that libcurl cannot parse as a URL still goes out on the
    // request line, unsigned by Digest.
    if (!CCurlTransfer::ParsesAsUrl(built.url)) {
        if (built.follow) {
            return false;
        }
        built.url = CRequestBuilder::HostOnlyUrl(built);
    }
    m_usedScheme = SchemeToSend(built);
    CCurlTransfer::Credentials credentials;
    if (built.credentials) {
        credentials = {&m_device.userName, &m_device.password, m_usedScheme};
    }
    const bool secure = copy.secure == 1;
    return m_transfer.Start(built, copy.body, credentials, secure, secure ? m_trust->PinnedKey() : std::string());
}

// Basic before the camera named its scheme goes only as the shared trust
// allows: the first request probes, the others wait for its answer.
uint32_t CHttpSender::SchemeToSend(BuiltRequest& built) {
    if (built.basicInAdvance) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_transfer.TimeLeftMs());
        const auto basic = m_trust->MayAskWithBasic(deadline, [this] { return m_stop.StopRequested(); });
        m_probing = basic == CHttpTrust::Basic::Probe;
        if (basic == CHttpTrust::Basic::Withhold) {
            built.scheme = 0;
        }
    }
    return built.scheme;
}

void CHttpSender::ReadHeadResults() {
    const CAnswerHead& head = m_transfer.Head();
    m_statusCode = head.Status();
    if (m_statusCode == 204) {
        return;
    }
    uint32_t length = 0;
    if (head.ContentLength(length)) {
        m_contentLength = length;
        return;
    }
    m_lastError = ErrorHeaderNotFound;
}

// Only what the driver can answer is learned: a challenge naming Passport
// or NTLM alone would otherwise stop every later request.
uint32_t CHttpSender::FirstAnswerableScheme() const {
    return m_transfer.Head().FirstScheme(SchemeBasic | SchemeDigest);
}

bool CHttpSender::RequestUsable() {
    if (m_stop.StopRequested()) {
        m_transfer.Close();
    }
    return m_transfer.IsOpen();
}

uint32_t CHttpSender::QueryDataAvailable() {
    std::lock_guard<std::mutex> work(m_workLock);
    if (!RequestUsable() || m_transfer.WaitForBody() != 0) {
        return 0;
    }
    return static_cast<uint32_t>(m_transfer.Body().Waiting());
}

uint32_t CHttpSender::ReadResponse(std::vector<uint8_t>& out) {
    std::lock_guard<std::mutex> work(m_workLock);
    out.clear();
    m_readFailure = 0;
    if (!RequestUsable()) {
        return 0;
    }
    // A length over the bound is refused before a byte of the body is read.
    const bool tooLarge = m_contentLength > kAnswerBodyLimit || m_transfer.Body().TooLarge();
    const uint32_t error = tooLarge ? ErrorAnswerTooLarge : ReadWhole(out);
    if (error != 0) {
        // A body cut off in time stays short; one too large is not kept.
        m_lastError = error;
        m_readFailure = error;
        if (error == ErrorAnswerTooLarge) {
            out.clear();
            m_transfer.Close();
        }
    }
    return static_cast<uint32_t>(out.size());
}

// The body goes from libcurl's buffer straight into `out`, sized up front
// when its length is known; only what arrived with the head passes through
// the body's own buffer.
uint32_t CHttpSender::ReadWhole(std::vector<uint8_t>& out) {
    const size_t wanted = m_contentLength != 0 ? m_contentLength : kAnswerBodyLimit;
    if (m_contentLength != 0) {
        out.reserve(wanted);
    }
    uint32_t error = m_transfer.ReadWhole(out, wanted);
    if (m_transfer.Body().TooLarge()) {
        error = ErrorAnswerTooLarge;
    } else if (error != 0 && m_transfer.EndedCleanly()) {
        error = 0;  // the body ended before the limit: that is all of it
    }
    if (out.size() > wanted) {
        out.resize(wanted);
    }
    return error;
}

uint32_t CHttpSender::ReadData(std::vector<uint8_t>& out, uint32_t maxBytes, bool clear) {
    std::lock_guard<std::mutex> work(m_workLock);
    if (clear) {
        out.clear();
    }
    m_readFailure = 0;
    if (!RequestUsable() || maxBytes == 0) {
        return 0;
    }
    const uint32_t error = m_transfer.WaitForBody();
    if (error != 0) {
        m_lastError = error;
        m_readFailure = error;
        return 0;
    }
    return static_cast<uint32_t>(m_transfer.Body().TakeInto(out, maxBytes));
}

}  // namespace Web
