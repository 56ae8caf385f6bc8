#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "runtime/CWorkerThread.h"

#include "tools/camsim/CPictureCache.h"
#include "tools/camsim/CRtpStream.h"

namespace camsim {

// One sending thread serving the streams of many cameras: it sleeps until
// the earliest due picture, report or check, and services only the streams
// that are due.
class CStreamScheduler {
public:
    // cache: shared rings; null makes one of its own.
    explicit CStreamScheduler(CPictureCache* cache = nullptr);
    ~CStreamScheduler();
    CStreamScheduler(const CStreamScheduler&) = delete;
    CStreamScheduler& operator=(const CStreamScheduler&) = delete;

    void Add(std::shared_ptr<CRtpStream> stream);
    // Returns once the thread no longer uses the stream.
    void Remove(const CRtpStream* stream);
    size_t StreamCount() const;
    CPictureCache& Pictures() { return *m_cache; }

private:
    void Run(kestrel::CStopToken& stop);

    struct Entry {
        std::shared_ptr<CRtpStream> stream;
        CRtpStream::Clock::time_point due;
    };
    std::unique_ptr<CPictureCache> m_ownCache;
    CPictureCache* m_cache;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_changed = false;
    std::vector<Entry> m_entries;
    kestrel::CWorkerThread m_worker;  // last: stopped before the members it uses go
};

}  // namespace camsim
