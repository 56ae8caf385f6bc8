#include "tools/record/CGapTracker.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace kestrel::record {

CGapTracker::CGapTracker(const std::string& directory, uint32_t intervalMs)
    : m_path(directory.empty() ? std::string() : directory + "/gaps.csv"), m_thresholdUs(ThresholdUs(intervalMs)) {}

CGapTracker::~CGapTracker() { Close(); }

int64_t CGapTracker::ThresholdUs(uint32_t intervalMs) {
    return std::max<int64_t>(1000000, 3 * static_cast<int64_t>(intervalMs) * 1000);
}

bool CGapTracker::Open() {
    if (m_path.empty()) return true;
    const std::string dir = m_path.substr(0, m_path.rfind('/'));
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        m_error = "cannot create " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool CGapTracker::Write(const Picture& picture) {
    if (m_seen && picture.arrivalUs - m_lastUs > m_thresholdUs) {
        Add(Gap{m_lastUs, picture.arrivalUs - m_lastUs, false});
    }
    // A clock stepped back does not make the next silence look longer.
    if (!m_seen || picture.arrivalUs > m_lastUs) m_lastUs = picture.arrivalUs;
    m_seen = true;
    return true;
}

bool CGapTracker::Close() {
    const int64_t end = m_endUs.load(std::memory_order_relaxed);
    if (end != 0) return CloseAt(end);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return CloseAt(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

bool CGapTracker::CloseAt(int64_t endUs) {
    if (m_closed) return true;
    m_closed = true;
    if (m_seen && endUs - m_lastUs > m_thresholdUs) Add(Gap{m_lastUs, endUs - m_lastUs, true});
    return true;
}

void CGapTracker::Add(const Gap& gap) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gaps.push_back(gap);
    }
    if (m_path.empty()) return;
    // Rare: opened per gap so that no handle stays open for weeks.
    std::FILE* f = std::fopen(m_path.c_str(), "ae");
    if (f == nullptr) return;  // the summary still lists it
    std::fseek(f, 0, SEEK_END);
    if (std::ftell(f) == 0) std::fputs("start,length_s,until_end\n", f);
    std::fprintf(f, "%lld.%06lld,%.3f,%d\n", static_cast<long long>(gap.startUs / 1000000),
                 static_cast<long long>(gap.startUs % 1000000), static_cast<double>(gap.lengthUs) / 1e6,
                 gap.open ? 1 : 0);
    std::fclose(f);
}

std::vector<std::string> CGapTracker::Describe(const std::vector<Gap>& gaps) {
    constexpr size_t kShown = 10;
    std::vector<std::string> lines;
    for (size_t i = 0; i < gaps.size() && i < kShown; ++i) {
        const Gap& g = gaps[i];
        const std::time_t seconds = static_cast<std::time_t>(g.startUs / 1000000);
        std::tm local{};
        localtime_r(&seconds, &local);
        char text[96];
        const size_t n = std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
        std::snprintf(text + n, sizeof(text) - n, ".%03d for %.1f s%s", static_cast<int>(g.startUs / 1000 % 1000),
                      static_cast<double>(g.lengthUs) / 1e6, g.open ? " (until the end)" : "");
        lines.push_back(std::string("gap ") + text);
    }
    if (gaps.size() > kShown) {
        lines.push_back("... and " + std::to_string(gaps.size() - kShown) + " more gaps in cameraN/gaps.csv");
    }
    return lines;
}

std::vector<Gap> CGapTracker::Gaps() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_gaps;
}

}  // namespace kestrel::record
