#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "channels/ICameraChannel.h"
#include "runtime/CRecursiveLock.h"

namespace kestrel {

// The driver's channels, one slot per camera, owned here. Channels are
// stopped and destroyed outside the table's lock. One stopped from a
// callback on its own thread cannot be waited for there: it is asked to
// stop, parked, and finished (stopped and destroyed) by the next call from a
// thread of no channel, or by the destructor.
class CChannelTable {
public:
    CChannelTable() = default;
    ~CChannelTable();
    CChannelTable(const CChannelTable&) = delete;
    CChannelTable& operator=(const CChannelTable&) = delete;

    // At Open: one slot per camera, and room to park every channel, so that
    // parking never needs memory.
    void Resize(size_t count);
    // Under the table's lock: makes a channel for an empty slot and keeps it
    // when `start` succeeds. False (and nothing kept) otherwise.
    bool Place(uint32_t index, const std::function<std::unique_ptr<ICameraChannel>()>& make,
               const std::function<bool(ICameraChannel&)>& start);
    // Empties the slot and finishes its channel; false when it was empty.
    bool Remove(uint32_t index);
    // Runs `read` on the slot's channel under the table's lock, so the
    // channel cannot be destroyed meanwhile; false when the slot is empty.
    bool Read(uint32_t index, const std::function<void(ICameraChannel&)>& read);
    // Finishes every channel, one slot at a time (releasing needs no memory).
    void RemoveAll();
    // Finishes the parked channels, unless called on a channel's thread.
    void FinishParked();

private:
    // Stop, swallow what it throws, destroy; or park when on its own thread.
    void Finish(std::unique_ptr<ICameraChannel> channel);

    CRecursiveLock m_lock;
    std::vector<std::unique_ptr<ICameraChannel>> m_channels;  // under m_lock
    std::mutex m_parkedLock;
    std::vector<std::unique_ptr<ICameraChannel>> m_parked;  // under m_parkedLock
};

}  // namespace kestrel
