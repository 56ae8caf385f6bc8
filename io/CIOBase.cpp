#include "io/CIOBase.h"

#include <chrono>
#include <string>
#include <thread>

#include "capture/DEVICE_INFO.h"
#include "capture/IDriver.h"
#include "host/ICaptureIOApiUser.h"
#include "runtime/DebugLevel.h"
#include "runtime/FormatString.h"
#include "runtime/GuardedCall.h"
#include "runtime/TickClock.h"

namespace kestrel {

namespace {

// A negative count from a broken model file means none, not four billion.
uint32_t CountOrZero(int32_t count) { return count > 0 ? static_cast<uint32_t>(count) : 0; }

}  // namespace

CIOBase::CIOBase(IDriver* driver)
    : m_driver(driver),
      m_inputThread(driver, this, &CIOBase::GetInputStatesWrapper),
      m_outputThread(driver, this, &CIOBase::ProcessOutputState) {}

CIOBase::~CIOBase() {
    CLockGuard guard(m_stateLock);
    m_outputStates.clear();
    m_inputStates.clear();
}

bool CIOBase::SetIOUser(ICaptureIOApiUser* user) noexcept {
    if (user == nullptr) return false;
    m_user.store(user);
    return true;
}

uint32_t CIOBase::GetInputCount() noexcept {
    return GuardedCall(0u, [&] { return CountOrZero(m_driver->GetIOCounts().first); });
}

uint32_t CIOBase::GetOutputCount() noexcept {
    return GuardedCall(0u, [&] { return CountOrZero(m_driver->GetIOCounts().second); });
}

bool CIOBase::RequestOutputState(uint32_t index, int32_t state) noexcept {
    return GuardedCall(false, [&] { return m_outputThread.Enqueue(std::make_unique<COutputState>(index, state)); });
}

namespace {

// Indices 0 … count-1, every state 0; the nodes are kept when they fit.
void ResetMap(std::map<uint32_t, int32_t>& states, uint32_t count) {
    if (states.size() == count && (count == 0 || states.rbegin()->first == count - 1)) {
        for (auto& entry : states) entry.second = 0;
        return;
    }
    states.clear();
    for (uint32_t i = 0; i < count; ++i) states.emplace(i, 0);
}

}  // namespace

void CIOBase::ResetStates() {
    const uint32_t outputs = GetOutputCount();
    const uint32_t inputs = GetInputCount();
    CLockGuard guard(m_stateLock);
    ResetMap(m_outputStates, outputs);
    ResetMap(m_inputStates, inputs);
}

bool CIOBase::StartIO() noexcept {
    return GuardedCall(false, [&] { return StartBoth(); });
}

bool CIOBase::StartBoth() {
    bool result = true;
    ResetStates();
    OnStartIO();

    const std::string driverName = m_driver->GetDriverName();
    const std::string address = m_driver->GetDeviceAddress();

    const uint32_t outputs = GetOutputCount();
    if (outputs > 0) {
        const std::string name = FormatString("Digital Output thread (%s: %s)", driverName.c_str(), address.c_str());
        if (m_outputThread.StartProcessing(name)) {
            for (uint32_t i = 0; i < outputs; ++i) RequestOutputState(i, 1);
        } else {
            m_driver->DebugMessage(LevelError, "%s: Starting of %s failed!", "kestrel::CIOBase::StartIO", name.c_str());
            result = false;
        }
    }

    if (GetInputCount() > 0) {
        const std::string name = FormatString("Digital Input thread (%s: %s)", driverName.c_str(), address.c_str());
        if (!m_inputThread.StartTicking(name)) {
            m_driver->DebugMessage(LevelError, "%s: Starting of %s failed!", "kestrel::CIOBase::StartIO", name.c_str());
            result = false;
        }
    }
    return result;
}

bool CIOBase::StopIO() noexcept {
    return GuardedCall(false, [&] { return StopBoth(); });
}

bool CIOBase::StopBoth() {
    bool result = true;
    const DEVICE_INFO* device = m_driver->GetDeviceInfo();
    const uint32_t timeout = device != nullptr ? device->requestTimeLimitMs : 5000;

    // Once is enough: the threads' stops and the senders' cancels hold
    // until the next StartIO.
    m_outputThread.GetStopToken().RequestStop();
    m_inputThread.GetStopToken().RequestStop();
    OnStopIO();

    if (!m_outputThread.StopProcessing(timeout)) {
        const std::string address = m_driver->GetDeviceAddress();
        m_driver->DebugMessage(LevelError, "%s: Stop Output thread failed! Device %s", "kestrel::CIOBase::StopIO",
                               address.c_str());
        result = false;
    }
    if (!m_inputThread.JoinThread(timeout)) {
        const std::string address = m_driver->GetDeviceAddress();
        m_driver->DebugMessage(LevelError, "%s: Stop Input thread failed! Device %s", "kestrel::CIOBase::StopIO",
                               address.c_str());
        result = false;
    }
    ResetStates();
    return result;
}

void CIOBase::NotifyReset() {
    ICaptureIOApiUser* user = m_user.load();
    if (user == nullptr) return;
    try {
        user->IOStatesReset();
    } catch (...) {
        // The host's failure is not ours to propagate.
    }
}

void CIOBase::GetInputStatesWrapper() {
    if (GetInputStates(GetInputCount())) {
        m_inputFailureReportable.store(true);
        return;
    }
    ResetStates();
    NotifyReset();
    if (m_inputFailureReportable.exchange(false)) {
        const DEVICE_INFO* device = m_driver->GetDeviceInfo();
        m_driver->DebugMessage(LevelError, "%s: GetInputStates() method failed! Device %s:%hu",
                               "kestrel::CIOBase::GetInputStatesWrapper",
                               device != nullptr ? device->address.c_str() : "",
                               static_cast<unsigned short>(device != nullptr ? device->port : 0));
    }
}

void CIOBase::UpdateInputState(uint32_t index, int32_t state) {
    bool changed = false;
    {
        CLockGuard guard(m_stateLock);
        auto it = m_inputStates.find(index);
        if (it != m_inputStates.end() && it->second != state) {
            it->second = state;
            changed = true;
        }
    }
    if (!changed) return;
    ICaptureIOApiUser* user = m_user.load();
    if (user == nullptr) return;
    try {
        user->InputStateChanged(index, state);
    } catch (...) {
        // The host's failure is not ours to propagate.
    }
}

void CIOBase::ProcessOutputState(uint32_t index, int32_t state) {
    bool changed = false;
    {
        CLockGuard guard(m_stateLock);
        auto it = m_outputStates.find(index);
        if (it != m_outputStates.end() && it->second != state) {
            it->second = state;
            changed = true;
        }
    }
    if (changed) SetOutputStateWrapper(index, state);
}

void CIOBase::SetOutputStateWrapper(uint32_t index, int32_t state) {
    if (SetOutputState(index, state)) {
        m_outputFailureReportable.store(true);
        return;
    }
    ResetStates();
    NotifyReset();
    if (m_outputFailureReportable.exchange(false)) {
        const DEVICE_INFO* device = m_driver->GetDeviceInfo();
        m_driver->DebugMessage(LevelError, "%s: Unable to change output state for device %s:%u (output index %u)",
                               "kestrel::CIOBase::SetOutputStateWrapper",
                               device != nullptr ? device->address.c_str() : "",
                               static_cast<unsigned>(device != nullptr ? device->port : 0), index);
    }
}

}  // namespace kestrel
