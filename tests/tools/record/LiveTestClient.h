#pragma once
// A plain-socket client for the live view: reads exactly the bytes the
// server sends, so that framing can be checked and a viewer can stall or
// leave mid-picture on purpose.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <map>
#include <string>

#include "tests/tools/record/RecordTestUtil.h"

namespace livetest {

inline int Connect(uint16_t port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

// A plain-socket client that reads exactly what the server sends.
class RawViewer {
public:
    RawViewer(uint16_t port, const std::string& path, int receiveBuffer = 0) : m_fd(Connect(port, receiveBuffer)) {
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (m_fd >= 0) (void)!::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL);
    }
    ~RawViewer() { Close(); }
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    // Reads until `size` bytes are buffered; false on end or time-out.
    bool Fill(size_t size) {
        char chunk[16384];
        while (m_buffer.size() < size) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            m_buffer.append(chunk, static_cast<size_t>(n));
        }
        return true;
    }
    // Reads up to and including `mark`; returns what came before it.
    bool Until(const std::string& mark, std::string& before) {
        for (;;) {
            const auto at = m_buffer.find(mark);
            if (at != std::string::npos) {
                before = m_buffer.substr(0, at);
                m_buffer.erase(0, at + mark.size());
                return true;
            }
            if (m_buffer.size() > 1 << 20 || !Fill(m_buffer.size() + 1)) return false;
        }
    }
    bool Take(size_t size, std::string& bytes) {
        if (!Fill(size)) return false;
        bytes = m_buffer.substr(0, size);
        m_buffer.erase(0, size);
        return true;
    }
    // True when the server closed the connection; false on a time-out.
    bool Closed() {
        char chunk[16384];
        for (;;) {
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n == 0) return true;
            if (n < 0) return false;
        }
    }
    int Fd() const { return m_fd; }

private:
    int m_fd;
    std::string m_buffer;
};

// Header fields of one block, names in lower case.
inline std::map<std::string, std::string> Fields(const std::string& block) {
    std::map<std::string, std::string> fields;
    for (const auto& line : recordtest::Split(block, '\n')) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ')) value.erase(0, 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
        fields[name] = value;
    }
    return fields;
}

}  // namespace livetest
