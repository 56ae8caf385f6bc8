// Packets fed straight into the channel: no thread, camera or socket.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "capture/VideoChannelParams.h"
#include "channels/CSonyMJPEGChannelRTP.h"
#include "tests/channels/ChannelTestSupport.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestFrameAllocator.h"

namespace {

using namespace kestrel;
using Bytes = std::vector<uint8_t>;
using Answer = testhost::TestCaptureUser::FrameAnswer;
constexpr uint32_t kJpeg = 0x4745504A;
constexpr size_t kLimit = CSonyMJPEGChannelRTP::kMaxPictureBytes;

class AssemblyChannel : public CSonyMJPEGChannelRTP {
public:
    using CSonyMJPEGChannelRTP::CSonyMJPEGChannelRTP;
    void Run(int32_t width, int32_t height) {
        m_width = width;
        m_height = height;
        SetState(StateRunning);
    }
    using CBaseCameraChannel::SetCameraState;
    using CBaseCameraChannel::SetState;
    void DiscardUntilMarker() { m_discard = true; }  // what a stream start does
    const Bytes& Picture() const { return m_picture; }
};

// A picture the JPEG checks accept: SOI, APP0, SOF0, then a pattern tagged
// with `tag`, EOI last, `size` bytes in all.
Bytes MakePicture(size_t size, uint8_t tag) {
    Bytes p = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    p.insert(p.end(), 14, tag);
    const uint8_t sof0[] = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03};
    p.insert(p.end(), std::begin(sof0), std::end(sof0));
    for (size_t i = p.size(); i < size; ++i) p.push_back(static_cast<uint8_t>((i * 7 + tag) & 0x7F));
    p.resize(size);
    p[size - 2] = 0xFF;
    p[size - 1] = 0xD9;
    return p;
}

class FrameAssembly : public ::testing::Test {
protected:
    FrameAssembly() {
        driver.allocator = &allocator;
        driver.captureUser = &user;
        params.keepAliveMs = 60000;
        Remake(704, 480);
    }
    void Remake(int32_t width, int32_t height) {
        channel = std::make_unique<AssemblyChannel>(&driver, params);
        channel->Run(width, height);
        m_seen = user.FrameCount();
    }
    void Feed(uint16_t seq, bool marker, const uint8_t* data, size_t size) {
        RtpPacket packet;
        packet.sequenceNumber = seq;
        packet.marker = marker ? 1 : 0;
        packet.payloadType = 26;
        packet.payloadLength = static_cast<uint32_t>(size);
        packet.payload = size == 0 ? nullptr : data;
        channel->PacketReceived(nullptr, Ipv4Endpoint{0x7F000001, 5004}, packet);
    }
    // A picture in one packet per sequence number, the marker on the last.
    void FeedPicture(const std::vector<uint16_t>& seqs, const Bytes& picture) {
        const size_t step = (picture.size() + seqs.size() - 1) / seqs.size();
        for (size_t i = 0, off = 0; i < seqs.size(); ++i, off += step) {
            Feed(seqs[i], i + 1 == seqs.size(), picture.data() + off, std::min(step, picture.size() - off));
        }
    }
    // The first marker ends the discarding the channel starts with.
    void Prime(uint16_t seq) { Feed(seq, true, m_zero, 1); }
    // Pictures the host received from the current channel.
    std::vector<Bytes> Delivered() {
        std::vector<Bytes> out;
        const auto frames = user.Frames();
        for (size_t i = m_seen; i < frames.size(); ++i) out.push_back(frames[i].data);
        return out;
    }

    channeltest::FakeDriver driver;
    testhost::TestFrameAllocator allocator;
    testhost::TestCaptureUser user;
    VideoChannelParams params;
    std::unique_ptr<AssemblyChannel> channel;
    const uint8_t m_zero[1] = {0};
    size_t m_seen = 0;
};

TEST_F(FrameAssembly, DeliversInTheHostsCallOrder) {
    Remake(704, 240);  // the kind follows the start size, not the picture's header
    const auto picture = MakePicture(3000, 1);
    Prime(99);
    allocator.log.Clear();
    FeedPicture({100, 101, 102}, picture);
    const std::string size = std::to_string(picture.size());
    // clang-format off
    const std::vector<std::string> expected = {
        "AllocateFrame " + std::to_string(kJpeg) + " " + size + " Halyard",
        "SetWidth 704", "SetHeight 240", "SetResolution 3", "SetDataSize " + size,
        "SetFrameFourCC " + std::to_string(kJpeg), "Op5", "GetData " + size, "ReleaseFrame",
    };
    // clang-format on
    EXPECT_EQ(allocator.log.Entries(), expected);
    EXPECT_EQ(Delivered(), std::vector<Bytes>{picture});
    EXPECT_EQ(driver.Count("kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online", 3), 1u);
    // More pictures: no more messages, and the assembly buffer keeps its one allocation.
    const auto* storage = channel->Picture().data();
    for (uint16_t i = 0; i < 20; ++i) {
        const uint16_t s = static_cast<uint16_t>(103 + 5 * i);
        FeedPicture({s, uint16_t(s + 1), uint16_t(s + 2), uint16_t(s + 3), uint16_t(s + 4)},
                    MakePicture(60000, static_cast<uint8_t>(i)));
    }
    EXPECT_EQ(user.FrameCount(), 21u);
    EXPECT_EQ(driver.Messages().size(), 1u);
    EXPECT_EQ(channel->Picture().data(), storage);
}

TEST_F(FrameAssembly, SequenceTest) {
    struct Pic {
        std::vector<uint16_t> seqs;
        uint8_t tag;
    };
    struct Case {
        const char* name;
        std::vector<Pic> sent;
        std::vector<uint8_t> delivered;
    };
    const Case cases[] = {
        {"the stream joined mid-picture", {{{500, 501}, 1}, {{502, 503, 504}, 2}}, {2}},
        // 13 is a gap: that picture is lost and the next one only ends the discarding.
        {"10, 11, 13", {{{9}, 0}, {{10, 11, 13}, 1}, {{14, 15}, 2}, {{16, 17}, 3}}, {3}},
        {"65535, 0, 2", {{{65534}, 0}, {{65535, 0, 2}, 1}, {{3, 4}, 2}, {{5, 6}, 3}}, {3}},
        {"65534 then 0", {{{65533}, 0}, {{65534, 0}, 1}, {{1, 2}, 2}, {{3, 4}, 3}}, {3}},
        {"0 follows 65535", {{{65533}, 0}, {{65534, 65535, 0, 1}, 1}, {{2, 3}, 2}}, {1, 2}},
        // Only the very first packet is untested; a real 0 counts like any number.
        {"first packet 0, then 7", {{{0}, 0}, {{7, 8}, 1}, {{9, 10}, 2}}, {2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Remake(704, 480);
        std::vector<Bytes> expected;
        for (const auto& pic : c.sent) {
            const Bytes picture = pic.tag == 0 ? Bytes{0} : MakePicture(400 * pic.seqs.size(), pic.tag);
            FeedPicture(pic.seqs, picture);
            for (const uint8_t tag : c.delivered) {
                if (tag == pic.tag) expected.push_back(picture);
            }
        }
        EXPECT_EQ(Delivered(), expected);
    }
}

TEST_F(FrameAssembly, ChannelNotRunningAndRestart) {
    // Packets of a channel that is not running are not accounted: had 50 or
    // 51 been, 1000 would be a gap.
    for (const CameraState state : {StateStopped, StateSignalLost}) {
        channel->SetState(state);
        Feed(state == StateStopped ? 50 : 51, true, m_zero, 1);
    }
    channel->SetState(StateRunning);
    Prime(1000);
    const auto a = MakePicture(1200, 2);
    Feed(1001, false, a.data(), 600);  // half a picture held
    // The stream fails and is started again; the camera's numbering runs on.
    channel->SetState(StateSignalLost);
    channel->DiscardUntilMarker();
    channel->SetState(StateRunning);
    Feed(1002, true, a.data() + 600, 600);
    const auto b = MakePicture(900, 3);
    FeedPicture({1003, 1004}, b);
    EXPECT_EQ(Delivered(), std::vector<Bytes>{b});
}

TEST_F(FrameAssembly, EmptyMarkerPacketNeitherCompletesNorEndsAPicture) {
    const auto picture = MakePicture(1000, 7);
    Prime(19);
    Feed(20, false, picture.data(), 600);
    Feed(21, true, nullptr, 0);
    EXPECT_EQ(user.FrameCount(), 0u);
    Feed(22, true, picture.data() + 600, 400);
    EXPECT_EQ(Delivered(), std::vector<Bytes>{picture});
}

TEST_F(FrameAssembly, PictureSizeLimit) {
    // Bytes held when the last packet arrives: the limit is accepted, one more is not.
    for (const size_t held : {kLimit, kLimit + 1}) {
        SCOPED_TRACE(held);
        Remake(704, 480);
        const auto big = MakePicture(held + 100, 8);
        Prime(1);
        uint16_t seq = 2;
        for (size_t off = 0; off < held; off += 1400)
            Feed(seq++, false, big.data() + off, std::min<size_t>(1400, held - off));
        Feed(seq++, true, big.data() + held, 100);
        if (held == kLimit) {
            EXPECT_EQ(Delivered(), std::vector<Bytes>{big});
            continue;
        }
        // Its marker packet was dropped too: the next picture ends the discarding.
        EXPECT_TRUE(Delivered().empty());
        const auto after = MakePicture(500, 10);
        FeedPicture({seq, uint16_t(seq + 1)}, MakePicture(500, 9));
        FeedPicture({uint16_t(seq + 2), uint16_t(seq + 3)}, after);
        EXPECT_EQ(Delivered(), std::vector<Bytes>{after});
    }
}

TEST_F(FrameAssembly, RefusedFrameDropsTheNextPicture) {
    Prime(1);
    uint16_t seq = 2;
    auto next = [&](uint8_t tag) {
        const auto picture = MakePicture(600, tag);
        FeedPicture({seq, uint16_t(seq + 1)}, picture);
        seq = static_cast<uint16_t>(seq + 2);
        return picture;
    };
    user.answer = Answer::Refuse;
    next(11);
    EXPECT_EQ(driver.Count(
                  "kestrel::CSonyMJPEGChannelRTP::FrameReceived: SendFrameCallback failed for camera 127.0.0.1:80", 1),
              1u);
    EXPECT_EQ(driver.Count("is online"), 0u) << "a refused frame does not report the camera online";
    user.answer = Answer::Accept;
    next(12);  // dropped: the one after a refusal
    const auto kept = next(13);
    EXPECT_EQ(Delivered(), std::vector<Bytes>{kept});
    // A refusal by exception, or for want of a capture user, takes the same path.
    user.answer = Answer::Throw;
    next(14);
    driver.captureUser = nullptr;
    next(15);  // dropped after the refusal
    next(16);  // refused: no capture user
    EXPECT_EQ(driver.Count("SendFrameCallback failed"), 1u) << "the same text is logged once";
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

TEST_F(FrameAssembly, SilentDrops) {
    Prime(1);
    Bytes notJpeg = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08};  // scan before any frame header
    notJpeg.resize(300, 0x55);
    FeedPicture({2, 3}, notJpeg);
    EXPECT_EQ(allocator.allocated.load(), 0);
    allocator.returnNull = true;  // the host has no buffer free
    FeedPicture({4, 5}, MakePicture(600, 17));
    allocator.returnNull = false;
    driver.allocator = nullptr;
    FeedPicture({6, 7}, MakePicture(600, 18));
    driver.allocator = &allocator;
    EXPECT_EQ(allocator.log.Count("AllocateFrame"), 1u);
    EXPECT_TRUE(driver.Messages().empty());
    // None of these set the discard flag: the next picture comes through.
    const auto kept = MakePicture(600, 19);
    FeedPicture({8, 9}, kept);
    EXPECT_EQ(Delivered(), std::vector<Bytes>{kept});
}

TEST_F(FrameAssembly, FrameTakenDuringAStopDoesNotReportOnline) {
    class HookUser : public testhost::TestCaptureUser {
    public:
        int SendFrameCallback(uint32_t index, IFrameBuffer* alternate, IFrameBuffer* frame) override {
            hook();
            return TestCaptureUser::SendFrameCallback(index, alternate, frame);
        }
        std::function<void()> hook;
    } hookUser;
    driver.captureUser = &hookUser;
    hookUser.hook = [&] {  // the channel thread stops the stream meanwhile
        channel->SetState(StateStopped);
        channel->SetCameraState(false);
    };
    Prime(1);
    FeedPicture({2, 3}, MakePicture(600, 24));
    EXPECT_EQ(hookUser.FrameCount(), 1u);
    EXPECT_TRUE(driver.Messages().empty()) << driver.Dump();
}

TEST_F(FrameAssembly, SocketClosedOnARunningChannel) {
    const char* const texts[] = {
        "kestrel::CSonyMJPEGChannelRTP::SocketClosed: socket for receiving video from camera 127.0.0.1:80 is closed",
        "kestrel::CSonyMJPEGChannelRTP::SocketClosed: RTCP socket for camera 127.0.0.1:80 is closed"};
    for (const bool video : {true, false}) {
        SCOPED_TRACE(video ? "video" : "rtcp");
        Remake(704, 480);
        driver.Clear();
        Prime(1);
        FeedPicture({2}, MakePicture(600, 21));  // online
        const int stoppedBefore = user.videoStopped.load();
        video ? channel->ReceiverClosed(nullptr) : channel->RtcpSocketClosed(nullptr);
        EXPECT_EQ(channel->GetState(), StateSignalLost);
        const auto m = driver.Messages();
        ASSERT_EQ(m.size(), 3u);
        EXPECT_EQ(m[1].level, 1);
        EXPECT_EQ(m[1].text, "kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1");
        EXPECT_EQ(m[2].level, 1);
        EXPECT_EQ(m[2].text, texts[video ? 0 : 1]);
        // No longer running: a second failure reports nothing.
        channel->ReceiverClosed(nullptr);
        channel->RtcpSocketClosed(nullptr);
        EXPECT_EQ(driver.Messages().size(), 3u);
        EXPECT_EQ(user.videoStopped.load(), stoppedBefore + 1);
    }
}

TEST_F(FrameAssembly, ChannelMessagesAreDeduplicatedAndLiteral) {
    channel->DebugMessage(1, "%s", "rate 100%s %u done");
    channel->DebugMessage(1, "rate 100%%s %%u %s", "done");  // the same text
    channel->DebugMessage(2, "%s", "other");
    channel->DebugMessage(1, "%s", "rate 100%s %u done");
    channel->DebugMessage(1, "%s", "");  // empty: nothing
    channel->ClearLastMessage();
    channel->DebugMessage(3, "%s", "rate 100%s %u done");
    const auto m = driver.Messages();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].text, "rate 100%s %u done");
    EXPECT_EQ(m[1].level, 2);
    EXPECT_EQ(m[2].text, "rate 100%s %u done");
    EXPECT_EQ(m[3].level, 3);
}

}  // namespace
