#include "runtime/CBaseThread.h"

#include <pthread.h>

#include <chrono>

#include "runtime/IDebugMessage.h"
#include "runtime/ThreadId.h"

namespace kestrel {

CBaseThread::CBaseThread(IDebugMessage* owner) : m_owner(owner) {}

CBaseThread::~CBaseThread() {
    StopThread(2000);
    // A thread that ended itself is still joinable.
    CloseThreadHandle();
}

uint32_t CBaseThread::ThreadEntry(CBaseThread* self) {
    if (self == nullptr) return 0x123456;
    if (!self->m_name.empty()) {
        // The kernel keeps 15 characters of a thread name.
        ::pthread_setname_np(::pthread_self(), self->m_name.substr(0, 15).c_str());
    }
    self->Run();
    return 0;
}

void CBaseThread::Body(CBaseThread* self, std::shared_ptr<Lifetime> life) {
    {
        // StartThread holds this mutex until its handle is stored, so the
        // worker never sees a half-assigned handle.
        std::lock_guard<std::mutex> lock(life->mutex);
        self->m_threadId.store(static_cast<uint32_t>(CurrentThreadId()));
        life->started = true;
    }
    life->cv.notify_all();
    ThreadEntry(self);
    // self may be gone by now (a worker that destroyed its own object).
    {
        std::lock_guard<std::mutex> lock(life->mutex);
        life->done = true;
    }
    life->cv.notify_all();
}

bool CBaseThread::IsRunning() {
    if (!m_thread.joinable() || !m_life) return false;
    std::lock_guard<std::mutex> lock(m_life->mutex);
    return !m_life->done;
}

bool CBaseThread::IsCurrentThread() const {
    if (!m_life) return false;
    // A finished worker's id may already belong to another thread.
    std::lock_guard<std::mutex> lock(m_life->mutex);
    return !m_life->done && m_threadId.load() == static_cast<uint32_t>(CurrentThreadId());
}

void CBaseThread::CloseThreadHandle() {
    if (!m_thread.joinable()) return;
    if (IsCurrentThread()) {
        m_thread.detach();
    } else if (!IsRunning()) {
        m_thread.join();  // Run has returned: only the exit is left
    } else {
        return;
    }
    m_life.reset();
}

bool CBaseThread::StartThread(const std::string& name) {
    m_stopEvent.Reset();
    if (IsRunning()) return false;
    CloseThreadHandle();
    m_name = name;
    m_threadId.store(0);
    try {
        auto life = std::make_shared<Lifetime>();
        std::unique_lock<std::mutex> lock(life->mutex);
        m_thread = std::thread(&CBaseThread::Body, this, life);
        m_life = life;
        // The id is known when the start returns, as callers expect.
        life->cv.wait(lock, [&] { return life->started; });
    } catch (...) {
        return false;
    }
    return true;
}

bool CBaseThread::WaitDone(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_life->mutex);
    if (timeoutMs == kInfinite) {
        m_life->cv.wait(lock, [this] { return m_life->done; });
        return true;
    }
    return m_life->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_life->done; });
}

bool CBaseThread::EndThread(uint32_t timeoutMs, bool terminate) {
    m_stopEvent.Set();
    if (!m_thread.joinable()) return true;
    if (IsCurrentThread()) return false;
    if (!WaitDone(timeoutMs)) {
        const std::string device = m_owner != nullptr ? m_owner->GetDeviceAddress() : std::string();
        if (terminate) {
            if (m_owner != nullptr) {
                m_owner->DebugMessage(2,
                    "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds and will be terminated!",
                    "kestrel::CBaseThread::StopThread", GetThreadId(), m_name.c_str(), device.c_str(),
                    static_cast<unsigned long>(timeoutMs));
            }
            // Killing a thread that may hold a lock would corrupt the
            // driver: wait for it instead.
            WaitDone(kInfinite);
        } else {
            if (m_owner != nullptr) {
                m_owner->DebugMessage(2,
                    "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds",
                    "kestrel::CBaseThread::JoinThread", GetThreadId(), m_name.c_str(), device.c_str(),
                    static_cast<unsigned long>(timeoutMs));
            }
            WaitDone(kInfinite);
            if (m_owner != nullptr) {
                m_owner->DebugMessage(3, "%s: Thread (id=%u, name=\"%s\") was stopped correctly",
                                      "kestrel::CBaseThread::JoinThread", GetThreadId(), m_name.c_str());
            }
        }
    }
    CloseThreadHandle();
    return true;
}

bool CBaseThread::JoinThread(uint32_t timeoutMs) { return EndThread(timeoutMs, false); }

bool CBaseThread::StopThread(uint32_t timeoutMs) { return EndThread(timeoutMs, true); }

}  // namespace kestrel
