#pragma once
#include <deque>
#include <memory>
#include <string>

#include "runtime/CBaseThread.h"
#include "runtime/CEvent.h"
#include "runtime/CRecursiveLock.h"

namespace kestrel {

// A thread that processes owned items one at a time, in the order they were
// queued.
template <class T>
class CQueueThread : public CBaseThread {
public:
    explicit CQueueThread(IDebugMessage* debug) : CBaseThread(debug) {}
    // Run calls ProcessItem, which a derived class supplies: that class must
    // end the thread in its own destructor. This join only catches a thread
    // that was never started by such a class.
    ~CQueueThread() override {
        JoinThread(5000);
        ClearQueue();
    }

    void Run() override;                    // slot 4
    virtual void ProcessItem(T* item) = 0;  // slot 5

    virtual bool StartProcessing(const std::string& name) {  // slot 6
        m_queueEvent.Reset();
        return StartThread(name);
    }

    virtual bool StopProcessing(uint32_t timeoutMs) {  // slot 7
        GetStopToken().RequestStop();
        ClearQueue();
        return JoinThread(timeoutMs);
    }

    // Takes the item; false (and the item is gone) once a stop was asked.
    bool Enqueue(std::unique_ptr<T> item) {
        CLockGuard guard(m_queueLock);
        // Tested under the queue lock: StopProcessing clears the queue under
        // it after setting the stop event, so no item is left behind.
        if (GetStopEvent().IsSet()) return false;
        m_queue.push_back(std::move(item));
        m_queueEvent.Set();
        return true;
    }

    std::unique_ptr<T> Dequeue() {
        CLockGuard guard(m_queueLock);
        if (m_queue.empty()) return nullptr;
        std::unique_ptr<T> item = std::move(m_queue.front());
        m_queue.pop_front();
        return item;
    }

    // Popped in place: a fresh deque to swap with would allocate, and
    // stopping must not need memory. Items are plain records.
    void ClearQueue() {
        CLockGuard guard(m_queueLock);
        while (!m_queue.empty()) m_queue.pop_front();
    }

protected:
    CEvent m_queueEvent{false};
    CRecursiveLock m_queueLock;
    std::deque<std::unique_ptr<T>> m_queue;
};

template <class T>
void CQueueThread<T>::Run() {
    for (;;) {
        if (GetStopEvent().IsSet()) return;
        if (WaitForEither(&GetStopEvent(), &m_queueEvent, 1000) != 1) continue;
        while (std::unique_ptr<T> item = Dequeue()) {
            if (GetStopEvent().IsSet()) break;
            try {
                ProcessItem(item.get());
            } catch (...) {
                // One bad item must not end the thread.
            }
        }
    }
}

}  // namespace kestrel
