#include "channels/CSonyMJPEGChannelRTP.h"

#include <cstdarg>
#include <cstring>

#include "capture/DEVICE_INFO.h"
#include "capture/IDriver.h"
#include "capture/JpegFourCC.h"
#include "capture/VideoChannelParams.h"
#include "channels/CChannelThreadMark.h"
#include "channels/JpegFrame.h"
#include "channels/SonyCameraCommands.h"
#include "host/IFrameAllocator.h"
#include "host/IFrameBuffer.h"
#include "runtime/DebugLevel.h"
#include "runtime/FormatString.h"
#include "web/HttpRequest.h"

namespace kestrel {

namespace {

DEVICE_INFO CopyDeviceRecord(IDriver* driver) {
    const DEVICE_INFO* device = driver != nullptr ? driver->GetDeviceInfo() : nullptr;
    return device != nullptr ? *device : DEVICE_INFO();
}

// Room for the longest picture plus one more datagram, so that a steady
// stream never grows the assembly buffer.
constexpr size_t kPictureReserve = CSonyMJPEGChannelRTP::kMaxPictureBytes + 65536;

constexpr uint32_t kStatusOk = 200;
constexpr uint32_t kStatusNoContent = 204;
constexpr uint32_t kStatusUnauthorized = 401;
constexpr uint32_t kStatusNotFound = 404;

constexpr uint32_t kPrivacyZoneCount = 7;

}  // namespace

CSonyMJPEGChannelRTP::CSonyMJPEGChannelRTP(IDriver* driver, const VideoChannelParams& params,
                                           std::unique_ptr<Web::CBaseHttpSender> sender)
    : CBaseRTPChannel(driver, static_cast<uint32_t>(params.channelIndex), static_cast<uint32_t>(params.keepAliveMs)),
      m_sender(sender ? std::move(sender) : Web::CBaseHttpSender::Create(CopyDeviceRecord(driver))),
      m_videoMode(params.videoStandard),
      m_qualityMin(static_cast<uint32_t>(params.qualityMin)),
      m_qualityMax(static_cast<uint32_t>(params.qualityMax)) {
    m_picture.reserve(kPictureReserve);
}

CSonyMJPEGChannelRTP::~CSonyMJPEGChannelRTP() { Stop(); }

void CSonyMJPEGChannelRTP::AbortPending() { m_sender->Cancel(); }

void CSonyMJPEGChannelRTP::ReopenSender() {
    m_sender->ResetCancel();
    // A stop sets its token before it cancels: one that came just before
    // the reset above is seen here, so its cancel is never lost.
    if (StopRequested()) m_sender->Cancel();
}

void CSonyMJPEGChannelRTP::OnIdle() {}

void CSonyMJPEGChannelRTP::KeepAlive() {}

void CSonyMJPEGChannelRTP::ReceiveTimeout() {}

void CSonyMJPEGChannelRTP::RtcpTimeout() {}

void CSonyMJPEGChannelRTP::ReceiverClosed(CRTPReceiver* /*receiver*/) {
    CChannelThreadMark mark(this);
    SocketClosed(ClosedSocket::Video);
}

void CSonyMJPEGChannelRTP::RtcpSocketClosed(CRTCPSendReceive* /*rtcp*/) {
    CChannelThreadMark mark(this);
    SocketClosed(ClosedSocket::Rtcp);
}

// ---- messages ----

void CSonyMJPEGChannelRTP::DebugMessage(int level, const char* format, ...) {
    std::string text;
    bool failed = false;
    va_list args;
    va_start(args, format);
    try {
        text = FormatStringV(format, args);
    } catch (...) {
        failed = true;
    }
    va_end(args);
    if (failed) {
        if (m_driver != nullptr) {
            m_driver->DebugMessage(LevelWarning, "Unhandled exception in method %s",
                                   "kestrel::CSonyMJPEGChannelRTP::DebugMessage");
        }
        text.clear();
    }
    if (text.empty() || m_driver == nullptr) return;
    CLockGuard guard(m_messageLock);
    if (text == m_lastMessage) return;
    m_lastMessage = text;
    m_driver->DebugMessage(level, "%s", text.c_str());
}

void CSonyMJPEGChannelRTP::ClearLastMessage() {
    CLockGuard guard(m_messageLock);
    m_lastMessage.clear();
}

// ---- camera requests ----

bool CSonyMJPEGChannelRTP::SendCameraRequest(const std::string& path, const char* caller) {
    bool result = false;
    if (!StopRequested() && !path.empty()) {
        const Web::HttpRequest request("GET", path);
        bool sent = false;
        try {
            sent = m_sender->Send(request);
        } catch (...) {
            // Counts as a request that could not be sent.
            sent = false;
        }
        const std::string device = m_driver != nullptr ? m_driver->GetDeviceAddress() : std::string();
        const char* failure = Web::CBaseHttpSender::FailureText(m_sender->LastError());
        if (!sent && failure != nullptr) {
            DebugMessage(LevelError, "%s: %s is unable to process \"%s\" request: %s (%u)", caller, device.c_str(),
                         path.c_str(), failure, m_sender->LastError());
        } else if (!sent) {
            DebugMessage(LevelError, "%s: %s is unable to process \"%s\" request. Device is inaccessible (%u)", caller,
                         device.c_str(), path.c_str(), m_sender->LastError());
        } else {
            const uint32_t status = m_sender->StatusCode();
            if (status == kStatusOk || status == kStatusNoContent) {
                result = true;
            } else if (status == kStatusUnauthorized) {
                DebugMessage(LevelError, "%s: Device %s is unable to process \"%s\" request: credentials are invalid",
                             caller, device.c_str(), path.c_str());
            } else if (status == kStatusNotFound) {
                DebugMessage(LevelError, "%s: The \"%s\" URL was not found on device %s", caller, path.c_str(),
                             device.c_str());
            } else {
                DebugMessage(LevelError, "%s: %s is unable to process \"%s\" request. HTTP status code is %u", caller,
                             device.c_str(), path.c_str(), status);
            }
        }
    }
    // Also closes the finished request; that cancel is not a stop, so it is
    // lifted again.
    m_sender->Cancel();
    ReopenSender();
    return result;
}

uint32_t CSonyMJPEGChannelRTP::ComputeCameraQuality() {
    return kestrel::ComputeCameraQuality(m_quality.load(std::memory_order_relaxed), m_qualityMin, m_qualityMax);
}

bool CSonyMJPEGChannelRTP::SetCameraVideoMode() {
    return SendCameraRequest(VideoOutModePath(m_videoMode), "kestrel::CSonyMJPEGChannelRTP::SetCameraVideoMode");
}

bool CSonyMJPEGChannelRTP::UpdateCameraParameters() {
    return SendCameraRequest(CameraParametersPath(m_keepAliveMs),
                             "kestrel::CSonyMJPEGChannelRTP::UpdateCameraParameters");
}

bool CSonyMJPEGChannelRTP::DisablePrivaceZones() {
    for (uint32_t zone = 1; zone <= kPrivacyZoneCount; ++zone) {
        // A stop ends the loop as a success; the next step's stop test
        // fails the sequence.
        if (StopRequested()) break;
        if (!SendCameraRequest(PrivacyZonePath(zone), "kestrel::CSonyMJPEGChannelRTP::DisablePrivaceZones")) {
            return false;
        }
    }
    return true;
}

bool CSonyMJPEGChannelRTP::StartJPEGStream() {
    static const char* const kCaller = "kestrel::CSonyMJPEGChannelRTP::StartJPEGStream";
    const uint32_t frameRate = JpegFrameRate(m_frameInterval.load(std::memory_order_relaxed));
    if (!SendCameraRequest(JpegCodecPath(frameRate, ComputeCameraQuality()), kCaller)) return false;
    // The first picture may arrive cut; start at the next picture boundary.
    m_discard.store(true);
    if (!SendCameraRequest(UnicastStreamPath(m_receiver.GetPort().GetPort()), kCaller)) return false;
    ClearLastMessage();
    return true;
}

bool CSonyMJPEGChannelRTP::StartStream() {
    // A scheme learned from an earlier answer is asked for afresh.
    m_sender->ForgetScheme();
    ReopenSender();
    if (!SetCameraVideoMode()) return false;
    if (StopRequested() || !UpdateCameraParameters()) return false;
    if (StopRequested() || !DisablePrivaceZones()) return false;
    if (StopRequested() || !StartJPEGStream()) return false;
    return true;
}

// ---- ports ----

bool CSonyMJPEGChannelRTP::OpenPorts() {
    // Once per stream start: a camera given by name may have moved.
    if (!ResolveCameraAddress()) {
        const std::string host = GetDeviceAddressOnly();
        DebugMessage(LevelError,
                     "kestrel::CSonyMJPEGChannelRTP::OpenPorts: camera address \"%s\" names no IPv4 address",
                     host.c_str());
        return false;
    }
    m_rtcp.SetCameraAddress(m_cameraAddress);
    for (uint32_t port = kFirstRtpPort; port <= kLastRtpPort; port += 2) {
        if (StopRequested()) return false;
        m_receiveThreadMarked.store(false, std::memory_order_relaxed);
        if (m_receiver.GetPort().Open(static_cast<uint16_t>(port)) != UdpSuccess) continue;
        if (m_rtcp.Open(static_cast<uint16_t>(port + 1))) {
            m_receiver.SetUser(this);
            m_rtcp.SetReportInterval(static_cast<int32_t>(m_keepAliveMs / 2));
            m_rtcp.SetUser(this);
            m_rtcp.StartReports();
            return true;
        }
        m_rtcp.Close();
        m_receiver.GetPort().Close();
    }
    return false;
}

void CSonyMJPEGChannelRTP::ClosePorts() {
    if (m_rtcp.IsOpen()) {
        m_rtcp.SetUser(nullptr);
        m_rtcp.StopReports();
        m_rtcp.Close();
    }
    m_receiver.SetUser(nullptr);
    m_receiver.GetPort().Close();
    ReportForeignDatagrams();
}

void CSonyMJPEGChannelRTP::ReportForeignDatagrams() {
    Ipv4Endpoint rtpFrom;
    Ipv4Endpoint rtcpFrom;
    const uint64_t rtp = m_receiver.TakeDropped(rtpFrom);
    const uint64_t rtcp = m_rtcp.TakeDropped(rtcpFrom);
    if (rtp == 0 && rtcp == 0) return;
    const Ipv4Endpoint& last = rtp != 0 ? rtpFrom : rtcpFrom;
    if (m_driver == nullptr) return;
    // Straight to the host, past the repeat check: strangers' datagrams
    // between two passes of a failing request must not make that failure
    // count as new and be logged again.
    try {
        const std::string device = GetDeviceAddressOnly();
        const std::string text = FormatString(
            "kestrel::CSonyMJPEGChannelRTP::ClosePorts: dropped %llu RTP and %llu RTCP datagrams not sent by camera "
            "%s (%u.%u.%u.%u), the last from %u.%u.%u.%u:%u",
            static_cast<unsigned long long>(rtp), static_cast<unsigned long long>(rtcp), device.c_str(),
            m_cameraAddress >> 24, (m_cameraAddress >> 16) & 0xFF, (m_cameraAddress >> 8) & 0xFF,
            m_cameraAddress & 0xFF, last.address >> 24, (last.address >> 16) & 0xFF, (last.address >> 8) & 0xFF,
            last.address & 0xFF, static_cast<unsigned>(last.port));
        m_driver->DebugMessage(LevelInfo, "%s", text.c_str());
    } catch (...) {
        // A report that cannot be built is only a lost report.
    }
}

void CSonyMJPEGChannelRTP::SocketClosed(ClosedSocket which) {
    const std::string device = m_driver != nullptr ? m_driver->GetDeviceAddress() : std::string();
    const std::string text =
        (which == ClosedSocket::Video
             ? std::string("kestrel::CSonyMJPEGChannelRTP::SocketClosed: socket for receiving video from camera ")
             : std::string("kestrel::CSonyMJPEGChannelRTP::SocketClosed: RTCP socket for camera ")) +
        device + " is closed";
    // A closing during a stop is not reported; of two sockets failing
    // together only the first reports.
    if (!SetStateIf(StateRunning, StateSignalLost)) return;
    WakeChannelThread();
    SetCameraState(false);
    NotifyVideoStopped();
    if (!text.empty()) DebugMessage(LevelError, "%s", text.c_str());
}

// ---- frame assembly ----

void CSonyMJPEGChannelRTP::PacketReceived(CRTPReceiver* /*receiver*/, const Ipv4Endpoint& /*from*/,
                                          const RtpPacket& packet) {
    if (GetState() != StateRunning) return;

    const bool hasPrevious = m_rtcp.IsSequenceStarted();
    const uint16_t previous = m_rtcp.GetLastSequenceNumber();
    m_rtcp.RtpSequenceSeen(packet.sequenceNumber);
    // 16-bit arithmetic: 0 follows 65535 without a gap (otherwise a whole
    // picture is lost at every wrap), and a real 0 is still tested against
    // the next packet (otherwise a loss right after it would go unseen and a
    // broken picture would reach the host).
    if (hasPrevious && packet.sequenceNumber != static_cast<uint16_t>(previous + 1)) {
        m_discard.store(true);
        m_picture.clear();
        return;
    }
    if (m_discard.load()) {
        // Whatever was held belongs to a picture being thrown away.
        m_picture.clear();
        if (packet.marker != 0) m_discard.store(false);
        return;
    }
    if (m_picture.size() > kMaxPictureBytes) {
        m_picture.clear();
        m_discard.store(true);
        return;
    }
    if (packet.payloadLength == 0 || packet.payload == nullptr) return;
    // A picture's end calls the driver object and the host's allocator and
    // capture user, all untouched since the last picture and gone from the
    // cache while the thread slept: a miss for each, one after the other,
    // on every picture. Fetched at its start (the host's objects once the
    // driver object that names them has come), they are here by its end.
    if (m_picture.empty()) {
        __builtin_prefetch(m_driver);
        m_hostFetched = false;
    } else if (!m_hostFetched && m_driver != nullptr) {
        m_hostFetched = true;
        __builtin_prefetch(m_driver->GetFrameAllocator());
        __builtin_prefetch(m_driver->GetCaptureUser());
    }
    m_picture.insert(m_picture.end(), packet.payload, packet.payload + packet.payloadLength);
    if (packet.marker != 0) {
        // The host may stop this channel from the frame callback, so the
        // thread must carry the mark by then. The port's thread serves this
        // channel all its life and is marked once: the mark is a
        // thread-local, whose every access from a loaded library is a library
        // call through lines gone cold in the thread's sleep, half a
        // microsecond a picture. Any other thread that hands in packets
        // may outlive the channel and is marked for the callback only.
        if (!m_receiveThreadMarked.load(std::memory_order_relaxed) && m_receiver.GetPort().IsReceiveThread()) {
            CChannelThreadMark::MarkForLife(this);
            m_receiveThreadMarked.store(true, std::memory_order_relaxed);
        }
        if (m_receiveThreadMarked.load(std::memory_order_relaxed)) {
            FrameReceived(m_picture);
        } else {
            CChannelThreadMark mark(this);
            FrameReceived(m_picture);
        }
        m_picture.clear();
    }
}

void CSonyMJPEGChannelRTP::FrameReceived(const std::vector<uint8_t>& picture) {
    if (picture.empty()) return;
    if (!IsWholeJpeg(picture.data(), picture.size())) return;
    if (!FindJpegFrameHeader(picture.data(), picture.size())) return;
    if (m_driver == nullptr) return;
    IFrameAllocator* allocator = m_driver->GetFrameAllocator();
    if (allocator == nullptr) return;

    const auto size = static_cast<uint32_t>(picture.size());
    IFrameBuffer* frame = nullptr;
    try {
        const std::string driverName = m_driver->GetDriverName();
        frame = allocator->AllocateFrame(kFourCCJpeg, size, driverName.c_str());
    } catch (...) {
        frame = nullptr;
    }
    if (frame == nullptr) return;

    bool filled = false;
    try {
        const int32_t width = m_width.load(std::memory_order_relaxed);
        const int32_t height = m_height.load(std::memory_order_relaxed);
        frame->SetWidth(width);
        frame->SetHeight(height);
        frame->SetResolution(ResolutionKind(width, height));
        frame->SetDataSize(size);
        frame->SetFrameFourCC(kFourCCJpeg);
        frame->BeginFrame();
        uint8_t* area = frame->GetData(size);
        if (area != nullptr) {
            std::memcpy(area, picture.data(), picture.size());
            filled = true;
        }
    } catch (...) {
        filled = false;
    }

    // A host that gave no writable area gets nothing to take: the picture
    // is dropped like one without a frame buffer.
    if (filled) {
        if (DeliverFrame(frame)) {
            RestartFrameTimer();
            ReportOnlineIfRunning();
        } else {
            const std::string device = m_driver->GetDeviceAddress();
            DebugMessage(LevelError,
                         "kestrel::CSonyMJPEGChannelRTP::FrameReceived: SendFrameCallback failed for camera %s",
                         device.c_str());
            m_discard.store(true);
        }
    }

    try {
        allocator->ReleaseFrame(frame);
    } catch (...) {}
}

}  // namespace kestrel
