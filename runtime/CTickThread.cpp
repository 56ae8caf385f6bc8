#include "runtime/CTickThread.h"

namespace kestrel {

CTickThread::CTickThread(IDebugMessage* owner) : CBaseThread(owner) {}

CTickThread::~CTickThread() = default;

void CTickThread::Run() {
    if (m_tickFirst.load()) OnTick();
    for (;;) {
        if (m_clock->WaitFor(GetStopToken(), m_period.load())) return;
        OnTick();
    }
}

bool CTickThread::StartTicking(const std::string& name) {
    m_tickFirst.store(true);
    return CBaseThread::StartThread(name);
}

}  // namespace kestrel
