#pragma once
#include <atomic>
#include <cstdint>
#include <map>

#include "host/ICaptureIOApi.h"
#include "io/TOutputHandler.h"
#include "io/TTickThread.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/ITickClock.h"

namespace kestrel {

class IDriver;

// The camera-independent half of digital I/O: an input thread that polls
// the camera and reports changes, an output thread that drains the queue of
// output requests. States: 0 undetermined, 1 off, 2 on.
//
// A derived class must call StopIO in its own destructor: both threads call
// its operations.
class CIOBase : public ICaptureIOApi {
public:
    explicit CIOBase(IDriver* driver);
    ~CIOBase() override;
    CIOBase(const CIOBase&) = delete;
    CIOBase& operator=(const CIOBase&) = delete;

    // The host's operations: nothing thrown inside reaches it. Stopping
    // needs no memory.
    bool SetIOUser(ICaptureIOApiUser* user) noexcept override;                 // slot 1
    bool StartIO() noexcept override;                                          // slot 2
    bool StopIO() noexcept override;                                           // slot 3
    uint32_t GetInputCount() noexcept override;                                // slot 4
    uint32_t GetOutputCount() noexcept override;                               // slot 5
    bool RequestOutputState(uint32_t index, int32_t state) noexcept override;  // slot 6

    virtual bool SetOutputState(uint32_t index, int32_t state) = 0;  // slot 7
    virtual bool GetInputStates(uint32_t count) = 0;                 // slot 8
    virtual void OnStartIO() = 0;                                    // slot 9
    virtual void OnStopIO() = 0;                                     // slot 10
    virtual void ProcessOutputState(uint32_t index, int32_t state);  // slot 11

    // Where the input poll's period gets its time; set before StartIO.
    void SetClock(ITickClock& clock) { m_inputThread.SetClock(clock); }

protected:
    // Every state back to 0. Allocates only when the counts changed.
    void ResetStates();
    void GetInputStatesWrapper();
    void UpdateInputState(uint32_t index, int32_t state);
    void SetOutputStateWrapper(uint32_t index, int32_t state);

    bool InputStopRequested() { return m_inputThread.GetStopEvent().IsSet(); }
    bool OutputStopRequested() { return m_outputThread.GetStopEvent().IsSet(); }

    IDriver* const m_driver;
    TTickThread<CIOBase> m_inputThread;
    TOutputHandler<CIOBase> m_outputThread;
    std::atomic<ICaptureIOApiUser*> m_user{nullptr};
    CRecursiveLock m_stateLock;
    std::map<uint32_t, int32_t> m_inputStates;
    std::map<uint32_t, int32_t> m_outputStates;
    std::atomic<bool> m_inputFailureReportable{true};
    std::atomic<bool> m_outputFailureReportable{true};

private:
    bool StartBoth();
    bool StopBoth();
    void NotifyReset();
};

}  // namespace kestrel
