#pragma once
// Records shared by the camera simulator's public API.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

enum class AuthMode { None, Basic, Digest };

// Receives one human-readable line per request, stream start/stop and
// notable event. Called from the simulator's threads, possibly several at
// once; it must not call back into the simulator.
using LogSink = std::function<void(const std::string& line)>;

// Called on the sending thread right after a picture's last datagram went to
// the kernel, with the picture's frame number and the moment its first
// datagram was handed over, so that a receiver can measure its delivery delay. Must be quick and must not call
// back into the simulator.
using PictureSentHook = std::function<void(uint32_t frameNumber, std::chrono::steady_clock::time_point sent)>;

struct CameraConfig {
    std::string name;                       // shown in log lines; default "cameraN"/"camera1"
    std::string bindAddress = "127.0.0.1";  // IPv4 address to listen on
    uint16_t httpPort = 0;                  // 0: pick a free port (see CCamera::Port)
    bool https = false;
    std::string certFile;  // PEM; empty: a self-signed one is made
    std::string keyFile;
    AuthMode auth = AuthMode::None;
    std::string user;
    std::string password;
    std::string realm = "camsim";
    int settingsStatus = 200;  // answer to accepted settings: 200 or 204
    unsigned sensorCount = 2;
    unsigned alarmOutputCount = 2;
    unsigned defaultWidth = 352;  // picture size until JpImageSize says otherwise
    unsigned defaultHeight = 288;
    unsigned defaultFrameRate = 25;         // used for JpFrameRate 0 or absent
    unsigned defaultQuality = 6;            // camera scale 1..10 (libjpeg quality = 10x)
    unsigned ringSize = 25;                 // distinct pre-encoded pictures per stream
    size_t maxPayload = 1400;               // RTP payload bytes per packet
    uint32_t srIntervalMs = 5000;           // RTCP sender report interval
    uint32_t defaultRtpExpireMs = 0;        // until RtpExpire is set; 0: never expire
    std::optional<uint16_t> firstSequence;  // empty: random per stream
    std::optional<uint32_t> ssrc;           // empty: random per stream
    // Where in each frame interval the pictures go, as a fraction of it
    // counted from the steady clock's origin; empty: from the stream's start.
    // A farm spreads its cameras with it the same way for every receiver.
    std::optional<double> streamPhase;
    uint64_t faultSeed = 1;       // seeds the drop/duplicate/reorder choices
    bool controlEnabled = true;   // serve /simctl?... (not logged as a request)
    bool controlAnyPeer = false;  // /simctl from any address, not only loopback
    unsigned httpThreads = 4;     // connections served at once
    uint32_t ioTimeoutMs = 5000;  // per read/write on an HTTP connection
    LogSink log;
    PictureSentHook pictureSent;  // empty: none
};

// One HTTP request as it arrived, in arrival order.
struct RequestRecord {
    uint64_t index = 0;  // 0-based arrival number
    std::string method;
    std::string target;  // exact request-target text, with or without leading slash
    std::string remote;  // "a.b.c.d:port"
    int status = 0;      // answer; 0 while in progress or when closed without answer
    bool authorized = false;
    std::string fault;  // "", "status", "hang", "close"
};

struct AlarmOutputState {
    std::string func;        // AlarmOutNFunc value, "" until set
    std::string manualFunc;  // AoNManualFunc value, "" until set
    std::optional<bool> lastTrigger;
};

struct AlarmTrigger {
    unsigned output = 0;  // 1-based
    bool on = false;
};

// Settings as the camera holds them after the requests it accepted.
struct CameraSettings {
    std::string videoOutMode;
    std::string color;
    std::string multicast;
    std::optional<uint32_t> rtpExpireMs;
    std::string lightFunnel;
    std::map<unsigned, std::string> privacyZones;  // zone -> "on"/"off"
    std::string imageCodec;
    std::string jpBandwidth;
    std::optional<uint32_t> jpFrameRate;
    std::optional<uint32_t> jpQuality;
    unsigned width = 0;
    unsigned height = 0;
    std::map<unsigned, std::string> sensorModes;  // sensor -> mode ("make")
};

// One report block of a receiver report, plus its sender.
struct ReceiverReport {
    uint32_t reporterSsrc = 0;
    uint32_t sourceSsrc = 0;
    uint8_t fractionLost = 0;
    int32_t cumulativeLost = 0;
    uint32_t extendedHighestSeq = 0;
    uint32_t jitter = 0;
    uint32_t lsr = 0;
    uint32_t dlsr = 0;
    bool hasBlock = false;  // false for an RR with report count 0
};

struct StreamStats {
    bool active = false;
    std::string destination;     // "a.b.c.d:rtpPort"
    uint16_t rtpSourcePort = 0;  // the camera's RTP socket
    uint16_t rtcpSourcePort = 0;
    uint32_t ssrc = 0;
    uint16_t nextSequence = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned frameRate = 0;
    uint64_t pictures = 0;  // pictures sent (frame numbers 0..pictures-1)
    uint64_t packets = 0;   // RTP datagrams sent, duplicates included
    uint64_t octets = 0;    // RTP payload bytes sent
    uint64_t dropped = 0;   // by fault injection
    uint64_t duplicated = 0;
    uint64_t reordered = 0;
    uint64_t sendErrors = 0;
    uint64_t senderReports = 0;
    uint64_t receiverReports = 0;
    uint64_t byes = 0;
    uint64_t otherRtcp = 0;  // foreign, malformed or other packet types
    std::optional<ReceiverReport> lastReport;
    uint64_t lateFrames = 0;  // sent more than one frame interval after due
    uint64_t resyncs = 0;     // frame clock reset after falling far behind
    int64_t maxLatenessUs = 0;
    std::string stopReason;  // "", "expired", "bye", "stopped", "replaced", "shutdown"
};

// Fault switches that stay in force until changed.
struct RtpFaults {
    double dropFraction = 0.0;
    double duplicateFraction = 0.0;
    double reorderFraction = 0.0;  // packet swapped with the one after it
    bool paused = false;           // no RTP while set (RTCP goes on)
    size_t cutBytes = 0;           // every picture sent without its last N bytes
};

enum class HttpFaultAction { Status, Hang, Close };

struct HttpFaultRule {
    std::string pattern;  // substring of the request target; "" or "*": every request
    HttpFaultAction action = HttpFaultAction::Status;
    int status = 500;    // for Status
    int remaining = -1;  // requests still affected; -1: until cleared
};

}  // namespace camsim
