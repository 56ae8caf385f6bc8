#pragma once
// The camera simulator in a child process, so that the CPU it spends on
// sending is not counted with the receiver's. Commands go over a pipe, one
// line each way; the time each picture left the simulator comes back through
// memory shared before the fork (CLOCK_MONOTONIC is system-wide). It runs at
// a higher priority than the receivers, so that each gets the same traffic.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace halyardbench {

class SimProcess {
public:
    static constexpr unsigned kMaxCameras = 256;
    static constexpr uint32_t kSlots = 4096;  // send times kept per camera, by frame number

    struct FarmOptions {
        unsigned cameras = 1;
        unsigned width = 704;
        unsigned height = 480;
        unsigned frameRate = 30;
        unsigned quality = 6;     // camera scale, until the driver sets JpQuality
        std::string hangPattern;  // requests containing it hang; "" none
    };
    struct Totals {
        uint64_t pictures = 0;
        uint64_t packets = 0;
        uint64_t sendErrors = 0;
        uint64_t lateFrames = 0;
        uint64_t camerasWithReports = 0;  // cameras that had an RTCP receiver report
    };

    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Forks the child; call while the process has no other thread.
    bool Start();
    void Stop();

    // Replaces the running cameras; returns their HTTP ports, empty on failure.
    std::vector<uint16_t> StartFarm(const FarmOptions& options);
    void StopFarm();
    // What an mjpeg request does: stream camera's pictures to 127.0.0.1:port.
    bool StreamTo(unsigned camera, uint16_t port);
    bool WaitForRequest(unsigned camera, const std::string& pattern, uint32_t timeoutMs);
    void ReleaseHangs();
    Totals GetTotals();

    // CLOCK_MONOTONIC nanoseconds at which that picture's first datagram was
    // sent; -1 when not (or no longer) known.
    int64_t SentAt(unsigned camera, uint32_t frame) const;

private:
    struct Slot {
        std::atomic<uint32_t> frame;
        std::atomic<int64_t> ns;
    };
    struct SendTimes {
        Slot slots[kMaxCameras][kSlots];
    };

    std::string Command(const std::string& line);
    [[noreturn]] static void ChildMain(int in, int out, SendTimes* times);

    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    SendTimes* m_times = nullptr;
};

}  // namespace halyardbench
