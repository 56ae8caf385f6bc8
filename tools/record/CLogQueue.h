#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::record {

// Lines produced on driver threads, printed by the main thread. Driver
// threads never block on the terminal; a flood beyond the limit is counted
// and dropped.
class CLogQueue {
public:
    static constexpr size_t kLimit = 10000;

    CLogQueue();
    ~CLogQueue();
    CLogQueue(const CLogQueue&) = delete;
    CLogQueue& operator=(const CLogQueue&) = delete;

    void Post(std::string line);
    // Takes every queued line and clears the wake-up.
    std::vector<std::string> Drain();
    // Readable while lines wait (an eventfd); -1 if none could be made.
    int WakeFd() const { return m_wakeFd; }
    uint64_t Dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    std::mutex m_mutex;
    std::deque<std::string> m_lines;
    std::atomic<uint64_t> m_dropped{0};
    int m_wakeFd = -1;
};

}  // namespace kestrel::record
