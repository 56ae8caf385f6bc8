#pragma once
#include <httplib.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <string>

#include "runtime/CStopToken.h"

namespace camsim {

// One accepted HTTP connection, plain or TLS, as httplib's request parser
// reads it. Every wait is sliced so that a stopping server is noticed at
// once. The response is collected and written in one piece by Flush, so a
// connection that is to be closed without an answer simply never flushes.
// The status line goes out as HTTP/1.0, as the camera's server speaks.
class CConnectionStream : public httplib::Stream {
public:
    CConnectionStream(int fd, SSL* ssl, uint32_t timeoutMs, const kestrel::CStopToken& stop);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return m_fd; }

    // Sends the collected response; false when it could not be sent.
    bool Flush();
    void Discard() { m_out.clear(); }

private:
    bool WaitFor(short events) const;

    const int m_fd;
    SSL* const m_ssl;
    const uint32_t m_timeoutMs;
    const kestrel::CStopToken& m_stop;  // the server's
    char m_in[4096];
    size_t m_inPos = 0;
    size_t m_inLen = 0;
    std::string m_out;
};

}  // namespace camsim
