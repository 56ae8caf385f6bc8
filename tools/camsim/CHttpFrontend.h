#pragma once
#include <httplib.h>
#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/CWorkerThread.h"

namespace camsim {

// The camera's web server: httplib's listener, thread pool and request
// parser, with connection handling of our own so that the camera can
// speak HTTP/1.0 (one request per connection), hang on a request until the
// client goes away, close a connection without answering, and stop at once.
class CHttpFrontend : public httplib::Server {
public:
    // What a request handler may do with the connection that carries it.
    struct Connection {
        int fd = -1;
        std::string localAddress;  // the address the client connected to
        bool drop = false;         // close without sending the response
    };

    // tls: null for plain HTTP; not owned, must outlive this object.
    CHttpFrontend(SSL_CTX* tls, unsigned threads, uint32_t ioTimeoutMs);
    ~CHttpFrontend() override;

    bool Open(const std::string& address, uint16_t port, std::string* error);
    void Close();
    uint16_t Port() const { return m_port.load(); }
    // The connection of the request being handled on this thread.
    Connection* CurrentConnection();

private:
    bool process_and_close_socket(socket_t sock) override;

    SSL_CTX* const m_tls;
    const unsigned m_threads;
    const uint32_t m_ioTimeoutMs;
    std::atomic<uint16_t> m_port{0};
    std::mutex m_connMutex;
    std::map<std::thread::id, Connection*> m_connections;
    // Runs httplib's accept loop; its token also ends every connection's waits.
    kestrel::CWorkerThread m_listener;
};

}  // namespace camsim
