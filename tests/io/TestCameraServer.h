#pragma once
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tests/host/CallLog.h"

namespace iotest {

// The camera's web server on loopback: logs every request target in the
// order it arrived, answers the sensor inquiry with a settable status and
// body, and can hold any request whose target contains a given text until
// it is released.
class TestCameraServer {
public:
    TestCameraServer() {
        m_server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            Handle(request, response);
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() before the accept loop runs would be lost.
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TestCameraServer() {
        Release();
        m_server.stop();
        m_thread.join();
    }
    TestCameraServer(const TestCameraServer&) = delete;
    TestCameraServer& operator=(const TestCameraServer&) = delete;

    uint16_t Port() const { return static_cast<uint16_t>(m_port); }

    void SetInquiry(int status, std::string body) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inquiryStatus = status;
        m_inquiryBody = std::move(body);
    }
    void SetStatusFor(std::string needle, int status) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_statusNeedle = std::move(needle);
        m_needleStatus = status;
    }
    // Requests whose target contains `needle` wait until Release.
    void HoldRequests(std::string needle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdNeedle = std::move(needle);
        m_released = false;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_holdNeedle.clear();
            m_released = true;
        }
        m_cv.notify_all();
    }

    testhost::CallLog requests;   // request targets: "/command/inquiry.cgi?inq=sensor"
    std::atomic<int> held{0};

private:
    void Handle(const httplib::Request& request, httplib::Response& response) {
        const std::string target = request.target.empty() ? request.path : request.target;
        requests.Add(target);
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_holdNeedle.empty() && target.find(m_holdNeedle) != std::string::npos) {
            held.fetch_add(1);
            m_cv.wait_for(lock, std::chrono::seconds(30), [this] { return m_released; });
        }
        int status = 200;
        std::string body = "OK";
        if (target.find("inquiry.cgi") != std::string::npos) {
            status = m_inquiryStatus;
            body = m_inquiryBody;
        }
        if (!m_statusNeedle.empty() && target.find(m_statusNeedle) != std::string::npos) status = m_needleStatus;
        response.status = status;
        response.set_content(body, "text/plain");
    }

    httplib::Server m_server;
    int m_port = -1;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_inquiryStatus = 200;
    std::string m_inquiryBody;
    std::string m_statusNeedle;
    int m_needleStatus = 200;
    std::string m_holdNeedle;
    bool m_released = true;
};

}  // namespace iotest
