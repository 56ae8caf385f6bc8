#pragma once
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tools/camsim/CFaultState.h"
#include "tools/camsim/CPictureRing.h"
#include "tools/camsim/CamsimTypes.h"

namespace camsim {

// One Motion JPEG stream over RTP/UDP with its RTCP side, as a camera sends
// it after "mjpeg?UdpMode=unicast&UdpPort=N". Driven by a CStreamScheduler
// thread through Service; every other operation may come from any thread.
class CRtpStream {
public:
    using Clock = std::chrono::steady_clock;

    struct Params {
        std::string name;          // for log lines
        std::string destination;   // IPv4 address of the requester
        uint16_t rtpPort = 0;      // RTCP goes to rtpPort + 1
        std::string localAddress;  // address the camera's sockets bind to; "" any
        unsigned frameRate = 25;
        uint32_t expireMs = 0;  // 0: never
        uint32_t srIntervalMs = 5000;
        size_t maxPayload = 1400;
        uint16_t firstSequence = 0;
        uint32_t ssrc = 0;
        std::optional<double> phase;  // fraction of the frame interval; empty: start at once
        uint64_t seed = 1;
        std::shared_ptr<const CPictureRing> ring;
        std::shared_ptr<CFaultState> faults;
        LogSink log;
        PictureSentHook pictureSent;
    };

    explicit CRtpStream(Params params);
    ~CRtpStream();
    CRtpStream(const CRtpStream&) = delete;
    CRtpStream& operator=(const CRtpStream&) = delete;

    // Binds the RTP and RTCP sockets; the stream is active after this.
    bool Open(std::string* error);
    // Scheduler thread: sends what is due at now. Returns false once the
    // stream has ended; otherwise *next is when it wants to run again.
    bool Service(Clock::time_point now, Clock::time_point* next);
    // Ends the stream now (sockets closed); the scheduler drops it later.
    void Close(const std::string& reason);

    void SetFrameRate(unsigned fps);
    void SetRing(std::shared_ptr<const CPictureRing> ring);
    void SetExpire(uint32_t ms);
    std::shared_ptr<const CPictureRing> Ring() const;
    StreamStats Stats() const;
    bool Active() const;

private:
    void SendPicture(const CFaultState::PictureFaults& faults, Clock::time_point due);
    void SendSenderReport(Clock::time_point now);
    void DrainRtcp(Clock::time_point now);
    void Finish(const std::string& reason);
    Clock::time_point PhaseAligned(Clock::time_point now) const;
    uint32_t RtpTime(Clock::time_point t) const;
    void AddPayload(iovec*& iov, const uint8_t* head, size_t headLen, const uint8_t* body, size_t off, size_t len);

    mutable std::mutex m_mutex;
    Params m_params;
    int m_rtpFd = -1;
    int m_rtcpFd = -1;
    sockaddr_in m_rtpDest{};
    sockaddr_in m_rtcpDest{};
    bool m_active = false;
    bool m_serviced = false;
    StreamStats m_stats;

    std::mt19937_64 m_rng;
    uint16_t m_sequence = 0;
    uint32_t m_ssrc = 0;
    uint32_t m_rtpBase = 0;
    Clock::time_point m_start;
    Clock::time_point m_frameBase;  // frame clock origin
    uint64_t m_frameIndex = 0;      // frames since m_frameBase
    Clock::time_point m_nextFrame;
    Clock::time_point m_nextReport;
    Clock::time_point m_lastAlive;  // stream start or last receiver report
    size_t m_ringPos = 0;
    std::string m_cname;

    // Reused for every picture, so a steady stream allocates nothing.
    std::vector<uint8_t> m_head;  // picture bytes up to the end of the stamp
    std::vector<std::array<uint8_t, 12>> m_headers;
    std::vector<uint32_t> m_chunkOffset;
    std::vector<uint32_t> m_chunkLength;
    std::vector<uint32_t> m_order;
    std::vector<iovec> m_iov;
    std::vector<mmsghdr> m_msgs;
    std::array<uint8_t, 2048> m_rtcpBuffer{};
};

}  // namespace camsim
