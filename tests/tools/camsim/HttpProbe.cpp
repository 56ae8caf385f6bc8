#include "HttpProbe.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace camsim_test {
namespace {

size_t Append(char* data, size_t size, size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

}  // namespace

HttpAnswer HttpProbe::Get(const std::string& url, Auth auth, const std::string& user, const std::string& password,
                          long timeoutMs) {
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
        const long mask = auth == Auth::Basic ? CURLAUTH_BASIC : auth == Auth::Digest ? CURLAUTH_DIGEST : CURLAUTH_ANY;
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, mask);
    }
    a.curlCode = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &a.status);
    curl_easy_cleanup(c);
    return a;
}

std::string HttpProbe::Raw(uint16_t port, const std::string& requestText, int timeoutMs) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string out;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, requestText.data(), requestText.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(requestText.size())) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char buf[4096];
            const ssize_t r = ::recv(fd, buf, sizeof buf, 0);
            if (r <= 0) break;
            out.append(buf, static_cast<size_t>(r));
        }
    }
    ::close(fd);
    return out;
}

}  // namespace camsim_test
