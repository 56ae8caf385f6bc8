#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "runtime/CManualEvent.h"
#include "runtime/CStopToken.h"
#include "runtime/CWorkerThread.h"

class IDebugMessage;

namespace kestrel {

// A named worker thread with a stop event, run on one CWorkerThread. Threads
// are never killed: a stop that runs late is reported, then waited for.
class CBaseThread {
public:
    explicit CBaseThread(IDebugMessage* owner);
    // Derived classes whose Run uses their own members must stop the thread
    // in their own destructor; this one only catches what is left.
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    virtual bool StartThread(const std::string& name);  // slot 1
    virtual bool JoinThread(uint32_t timeoutMs);        // slot 2
    virtual bool StopThread(uint32_t timeoutMs);        // slot 3
    virtual void Run() = 0;                             // slot 4

    bool IsRunning() const { return m_worker.IsRunning(); }
    // Releases the handle of a thread that has finished; a thread that
    // still runs keeps its handle.
    void CloseThreadHandle();
    // The current run's stop: it stays set until the next start.
    CStopToken& GetStopToken() { return m_worker.Token(); }
    CManualEvent& GetStopEvent() { return m_worker.Token().Event(); }
    const std::string& GetName() const { return m_name; }
    // The last started thread's id (kept after it ends, for its messages).
    uint32_t GetThreadId() const;
    bool IsCurrentThread() const { return m_worker.IsCurrentThread(); }

    // The start routine: 0x123456 for a null argument, else runs the object.
    static uint32_t ThreadEntry(CBaseThread* self);

protected:
    // Ends the thread: JoinThread for an orderly end, StopThread for one the
    // original design would terminate (here it is waited for as well).
    bool EndThread(uint32_t timeoutMs, bool terminate);

    std::string m_name;
    IDebugMessage* m_owner;

private:
    std::atomic<uint32_t> m_threadId{0};
    // Last: destroyed first, so a thread still running at destruction is
    // joined before the members above go.
    CWorkerThread m_worker;
};

}  // namespace kestrel
