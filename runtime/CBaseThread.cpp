#include "runtime/CBaseThread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "runtime/IDebugMessage.h"

namespace kestrel {

CBaseThread::CBaseThread(IDebugMessage* owner) : m_owner(owner) {}

CBaseThread::~CBaseThread() {
    StopThread(2000);
    // A thread that ended itself is still joinable.
    CloseThreadHandle();
}

uint32_t CBaseThread::ThreadEntry(CBaseThread* self) {
    if (self == nullptr) return 0x123456;
    self->m_threadId.store(static_cast<uint32_t>(::syscall(SYS_gettid)));
    if (!self->m_name.empty()) {
        // The kernel keeps 15 characters of a thread name.
        ::pthread_setname_np(::pthread_self(), self->m_name.substr(0, 15).c_str());
    }
    self->Run();
    {
        std::lock_guard<std::mutex> lock(self->m_doneMutex);
        self->m_done = true;
    }
    self->m_doneCv.notify_all();
    return 0;
}

bool CBaseThread::IsRunning() {
    if (!m_thread.joinable()) return false;
    std::lock_guard<std::mutex> lock(m_doneMutex);
    return !m_done;
}

void CBaseThread::CloseThreadHandle() {
    if (m_thread.joinable() && !IsCurrentThread()) m_thread.join();
}

bool CBaseThread::IsCurrentThread() const {
    return m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id();
}

bool CBaseThread::StartThread(const std::string& name) {
    m_stopEvent.Reset();
    if (IsRunning()) return false;
    CloseThreadHandle();
    m_name = name;
    m_threadId.store(0);
    {
        std::lock_guard<std::mutex> lock(m_doneMutex);
        m_done = false;
    }
    try {
        m_thread = std::thread([this] { ThreadEntry(this); });
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_doneMutex);
        m_done = true;
        return false;
    }
    return true;
}

bool CBaseThread::WaitDone(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_doneMutex);
    if (timeoutMs == kInfinite) {
        m_doneCv.wait(lock, [this] { return m_done; });
        return true;
    }
    return m_doneCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_done; });
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
