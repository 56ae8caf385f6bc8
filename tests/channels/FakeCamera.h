#pragma once
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace channeltest {

// The camera's CGI interface on loopback: records every request target,
// answers with a status the test chooses, and can hang on a request until
// it is released or the camera goes away.
class FakeCamera {
public:
    using Answer = std::function<int(const std::string& target)>;

    FakeCamera() {
        m_server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            Handle(request, response);
        });
        m_port = static_cast<uint16_t>(m_server.bind_to_any_port("127.0.0.1"));
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~FakeCamera() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closing = true;
        }
        m_cv.notify_all();
        m_server.stop();
        m_thread.join();
    }
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    uint16_t HttpPort() const { return m_port; }

    void SetAnswer(Answer answer) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answer = std::move(answer);
    }
    // Requests whose target starts with `prefix` hang until ReleaseHangs.
    void HangOn(std::string prefix) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hangPrefix = std::move(prefix);
    }
    void ReleaseHangs() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_hangPrefix.clear();
        }
        m_cv.notify_all();
    }

    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    size_t Count(const std::string& needle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return CountLocked(needle);
    }
    bool WaitFor(const std::string& needle, size_t count = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return CountLocked(needle) >= count; });
    }
    // The UDP port named by the last stream request; 0 before one.
    uint16_t StreamPort() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_streamPort;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
    }

private:
    size_t CountLocked(const std::string& needle) const {
        size_t n = 0;
        for (const auto& r : m_requests) n += r.find(needle) != std::string::npos ? 1 : 0;
        return n;
    }

    void Handle(const httplib::Request& request, httplib::Response& response) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_requests.push_back(request.target);
        static const std::string kStream = "/mjpeg?UdpMode=unicast&UdpPort=";
        if (request.target.rfind(kStream, 0) == 0) {
            m_streamPort = static_cast<uint16_t>(std::stoul(request.target.substr(kStream.size())));
        }
        m_cv.notify_all();
        m_cv.wait(lock, [&] {
            return m_closing || m_hangPrefix.empty() || request.target.rfind(m_hangPrefix, 0) != 0;
        });
        response.status = m_answer ? m_answer(request.target) : 200;
        response.set_content("", "text/plain");
    }

    httplib::Server m_server;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_requests;
    Answer m_answer;
    std::string m_hangPrefix;
    uint16_t m_streamPort = 0;
    bool m_closing = false;
};

}  // namespace channeltest
