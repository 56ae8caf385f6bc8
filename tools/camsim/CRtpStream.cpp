#include "tools/camsim/CRtpStream.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime/CByteWriter.h"
#include "tools/camsim/CPictureStamp.h"
#include "tools/camsim/CRtcpCodec.h"

namespace camsim {
namespace {

constexpr uint8_t kPayloadTypeJpeg = 26;
constexpr auto kIdleService = std::chrono::milliseconds(50);  // RTCP and expiry checks

std::string AddressText(const sockaddr_in& a) {
    char ip[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
    return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
}

int OpenUdp(const std::string& local, std::string* error) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        if (error) *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    if (local.empty() || inet_pton(AF_INET, local.c_str(), &a.sin_addr) != 1) a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (error) *error = std::string("bind: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    int big = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    return fd;
}

uint16_t LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

}  // namespace

CRtpStream::CRtpStream(Params params) : m_params(std::move(params)), m_rng(m_params.seed) {
    m_sequence = m_params.firstSequence;
    m_ssrc = m_params.ssrc;
    m_rtpBase = static_cast<uint32_t>(m_rng());
    m_params.frameRate = std::max(1u, m_params.frameRate);
    m_params.maxPayload = std::max<size_t>(1, m_params.maxPayload);
    if (!m_params.faults) m_params.faults = std::make_shared<CFaultState>();
}

CRtpStream::~CRtpStream() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rtpFd >= 0) ::close(m_rtpFd);
    if (m_rtcpFd >= 0) ::close(m_rtcpFd);
}

bool CRtpStream::Open(std::string* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_active || m_rtpFd >= 0) return false;
    if (!m_params.ring || m_params.ring->Count() == 0) {
        if (error) *error = "no pictures";
        return false;
    }
    m_rtpDest = sockaddr_in{};
    m_rtpDest.sin_family = AF_INET;
    if (inet_pton(AF_INET, m_params.destination.c_str(), &m_rtpDest.sin_addr) != 1 || m_params.rtpPort == 0 ||
        m_params.rtpPort == 65535) {
        if (error) *error = "bad destination " + m_params.destination + ":" + std::to_string(m_params.rtpPort);
        return false;
    }
    m_rtpDest.sin_port = htons(m_params.rtpPort);
    m_rtcpDest = m_rtpDest;
    m_rtcpDest.sin_port = htons(static_cast<uint16_t>(m_params.rtpPort + 1));
    m_rtpFd = OpenUdp(m_params.localAddress, error);
    if (m_rtpFd < 0) return false;
    m_rtcpFd = OpenUdp(m_params.localAddress, error);
    if (m_rtcpFd < 0) {
        ::close(m_rtpFd);
        m_rtpFd = -1;
        return false;
    }
    m_start = Clock::now();
    m_frameBase = m_start;
    m_frameIndex = 0;
    m_nextFrame = m_start;
    m_nextReport = m_start;  // the first report goes with the first picture
    m_lastAlive = m_start;
    m_cname = "camsim-" + m_params.name + "@" + (m_params.localAddress.empty() ? "0.0.0.0" : m_params.localAddress);
    m_active = true;
    m_stats = StreamStats{};
    m_stats.active = true;
    m_stats.destination = AddressText(m_rtpDest);
    m_stats.rtpSourcePort = LocalPort(m_rtpFd);
    m_stats.rtcpSourcePort = LocalPort(m_rtcpFd);
    m_stats.width = m_params.ring->Width();
    m_stats.height = m_params.ring->Height();
    m_stats.frameRate = m_params.frameRate;
    if (m_params.log)
        m_params.log(m_params.name + ": stream started to " + m_stats.destination + " (" +
                     std::to_string(m_stats.width) + "x" + std::to_string(m_stats.height) + " at " +
                     std::to_string(m_params.frameRate) + " fps, SSRC " + std::to_string(m_ssrc) + ", RTP from port " +
                     std::to_string(m_stats.rtpSourcePort) + ", RTCP from port " +
                     std::to_string(m_stats.rtcpSourcePort) + ")");
    return true;
}

void CRtpStream::Finish(const std::string& reason) {
    if (!m_active) return;
    m_active = false;
    m_stats.active = false;
    m_stats.stopReason = reason;
    if (m_rtpFd >= 0) ::close(m_rtpFd);
    if (m_rtcpFd >= 0) ::close(m_rtcpFd);
    m_rtpFd = m_rtcpFd = -1;
    if (m_params.log)
        m_params.log(m_params.name + ": stream to " + m_stats.destination + " stopped (" + reason + ") after " +
                     std::to_string(m_stats.pictures) + " pictures, " + std::to_string(m_stats.packets) + " packets, " +
                     std::to_string(m_stats.receiverReports) + " receiver reports");
}

void CRtpStream::Close(const std::string& reason) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Finish(reason);
}

bool CRtpStream::Active() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_active;
}

StreamStats CRtpStream::Stats() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    StreamStats s = m_stats;
    s.ssrc = m_ssrc;
    s.nextSequence = m_sequence;
    return s;
}

std::shared_ptr<const CPictureRing> CRtpStream::Ring() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_params.ring;
}

void CRtpStream::SetFrameRate(unsigned fps) {
    std::lock_guard<std::mutex> lock(m_mutex);
    fps = std::max(1u, fps);
    if (fps == m_params.frameRate) return;
    m_params.frameRate = fps;
    m_stats.frameRate = fps;
    // Restart the frame clock at the next due frame.
    m_frameBase = m_nextFrame;
    m_frameIndex = 0;
}

void CRtpStream::SetRing(std::shared_ptr<const CPictureRing> ring) {
    if (!ring || ring->Count() == 0) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_params.ring = std::move(ring);
    m_ringPos = 0;
    m_stats.width = m_params.ring->Width();
    m_stats.height = m_params.ring->Height();
}

void CRtpStream::SetExpire(uint32_t ms) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_params.expireMs = ms;
}

uint32_t CRtpStream::RtpTime(Clock::time_point t) const {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t - m_start).count();
    return m_rtpBase + static_cast<uint32_t>(static_cast<uint64_t>(us) * 9 / 100);
}

// The first instant at or after now whose place in the frame interval is the
// stream's phase, so that the cameras' timing does not depend on when each
// was asked to stream.
CRtpStream::Clock::time_point CRtpStream::PhaseAligned(Clock::time_point now) const {
    const int64_t interval = 1000000000ll / m_params.frameRate;
    const double fraction = std::clamp(*m_params.phase, 0.0, 1.0);
    const auto offset = static_cast<int64_t>(fraction * static_cast<double>(interval)) % interval;
    const int64_t into =
        std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count() % interval;
    return now + std::chrono::nanoseconds(((offset - into) % interval + interval) % interval);
}

bool CRtpStream::Service(Clock::time_point now, Clock::time_point* next) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_active) return false;
    if (!m_serviced) {
        // The clocks start when the scheduler takes the stream up.
        m_serviced = true;
        m_start = m_frameBase = m_nextFrame = m_nextReport = m_lastAlive = now;
        if (m_params.phase && m_params.frameRate > 0) m_frameBase = m_nextFrame = PhaseAligned(now);
    }
    DrainRtcp(now);
    if (!m_active) return false;
    if (m_params.expireMs > 0 && now - m_lastAlive > std::chrono::milliseconds(m_params.expireMs)) {
        Finish("expired");
        return false;
    }
    const auto interval = std::chrono::nanoseconds(1000000000ll / m_params.frameRate);
    if (now >= m_nextFrame) {
        auto late = now - m_nextFrame;
        const int64_t lateUs = std::chrono::duration_cast<std::chrono::microseconds>(late).count();
        m_stats.maxLatenessUs = std::max(m_stats.maxLatenessUs, lateUs);
        if (late > interval) ++m_stats.lateFrames;
        if (late > 2 * interval) {
            // Far behind: drop the missed frames rather than burst them out.
            ++m_stats.resyncs;
            m_frameBase = now;
            m_frameIndex = 0;
            m_nextFrame = now;
        }
        const auto due = m_nextFrame;
        CFaultState::PictureFaults faults = m_params.faults->Take();
        if (!faults.rtp.paused) SendPicture(faults, due);
        ++m_frameIndex;
        m_nextFrame = m_frameBase +
                      std::chrono::nanoseconds(static_cast<int64_t>(m_frameIndex) * 1000000000ll / m_params.frameRate);
    }
    if (now >= m_nextReport) {
        SendSenderReport(now);
        m_nextReport = now + std::chrono::milliseconds(std::max<uint32_t>(1, m_params.srIntervalMs));
    }
    *next = std::min({m_nextFrame, m_nextReport, now + kIdleService});
    return true;
}

void CRtpStream::AddPayload(iovec*& iov, const uint8_t* head, size_t headLen, const uint8_t* body, size_t off,
                            size_t len) {
    // Bytes below headLen come from the stamped copy, the rest from the
    // shared picture.
    if (off < headLen) {
        const size_t n = std::min(len, headLen - off);
        iov->iov_base = const_cast<uint8_t*>(head + off);
        iov->iov_len = n;
        ++iov;
        off += n;
        len -= n;
    }
    if (len > 0) {
        iov->iov_base = const_cast<uint8_t*>(body + off);
        iov->iov_len = len;
        ++iov;
    }
}

void CRtpStream::SendPicture(const CFaultState::PictureFaults& faults, Clock::time_point due) {
    const EncodedPicture* pic = faults.replacement ? faults.replacement.get() : &m_params.ring->At(m_ringPos);
    if (!faults.replacement) m_ringPos = (m_ringPos + 1) % m_params.ring->Count();
    std::shared_ptr<const EncodedPicture> padded;
    if (faults.longDatagram > 12 && pic->bytes.size() < faults.longDatagram - 12) {
        // Too small a picture for the long datagram asked for: pad it (on
        // demand only, so the allocation is no steady-state cost).
        padded = CPictureRing::MakeOversized(*pic, faults.longDatagram);
        pic = padded.get();
    }

    if (faults.newSsrc) {
        uint32_t ssrc = faults.ssrc.value_or(static_cast<uint32_t>(m_rng()));
        if (!faults.ssrc && ssrc == m_ssrc) ++ssrc;
        if (m_params.log)
            m_params.log(m_params.name + ": SSRC changed from " + std::to_string(m_ssrc) + " to " +
                         std::to_string(ssrc));
        m_ssrc = ssrc;
    }
    if (faults.sequenceJump != 0) {
        if (m_params.log)
            m_params.log(m_params.name + ": sequence jumps by " + std::to_string(faults.sequenceJump) + " at " +
                         std::to_string(m_sequence));
        m_sequence = static_cast<uint16_t>(m_sequence + faults.sequenceJump);
    }

    // The stamped head: picture bytes up to the end of the stamp.
    const size_t headLen = pic->stampOffset + CPictureStamp::kSegmentSize;
    if (m_head.size() < headLen) m_head.resize(headLen);
    std::memcpy(m_head.data(), pic->bytes.data(), pic->stampOffset);
    CPictureRing::StampFor(*pic, static_cast<uint32_t>(m_stats.pictures), m_head.data() + pic->stampOffset);

    // Cut into packets; a cut picture keeps at least its stamped head.
    const size_t whole = pic->bytes.size();
    const size_t cut = std::min(faults.rtp.cutBytes, whole > headLen ? whole - headLen : size_t{0});
    const size_t size = whole - cut;
    size_t chunks = 0;
    for (size_t off = 0; off < size; ++chunks) {
        size_t len = m_params.maxPayload;
        if (chunks == 0 && faults.longDatagram > 12) len = faults.longDatagram - 12;
        len = std::min(len, size - off);
        if (m_chunkOffset.size() <= chunks) {
            m_chunkOffset.resize(chunks + 64);
            m_chunkLength.resize(chunks + 64);
            m_headers.resize(chunks + 64);
        }
        m_chunkOffset[chunks] = static_cast<uint32_t>(off);
        m_chunkLength[chunks] = static_cast<uint32_t>(len);
        off += len;
    }
    const uint32_t ts = RtpTime(due);
    for (size_t i = 0; i < chunks; ++i) {
        // V=2 P=0 X=0 CC=0 | M PT=26 | sequence | timestamp | SSRC
        uint8_t* h = m_headers[i].data();
        const uint16_t seq = m_sequence++;
        h[0] = 0x80;
        h[1] = static_cast<uint8_t>((i + 1 == chunks ? 0x80 : 0) | kPayloadTypeJpeg);
        kestrel::CByteWriter::Put16(h + 2, seq);
        kestrel::CByteWriter::Put32(h + 4, ts);
        kestrel::CByteWriter::Put32(h + 8, m_ssrc);
    }

    // Transmission order after drop, duplicate and reorder faults.
    m_order.clear();
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    const RtpFaults& f = faults.rtp;
    for (size_t i = 0; i < chunks; ++i) {
        if (f.dropFraction > 0 && coin(m_rng) < f.dropFraction) {
            ++m_stats.dropped;
            continue;
        }
        m_order.push_back(static_cast<uint32_t>(i));
        if (f.duplicateFraction > 0 && coin(m_rng) < f.duplicateFraction) {
            m_order.push_back(static_cast<uint32_t>(i));
            ++m_stats.duplicated;
        }
    }
    if (f.reorderFraction > 0) {
        for (size_t j = 0; j + 1 < m_order.size(); ++j) {
            if (m_order[j] != m_order[j + 1] && coin(m_rng) < f.reorderFraction) {
                std::swap(m_order[j], m_order[j + 1]);
                ++m_stats.reordered;
                ++j;
            }
        }
    }

    const size_t n = m_order.size();
    if (m_msgs.size() < n) {
        m_msgs.resize(n + 64);
        m_iov.resize(3 * (n + 64));
    }
    for (size_t k = 0; k < n; ++k) {
        const uint32_t i = m_order[k];
        iovec* iov = &m_iov[3 * k];
        iovec* start = iov;
        iov->iov_base = m_headers[i].data();
        iov->iov_len = 12;
        ++iov;
        AddPayload(iov, m_head.data(), headLen, pic->bytes.data(), m_chunkOffset[i], m_chunkLength[i]);
        msghdr& mh = m_msgs[k].msg_hdr;
        mh = msghdr{};
        mh.msg_name = &m_rtpDest;
        mh.msg_namelen = sizeof m_rtpDest;
        mh.msg_iov = start;
        mh.msg_iovlen = static_cast<size_t>(iov - start);
        m_msgs[k].msg_len = 0;
    }
    // Latency is measured from here: the first datagram of the picture.
    const Clock::time_point firstSent = Clock::now();
    size_t sent = 0;
    while (sent < n) {
        const unsigned batch = static_cast<unsigned>(std::min<size_t>(n - sent, 1024));
        const int r = ::sendmmsg(m_rtpFd, &m_msgs[sent], batch, MSG_DONTWAIT);
        if (r < 0) {
            if (errno == EINTR) continue;
            // A full buffer or an unreachable port loses this datagram, as
            // the network would; go on with the next one.
            ++m_stats.sendErrors;
            ++sent;
            continue;
        }
        for (int k = 0; k < r; ++k) {
            ++m_stats.packets;
            m_stats.octets += m_msgs[sent + static_cast<size_t>(k)].msg_len - 12;
        }
        sent += static_cast<size_t>(r);
    }
    if (m_params.pictureSent) m_params.pictureSent(static_cast<uint32_t>(m_stats.pictures), firstSent);
    ++m_stats.pictures;
}

void CRtpStream::SendSenderReport(Clock::time_point now) {
    uint8_t buf[512];
    const size_t len = CRtcpCodec::BuildSenderReport(buf, sizeof buf, m_ssrc, CRtcpCodec::NtpNow(), RtpTime(now),
                                                     static_cast<uint32_t>(m_stats.packets),
                                                     static_cast<uint32_t>(m_stats.octets), m_cname);
    if (len == 0) return;
    const ssize_t r =
        ::sendto(m_rtcpFd, buf, len, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&m_rtcpDest), sizeof m_rtcpDest);
    if (r == static_cast<ssize_t>(len))
        ++m_stats.senderReports;
    else
        ++m_stats.sendErrors;
}

void CRtpStream::DrainRtcp(Clock::time_point now) {
    for (int i = 0; i < 64 && m_rtcpFd >= 0; ++i) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t r = ::recvfrom(m_rtcpFd, m_rtcpBuffer.data(), m_rtcpBuffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;  // EAGAIN, or an ICMP error from an earlier send
        }
        if (from.sin_addr.s_addr != m_rtpDest.sin_addr.s_addr) {
            ++m_stats.otherRtcp;
            continue;
        }
        const CRtcpCodec::Parsed p = CRtcpCodec::Parse(m_rtcpBuffer.data(), static_cast<size_t>(r));
        m_stats.receiverReports += p.receiverReports;
        m_stats.byes += p.byes;
        m_stats.otherRtcp += p.others + (p.malformed ? 1 : 0);
        if (p.lastReport) m_stats.lastReport = p.lastReport;
        if (p.receiverReports > 0) m_lastAlive = now;
        if (p.byes > 0) {
            Finish("bye");
            return;
        }
    }
}

}  // namespace camsim
