#include "runtime/CWorkerThread.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>

#include "runtime/ThreadId.h"

namespace kestrel {

CWorkerThread::CWorkerThread() : m_run(std::make_shared<Run>()) {}

CWorkerThread::~CWorkerThread() {
    RequestStop();
    if (!m_thread.joinable()) return;
    if (IsCurrentThread()) {
        m_thread.detach();
    } else {
        m_thread.join();
    }
}

bool CWorkerThread::Start(const std::string& name, Body body) {
    std::shared_ptr<Run> run = m_run;
    if (IsRunning()) {
        if (!IsCurrentThread() || !m_run->token.StopRequested()) return false;
        // This very thread: it ends when its body returns, keeping its own
        // run (and its stopped token); the new run gets fresh ones.
        m_thread.detach();
        run = std::make_shared<Run>();
    } else {
        // The run is reused, so that a token or event others hold stays
        // valid across restarts.
        Release();
    }
    // The worker waits for this lock, so its body sees the members below
    // already set (it may join or restart its own object at once).
    std::unique_lock<std::mutex> hold(run->lock);
    run->done = false;
    run->threadId = 0;
    run->token.Reset();
    // Assigned only when new: other threads may read the pointer meanwhile
    // (a host callback stopping the channel while it restarts).
    if (m_run != run) m_run = run;
    try {
        m_thread = std::thread([run, body = std::move(body), threadName = name.substr(0, 15)] {
            {
                std::lock_guard<std::mutex> guard(run->lock);
                run->threadId = CurrentThreadId();
            }
            run->ended.notify_all();  // Start waits for the id
            // The kernel keeps 15 characters of a thread name.
            if (!threadName.empty()) ::pthread_setname_np(::pthread_self(), threadName.c_str());
            // Threads inherit their maker's scheduling: one started by a
            // background thread (a channel opening its ports) is not one.
            int policy = 0;
            sched_param parameters{};
            if (::pthread_getschedparam(::pthread_self(), &policy, &parameters) == 0 && policy == SCHED_BATCH) {
                (void)::pthread_setschedparam(::pthread_self(), SCHED_OTHER, &parameters);
            }
            try {
                body(run->token);
            } catch (...) {
                // A worker's failure must not end the process.
            }
            std::lock_guard<std::mutex> guard(run->lock);
            run->done = true;
            run->ended.notify_all();
        });
    } catch (...) {
        run->done = true;
        return false;
    }
    run->id = m_thread.get_id();
    m_name = name;
    run->ended.wait(hold, [&] { return run->threadId != 0; });
    return true;
}

void CWorkerThread::RequestStop() { m_run->token.RequestStop(); }

void CWorkerThread::RunCurrentThreadInBackground() {
    // Batch scheduling keeps the thread's share of the processor and only
    // gives up preempting on wake; it needs no privilege.
    sched_param unused{};
    (void)::pthread_setschedparam(::pthread_self(), SCHED_BATCH, &unused);
}

bool CWorkerThread::Join(uint32_t timeoutMs) {
    if (IsCurrentThread()) return true;
    {
        std::unique_lock<std::mutex> guard(m_run->lock);
        if (!m_run->ended.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return m_run->done; })) {
            return false;
        }
    }
    Release();
    return true;
}

void CWorkerThread::Release() {
    if (!m_thread.joinable() || IsCurrentThread()) return;
    {
        std::lock_guard<std::mutex> guard(m_run->lock);
        if (!m_run->done) return;
    }
    m_thread.join();
}

bool CWorkerThread::IsRunning() const {
    std::lock_guard<std::mutex> guard(m_run->lock);
    return !m_run->done;
}

bool CWorkerThread::IsCurrentThread() const {
    std::lock_guard<std::mutex> guard(m_run->lock);
    return !m_run->done && m_run->id == std::this_thread::get_id();
}

uint64_t CWorkerThread::ThreadId() const {
    std::lock_guard<std::mutex> guard(m_run->lock);
    return m_run->done ? 0 : m_run->threadId;
}

}  // namespace kestrel
