#include "web/TestServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <chrono>
#include <thread>

namespace webtest {

bool RawConnection::WaitReadable()
{
    while (!m_stopping.load()) {
        pollfd p{m_fd, POLLIN, 0};
        const int r = ::poll(&p, 1, 20);
        if (r > 0) return true;
        if (r < 0) return false;
    }
    return false;
}

std::string RawConnection::ReadRequest(size_t bodyBytes)
{
    for (;;) {
        const size_t end = m_buffer.find("\r\n\r\n");
        if (end != std::string::npos && m_buffer.size() >= end + 4 + bodyBytes) {
            std::string request = m_buffer.substr(0, end + 4 + bodyBytes);
            m_buffer.erase(0, end + 4 + bodyBytes);
            return request;
        }
        if (!WaitReadable()) return {};
        char chunk[4096];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) return {};
        m_buffer.append(chunk, static_cast<size_t>(n));
        m_received.append(chunk, static_cast<size_t>(n));
        m_record(chunk, static_cast<size_t>(n));
    }
}

bool RawConnection::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int RawConnection::PeekByte()
{
    if (!m_buffer.empty()) return static_cast<unsigned char>(m_buffer[0]);
    if (!WaitReadable()) return -1;
    unsigned char byte = 0;
    return ::recv(m_fd, &byte, 1, MSG_PEEK) == 1 ? byte : -1;
}

void RawConnection::Hang()
{
    while (WaitReadable()) {
        char chunk[4096];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        m_received.append(chunk, static_cast<size_t>(n));
        m_record(chunk, static_cast<size_t>(n));
    }
}

void RawConnection::Stall()
{
    while (!m_stopping.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

RawServer::RawServer(Script script, const std::string& address, uint16_t port, int backlog, bool accept)
    : m_script(std::move(script))
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        return;
    }
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    m_port = ntohs(sa.sin_port);
    m_listenFd = fd;
    if (accept) {
        m_acceptThread = std::thread([this] { AcceptLoop(); });
    }
}

RawServer::~RawServer()
{
    m_stopping.store(true);
    if (m_listenFd >= 0) ::shutdown(m_listenFd, SHUT_RDWR);
    if (m_acceptThread.joinable()) m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> g(m_lock);
        threads.swap(m_threads);
    }
    for (auto& t : threads) t.join();
    for (int fd : m_fds) ::close(fd);
    if (m_listenFd >= 0) ::close(m_listenFd);
}

void RawServer::AcceptLoop()
{
    while (!m_stopping.load()) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const int fd = ::accept(m_listenFd, nullptr, nullptr);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> g(m_lock);
        const size_t index = m_wire.size();
        m_wire.emplace_back();
        m_fds.push_back(fd);
        m_accepted.fetch_add(1);
        m_threads.emplace_back([this, fd, index] {
            RawConnection connection(fd, m_stopping, [this, index](const char* data, size_t size) {
                std::lock_guard<std::mutex> g2(m_lock);
                m_wire[index].append(data, size);
            });
            m_script(connection);
            ::shutdown(fd, SHUT_WR);
            connection.Hang();  // keep reading until the client lets go
        });
    }
}

std::string RawServer::Wire() const
{
    std::lock_guard<std::mutex> g(m_lock);
    std::string all;
    for (const auto& w : m_wire) all += w;
    return all;
}

std::vector<std::string> RawServer::Heads() const
{
    std::vector<std::string> heads;
    std::lock_guard<std::mutex> g(m_lock);
    for (const auto& w : m_wire) {
        size_t pos = 0;
        for (;;) {
            const size_t end = w.find("\r\n\r\n", pos);
            if (end == std::string::npos) break;
            heads.push_back(w.substr(pos, end + 4 - pos));
            pos = end + 4;
        }
    }
    return heads;
}

TempDir::TempDir()
{
    char tmpl[] = "/tmp/halyard-web-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    m_path = made != nullptr ? made : "";
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

bool MakeSelfSignedCertificate(const std::string& certPath, const std::string& keyPath)
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    bool ok = key != nullptr && cert != nullptr;
    if (ok) {
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -60);
        X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("camera.invalid"),
                                   -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = X509_sign(cert, key, EVP_sha256()) > 0;
    }
    if (ok) {
        FILE* c = std::fopen(certPath.c_str(), "w");
        FILE* k = std::fopen(keyPath.c_str(), "w");
        ok = c != nullptr && k != nullptr && PEM_write_X509(c, cert) == 1 &&
             PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        if (c != nullptr) std::fclose(c);
        if (k != nullptr) std::fclose(k);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

uint16_t FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    ::close(fd);
    return ntohs(sa.sin_port);
}

std::string RandomLoopbackAddress()
{
    std::random_device rd;
    std::uniform_int_distribution<int> byte(1, 254);
    return "127." + std::to_string(byte(rd)) + "." + std::to_string(byte(rd)) + "." + std::to_string(byte(rd));
}

std::string AuthorizationScheme(const std::string& head)
{
    const std::string key = "\r\nAuthorization: ";
    const size_t at = head.find(key);
    if (at == std::string::npos) return "";
    const size_t start = at + key.size();
    return head.substr(start, head.find(' ', start) - start);
}

std::string RequestLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace webtest
