#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/CStopToken.h"

namespace kestrel {

// The one way the driver and its tools run work on a thread of their own:
// a named thread, a stop token its body observes, and a join with a limit.
// A stop stays requested until the owner starts the work again. Threads are
// never killed; a late one is joined by the next Start or the destructor.
class CWorkerThread {
public:
    using Body = std::function<void(CStopToken&)>;

    CWorkerThread();
    // Requests a stop and joins without limit (from the worker itself, the
    // thread is let go instead).
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // False when a run of this object is still going or no thread can be
    // made. The worker itself may start a new run once its own was asked to
    // stop (a port reopened from its own callback): the old run is let go.
    bool Start(const std::string& name, Body body);
    void RequestStop();
    // True once the body has returned. From the worker itself: true at once;
    // the thread is released by the next Start or the destructor.
    bool Join(uint32_t timeoutMs);
    bool Stop(uint32_t timeoutMs) {
        RequestStop();
        return Join(timeoutMs);
    }

    bool IsRunning() const;
    bool IsCurrentThread() const;
    // For timer and housekeeping bodies, called on their own thread: their
    // wake-ups then never preempt a busier thread (a receive thread in the
    // middle of a picture); they run on a free processor or at the next
    // scheduler tick. Left as it is where the system refuses.
    static void RunCurrentThreadInBackground();
    // Kernel-style id of the running worker, 0 when none.
    uint64_t ThreadId() const;
    const std::string& Name() const { return m_name; }
    // The run's token. It stays the same object across restarts, except
    // after a restart from the worker itself, whose old run keeps its own.
    // Start, Join, Stop and the destructor belong to the owner; a body uses
    // the token it is given.
    CStopToken& Token() { return m_run->token; }

private:
    // Shared with the worker, so that the run's end and token outlive an
    // object destroyed under it.
    struct Run {
        std::mutex lock;
        std::condition_variable ended;
        bool done = true;
        uint64_t threadId = 0;
        std::thread::id id;
        CStopToken token;
    };
    void Release();

    std::string m_name;
    std::thread m_thread;
    std::shared_ptr<Run> m_run;
};

}  // namespace kestrel
