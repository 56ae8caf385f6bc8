#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/CManualEvent.h"

class IDebugMessage;

namespace kestrel {

// A named worker thread with a stop event. Threads are never killed: a stop
// that runs late is reported, then waited for.
class CBaseThread {
public:
    explicit CBaseThread(IDebugMessage* owner);
    // Derived classes whose Run uses their own members must stop the thread
    // in their own destructor; this one only catches what is left.
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    virtual bool StartThread(const std::string& name);   // slot 1
    virtual bool JoinThread(uint32_t timeoutMs);         // slot 2
    virtual bool StopThread(uint32_t timeoutMs);         // slot 3
    virtual void Run() = 0;                              // slot 4

    bool IsRunning();
    // Releases the handle of a thread that has finished. The worker itself
    // lets go of its own handle (its object may be going away under it); a
    // thread that still runs keeps its handle.
    void CloseThreadHandle();
    CManualEvent& GetStopEvent() { return m_stopEvent; }
    const std::string& GetName() const { return m_name; }
    uint32_t GetThreadId() const { return m_threadId.load(); }
    bool IsCurrentThread() const;

    // The start routine: 0x123456 for a null argument, else runs the object.
    static uint32_t ThreadEntry(CBaseThread* self);

protected:
    // Ends the thread: JoinThread for an orderly end, StopThread for one the
    // original design would terminate (here it is waited for as well).
    bool EndThread(uint32_t timeoutMs, bool terminate);

    std::string m_name;
    std::thread m_thread;
    std::atomic<uint32_t> m_threadId{0};
    IDebugMessage* m_owner;
    CManualEvent m_stopEvent;

private:
    // Shared by the object and its worker, so that a worker whose object was
    // destroyed under it can still report its end.
    struct Lifetime {
        std::mutex mutex;
        std::condition_variable cv;
        bool started = false;
        bool done = false;
    };
    static void Body(CBaseThread* self, std::shared_ptr<Lifetime> life);
    bool WaitDone(uint32_t timeoutMs);
    std::shared_ptr<Lifetime> m_life;
};

}  // namespace kestrel
