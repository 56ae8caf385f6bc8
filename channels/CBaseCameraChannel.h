#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "channels/ICameraChannel.h"
#include "runtime/CRecursiveLock.h"
#include "runtime/CStopToken.h"
#include "runtime/CWorkerThread.h"
#include "runtime/ITickClock.h"

class IFrameBuffer;

namespace kestrel {

class IDriver;

// What every channel kind shares: the run state, the channel thread with its
// stop token, the clock its timers read, the camera's online state with its
// log lines, and the two calls into the host's capture user.
class CBaseCameraChannel : public ICameraChannel {
public:
    CBaseCameraChannel(IDriver* driver, uint32_t channelIndex);
    ~CBaseCameraChannel() override;
    CBaseCameraChannel(const CBaseCameraChannel&) = delete;
    CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

    bool Start(uint32_t intervalMs, int32_t width, int32_t height, int32_t quality) override;  // slot 1
    void Stop() override;                                                                      // slot 2
    CameraState GetState() override;                                                           // slot 3
    // Unblocks whatever the channel thread waits on; runs on the stopping thread.
    virtual void AbortPending() = 0;  // slot 4
    virtual void ChannelLoop() = 0;   // slot 5

    // "Camera <address>" or, on a multi-camera device,
    // "Video-server <address> (channel <index>)".
    std::string GetChannelName();
    // Where the channel's timers get their time; set before the first Start.
    // Tests step a simulated clock instead of waiting.
    void SetClock(ITickClock& clock);

protected:
    void SetState(CameraState state);
    // Moves from `expected` to `state` in one step under the state lock;
    // false (and no change) when the run state was another.
    bool SetStateIf(CameraState expected, CameraState state);
    void SetCameraState(bool online);
    // SetCameraState(true) for a channel that is still running. A frame
    // finished on a receive thread while the channel thread stops the stream
    // must not report the camera online after the offline report.
    void ReportOnlineIfRunning();
    bool DeliverFrame(IFrameBuffer* frame);
    void NotifyVideoStopped();

    bool StartChannelThread();
    void StopChannelThread();

    // Set from the stop until the next start; every wait of the channel
    // thread observes it.
    CStopToken& StopToken() { return m_worker.Token(); }
    bool StopRequested() { return m_worker.Token().StopRequested(); }
    ITickClock& Clock() { return *m_clock; }
    // A picture went to the host, or a stream began: the signal-loss limit
    // counts from now.
    void RestartFrameTimer() { m_lastFrameMs.store(m_clock->NowMs(), std::memory_order_relaxed); }
    uint32_t MsSinceLastFrame();

    // The device's frame time limit; the default when the driver has no record.
    uint32_t GetFrameTimeLimitMs();
    std::string GetDeviceAddressOnly();

    IDriver* const m_driver;
    const uint32_t m_channelIndex;

    // Start parameters: written by Start, read by the channel and receive
    // threads (a restart may overlap a receive thread that is winding down).
    std::atomic<int32_t> m_width{0};
    std::atomic<int32_t> m_height{0};
    std::atomic<int32_t> m_quality{60};
    std::atomic<uint32_t> m_frameInterval{0};

private:
    // POSIX sockets need no start-up; the guard keeps the per-thread
    // bookkeeping where a Winsock backend would put WSAStartup/WSACleanup.
    struct SocketLayerGuard {};
    void ReleaseSocketLayer();
    void ThreadMain();

    CRecursiveLock m_stateLock;
    // Changed under m_stateLock; read without it on every packet.
    std::atomic<CameraState> m_state{StateStopped};
    std::optional<SocketLayerGuard> m_socketLayer;  // caller of Start/Stop only
    std::atomic<bool> m_online{false};

    ITickClock* m_clock = &ITickClock::System();
    // Written by a receive thread per picture, read by the channel thread.
    std::atomic<uint32_t> m_lastFrameMs{0};

    std::mutex m_controlMutex;     // serialises Start and Stop around the worker
    bool m_workerStarted = false;  // under m_controlMutex: a run not yet stopped
    CWorkerThread m_worker;
};

}  // namespace kestrel
