#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/CWorkerThread.h"
#include "tools/record/IPictureSink.h"
#include "tools/record/Picture.h"

namespace kestrel::record {

// Takes pictures from the driver's thread (a copy into a recycled slot) and
// writes them on a thread of its own, so a slow disk never stalls the
// driver's receive thread. Slots keep their capacity: no allocation per
// picture once the stream has settled.
class CPictureWriter {
public:
    static constexpr size_t kSlots = 64;

    explicit CPictureWriter(std::vector<std::unique_ptr<IPictureSink>> sinks);
    ~CPictureWriter();
    CPictureWriter(const CPictureWriter&) = delete;
    CPictureWriter& operator=(const CPictureWriter&) = delete;

    // Opens every sink and starts the thread.
    bool Start(std::string& error);
    // Copies the picture; false when every slot is taken (writer behind).
    bool Push(const Picture& picture);
    // Writes what is queued, closes the sinks and joins the thread.
    void Stop();

    bool Failed() const { return m_failed.load(std::memory_order_acquire); }
    std::string Error() const;
    uint64_t Written() const { return m_written.load(std::memory_order_relaxed); }
    // Pictures some sink could not store and went on without.
    uint64_t Skipped() const;

private:
    struct Slot {
        std::vector<uint8_t> bytes;
        Picture picture;
    };

    void Run(CStopToken& stop);
    void SetError(const std::string& error);

    std::vector<std::unique_ptr<IPictureSink>> m_sinks;
    std::vector<Slot> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<size_t> m_free;   // stack of free slot indices
    std::vector<size_t> m_ready;  // ring of filled slot indices
    size_t m_readyHead = 0;
    size_t m_readyCount = 0;
    bool m_stopping = false;  // Push refuses from Stop on
    std::atomic<bool> m_failed{false};
    std::atomic<uint64_t> m_written{0};
    mutable std::mutex m_errorMutex;
    std::string m_error;
    CWorkerThread m_worker;  // last: stopped before the members it uses go
};

}  // namespace kestrel::record
