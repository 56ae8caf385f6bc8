#include "tools/record/CLiveServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "tools/record/CLatestPicture.h"
#include "tools/record/CLivePage.h"
#include "tools/record/ILiveSource.h"

namespace kestrel::record {

namespace {

constexpr const char* kBoundary = "halyardframe";
constexpr auto kViewerPoll = std::chrono::milliseconds(250);
constexpr size_t kMaxAuthorization = 1024;
constexpr uint32_t kNoLimitMs = 0xFFFFFFFF;  // the loop ends once stop() is called

// TLS writes to a viewer that has gone raise SIGPIPE on the writing thread;
// the server's threads, started from the listening one, keep it blocked.
void BlockSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string UrlEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) != 0 || c == '.' || c == '_' || c == '-') {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

std::string LocalTime(int64_t us) {
    if (us <= 0) return "";
    const std::time_t seconds = static_cast<std::time_t>(us / 1000000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

const char* ContentTypeFor(const std::string& name) {
    const auto dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (ext == "mkv") return "video/x-matroska";
    if (ext == "avi") return "video/x-msvideo";
    if (ext == "jpg") return "image/jpeg";
    if (ext == "csv") return "text/csv";
    return "application/octet-stream";
}

void Refuse(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text + "\n", "text/plain; charset=utf-8");
}

// Closes the file once the download's provider is gone.
struct OpenFile {
    int fd = -1;
    explicit OpenFile(int f) : fd(f) {}
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
};

}  // namespace

CLiveServer::CLiveServer(ILiveSource& source, LiveServerOptions options)
    : m_source(source), m_options(std::move(options)) {}

CLiveServer::~CLiveServer() {
    Stop();
    OPENSSL_cleanse(m_options.password.data(), m_options.password.size());
}

bool CLiveServer::IsLoopback(const std::string& address) {
    if (address == "localhost") return true;
    in_addr addr{};
    if (::inet_pton(AF_INET, address.c_str(), &addr) != 1) return false;
    return (ntohl(addr.s_addr) >> 24) == 127;
}

std::string CLiveServer::Url() const {
    const std::string host = m_options.address == "0.0.0.0" ? "127.0.0.1" : m_options.address;
    return std::string(Secure() ? "https" : "http") + "://" + host + ":" + std::to_string(m_port) + "/";
}

bool CLiveServer::Start(std::string& error) {
    if (m_server) {
        error = "already started";
        return false;
    }
    if (!Secure() && !IsLoopback(m_options.address)) {
        error = "the live view on " + m_options.address + " needs --http-password-file (anyone could watch)";
        return false;
    }
    if (Secure()) {
        if (!m_certificate.Generate(m_options.address, error)) return false;
        m_server = std::make_unique<httplib::SSLServer>(m_certificate.Certificate(), m_certificate.Key());
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    if (!m_server->is_valid()) {
        error = "cannot set up the live view's server";
        m_server.reset();
        return false;
    }
    // Each live viewer holds a thread; room for cameras a re-read configuration adds.
    const size_t threads = (m_source.CameraCount() + 4) * m_options.maxViewersPerCamera + 8;
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    const auto sec = static_cast<time_t>(m_options.viewerTimeoutMs / 1000);
    const auto usec = static_cast<time_t>((m_options.viewerTimeoutMs % 1000) * 1000);
    m_server->set_write_timeout(sec, usec);
    m_server->set_read_timeout(5, 0);
    m_server->set_keep_alive_timeout(5);
    m_server->set_payload_max_length(64);
    m_server->set_default_headers({{"Cache-Control", "no-store"},
                                   {"X-Content-Type-Options", "nosniff"},
                                   {"X-Frame-Options", "DENY"},
                                   {"Referrer-Policy", "no-referrer"}});
    Route();

    const int bound = m_options.port == 0
                          ? m_server->bind_to_any_port(m_options.address)
                          : (m_server->bind_to_port(m_options.address, m_options.port) ? m_options.port : -1);
    if (bound <= 0) {
        error = "cannot listen on " + m_options.address + ":" + std::to_string(m_options.port) +
                " (address in use or not of this computer)";
        m_server.reset();
        return false;
    }
    m_port = static_cast<uint16_t>(bound);
    const bool started = m_listener.Start("record-live", [this](CStopToken&) {
        BlockSigpipe();
        m_server->listen_after_bind();
    });
    // stop() only reaches a loop that runs.
    while (started && !m_server->is_running() && m_listener.IsRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!m_server->is_running()) {
        m_listener.Stop(kNoLimitMs);
        m_server.reset();
        error = "the live view's server ended at once";
        return false;
    }
    return true;
}

void CLiveServer::Stop() {
    if (!m_server) return;
    m_listener.RequestStop();
    m_server->stop();
    m_listener.Join(kNoLimitMs);
    m_server.reset();
}

bool CLiveServer::Authorized(const httplib::Request& request) const {
    if (!Secure()) return true;
    const std::string header = request.get_header_value("Authorization");
    static const std::string kScheme = "Basic ";
    if (header.size() <= kScheme.size() || header.size() > kMaxAuthorization ||
        header.compare(0, kScheme.size(), kScheme) != 0) {
        return false;
    }
    const std::string encoded = header.substr(kScheme.size());
    if (encoded.size() % 4 != 0) return false;
    std::string decoded(encoded.size() / 4 * 3 + 1, '\0');
    const int n =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                        reinterpret_cast<const unsigned char*>(encoded.data()), static_cast<int>(encoded.size()));
    bool ok = false;
    if (n > 0) {
        size_t length = static_cast<size_t>(n);
        // The decoder counts the padding as bytes.
        for (size_t i = encoded.size(); i > 0 && encoded[i - 1] == '=' && length > 0; --i) --length;
        const auto colon = decoded.find(':');
        if (colon != std::string::npos && colon < length) {
            const size_t size = length - colon - 1;
            ok = size == m_options.password.size() &&
                 CRYPTO_memcmp(decoded.data() + colon + 1, m_options.password.data(), size) == 0;
        }
    }
    OPENSSL_cleanse(decoded.data(), decoded.size());
    return ok;
}

long CLiveServer::CameraIndex(const httplib::Request& request, httplib::Response& response) const {
    const std::string text = request.matches.size() > 1 ? request.matches[1].str() : "";
    long number = 0;
    if (!text.empty() && text.size() <= 4) number = std::stol(text);  // only digits reach here
    if (number < 1 || static_cast<size_t>(number) > m_source.CameraCount()) {
        Refuse(response, 404, "no such camera");
        return -1;
    }
    return number - 1;
}

void CLiveServer::Route() {
    httplib::Server& s = *m_server;
    s.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (Authorized(request)) return httplib::Server::HandlerResponse::Unhandled;
        response.set_header("WWW-Authenticate", "Basic realm=\"halyard-record\", charset=\"UTF-8\"");
        Refuse(response, 401, "log-in needed");
        return httplib::Server::HandlerResponse::Handled;
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            Refuse(response, response.status, response.status == 404 ? "not found" : "request refused");
        }
    });
    s.set_exception_handler([](const httplib::Request&, httplib::Response& response, const std::exception_ptr&) {
        Refuse(response, 500, "internal error");
    });

    s.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Security-Policy",
                            "default-src 'self'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                            "img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'");
        response.set_content(CLivePage::Html(), "text/html; charset=utf-8");
    });
    s.Get("/status", [this](const httplib::Request&, httplib::Response& response) { ServeStatus(response); });
    s.Get(R"(/camera/(\d+)/live)", [this](const httplib::Request& request, httplib::Response& response) {
        const long index = CameraIndex(request, response);
        if (index >= 0) ServeLive(static_cast<size_t>(index), response);
    });
    s.Get(R"(/camera/(\d+)/latest\.jpg)", [this](const httplib::Request& request, httplib::Response& response) {
        const long index = CameraIndex(request, response);
        if (index < 0) return;
        const auto slot = m_source.Latest(static_cast<size_t>(index));
        if (!slot) return Refuse(response, 404, "no such camera");
        auto picture = std::make_shared<CLatestPicture::Ref>(slot->Newest());
        if (!*picture) return Refuse(response, 503, "no picture yet");
        response.set_content_provider(
            picture->Size(), "image/jpeg", [picture](size_t offset, size_t length, httplib::DataSink& sink) {
                return sink.write(reinterpret_cast<const char*>(picture->Data()) + offset, length);
            });
    });
    s.Get(R"(/camera/(\d+)/recordings)", [this](const httplib::Request& request, httplib::Response& response) {
        const long index = CameraIndex(request, response);
        if (index >= 0) ServeRecordingList(static_cast<size_t>(index), false, response);
    });
    s.Get(R"(/camera/(\d+)/recordings\.json)", [this](const httplib::Request& request, httplib::Response& response) {
        const long index = CameraIndex(request, response);
        if (index >= 0) ServeRecordingList(static_cast<size_t>(index), true, response);
    });
    s.Get(R"(/camera/(\d+)/recordings/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
        const long index = CameraIndex(request, response);
        if (index >= 0) ServeRecording(static_cast<size_t>(index), request.matches[2].str(), response);
    });
    s.Post(R"(/camera/(\d+)/outputs/(\d+))", [this](const httplib::Request& request, httplib::Response& response) {
        const long index = CameraIndex(request, response);
        if (index >= 0) ServeOutput(static_cast<size_t>(index), request, response);
    });
}

void CLiveServer::ServeStatus(httplib::Response& response) {
    using nlohmann::json;
    json cameras = json::array();
    size_t number = 0;
    for (const auto& camera : m_source.Status()) {
        ++number;
        json inputs = json::array();
        for (const int32_t state : camera.inputs) inputs.push_back(state == 2 ? "on" : state == 1 ? "off" : "?");
        const std::string base = "/camera/" + std::to_string(number);
        cameras.push_back({{"number", number},
                           {"name", camera.name},
                           {"address", camera.address},
                           {"state", camera.state},
                           {"pictures", camera.pictures},
                           {"pictures_per_s", camera.picturesPerS},
                           {"kbit_per_s", camera.kbitPerS},
                           {"lost", camera.lost},
                           {"gaps", camera.gaps},
                           {"inputs", inputs},
                           {"outputs", camera.outputs},
                           {"live", base + "/live"},
                           {"latest", base + "/latest.jpg"},
                           {"recordings", base + "/recordings"}});
    }
    const json status = {{"elapsed_s", m_source.ElapsedS()}, {"outputs_switchable", Secure()}, {"cameras", cameras}};
    response.set_content(status.dump(), "application/json");
}

void CLiveServer::ServeLive(size_t index, httplib::Response& response) {
    std::shared_ptr<CLatestPicture> slot = m_source.Latest(index);
    if (!slot) return Refuse(response, 404, "no such camera");
    if (!slot->AddViewer(m_options.maxViewersPerCamera))
        return Refuse(response, 503, "too many viewers of this camera");
    response.set_content_provider(
        std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
        [this, slot, last = uint64_t{0}](size_t, httplib::DataSink& sink) mutable {
            while (!m_listener.Token().StopRequested()) {
                const CLatestPicture::Ref picture = slot->WaitNewer(last, kViewerPoll);
                if (!picture) {
                    if (slot->Closed()) return false;  // the camera was removed
                    continue;
                }
                last = picture.Sequence();
                char head[128];
                const int n =
                    std::snprintf(head, sizeof head, "--%s\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n\r\n",
                                  kBoundary, picture.Size());
                // A viewer that stops reading fails here after the write time-out.
                return sink.write(head, static_cast<size_t>(n)) &&
                       sink.write(reinterpret_cast<const char*>(picture.Data()), picture.Size()) &&
                       sink.write("\r\n", 2);
            }
            return false;
        },
        [slot](bool) { slot->RemoveViewer(); });
}

void CLiveServer::ServeRecordingList(size_t index, bool json, httplib::Response& response) {
    const auto files = m_source.Recordings(index);
    const std::string base = "/camera/" + std::to_string(index + 1) + "/recordings/";
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& file : files) {
            list.push_back({{"name", file.name},
                            {"url", base + UrlEncode(file.name)},
                            {"start", LocalTime(file.startUs)},
                            {"length_s", file.lengthS},
                            {"size", file.size},
                            {"writing", file.writing}});
        }
        response.set_content(list.dump(), "application/json");
        return;
    }
    const auto status = m_source.Status();
    const std::string name = index < status.size() ? HtmlEscape(status[index].name) : "camera";
    std::string html =
        "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>" +
        name +
        " recordings</title><style>"
        "body{font:15px system-ui,sans-serif;margin:1em;background:#111;color:#ddd}"
        "a{color:#8cf}table{border-collapse:collapse}td,th{padding:.3em .8em;text-align:left}"
        "tr:nth-child(even){background:#1c1c1c}.w{color:#fc6}</style></head><body>"
        "<p><a href=\"/\">&larr; all cameras</a></p><h1>" +
        name + " recordings</h1>";
    if (files.empty()) {
        html += "<p>No recorded files yet.</p>";
    } else {
        html += "<table><tr><th>file</th><th>start</th><th>length</th><th>size</th><th></th></tr>";
        for (const auto& file : files) {
            char length[32] = "";
            if (file.lengthS >= 0) std::snprintf(length, sizeof length, "%.0f s", file.lengthS);
            char size[32];
            std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(file.size) / 1e6);
            html += "<tr><td><a href=\"" + base + UrlEncode(file.name) + "\" download>" + HtmlEscape(file.name) +
                    "</a></td><td>" + LocalTime(file.startUs) + "</td><td>" + length + "</td><td>" + size +
                    "</td><td>" + (file.writing ? "<span class=\"w\">being written</span>" : "") + "</td></tr>";
        }
        html += "</table>";
    }
    html += "</body></html>";
    response.set_content(html, "text/html; charset=utf-8");
}

void CLiveServer::ServeRecording(size_t index, const std::string& name, httplib::Response& response) {
    // Only a name the recorder listed selects a file; its path comes from the list.
    std::string path;
    for (const auto& file : m_source.Recordings(index)) {
        if (file.name == name) path = file.path;
    }
    if (path.empty()) return Refuse(response, 404, "no such recording");
    auto file = std::make_shared<OpenFile>(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (file->fd < 0 || ::fstat(file->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return Refuse(response, 404, "no such recording");
    }
    const auto status = m_source.Status();
    std::string download = (index < status.size() ? status[index].name : std::string("camera")) + "-" + name;
    for (auto& c : download) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\' || c == '/') c = '_';
    }
    response.set_header("Content-Disposition", "attachment; filename=\"" + download + "\"");
    // A file being written is sent as far as it was when asked for.
    response.set_content_provider(static_cast<size_t>(st.st_size), ContentTypeFor(name),
                                  [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                      char buffer[64 * 1024];
                                      const size_t want = length < sizeof buffer ? length : sizeof buffer;
                                      const ssize_t got = ::pread(file->fd, buffer, want, static_cast<off_t>(offset));
                                      if (got <= 0) return false;
                                      return sink.write(buffer, static_cast<size_t>(got));
                                  });
}

void CLiveServer::ServeOutput(size_t index, const httplib::Request& request, httplib::Response& response) {
    if (!Secure()) return Refuse(response, 403, "switching outputs needs --http-password-file");
    // Another site's page must not switch outputs with the browser's log-in.
    const std::string origin = request.get_header_value("Origin");
    if (!origin.empty() && origin != "https://" + request.get_header_value("Host")) {
        return Refuse(response, 403, "request from another site");
    }
    const std::string text = request.matches[2].str();
    const long number = text.size() <= 3 ? std::stol(text) : 0;
    const auto status = m_source.Status();
    if (number < 1 || index >= status.size() || static_cast<uint32_t>(number) > status[index].outputs) {
        return Refuse(response, 404, "no such output");
    }
    bool on = false;
    if (request.body == "on") {
        on = true;
    } else if (request.body != "off") {
        return Refuse(response, 400, "send on or off");
    }
    std::string error;
    if (!m_source.SwitchOutput(index, static_cast<uint32_t>(number - 1), on, error)) {
        return Refuse(response, 502, error.empty() ? "the camera did not switch the output" : error);
    }
    // The camera switches it on its own thread; its log line tells when.
    response.set_content(std::string("output ") + text + (on ? " on" : " off") + " asked for\n", "text/plain");
}

}  // namespace kestrel::record
