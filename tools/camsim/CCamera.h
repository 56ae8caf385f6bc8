#pragma once
// A simulated Sony G4 camera: CGI commands over HTTP/HTTPS with Basic or
// Digest authentication, Motion JPEG over RTP/UDP with RTCP, sensor inputs,
// alarm outputs and fault injection. Many may run in one process.
//
//   camsim::CameraConfig cfg;            // port 0: a free port
//   camsim::CCamera cam(cfg);
//   cam.Start();                         // cam.Port(), cam.BaseUrl()
//   ... driver talks to 127.0.0.1:cam.Port() ...
//   cam.RequestTargets();                // exact targets in arrival order
//   cam.GetStreamStats();                // RTP/RTCP figures, last RR
//   cam.SetRtpFaults({.dropFraction = 0.1});
//   cam.SetSensor(1, true);
//   CPictureStamp::Verify(data, size, &info);  // a received picture
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/camsim/CQueryString.h"
#include "tools/camsim/CamsimTypes.h"

namespace camsim {

class CAuthenticator;
class CFaultState;
class CHttpFrontend;
class CRtpStream;
class CStreamScheduler;
class CTlsIdentity;
struct RequestContext;

class CCamera {
public:
    // scheduler: the sending thread to share with other cameras; null makes
    // one of this camera's own. A shared one must outlive the camera.
    explicit CCamera(CameraConfig config, CStreamScheduler* scheduler = nullptr);
    ~CCamera();
    CCamera(const CCamera&) = delete;
    CCamera& operator=(const CCamera&) = delete;

    bool Start(std::string* error = nullptr);
    // Ends hanging requests, the web server and the stream; returns when
    // every thread and socket of this camera is released.
    void Stop();
    bool Running() const;

    uint16_t Port() const;
    std::string BaseUrl() const;  // "http://127.0.0.1:8080" or "https://..."
    const CameraConfig& Config() const { return m_config; }
    std::string CertificatePem() const;  // HTTPS only

    // ---- requests ----
    std::vector<RequestRecord> Requests() const;
    // Targets in arrival order; answeredOnly keeps only the requests that
    // passed authentication and faults and reached the command handling.
    std::vector<std::string> RequestTargets(bool answeredOnly = false) const;
    void ClearRequests();
    // Waits until a request whose target contains pattern arrived at or
    // after arrival number fromIndex; returns its record.
    std::optional<RequestRecord> WaitForRequest(std::string_view pattern, uint32_t timeoutMs, uint64_t fromIndex = 0);
    CameraSettings Settings() const;

    // ---- inputs and outputs ----
    unsigned SensorCount() const { return m_config.sensorCount; }
    bool SetSensor(unsigned sensor, bool on);  // 1-based
    bool Sensor(unsigned sensor) const;
    std::vector<AlarmOutputState> AlarmOutputs() const;  // index 0 is output 1
    std::vector<AlarmTrigger> AlarmTriggers() const;     // in arrival order

    // ---- stream ----
    // What "mjpeg?UdpMode=unicast&UdpPort=N" does: stream to destination:N
    // (RTCP to N+1) from sockets bound to localAddress ("" = bind address).
    bool StartStream(const std::string& destination, uint16_t rtpPort, const std::string& localAddress = "",
                     std::string* error = nullptr);
    void StopStream(const std::string& reason = "stopped");
    bool StreamActive() const;
    // The current stream, or the last one when none runs.
    StreamStats GetStreamStats() const;
    std::vector<StreamStats> StreamHistory() const;  // every stream, oldest first
    unsigned StreamStarts() const;

    // ---- faults ----
    void SetRtpFaults(const RtpFaults& faults);
    RtpFaults GetRtpFaults() const;
    void SetPaused(bool paused);
    void JumpSequence(uint32_t delta = 1000);
    void ChangeSsrc(std::optional<uint32_t> ssrc = std::nullopt);
    // The next picture's first datagram is this long (RTP header included);
    // a picture too small for it is padded first.
    void SendLongDatagram(size_t bytes = 5000);
    // The next picture is padded past minSize (a valid, stamped JPEG).
    bool SendOversizedPicture(size_t minSize = 786432 + 65536);
    void AddHttpFault(const HttpFaultRule& rule);
    void ClearHttpFaults();  // also releases hangs
    void ReleaseHangs();
    std::vector<HttpFaultRule> HttpFaults() const;
    void ResetFaults();
    // The /simctl command language (see CControlCommand.h); returns the
    // answer text, false in *ok for a bad command.
    std::string Control(std::string_view query, bool* ok = nullptr);

    // One line about everything sent and received.
    std::string Summary() const;

private:
    struct Reply;
    void OnRequest(RequestContext& ctx, Reply& reply);
    // One handler per command path, chosen from a table.
    using CgiParams = std::vector<CQueryString::Param>;
    struct CameraChanges;
    void HandleCgi(const std::string& path, const std::string& query, RequestContext& ctx, Reply& reply);
    void OnSystemCgi(const CgiParams& params, RequestContext& ctx, Reply& reply);
    void OnCameraCgi(const CgiParams& params, RequestContext& ctx, Reply& reply);
    void OnInquiryCgi(const CgiParams& params, RequestContext& ctx, Reply& reply);
    void OnAlarmOutCgi(const CgiParams& params, RequestContext& ctx, Reply& reply);
    void OnMainCgi(const CgiParams& params, RequestContext& ctx, Reply& reply);
    void OnMjpeg(const CgiParams& params, RequestContext& ctx, Reply& reply);
    static int ApplyCameraParam(const CQueryString::Param& p, CameraSettings& next, CameraChanges& changes);
    bool Hang(RequestContext& ctx);
    uint64_t Record(const RequestRecord& r);
    void Finish(uint64_t index, int status, bool authorized, const char* fault);
    void Log(const std::string& line) const;
    unsigned JpegQuality(std::optional<uint32_t> camera) const;

    CameraConfig m_config;
    std::unique_ptr<CStreamScheduler> m_ownScheduler;
    CStreamScheduler* m_scheduler;
    std::shared_ptr<CFaultState> m_faults;
    std::unique_ptr<CTlsIdentity> m_tls;
    std::unique_ptr<CAuthenticator> m_auth;
    std::unique_ptr<CHttpFrontend> m_http;
    mutable std::mutex m_lifeMutex;  // Start/Stop
    std::atomic<uint16_t> m_port{0};

    mutable std::mutex m_mutex;
    std::condition_variable m_requestArrived;
    std::deque<RequestRecord> m_requests;
    uint64_t m_nextRequest = 0;
    CameraSettings m_settings;
    std::vector<bool> m_sensors;
    std::vector<AlarmOutputState> m_alarms;
    std::vector<AlarmTrigger> m_triggers;
    std::vector<StreamStats> m_finishedStreams;
    unsigned m_streamStarts = 0;
    std::shared_ptr<CRtpStream> m_stream;
    bool m_stopping = false;

    std::mutex m_streamStartMutex;  // one stream start at a time
};

}  // namespace camsim
