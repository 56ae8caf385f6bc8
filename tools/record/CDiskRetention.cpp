#include "tools/record/CDiskRetention.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace kestrel::record {

namespace {

bool Digits(const std::string& s, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

// Start time from YYYY-MM-DDTHH-MM-SS (local time), as the writer names them.
int64_t StartFromName(const std::string& name) {
    std::tm t{};
    t.tm_year = std::stoi(name.substr(0, 4)) - 1900;
    t.tm_mon = std::stoi(name.substr(5, 2)) - 1;
    t.tm_mday = std::stoi(name.substr(8, 2));
    t.tm_hour = std::stoi(name.substr(11, 2));
    t.tm_min = std::stoi(name.substr(14, 2));
    t.tm_sec = std::stoi(name.substr(17, 2));
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t)) * 1000000;
}

}  // namespace

CDiskRetention::CDiskRetention(std::string root, Limits limits, std::function<void(const std::string&)> say)
    : m_root(std::move(root)), m_limits(limits), m_say(std::move(say)) {}

bool CDiskRetention::IsSegmentName(const std::string& name) {
    //  0123456789012345678
    //  2026-12-08T18-00-00[-N].mkv
    if (name.size() < 23) return false;
    if (!Digits(name, 0, 4) || name[4] != '-' || !Digits(name, 5, 2) || name[7] != '-' || !Digits(name, 8, 2) ||
        name[10] != 'T' || !Digits(name, 11, 2) || name[13] != '-' || !Digits(name, 14, 2) || name[16] != '-' ||
        !Digits(name, 17, 2)) {
        return false;
    }
    const std::string ext = name.substr(name.size() - 4);
    if (ext != ".mkv" && ext != ".avi") return false;
    const std::string middle = name.substr(19, name.size() - 23);
    return middle.empty() || (middle.size() >= 2 && middle[0] == '-' && Digits(middle, 1, middle.size() - 1));
}

void CDiskRetention::Scan() {
    std::vector<Segment> found;
    DIR* root = ::opendir(m_root.c_str());
    if (root == nullptr) return;
    while (const dirent* camera = ::readdir(root)) {
        const std::string cameraName = camera->d_name;
        if (cameraName == "." || cameraName == "..") continue;
        const std::string cameraDir = m_root + "/" + cameraName;
        DIR* dir = ::opendir(cameraDir.c_str());
        if (dir == nullptr) continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (!IsSegmentName(name)) continue;
            Segment s;
            s.path = cameraDir + "/" + name;
            struct stat st {};
            if (::stat(s.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            s.bytes = static_cast<uint64_t>(st.st_size);
            s.startUs = StartFromName(name);
            found.push_back(std::move(s));
        }
        ::closedir(dir);
    }
    ::closedir(root);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& s : found) {
        const bool known =
            std::any_of(m_segments.begin(), m_segments.end(), [&](const Segment& k) { return k.path == s.path; });
        if (known) continue;
        m_bytes += s.bytes;
        m_segments.push_back(std::move(s));
    }
    std::stable_sort(m_segments.begin(), m_segments.end(),
                     [](const Segment& a, const Segment& b) { return a.startUs < b.startUs; });
}

void CDiskRetention::Opened(const std::string& path, int64_t startUs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Segment s;
    s.path = path;
    s.startUs = startUs;
    s.writing = true;
    auto at = std::upper_bound(m_segments.begin(), m_segments.end(), startUs,
                               [](int64_t t, const Segment& k) { return t < k.startUs; });
    m_segments.insert(at, std::move(s));
}

void CDiskRetention::Grew(const std::string& path, uint64_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    // The one being written is among the newest.
    const auto it = std::find_if(m_segments.rbegin(), m_segments.rend(),
                                 [&](const Segment& s) { return s.writing && s.path == path; });
    if (it == m_segments.rend()) return;
    it->bytes += bytes;
    m_bytes += bytes;
}

void CDiskRetention::Finished(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& s : m_segments) {
        if (s.writing && s.path == path) {
            // The container's closing adds bytes the writer did not count.
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0) {
                const auto real = static_cast<uint64_t>(st.st_size);
                m_bytes = m_bytes - s.bytes + real;
                s.bytes = real;
            }
            s.writing = false;
            return;
        }
    }
}

bool CDiskRetention::DeleteOldestLocked() {
    for (auto it = m_segments.begin(); it != m_segments.end(); ++it) {
        if (it->writing) continue;
        if (::unlink(it->path.c_str()) != 0 && errno != ENOENT) continue;  // not ours to delete: try the next
        m_bytes -= it->bytes;
        ++m_deleted;
        m_segments.erase(it);
        return true;
    }
    return false;
}

bool CDiskRetention::LowOnSpaceLocked() const {
    struct statvfs fs {};
    if (::statvfs(m_root.c_str(), &fs) != 0) return false;
    const double total = static_cast<double>(fs.f_blocks) * static_cast<double>(fs.f_frsize);
    const double free = static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
    const double reserve = std::min(total * m_limits.reserveShare, static_cast<double>(kMaxReserve));
    return free < reserve;
}

void CDiskRetention::SayNothingLocked(const std::string& why) {
    if (m_saidNothing) return;
    m_saidNothing = true;
    if (m_say) m_say(why + ", but no finished video segment is left to delete; recording what fits");
}

void CDiskRetention::Enforce(int64_t nowUs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_limits.keepUs > 0) {
        for (size_t i = 0; i < m_segments.size();) {
            Segment& s = m_segments[i];
            if (!s.writing && nowUs - s.startUs > m_limits.keepUs &&
                (::unlink(s.path.c_str()) == 0 || errno == ENOENT)) {
                m_bytes -= s.bytes;
                ++m_deleted;
                m_segments.erase(m_segments.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    }
    while (m_limits.maxBytes > 0 && m_bytes > m_limits.maxBytes) {
        if (!DeleteOldestLocked()) {
            SayNothingLocked("the video is over --max-disk");
            return;
        }
    }
    while (LowOnSpaceLocked()) {
        if (!DeleteOldestLocked()) {
            SayNothingLocked("the disk is almost full");
            return;
        }
    }
}

bool CDiskRetention::MakeRoom() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (DeleteOldestLocked()) return true;
    SayNothingLocked("a picture could not be written (disk full?)");
    return false;
}

uint64_t CDiskRetention::Bytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

uint64_t CDiskRetention::Deleted() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deleted;
}

std::vector<std::string> CDiskRetention::Segments() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> paths;
    for (const auto& s : m_segments) paths.push_back(s.path);
    return paths;
}

}  // namespace kestrel::record
