#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kestrel::record {

// Keeps the video segments of one recording (every camera folder below one
// directory) within --max-disk and --keep, and leaves the file system some
// room: the oldest finished segments go first, never one being written.
// Shared by the writers of all cameras; every call may come from any of
// their threads.
class CDiskRetention {
public:
    struct Limits {
        uint64_t maxBytes = 0;  // 0: no limit
        int64_t keepUs = 0;     // 0: kept however old
        // Free space to keep: this share of the file system, at most kMaxReserve.
        double reserveShare = 0.01;
    };
    static constexpr uint64_t kMaxReserve = 256ull << 20;

    // say: one line for the user (told once when nothing can be deleted).
    CDiskRetention(std::string root, Limits limits, std::function<void(const std::string&)> say);

    // Takes the segments already below the root as finished (an earlier run
    // into the same folder). Names: <camera>/YYYY-MM-DDTHH-MM-SS[-N].mkv|avi.
    void Scan();
    static bool IsSegmentName(const std::string& name);

    // A writer opened a segment; its bytes count, but it is never deleted.
    void Opened(const std::string& path, int64_t startUs);
    // The segment grew by bytes (called per picture, allocation free).
    void Grew(const std::string& path, uint64_t bytes);
    // The segment is complete and becomes a candidate for deletion.
    void Finished(const std::string& path);

    // Deletes what the limits ask for. nowUs: wall clock.
    void Enforce(int64_t nowUs);
    // A write failed for lack of room: deletes the oldest finished segment.
    // False when there was none to delete (said once).
    bool MakeRoom();

    uint64_t Bytes() const;
    uint64_t Deleted() const;
    std::vector<std::string> Segments() const;  // oldest first, for tests

private:
    struct Segment {
        std::string path;
        int64_t startUs = 0;
        uint64_t bytes = 0;
        bool writing = false;
    };

    bool DeleteOldestLocked();
    bool LowOnSpaceLocked() const;
    void SayNothingLocked(const std::string& why);

    std::string m_root;
    Limits m_limits;
    std::function<void(const std::string&)> m_say;
    mutable std::mutex m_mutex;
    std::vector<Segment> m_segments;  // by start time
    uint64_t m_bytes = 0;
    uint64_t m_deleted = 0;
    bool m_saidNothing = false;
};

}  // namespace kestrel::record
