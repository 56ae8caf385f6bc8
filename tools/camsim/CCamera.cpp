#include "tools/camsim/CCamera.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <sstream>
#include <thread>

#include "tools/camsim/CAuthenticator.h"
#include "tools/camsim/CControlCommand.h"
#include "tools/camsim/CFaultState.h"
#include "tools/camsim/CHttpFrontend.h"
#include "tools/camsim/CQueryString.h"
#include "tools/camsim/CRtpStream.h"
#include "tools/camsim/CStreamScheduler.h"
#include "tools/camsim/CTlsIdentity.h"

namespace camsim {

namespace {
constexpr size_t kMaxRecords = 100000;  // request log and triggers, oldest dropped
}

struct RequestContext {
    const httplib::Request* req = nullptr;
    CHttpFrontend::Connection* conn = nullptr;
    std::string remote;
    std::string local;
    uint64_t index = 0;
};

struct CCamera::Reply {
    int status = 404;
    std::string body;
    std::string contentType = "text/plain";
    std::string challenge;
};

CCamera::CCamera(CameraConfig config, CStreamScheduler* scheduler)
    : m_config(std::move(config)), m_faults(std::make_shared<CFaultState>()) {
    if (m_config.name.empty()) m_config.name = "camera1";
    if (m_config.settingsStatus != 204) m_config.settingsStatus = 200;
    if (scheduler == nullptr) m_ownScheduler = std::make_unique<CStreamScheduler>();
    m_scheduler = scheduler != nullptr ? scheduler : m_ownScheduler.get();
    m_sensors.assign(m_config.sensorCount, false);
    m_alarms.assign(m_config.alarmOutputCount, AlarmOutputState{});
    m_settings.width = m_config.defaultWidth;
    m_settings.height = m_config.defaultHeight;
}

CCamera::~CCamera() { Stop(); }

void CCamera::Log(const std::string& line) const {
    if (m_config.log) m_config.log(line);
}

bool CCamera::Start(std::string* error) {
    std::lock_guard<std::mutex> life(m_lifeMutex);
    if (m_http) {
        if (error) *error = "already running";
        return false;
    }
    SSL_CTX* ctx = nullptr;
    if (m_config.https) {
        auto tls = std::make_unique<CTlsIdentity>();
        const bool ok = m_config.certFile.empty() ? tls->Generate(m_config.bindAddress, error)
                                                  : tls->Load(m_config.certFile, m_config.keyFile, error);
        if (!ok) return false;
        ctx = tls->Context();
        m_tls = std::move(tls);
    }
    m_auth = std::make_unique<CAuthenticator>(m_config.auth, m_config.user, m_config.password, m_config.realm);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = false;
    }
    auto http = std::make_unique<CHttpFrontend>(ctx, m_config.httpThreads, m_config.ioTimeoutMs);
    http->set_pre_routing_handler([this, h = http.get()](const httplib::Request& req, httplib::Response& res) {
        RequestContext ctx;
        ctx.req = &req;
        ctx.conn = h->CurrentConnection();
        ctx.remote = req.remote_addr + ":" + std::to_string(req.remote_port);
        ctx.local = ctx.conn != nullptr ? ctx.conn->localAddress : std::string();
        Reply reply;
        OnRequest(ctx, reply);
        res.status = reply.status;
        if (!reply.challenge.empty()) res.set_header("WWW-Authenticate", reply.challenge);
        if (reply.status != 204) res.set_content(reply.body, reply.contentType);
        return httplib::Server::HandlerResponse::Handled;
    });
    if (!http->Open(m_config.bindAddress, m_config.httpPort, error)) return false;
    m_http = std::move(http);
    m_port = m_http->Port();
    const char* auth = m_config.auth == AuthMode::None ? "none" : m_config.auth == AuthMode::Basic ? "basic" : "digest";
    Log(m_config.name + ": listening on " + BaseUrl() + "/ (auth " + auth + ", " +
        std::to_string(m_config.sensorCount) + " sensors, " + std::to_string(m_config.alarmOutputCount) +
        " alarm outputs)");
    return true;
}

void CCamera::Stop() {
    std::lock_guard<std::mutex> life(m_lifeMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_faults->ReleaseHangs();
    if (m_http) {
        m_http->Close();
        m_http.reset();
        m_port = 0;
        Log(m_config.name + ": stopped");
    }
    StopStream("shutdown");
}

bool CCamera::Running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_stopping && m_port.load() != 0;
}

uint16_t CCamera::Port() const { return m_port.load(); }

std::string CCamera::BaseUrl() const {
    std::string host = m_config.bindAddress == "0.0.0.0" ? "127.0.0.1" : m_config.bindAddress;
    return std::string(m_config.https ? "https://" : "http://") + host + ":" + std::to_string(Port());
}

std::string CCamera::CertificatePem() const {
    std::lock_guard<std::mutex> life(m_lifeMutex);
    return m_tls ? m_tls->CertificatePem() : std::string();
}

// ---------------------------------------------------------------- requests

uint64_t CCamera::Record(const RequestRecord& r) {
    std::lock_guard<std::mutex> lock(m_mutex);
    RequestRecord rec = r;
    rec.index = m_nextRequest++;
    m_requests.push_back(rec);
    if (m_requests.size() > kMaxRecords) m_requests.pop_front();
    m_requestArrived.notify_all();
    return rec.index;
}

void CCamera::Finish(uint64_t index, int status, bool authorized, const char* fault) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_requests.empty() || index < m_requests.front().index) return;
    const size_t at = static_cast<size_t>(index - m_requests.front().index);
    if (at >= m_requests.size()) return;
    m_requests[at].status = status;
    m_requests[at].authorized = authorized;
    m_requests[at].fault = fault;
}

std::vector<RequestRecord> CCamera::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_requests.begin(), m_requests.end()};
}

std::vector<std::string> CCamera::RequestTargets(bool answeredOnly) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> out;
    for (const auto& r : m_requests) {
        if (answeredOnly && !r.authorized) continue;
        out.push_back(r.target);
    }
    return out;
}

void CCamera::ClearRequests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

std::optional<RequestRecord> CCamera::WaitForRequest(std::string_view pattern, uint32_t timeoutMs, uint64_t fromIndex) {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::optional<RequestRecord> found;
    m_requestArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const auto& r : m_requests)
            if (r.index >= fromIndex && r.target.find(pattern) != std::string::npos) {
                found = r;
                return true;
            }
        return false;
    });
    return found;
}

CameraSettings CCamera::Settings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

// ------------------------------------------------------ inputs and outputs

bool CCamera::SetSensor(unsigned sensor, bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (sensor == 0 || sensor > m_sensors.size()) return false;
    m_sensors[sensor - 1] = on;
    return true;
}

bool CCamera::Sensor(unsigned sensor) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return sensor > 0 && sensor <= m_sensors.size() && m_sensors[sensor - 1];
}

std::vector<AlarmOutputState> CCamera::AlarmOutputs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_alarms;
}

std::vector<AlarmTrigger> CCamera::AlarmTriggers() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_triggers;
}

// ------------------------------------------------------------------ stream

unsigned CCamera::JpegQuality(std::optional<uint32_t> camera) const {
    // The camera's scale is 1..10; larger values are taken as percent.
    uint32_t q = camera.value_or(m_config.defaultQuality);
    if (q == 0) q = m_config.defaultQuality;
    if (q <= 10) return std::max(1u, q * 10);
    return std::min<uint32_t>(q, 100);
}

bool CCamera::StartStream(const std::string& destination, uint16_t rtpPort, const std::string& localAddress,
                          std::string* error) {
    std::lock_guard<std::mutex> starting(m_streamStartMutex);
    CameraSettings s;
    unsigned starts;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            if (error) *error = "camera stopped";
            return false;
        }
        s = m_settings;
        starts = m_streamStarts;
    }
    const auto ring =
        m_scheduler->Pictures().Get(s.width, s.height, JpegQuality(s.jpQuality), m_config.ringSize, error);
    if (!ring) return false;
    std::random_device rd;
    CRtpStream::Params p;
    p.name = m_config.name;
    p.destination = destination;
    p.rtpPort = rtpPort;
    p.localAddress =
        localAddress.empty() ? (m_config.bindAddress == "0.0.0.0" ? "" : m_config.bindAddress) : localAddress;
    p.frameRate = s.jpFrameRate.value_or(0) == 0 ? m_config.defaultFrameRate : *s.jpFrameRate;
    p.expireMs = s.rtpExpireMs.value_or(m_config.defaultRtpExpireMs);
    p.srIntervalMs = m_config.srIntervalMs;
    p.maxPayload = m_config.maxPayload;
    p.firstSequence = m_config.firstSequence ? *m_config.firstSequence : static_cast<uint16_t>(rd());
    p.ssrc = m_config.ssrc ? *m_config.ssrc : static_cast<uint32_t>(rd());
    p.seed = m_config.faultSeed + starts;
    p.phase = m_config.streamPhase;
    p.ring = ring;
    p.faults = m_faults;
    p.log = m_config.log;
    p.pictureSent = m_config.pictureSent;
    auto stream = std::make_shared<CRtpStream>(std::move(p));
    if (!stream->Open(error)) return false;
    StopStream("replaced");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stream = stream;
        ++m_streamStarts;
    }
    m_scheduler->Add(stream);
    return true;
}

void CCamera::StopStream(const std::string& reason) {
    std::shared_ptr<CRtpStream> stream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stream = m_stream;
    }
    if (!stream) return;
    m_scheduler->Remove(stream.get());
    stream->Close(reason);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stream == stream) {
        m_finishedStreams.push_back(stream->Stats());
        m_stream.reset();
    }
}

bool CCamera::StreamActive() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stream && m_stream->Active();
}

StreamStats CCamera::GetStreamStats() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stream) return m_stream->Stats();
    if (!m_finishedStreams.empty()) return m_finishedStreams.back();
    return StreamStats{};
}

std::vector<StreamStats> CCamera::StreamHistory() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<StreamStats> out = m_finishedStreams;
    if (m_stream) out.push_back(m_stream->Stats());
    return out;
}

unsigned CCamera::StreamStarts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_streamStarts;
}

// ------------------------------------------------------------------ faults

void CCamera::SetRtpFaults(const RtpFaults& faults) { m_faults->SetRtp(faults); }
RtpFaults CCamera::GetRtpFaults() const { return m_faults->Rtp(); }
void CCamera::SetPaused(bool paused) { m_faults->SetPaused(paused); }
void CCamera::JumpSequence(uint32_t delta) { m_faults->RequestSequenceJump(delta); }
void CCamera::ChangeSsrc(std::optional<uint32_t> ssrc) { m_faults->RequestNewSsrc(ssrc); }
void CCamera::SendLongDatagram(size_t bytes) { m_faults->RequestLongDatagram(bytes); }
void CCamera::AddHttpFault(const HttpFaultRule& rule) { m_faults->AddHttpRule(rule); }
void CCamera::ClearHttpFaults() { m_faults->ClearHttpRules(); }
void CCamera::ReleaseHangs() { m_faults->ReleaseHangs(); }
std::vector<HttpFaultRule> CCamera::HttpFaults() const { return m_faults->HttpRules(); }
void CCamera::ResetFaults() { m_faults->Reset(); }

bool CCamera::SendOversizedPicture(size_t minSize) {
    std::shared_ptr<const CPictureRing> ring;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stream) ring = m_stream->Ring();
    }
    if (!ring) {
        CameraSettings s = Settings();
        ring = m_scheduler->Pictures().Get(s.width, s.height, JpegQuality(s.jpQuality), m_config.ringSize, nullptr);
    }
    if (!ring || ring->Count() == 0) return false;
    m_faults->RequestPicture(CPictureRing::MakeOversized(ring->At(0), minSize));
    return true;
}

std::string CCamera::Control(std::string_view query, bool* ok) {
    std::string answer;
    const bool good = CControlCommand::Apply(*this, query, &answer);
    if (ok) *ok = good;
    return answer;
}

std::string CCamera::Summary() const {
    uint64_t pictures = 0, packets = 0, octets = 0, srs = 0, rrs = 0, byes = 0, late = 0;
    int64_t maxLate = 0;
    for (const auto& s : StreamHistory()) {
        pictures += s.pictures;
        packets += s.packets;
        octets += s.octets;
        srs += s.senderReports;
        rrs += s.receiverReports;
        byes += s.byes;
        late += s.lateFrames;
        maxLate = std::max(maxLate, s.maxLatenessUs);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    std::ostringstream o;
    o << m_config.name << ": " << m_nextRequest << " requests, " << m_streamStarts << " streams, " << pictures
      << " pictures, " << packets << " RTP packets, " << octets << " payload bytes, " << srs << " sender reports, "
      << rrs << " receiver reports, " << byes << " BYE, " << m_triggers.size() << " alarm triggers, " << late
      << " late frames (max " << maxLate / 1000 << " ms late)";
    return o.str();
}

// ---------------------------------------------------------- HTTP handling

bool CCamera::Hang(RequestContext& ctx) {
    // Until released (true), or stopped or the client went away (false).
    const uint64_t generation = m_faults->HangGeneration();
    while (m_faults->HangGeneration() == generation) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping) return false;
        }
        if (ctx.conn == nullptr) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        pollfd p{ctx.conn->fd, POLLRDHUP, 0};
        const int r = ::poll(&p, 1, 50);
        if (r > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0) return false;
    }
    return true;
}

void CCamera::OnRequest(RequestContext& ctx, Reply& reply) {
    const httplib::Request& req = *ctx.req;
    std::string path, query;
    CQueryString::SplitTarget(req.target, &path, &query);

    if (path == "simctl" && m_config.controlEnabled) {
        // The control language takes the camera apart: it answers this
        // machine only (unless told otherwise) and asks for the camera's
        // own credentials.
        std::string challenge;
        if (!m_config.controlAnyPeer && !CControlCommand::IsLoopbackPeer(req.remote_addr)) {
            reply.status = 403;
            reply.body = "simctl answers loopback peers only\r\n";
        } else if (!m_auth->Check(req.method, req.target, req.get_header_value("Authorization"), &challenge)) {
            reply.status = 401;
            reply.challenge = challenge;
            reply.body = "401 Unauthorized\r\n";
        } else {
            bool ok = false;
            reply.body = Control(query, &ok);
            reply.status = ok ? 200 : 400;
        }
        Log(m_config.name + ": " + ctx.remote + " " + req.method + " " + req.target + " -> " +
            std::to_string(reply.status) + " (control)");
        return;
    }

    RequestRecord rec;
    rec.method = req.method;
    rec.target = req.target;
    rec.remote = ctx.remote;
    ctx.index = Record(rec);

    if (auto fault = m_faults->MatchHttp(req.target)) {
        switch (fault->action) {
        case HttpFaultAction::Status:
            reply.status = fault->status;
            reply.body = "fault\r\n";
            Finish(ctx.index, reply.status, false, "status");
            Log(m_config.name + ": " + ctx.remote + " " + req.method + " " + req.target + " -> " +
                std::to_string(reply.status) + " (fault)");
            return;
        case HttpFaultAction::Close:
            if (ctx.conn) ctx.conn->drop = true;
            reply.status = 500;
            Finish(ctx.index, 0, false, "close");
            Log(m_config.name + ": " + ctx.remote + " " + req.method + " " + req.target + " -> closed (fault)");
            return;
        case HttpFaultAction::Hang:
            Log(m_config.name + ": " + ctx.remote + " " + req.method + " " + req.target + " -> hanging (fault)");
            if (!Hang(ctx)) {
                if (ctx.conn) ctx.conn->drop = true;
                reply.status = 500;
                Finish(ctx.index, 0, false, "hang");
                Log(m_config.name + ": " + ctx.remote + " " + req.target + " hang ended without answer");
                return;
            }
            Log(m_config.name + ": " + ctx.remote + " " + req.target + " released");
            break;  // answered as usual
        }
    }

    std::string challenge;
    if (!m_auth->Check(req.method, req.target, req.get_header_value("Authorization"), &challenge)) {
        reply.status = 401;
        reply.challenge = challenge;
        reply.body = "401 Unauthorized\r\n";
        Finish(ctx.index, 401, false, "");
        Log(m_config.name + ": " + ctx.remote + " " + req.method + " " + req.target + " -> 401");
        return;
    }
    if (req.method != "GET") {
        reply.status = 405;
    } else {
        HandleCgi(path, query, ctx, reply);
    }
    Finish(ctx.index, reply.status, true, "");
    Log(m_config.name + ": " + ctx.remote + " " + req.method + " " + req.target + " -> " +
        std::to_string(reply.status));
}

void CCamera::HandleCgi(const std::string& path, const std::string& query, RequestContext& ctx, Reply& reply) {
    struct Route {
        std::string_view path;
        void (CCamera::*handler)(const CgiParams&, RequestContext&, Reply&);
    };
    // Every command takes parameters; an unknown path or none is a 404.
    static constexpr Route kRoutes[] = {
        {"command/system.cgi", &CCamera::OnSystemCgi},   {"command/camera.cgi", &CCamera::OnCameraCgi},
        {"command/inquiry.cgi", &CCamera::OnInquiryCgi}, {"command/alarmout.cgi", &CCamera::OnAlarmOutCgi},
        {"command/main.cgi", &CCamera::OnMainCgi},       {"mjpeg", &CCamera::OnMjpeg},
    };
    reply.status = 404;
    const auto params = CQueryString::Parse(query);
    if (params.empty()) return;
    for (const Route& route : kRoutes)
        if (route.path == path) return (this->*route.handler)(params, ctx, reply);
}

void CCamera::OnSystemCgi(const CgiParams& params, RequestContext&, Reply& reply) {
    // Validate everything first, so a request is applied whole or not.
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& p : params) {
        uint32_t n = 0;
        if (p.name == "VideoOutMode") continue;
        if (!CQueryString::ParseNumbered(p.name, "Sensor", "Mode", &n)) return;  // 404
        if (n == 0 || n > m_config.sensorCount || p.value.empty()) return void(reply.status = 400);
    }
    for (const auto& p : params) {
        uint32_t n = 0;
        if (p.name == "VideoOutMode")
            m_settings.videoOutMode = p.value;
        else if (CQueryString::ParseNumbered(p.name, "Sensor", "Mode", &n))
            m_settings.sensorModes[n] = p.value;
    }
    reply.status = m_config.settingsStatus;
}

// Which parts of a running stream a camera.cgi request touched.
struct CCamera::CameraChanges {
    bool frameRate = false;
    bool picture = false;
    bool expire = false;
};

// One camera.cgi parameter into next: 0 when taken, else the answer status.
int CCamera::ApplyCameraParam(const CQueryString::Param& p, CameraSettings& next, CameraChanges& changes) {
    uint32_t v = 0;
    if (p.name == "Color") {
        next.color = p.value;
    } else if (p.name == "Multicast") {
        next.multicast = p.value;
    } else if (p.name == "LightFunnel") {
        next.lightFunnel = p.value;
    } else if (p.name == "ImageCodec") {
        next.imageCodec = p.value;
    } else if (p.name == "JpBandwidth") {
        next.jpBandwidth = p.value;
    } else if (p.name == "RtpExpire") {
        if (!CQueryString::ParseUnsigned(p.value, &v)) return 400;
        next.rtpExpireMs = v;
        changes.expire = true;
    } else if (p.name == "PrivacyDispEach") {
        const size_t comma = p.value.find(',');
        if (comma == std::string::npos || !CQueryString::ParseUnsigned(p.value.substr(0, comma), &v) || v == 0 ||
            v > 32)
            return 400;
        next.privacyZones[v] = p.value.substr(comma + 1);
    } else if (p.name == "JpFrameRate") {
        if (!CQueryString::ParseUnsigned(p.value, &v) || v > 1000) return 400;
        next.jpFrameRate = v;
        changes.frameRate = true;
    } else if (p.name == "JpQuality") {
        if (!CQueryString::ParseUnsigned(p.value, &v) || v > 100) return 400;
        next.jpQuality = v;
        changes.picture = true;
    } else if (p.name == "JpImageSize") {
        unsigned w = 0, h = 0;
        if (!CQueryString::ParseSize(p.value, &w, &h)) return 400;
        next.width = w;
        next.height = h;
        changes.picture = true;
    } else {
        return 404;
    }
    return 0;
}

void CCamera::OnCameraCgi(const CgiParams& params, RequestContext&, Reply& reply) {
    CameraSettings next;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        next = m_settings;
    }
    CameraChanges changes;
    for (const auto& p : params)
        if (const int status = ApplyCameraParam(p, next, changes); status != 0) return void(reply.status = status);
    std::shared_ptr<CRtpStream> stream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_settings = next;
        stream = m_stream;
    }
    // A running stream follows the new settings.
    if (stream) {
        if (changes.frameRate)
            stream->SetFrameRate(next.jpFrameRate.value_or(0) == 0 ? m_config.defaultFrameRate : *next.jpFrameRate);
        if (changes.expire) stream->SetExpire(next.rtpExpireMs.value_or(0));
        if (changes.picture)
            stream->SetRing(m_scheduler->Pictures().Get(next.width, next.height, JpegQuality(next.jpQuality),
                                                        m_config.ringSize, nullptr));
    }
    reply.status = m_config.settingsStatus;
}

void CCamera::OnInquiryCgi(const CgiParams& params, RequestContext&, Reply& reply) {
    if (params.size() != 1 || params[0].name != "inq" || params[0].value != "sensor") return;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < m_sensors.size(); ++i)
        reply.body += "Sensor" + std::to_string(i + 1) + "=" + (m_sensors[i] ? "1" : "0") + "\r\n";
    reply.status = 200;
}

void CCamera::OnAlarmOutCgi(const CgiParams& params, RequestContext&, Reply& reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& p : params) {
        uint32_t n = 0;
        if (!CQueryString::ParseNumbered(p.name, "AlarmOut", "Func", &n) &&
            !CQueryString::ParseNumbered(p.name, "Ao", "ManualFunc", &n))
            return;  // 404
        if (n == 0 || n > m_config.alarmOutputCount || p.value.empty()) return void(reply.status = 400);
    }
    for (const auto& p : params) {
        uint32_t n = 0;
        if (CQueryString::ParseNumbered(p.name, "AlarmOut", "Func", &n))
            m_alarms[n - 1].func = p.value;
        else if (CQueryString::ParseNumbered(p.name, "Ao", "ManualFunc", &n))
            m_alarms[n - 1].manualFunc = p.value;
    }
    reply.status = m_config.settingsStatus;
}

void CCamera::OnMainCgi(const CgiParams& params, RequestContext&, Reply& reply) {
    if (params.size() != 1 || params[0].name != "trigger") return;
    uint32_t n = 0;
    bool on = false;
    if (CQueryString::ParseNumbered(params[0].value, "alarmout", "on", &n))
        on = true;
    else if (!CQueryString::ParseNumbered(params[0].value, "alarmout", "off", &n))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (n == 0 || n > m_config.alarmOutputCount) return void(reply.status = 400);
    m_alarms[n - 1].lastTrigger = on;
    m_triggers.push_back(AlarmTrigger{n, on});
    if (m_triggers.size() > kMaxRecords) m_triggers.erase(m_triggers.begin());
    reply.status = m_config.settingsStatus;
}

void CCamera::OnMjpeg(const CgiParams& params, RequestContext& ctx, Reply& reply) {
    std::string mode;
    uint32_t port = 0;
    bool havePort = false;
    for (const auto& p : params) {
        if (p.name == "UdpMode")
            mode = p.value;
        else if (p.name == "UdpPort")
            havePort = CQueryString::ParseUnsigned(p.value, &port);
        else
            return;  // 404
    }
    if (mode != "unicast" || !havePort || port == 0 || port > 65534) return void(reply.status = 400);
    std::string error;
    if (!StartStream(ctx.req->remote_addr, static_cast<uint16_t>(port), ctx.local, &error)) {
        Log(m_config.name + ": stream start failed: " + error);
        reply.status = 500;
        return;
    }
    reply.status = m_config.settingsStatus;
}

}  // namespace camsim
