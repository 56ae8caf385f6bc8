#pragma once
// The driver's side of the simulator in the tests: a libcurl client, a raw
// socket for exact request lines, and an RTP/RTCP port pair that joins
// packets into pictures.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace camsim_test {

struct HttpAnswer {
    long status = 0;  // 0: no answer
    std::string body, headers;
    int curlCode = 0;
};
enum class Auth { None, Basic, Digest, Any };

inline size_t Append(char* data, size_t size, size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

inline HttpAnswer Get(const std::string& url, Auth auth = Auth::None, const std::string& user = "",
                      const std::string& password = "", long timeoutMs = 5000) {
    HttpAnswer a;
    CURL* c = curl_easy_init();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &a.body);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, Append);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &a.headers);
    if (auth != Auth::None) {
        curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
        curl_easy_setopt(c, CURLOPT_HTTPAUTH,
                         auth == Auth::Basic    ? CURLAUTH_BASIC
                         : auth == Auth::Digest ? CURLAUTH_DIGEST
                                                : CURLAUTH_ANY);
    }
    a.curlCode = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &a.status);
    curl_easy_cleanup(c);
    return a;
}

inline sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Sends the text as it stands; the whole answer, "" when closed without one.
inline std::string Raw(uint16_t port, const std::string& request, int timeoutMs = 5000) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    std::string out;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        pollfd p{fd, POLLIN, 0};
        char buf[4096];
        for (ssize_t r = 1; r > 0 && ::poll(&p, 1, timeoutMs) > 0;)
            if ((r = ::recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<size_t>(r));
    }
    ::close(fd);
    return out;
}

template <typename Pred>
bool WaitUntil(Pred pred, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline uint32_t Be32(const std::vector<uint8_t>& v, size_t at) {
    return (uint32_t{v[at]} << 24) | (uint32_t{v[at + 1]} << 16) | (uint32_t{v[at + 2]} << 8) | v[at + 3];
}
inline uint16_t Seq(const std::vector<uint8_t>& rtp) { return static_cast<uint16_t>((rtp[2] << 8) | rtp[3]); }

inline bool Decodes(const std::vector<uint8_t>& jpeg, int* w, int* h, std::vector<uint8_t>* rgb = nullptr) {
    std::vector<uint8_t> own;
    if (rgb == nullptr) rgb = &own;
    tjhandle tj = tjInitDecompress();
    int sub = 0, cs = 0;
    const auto n = static_cast<unsigned long>(jpeg.size());
    bool ok = tjDecompressHeader3(tj, jpeg.data(), n, w, h, &sub, &cs) == 0;
    if (ok) {
        rgb->resize(static_cast<size_t>(*w) * *h * 3);
        ok = tjDecompress2(tj, jpeg.data(), n, rgb->data(), *w, 0, *h, TJPF_RGB, 0) == 0;
    }
    tjDestroy(tj);
    return ok;
}

struct Datagram {
    std::vector<uint8_t> data;
    sockaddr_in from{};
};
struct JoinedPicture {  // payloads of consecutive packets up to a marker
    std::vector<uint8_t> bytes;
    std::vector<uint16_t> sequences;
    uint32_t timestamp = 0;
};

inline auto Deadline(int ms) { return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); }

// An RTP socket on an even port of 127.0.0.1 and the RTCP socket above it.
class UdpSink {
public:
    UdpSink() {
        for (int attempt = 0; attempt < 200 && m_rtcp < 0; ++attempt) {
            const int probe = Bind(0);
            sockaddr_in a{};
            socklen_t len = sizeof a;
            getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
            ::close(probe);
            m_port = ntohs(a.sin_port) & 0xFFFE;
            if (m_port < 1024 || m_port == 0xFFFE || (m_rtp = Bind(m_port)) < 0) continue;
            if ((m_rtcp = Bind(static_cast<uint16_t>(m_port + 1))) < 0) ::close(m_rtp);
        }
        if (m_rtcp < 0) throw std::runtime_error("no free UDP port pair");
    }
    ~UdpSink() { ::close(m_rtp), ::close(m_rtcp); }
    UdpSink(const UdpSink&) = delete;
    UdpSink& operator=(const UdpSink&) = delete;

    uint16_t RtpPort() const { return m_port; }
    std::optional<Datagram> ReceiveRtp(int timeoutMs) { return Receive(m_rtp, timeoutMs); }
    std::optional<Datagram> ReceiveRtcp(int timeoutMs) { return Receive(m_rtcp, timeoutMs); }
    bool SendRtcp(const std::vector<uint8_t>& d, const sockaddr_in& to) {
        return ::sendto(m_rtcp, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(d.size());
    }
    void Flush() {
        while (Receive(m_rtp, 0) || Receive(m_rtcp, 0)) {}
    }
    std::vector<Datagram> Packets(size_t count, int timeoutMs = 5000) {
        std::vector<Datagram> out;
        for (auto end = Deadline(timeoutMs); out.size() < count && std::chrono::steady_clock::now() < end;)
            if (auto d = ReceiveRtp(100)) out.push_back(std::move(*d));
        return out;
    }
    // Pictures start at a payload beginning with SOI, so each is whole; raw
    // keeps every datagram from the first.
    std::vector<JoinedPicture> CollectPictures(size_t count, int timeoutMs, std::vector<Datagram>* raw = nullptr) {
        std::vector<JoinedPicture> out;
        bool synced = false;
        JoinedPicture cur;
        for (auto end = Deadline(timeoutMs); out.size() < count && std::chrono::steady_clock::now() < end;) {
            auto d = ReceiveRtp(100);
            if (!d || d->data.size() < 12) continue;
            const auto& b = d->data;
            const bool marker = (b[1] & 0x80) != 0;
            if (raw) raw->push_back(*d);
            if (!(synced |= b.size() > 13 && b[12] == 0xFF && b[13] == 0xD8)) continue;
            cur.sequences.push_back(Seq(b));
            cur.timestamp = Be32(b, 4);
            cur.bytes.insert(cur.bytes.end(), b.begin() + 12, b.end());
            if (marker) out.push_back(std::exchange(cur, JoinedPicture{}));
        }
        return out;
    }
    // The driver's receiver report (one block) and BYE.
    static std::vector<uint8_t> ReceiverReport(uint32_t own, uint32_t peer, uint32_t highest, uint32_t lsr,
                                               uint32_t dlsr) {
        std::vector<uint8_t> v{0x81, 201, 0, 7};
        for (uint32_t x : {own, peer, 0u, highest, 0u, lsr, dlsr})
            for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (24 - 8 * i)));
        return v;
    }
    static std::vector<uint8_t> Bye(uint8_t own) { return {0x81, 203, 0, 1, 0, 0, 0, own}; }

private:
    static int Bind(uint16_t port) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), big = 8 << 20;
        sockaddr_in a = Loopback(port);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            return setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big), fd;
        ::close(fd);
        return -1;
    }
    static std::optional<Datagram> Receive(int fd, int timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        Datagram d;
        d.data.resize(70000);
        socklen_t len = sizeof d.from;
        if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
        const ssize_t r = ::recvfrom(fd, d.data.data(), d.data.size(), 0, reinterpret_cast<sockaddr*>(&d.from), &len);
        if (r < 0) return std::nullopt;
        d.data.resize(static_cast<size_t>(r));
        return d;
    }
    int m_rtp = -1, m_rtcp = -1;
    uint16_t m_port = 0;
};

// Output and exit status of a shell command.
inline std::string Shell(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) return *status = -1, out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int rc = pclose(p);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

}  // namespace camsim_test
