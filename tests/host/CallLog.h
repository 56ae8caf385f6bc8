#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace testhost {

// A thread-safe list of recorded calls that tests can wait on.
class CallLog {
public:
    void Add(std::string entry) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_entries.push_back(std::move(entry));
        }
        m_cv.notify_all();
    }
    std::vector<std::string> Entries() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }
    size_t Count(const std::string& needle) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return CountLocked(needle);
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.clear();
    }
    // Waits until `count` entries contain `needle`; false on time-out.
    bool WaitFor(const std::string& needle, size_t count = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return CountLocked(needle) >= count; });
    }

private:
    size_t CountLocked(const std::string& needle) const {
        size_t n = 0;
        for (const auto& e : m_entries) n += e.find(needle) != std::string::npos ? 1 : 0;
        return n;
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<std::string> m_entries;
};

}  // namespace testhost
