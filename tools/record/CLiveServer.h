#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runtime/CWorkerThread.h"
#include "tools/record/CSelfSignedCertificate.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace kestrel::record {

class ILiveSource;

struct LiveServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 8080;  // 0: any free port
    // Empty: plain HTTP without log-in (loopback only). Otherwise HTTPS with
    // a certificate made at start, and Basic log-in with this password.
    std::string password;
    uint32_t viewerTimeoutMs = 5000;  // a viewer that reads nothing for this long is dropped
    uint32_t maxViewersPerCamera = 8;
};

// The recorder's web page: the live pictures as Motion JPEG (the very bytes
// the camera sent), the figures as JSON, the recorded files, the alarm
// outputs. Requests only select among what the source lists; no path is
// ever made from request text.
class CLiveServer {
public:
    CLiveServer(ILiveSource& source, LiveServerOptions options);
    ~CLiveServer();
    CLiveServer(const CLiveServer&) = delete;
    CLiveServer& operator=(const CLiveServer&) = delete;

    bool Start(std::string& error);
    // Ends every viewer's stream and joins the server's threads.
    void Stop();

    uint16_t Port() const { return m_port; }
    std::string Url() const;
    bool Secure() const { return !m_options.password.empty(); }
    std::string Fingerprint() const { return m_certificate.Sha256Fingerprint(); }

    static bool IsLoopback(const std::string& address);

private:
    void Route();
    bool Authorized(const httplib::Request& request) const;
    // Camera index from the path's first number; -1 and a 404 when unknown.
    long CameraIndex(const httplib::Request& request, httplib::Response& response) const;
    void ServeLive(size_t index, httplib::Response& response);
    void ServeRecordingList(size_t index, bool json, httplib::Response& response);
    void ServeRecording(size_t index, const std::string& name, httplib::Response& response);
    void ServeOutput(size_t index, const httplib::Request& request, httplib::Response& response);
    void ServeStatus(httplib::Response& response);

    ILiveSource& m_source;
    LiveServerOptions m_options;
    CSelfSignedCertificate m_certificate;
    std::unique_ptr<httplib::Server> m_server;
    uint16_t m_port = 0;
    // Runs httplib's accept loop; its token also ends the viewers' streams.
    CWorkerThread m_listener;
};

}  // namespace kestrel::record
