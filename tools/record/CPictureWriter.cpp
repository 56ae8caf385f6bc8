#include "tools/record/CPictureWriter.h"

#include <cstring>

namespace kestrel::record {

CPictureWriter::CPictureWriter(std::vector<std::unique_ptr<IPictureSink>> sinks)
    : m_sinks(std::move(sinks)), m_slots(kSlots), m_ready(kSlots) {
    m_free.reserve(kSlots);
    for (size_t i = kSlots; i > 0; --i) m_free.push_back(i - 1);
}

CPictureWriter::~CPictureWriter() { Stop(); }

bool CPictureWriter::Start(std::string& error) {
    for (auto& sink : m_sinks) {
        if (!sink->Open()) {
            error = sink->Error();
            return false;
        }
    }
    if (!m_worker.Start("record-writer", [this](CStopToken& stop) { Run(stop); })) {
        error = "cannot start the writing thread";
        return false;
    }
    return true;
}

bool CPictureWriter::Push(const Picture& picture) {
    size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || m_free.empty()) return false;
        index = m_free.back();
        m_free.pop_back();
    }
    // The slot belongs to this thread until it is queued.
    Slot& slot = m_slots[index];
    if (slot.bytes.size() < picture.size) slot.bytes.resize(picture.size);
    if (picture.size > 0) std::memcpy(slot.bytes.data(), picture.data, picture.size);
    slot.picture = picture;
    slot.picture.data = slot.bytes.data();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ready[(m_readyHead + m_readyCount) % kSlots] = index;
        ++m_readyCount;
    }
    m_cv.notify_one();
    return true;
}

void CPictureWriter::Run(CStopToken& stop) {
    // The lock orders the wake against the wait's check of the token.
    const uint64_t waker = stop.AddWaker([this] {
        { std::lock_guard<std::mutex> lock(m_mutex); }
        m_cv.notify_all();
    });
    for (;;) {
        size_t index = 0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [&] { return m_readyCount > 0 || stop.StopRequested(); });
            if (m_readyCount == 0) break;  // stopping and drained
            index = m_ready[m_readyHead];
            m_readyHead = (m_readyHead + 1) % kSlots;
            --m_readyCount;
        }
        if (!Failed()) {
            bool ok = true;
            for (auto& sink : m_sinks) {
                if (!sink->Write(m_slots[index].picture)) {
                    SetError(sink->Error());
                    ok = false;
                    break;
                }
            }
            if (ok) m_written.fetch_add(1, std::memory_order_relaxed);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(index);
    }
    stop.RemoveWaker(waker);
}

void CPictureWriter::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) return;
        m_stopping = true;
    }
    // What is queued is written first: the thread ends once drained.
    while (!m_worker.Stop(1000)) {}
    for (auto& sink : m_sinks) {
        if (!sink->Close() && !Failed()) SetError(sink->Error());
    }
    // The sinks stay: their figures are read after the stop.
}

uint64_t CPictureWriter::Skipped() const {
    uint64_t skipped = 0;
    for (const auto& sink : m_sinks) skipped += sink->Skipped();
    return skipped;
}

void CPictureWriter::SetError(const std::string& error) {
    {
        std::lock_guard<std::mutex> lock(m_errorMutex);
        if (m_error.empty()) m_error = error;
    }
    m_failed.store(true, std::memory_order_release);
}

std::string CPictureWriter::Error() const {
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_error;
}

}  // namespace kestrel::record
