// Frame assembly from RTP datagrams to the host: one input cut into
// datagrams of the fuzzer's sizes, sequence numbers, marker bits and
// senders (the camera or another host), handed to the channel's receiver as
// its port hands them over, delivered through a fake driver to the
// recording test host, whose answer the fuzzer picks picture by picture.
// Datagrams of other hosts must change nothing and be counted. Every delivered picture must be a contiguous, in-order
// run of payloads that ends in a marker packet, and the delivered pictures
// must be exactly those the assembly rules let through. Every frame buffer
// borrowed is given back.
//
// Input: width (2), height (2), then packets:
//   flags  bit 0 marker, bit 1 sequence number follows (else previous + 1),
//          bits 2 and 7 both: payload repeated 64 times (reaches the size
//          limit cheaply),
//          bits 3-4 host answer to a picture this packet completes
//          (0, 3 accept, 1 refuse, 2 throw), bit 5 the allocator has no
//          frame, bit 6 the channel is not running for this packet
//   [sequence number (2)], payload length (2; bit 15: sent by another
//   host, the length is the low 15 bits), payload bytes
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/VideoChannelParams.h"
#include "channels/CSonyMJPEGChannelRTP.h"
#include "channels/JpegFrame.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/channels/JpegWalk.h"
#include "tests/channels/ChannelTestSupport.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestFrameAllocator.h"

namespace {

using kestrel::RtpPacket;

constexpr size_t kMaxPicture = 0xC0000;
constexpr size_t kMaxPackets = 512;
constexpr uint32_t kCameraAddress = 0x7F000001;
constexpr uint32_t kStrangerAddress = 0x7F000002;

// The channel with its run state and size set directly: packets go in
// without a thread, a camera or sockets.
class AssemblyChannel : public kestrel::CSonyMJPEGChannelRTP {
public:
    AssemblyChannel(kestrel::IDriver* driver, const kestrel::VideoChannelParams& params)
        : CSonyMJPEGChannelRTP(driver, params) {}
    // Starts over as a stream start leaves it: throwing away up to the next
    // picture boundary, nothing held, the camera not yet reported online.
    void Run(int32_t width, int32_t height) {
        SetState(kestrel::StateStopped);
        SetCameraState(false);
        m_discard.store(true);
        m_picture.clear();
        ClearLastMessage();
        m_width = width;
        m_height = height;
        m_receiver.SetUser(this);
        m_receiver.SetSourceAddress(kCameraAddress);
        SetState(kestrel::StateRunning);
    }
    // A datagram as the receiver's port hands it over.
    void Datagram(const kestrel::Ipv4Endpoint& from, const std::vector<uint8_t>& bytes) {
        m_receiver.DataReceived(&m_receiver.GetPort(), from, bytes.data(), bytes.size());
    }
    uint64_t TakeDropped(kestrel::Ipv4Endpoint& last) { return m_receiver.TakeDropped(last); }
    void Pause() { SetState(kestrel::StateSignalLost); }
    void Resume() { SetState(kestrel::StateRunning); }
    // Whether the last packet seen was `seq` and the channel is waiting for
    // a picture boundary with nothing held.
    bool IsFreshAfter(uint16_t seq) {
        return m_rtcp.IsSequenceStarted() && m_rtcp.GetLastSequenceNumber() == seq && m_discard.load() &&
               m_picture.empty();
    }
};

// Made once: a channel brings HTTP handles, sockets and a picture buffer of
// most of a megabyte, which cost a hundred times the assembly of an input.
struct Rig {
    channeltest::FakeDriver driver;
    AssemblyChannel channel{&driver, Params()};
    static kestrel::VideoChannelParams Params() {
        kestrel::VideoChannelParams params;
        params.channelIndex = 0;
        params.keepAliveMs = 60000;
        return params;
    }
};

// The sequence statistics of the reused channel go on from the last input,
// and they have no reset: a packet just below the input's first running
// packet, empty and without marker, leaves the channel exactly as a fresh
// one that has seen nothing (the first packet untested, still discarding).
void PrimeSequence(AssemblyChannel& channel, uint16_t first) {
    RtpPacket prime;
    prime.sequenceNumber = static_cast<uint16_t>(first - 1);
    prime.payloadType = 26;
    channel.PacketReceived(nullptr, kestrel::Ipv4Endpoint{0x7F000001, 5004}, prime);
    FUZZ_CHECK(channel.IsFreshAfter(prime.sequenceNumber));
}

// V=2, PT=26, the marker, the sequence number. A packet without payload
// carries an empty header extension: a bare 12-byte header is no packet.
std::vector<uint8_t> Serialize(uint16_t seq, bool marker, const std::vector<uint8_t>& payload) {
    const bool empty = payload.empty();
    std::vector<uint8_t> d(empty ? 16 : 12 + payload.size());
    d[0] = empty ? 0x90 : 0x80;
    d[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | 26);
    d[2] = static_cast<uint8_t>(seq >> 8);
    d[3] = static_cast<uint8_t>(seq);
    d[11] = 1;  // SSRC 1; time stamp 0; extension profile and length 0
    if (!empty) std::copy(payload.begin(), payload.end(), d.begin() + 12);
    return d;
}

struct Fed {
    uint16_t seq;
    bool marker;
    std::vector<uint8_t> payload;
};

// The assembly rules, kept apart from the channel's code.
struct Model {
    uint16_t last = 0;
    bool started = false;
    bool discard = true;
    std::vector<uint8_t> buffer;
    std::vector<std::vector<uint8_t>> delivered;

    void Packet(const Fed& p, testhost::TestCaptureUser::FrameAnswer answer, bool noFrame) {
        const bool hadPrevious = started;
        const uint16_t previous = last;
        last = p.seq;
        started = true;
        if (hadPrevious && p.seq != static_cast<uint16_t>(previous + 1)) {
            discard = true;
            buffer.clear();
            return;
        }
        if (discard) {
            buffer.clear();
            if (p.marker) discard = false;
            return;
        }
        if (buffer.size() > kMaxPicture) {
            buffer.clear();
            discard = true;
            return;
        }
        if (p.payload.empty()) return;
        buffer.insert(buffer.end(), p.payload.begin(), p.payload.end());
        if (!p.marker) return;
        if (fuzzchannels::ReferenceWholeJpeg(buffer.data(), buffer.size()) &&
            fuzzchannels::ReferenceJpegWalk(buffer.data(), buffer.size()) && !noFrame) {
            if (answer == testhost::TestCaptureUser::FrameAnswer::Accept) {
                delivered.push_back(buffer);
            } else {
                discard = true;
            }
        }
        buffer.clear();
    }
};

// Whether `picture` is the payloads of packets first..k joined, k being a
// marker packet and the numbers between them consecutive (in 16 bits: 0
// follows 65535).
bool IsRunOfPayloads(const std::vector<uint8_t>& picture, const std::vector<Fed>& fed, size_t first) {
    size_t at = 0;
    for (size_t k = first; k < fed.size(); ++k) {
        if (k > first && fed[k].seq != static_cast<uint16_t>(fed[k - 1].seq + 1)) return false;
        const auto& p = fed[k].payload;
        if (p.size() > picture.size() - at ||
            !std::equal(p.begin(), p.end(), picture.begin() + static_cast<long>(at))) {
            return false;
        }
        at += p.size();
        // A marker packet without payload neither ends nor completes one.
        if (fed[k].marker && !p.empty()) return at == picture.size();
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::FuzzInput in(data, size);
    const auto width = static_cast<int32_t>(in.U16());
    const auto height = static_cast<int32_t>(in.U16());

    static Rig rig;
    AssemblyChannel* const channel = &rig.channel;
    testhost::TestFrameAllocator allocator;
    testhost::TestCaptureUser user;
    rig.driver.allocator = &allocator;
    rig.driver.captureUser = &user;
    channel->Run(width, height);
    bool primed = false;

    Model model;
    std::vector<Fed> fed;  // packets the running channel saw, in order
    uint16_t seq = 0;
    uint64_t foreignCount = 0;
    for (size_t count = 0; !in.Empty() && count < kMaxPackets; ++count) {
        const uint8_t flags = in.U8();
        if (flags & 2) {
            seq = in.U16();
        } else {
            seq = static_cast<uint16_t>(seq + 1);
        }
        const uint16_t lengthField = in.U16();
        const bool foreign = (lengthField & 0x8000) != 0;
        size_t got = 0;
        const uint8_t* bytes = in.Bytes(lengthField & 0x7FFF, got);
        Fed p{seq, (flags & 1) != 0, std::vector<uint8_t>(bytes, bytes + got)};
        if ((flags & 0x84) == 0x84 && got != 0) {
            for (int r = 1; r < 64; ++r) p.payload.insert(p.payload.end(), bytes, bytes + got);
        }
        using Answer = testhost::TestCaptureUser::FrameAnswer;
        const Answer answer = ((flags >> 3) & 3) == 1   ? Answer::Refuse
                              : ((flags >> 3) & 3) == 2 ? Answer::Throw
                                                        : Answer::Accept;
        user.answer = answer;
        allocator.returnNull = (flags & 32) != 0;
        const bool running = (flags & 64) == 0;
        if (!running) {
            channel->Pause();
        } else if (!primed && !foreign) {
            PrimeSequence(*channel, p.seq);
            primed = true;
        }

        const kestrel::Ipv4Endpoint from{foreign ? kStrangerAddress : kCameraAddress, 5004};
        channel->Datagram(from, Serialize(p.seq, p.marker, p.payload));

        if (!running) channel->Resume();
        if (foreign) {
            ++foreignCount;
            continue;  // read by nobody, whatever the channel's state
        }
        if (!running) continue;  // not even counted
        model.Packet(p, answer, (flags & 32) != 0);
        fed.push_back(std::move(p));
    }
    channel->Pause();
    kestrel::Ipv4Endpoint last;
    FUZZ_CHECK(channel->TakeDropped(last) == foreignCount);
    FUZZ_CHECK(foreignCount == 0 || (last.address == kStrangerAddress && last.port == 5004));
    rig.driver.allocator = nullptr;
    rig.driver.captureUser = nullptr;
    rig.driver.Clear();

    const std::vector<testhost::ReceivedFrame> frames = user.Frames();
    FUZZ_CHECK(frames.size() == model.delivered.size());
    size_t searchFrom = 0;
    for (size_t f = 0; f < frames.size(); ++f) {
        const testhost::ReceivedFrame& frame = frames[f];
        FUZZ_CHECK(frame.data == model.delivered[f]);
        FUZZ_CHECK(frame.fourcc == kestrel::kFourCCJpeg && frame.width == width && frame.height == height);
        FUZZ_CHECK(frame.resolution == kestrel::ResolutionKind(width, height));
        // The same, said by the shape of the stream: a run of payloads from
        // some packet on, after the previous picture, up to a marker.
        bool found = false;
        for (size_t first = searchFrom; first < fed.size() && !found; ++first) {
            if (IsRunOfPayloads(frame.data, fed, first)) {
                found = true;
                size_t end = first;
                while (!fed[end].marker || fed[end].payload.empty()) ++end;
                searchFrom = end + 1;
            }
        }
        FUZZ_CHECK(found);
    }
    FUZZ_CHECK(allocator.Outstanding() == 0);
    FUZZ_CHECK(allocator.allocated.load() == allocator.released.load());
    return 0;
}
