#include "driver/CChannelTable.h"

#include "channels/CChannelThreadMark.h"

namespace kestrel {

namespace {

void StopQuietly(ICameraChannel& channel) {
    try {
        channel.Stop();  // on its own thread this only asks
    } catch (...) {}
}

}  // namespace

CChannelTable::~CChannelTable() {
    RemoveAll();
    FinishParked();
}

void CChannelTable::Resize(size_t count) {
    {
        CLockGuard guard(m_lock);
        m_channels.resize(count);
    }
    std::lock_guard<std::mutex> lock(m_parkedLock);
    m_parked.reserve(count);
}

bool CChannelTable::Place(uint32_t index, const std::function<std::unique_ptr<ICameraChannel>()>& make,
                          const std::function<bool(ICameraChannel&)>& start) {
    CLockGuard guard(m_lock);
    if (index >= m_channels.size()) return false;
    std::unique_ptr<ICameraChannel> created = make();
    if (!created) return false;
    if (m_channels[index] != nullptr || !start(*created)) return false;
    m_channels[index] = std::move(created);
    return true;
}

bool CChannelTable::Remove(uint32_t index) {
    std::unique_ptr<ICameraChannel> taken;
    {
        CLockGuard guard(m_lock);
        if (index < m_channels.size()) taken = std::move(m_channels[index]);
    }
    FinishParked();
    if (!taken) return false;
    Finish(std::move(taken));
    return true;
}

bool CChannelTable::Read(uint32_t index, const std::function<void(ICameraChannel&)>& read) {
    CLockGuard guard(m_lock);
    if (index >= m_channels.size() || m_channels[index] == nullptr) return false;
    read(*m_channels[index]);
    return true;
}

void CChannelTable::RemoveAll() {
    for (size_t i = 0;; ++i) {
        std::unique_ptr<ICameraChannel> taken;
        {
            CLockGuard guard(m_lock);
            if (i >= m_channels.size()) return;
            taken = std::move(m_channels[i]);
        }
        if (taken) Finish(std::move(taken));
    }
}

void CChannelTable::Finish(std::unique_ptr<ICameraChannel> channel) {
    StopQuietly(*channel);
    if (CChannelThreadMark::Current() != channel.get()) return;  // stopped; destroyed here
    // Its own thread is ours: destroying it here would join ourselves.
    std::lock_guard<std::mutex> lock(m_parkedLock);
    try {
        m_parked.emplace_back();
    } catch (...) {
        // Room for every channel was reserved; were it to fail, the channel
        // is left rather than the process.
        (void)channel.release();
        return;
    }
    m_parked.back() = std::move(channel);
}

void CChannelTable::FinishParked() {
    if (CChannelThreadMark::Current() != nullptr) return;
    for (;;) {
        std::unique_ptr<ICameraChannel> channel;
        {
            // Taken one by one, so the reserved room stays.
            std::lock_guard<std::mutex> lock(m_parkedLock);
            if (m_parked.empty()) return;
            channel = std::move(m_parked.back());
            m_parked.pop_back();
        }
        StopQuietly(*channel);
    }
}

}  // namespace kestrel
