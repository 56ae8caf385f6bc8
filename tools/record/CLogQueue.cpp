#include "tools/record/CLogQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace kestrel::record {

CLogQueue::CLogQueue() { m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

CLogQueue::~CLogQueue() {
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

void CLogQueue::Post(std::string line) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_lines.size() >= kLimit) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        m_lines.push_back(std::move(line));
    }
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        const ssize_t n = ::write(m_wakeFd, &one, sizeof(one));
        (void)n;  // a full counter already wakes the reader
    }
}

std::vector<std::string> CLogQueue::Drain() {
    if (m_wakeFd >= 0) {
        uint64_t count = 0;
        const ssize_t n = ::read(m_wakeFd, &count, sizeof(count));
        (void)n;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines(std::make_move_iterator(m_lines.begin()), std::make_move_iterator(m_lines.end()));
    m_lines.clear();
    return lines;
}

}  // namespace kestrel::record
