#include "tools/camsim/CStreamScheduler.h"

#include <algorithm>

namespace camsim {

CStreamScheduler::CStreamScheduler(CPictureCache* cache) {
    if (cache == nullptr) m_ownCache = std::make_unique<CPictureCache>();
    m_cache = cache != nullptr ? cache : m_ownCache.get();
    m_worker.Start("camsim-send", [this](kestrel::CStopToken& stop) { Run(stop); });
}

CStreamScheduler::~CStreamScheduler() {
    // Streams are closed only once the thread no longer services them.
    while (!m_worker.Stop(1000)) {}
    for (auto& e : m_entries) e.stream->Close("shutdown");
}

void CStreamScheduler::Add(std::shared_ptr<CRtpStream> stream) {
    if (!stream) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back(Entry{std::move(stream), CRtpStream::Clock::now()});
        m_changed = true;
    }
    m_wake.notify_all();
}

void CStreamScheduler::Remove(const CRtpStream* stream) {
    // The thread holds the mutex while it services streams, so taking it
    // waits for a pass in progress.
    std::shared_ptr<CRtpStream> last;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_entries.begin(), m_entries.end(),
                               [stream](const Entry& e) { return e.stream.get() == stream; });
        if (it == m_entries.end()) return;
        last = std::move(it->stream);
        m_entries.erase(it);
    }
}

size_t CStreamScheduler::StreamCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

void CStreamScheduler::Run(kestrel::CStopToken& stop) {
    using Clock = CRtpStream::Clock;
    // The lock orders the wake against the wait's check of the token.
    const uint64_t waker = stop.AddWaker([this] {
        { std::lock_guard<std::mutex> lock(m_mutex); }
        m_wake.notify_all();
    });
    std::unique_lock<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<CRtpStream>> ended;
    while (!stop.StopRequested()) {
        m_changed = false;
        Clock::time_point earliest = Clock::now() + std::chrono::milliseconds(200);
        for (size_t i = 0; i < m_entries.size();) {
            Entry& e = m_entries[i];
            const auto now = Clock::now();
            if (now >= e.due && !e.stream->Service(now, &e.due)) {
                // Released outside the lock, so a stream's last reference
                // never closes sockets while other cameras wait.
                ended.push_back(std::move(e.stream));
                m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            earliest = std::min(earliest, e.due);
            ++i;
        }
        if (!ended.empty()) {
            lock.unlock();
            ended.clear();
            lock.lock();
            continue;
        }
        m_wake.wait_until(lock, earliest, [&] { return stop.StopRequested() || m_changed; });
    }
    lock.unlock();  // the waker takes it
    stop.RemoveWaker(waker);
}

}  // namespace camsim
