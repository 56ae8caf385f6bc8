#include "runtime/CBaseThread.h"

#include "runtime/DebugLevel.h"
#include "runtime/IDebugMessage.h"
#include "runtime/ThreadId.h"

namespace kestrel {

CBaseThread::CBaseThread(IDebugMessage* owner) : m_owner(owner) {}

CBaseThread::~CBaseThread() { StopThread(2000); }

uint32_t CBaseThread::ThreadEntry(CBaseThread* self) {
    if (self == nullptr) return 0x123456;
    self->Run();
    return 0;
}

uint32_t CBaseThread::GetThreadId() const {
    // The worker keeps its id after it ends; before its first step the
    // running thread's id is the answer.
    const auto running = static_cast<uint32_t>(m_worker.ThreadId());
    return running != 0 ? running : m_threadId.load();
}

void CBaseThread::CloseThreadHandle() {
    if (!m_worker.IsRunning()) m_worker.Join(0);
}

bool CBaseThread::StartThread(const std::string& name) {
    // Even a refused start clears the stop: the caller restarts the work.
    m_worker.Token().Reset();
    if (m_worker.IsRunning()) return false;
    m_name = name;
    // Nothing of this object is touched once the worker runs: it may
    // destroy the object at once.
    return m_worker.Start(name, [this](CStopToken&) {
        m_threadId.store(static_cast<uint32_t>(CurrentThreadId()));
        ThreadEntry(this);
    });
}

bool CBaseThread::EndThread(uint32_t timeoutMs, bool terminate) {
    m_worker.RequestStop();
    if (!m_worker.IsRunning()) {
        m_worker.Join(0);  // releases a thread that ended by itself
        return true;
    }
    if (m_worker.IsCurrentThread()) return false;
    if (m_worker.Join(timeoutMs)) return true;
    const std::string device = m_owner != nullptr ? m_owner->GetDeviceAddress() : std::string();
    const char* where = terminate ? "kestrel::CBaseThread::StopThread" : "kestrel::CBaseThread::JoinThread";
    if (m_owner != nullptr) {
        m_owner->DebugMessage(LevelWarning,
                              terminate ? "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu "
                                          "milliseconds and will be terminated!"
                                        : "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu "
                                          "milliseconds",
                              where, GetThreadId(), m_name.c_str(), device.c_str(),
                              static_cast<unsigned long>(timeoutMs));
    }
    // Killing a thread that may hold a lock would corrupt the driver: wait
    // for it instead.
    m_worker.Join(kInfinite);
    if (!terminate && m_owner != nullptr) {
        m_owner->DebugMessage(LevelInfo, "%s: Thread (id=%u, name=\"%s\") was stopped correctly", where, GetThreadId(),
                              m_name.c_str());
    }
    return true;
}

bool CBaseThread::JoinThread(uint32_t timeoutMs) { return EndThread(timeoutMs, false); }

bool CBaseThread::StopThread(uint32_t timeoutMs) { return EndThread(timeoutMs, true); }

}  // namespace kestrel
