#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "channels/CSonyMJPEGChannelRTP.h"
#include "driver/VideoChannelParams.h"
#include "tests/channels/FakeDriver.h"
#include "tests/host/TestCaptureUser.h"
#include "tests/host/TestFrameAllocator.h"

namespace {

using namespace kestrel;
using channeltest::FakeDriver;

constexpr uint32_t kJpeg = 0x4745504A;

// The channel with its run state and picture size set directly, so that
// packets can be fed without a thread, a camera or sockets.
class AssemblyChannel : public CSonyMJPEGChannelRTP {
public:
    AssemblyChannel(IDriver* driver, const VideoChannelParams& params) : CSonyMJPEGChannelRTP(driver, params) {}
    void Run(int32_t width, int32_t height) {
        m_width = width;
        m_height = height;
        SetState(StateRunning);
    }
    using CBaseCameraChannel::SetCameraState;
    using CBaseCameraChannel::SetState;
    // What a stream start does before the camera is asked to send.
    void DiscardUntilMarker() { m_discard = true; }
    const std::vector<uint8_t>& Picture() const { return m_picture; }
};

// A picture the JPEG check accepts: SOI, APP0, SOF0 (480 x 640), then
// `size` bytes in all, the rest a counting pattern tagged with `tag`.
std::vector<uint8_t> MakePicture(size_t size, uint8_t tag) {
    std::vector<uint8_t> p = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    p.insert(p.end(), 14, tag);
    const uint8_t sof0[] = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03};
    p.insert(p.end(), std::begin(sof0), std::end(sof0));
    for (size_t i = p.size(); i < size; ++i) p.push_back(static_cast<uint8_t>((i * 7 + tag) & 0x7F));
    p.resize(size);
    return p;
}

class FrameAssembly : public ::testing::Test {
protected:
    FrameAssembly() {
        driver.allocator = &allocator;
        driver.captureUser = &user;
        params.channelIndex = 0;
        params.keepAliveMs = 60000;
        channel = std::make_unique<AssemblyChannel>(&driver, params);
        channel->Run(704, 480);
    }

    // One packet; the payload bytes are kept alive by the fixture.
    void Feed(uint16_t seq, bool marker, std::vector<uint8_t> payload) {
        m_payloads.push_back(std::move(payload));
        RtpPacket packet;
        packet.sequenceNumber = seq;
        packet.marker = marker ? 1 : 0;
        packet.payloadType = 26;
        packet.payloadLength = static_cast<uint32_t>(m_payloads.back().size());
        packet.payload = m_payloads.back().empty() ? nullptr : m_payloads.back().data();
        channel->PacketReceived(nullptr, Ipv4Endpoint{0x7F000001, 5004}, packet);
    }
    // A whole picture in `parts` packets starting at `seq`; returns the next number.
    uint16_t FeedPicture(uint16_t seq, const std::vector<uint8_t>& picture, size_t parts) {
        const size_t step = (picture.size() + parts - 1) / parts;
        for (size_t off = 0, i = 0; off < picture.size(); off += step, ++i) {
            const size_t end = std::min(picture.size(), off + step);
            Feed(seq++, end == picture.size(),
                 std::vector<uint8_t>(picture.begin() + static_cast<long>(off), picture.begin() + static_cast<long>(end)));
        }
        return seq;
    }
    // The first marker ends the discarding the channel starts with.
    void Prime(uint16_t seq) { Feed(seq, true, {0x00}); }

    std::vector<std::vector<uint8_t>> FramesData() {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& f : user.Frames()) out.push_back(f.data);
        return out;
    }

    FakeDriver driver;
    testhost::TestFrameAllocator allocator;
    testhost::TestCaptureUser user;
    VideoChannelParams params;
    std::unique_ptr<AssemblyChannel> channel;

private:
    std::deque<std::vector<uint8_t>> m_payloads;
};

TEST_F(FrameAssembly, DeliversInTheHostsCallOrder) {
    const auto picture = MakePicture(3000, 1);
    Prime(99);
    allocator.log.Clear();
    FeedPicture(100, picture, 3);

    const std::string size = std::to_string(picture.size());
    const std::vector<std::string> expected = {
        "AllocateFrame " + std::to_string(kJpeg) + " " + size + " Halyard",
        "SetWidth 704",
        "SetHeight 480",
        "SetResolution 4",
        "SetDataSize " + size,
        "SetFrameFourCC " + std::to_string(kJpeg),
        "Op5",
        "GetData " + size,
        "ReleaseFrame",
    };
    EXPECT_EQ(allocator.log.Entries(), expected);
    ASSERT_EQ(user.FrameCount(), 1u);
    const auto frame = user.Frames()[0];
    EXPECT_EQ(frame.data, picture);
    EXPECT_EQ(frame.fourcc, kJpeg);
    EXPECT_EQ(frame.resolution, 4);
    EXPECT_EQ(allocator.Outstanding(), 0u);
    EXPECT_EQ(driver.Count("kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online", 3), 1u);

    // Further frames keep the camera online without more messages; the
    // assembly buffer keeps its one allocation.
    const auto capacity = channel->Picture().capacity();
    const auto* storage = channel->Picture().data();
    uint16_t seq = 103;
    for (int i = 0; i < 20; ++i) seq = FeedPicture(seq, MakePicture(60000, static_cast<uint8_t>(i)), 5);
    EXPECT_EQ(user.FrameCount(), 21u);
    EXPECT_EQ(driver.Messages().size(), 1u);
    EXPECT_EQ(channel->Picture().capacity(), capacity);
    EXPECT_EQ(channel->Picture().data(), storage);
}

TEST_F(FrameAssembly, ResolutionKindFollowsTheStartSize) {
    channel->Run(704, 240);
    Prime(1);
    FeedPicture(2, MakePicture(500, 2), 1);
    ASSERT_EQ(user.FrameCount(), 1u);
    EXPECT_EQ(user.Frames()[0].width, 704);
    EXPECT_EQ(user.Frames()[0].height, 240);
    EXPECT_EQ(user.Frames()[0].resolution, 3);
}

TEST_F(FrameAssembly, FirstPartialPictureIsNeverDelivered) {
    const auto a = MakePicture(900, 1);
    const auto b = MakePicture(900, 2);
    // Joined from its second packet on: the stream began mid-picture.
    Feed(500, false, std::vector<uint8_t>(a.begin() + 300, a.begin() + 600));
    Feed(501, true, std::vector<uint8_t>(a.begin() + 600, a.end()));
    FeedPicture(502, b, 3);
    EXPECT_EQ(FramesData(), std::vector<std::vector<uint8_t>>{b});
}

TEST_F(FrameAssembly, SequenceGaps) {
    struct Case {
        const char* name;
        uint16_t primeSeq;
        std::vector<uint16_t> lostPicture;  // last one carries the marker
        uint16_t nextSeq;                   // the next picture's packets follow from here
        size_t framesAfterNext;             // 1 when the picture after the gap comes through
    };
    const Case cases[] = {
        // 13 is a gap: the picture is gone, packets are dropped through the
        // next marker (14, 15), and 16, 17 make the next picture.
        {"10, 11, 13", 9, {10, 11, 13}, 14, 0},
        // A real 0 is tested like any number: 2 after it is a gap.
        {"65535, 0, 2", 65534, {65535, 0, 2}, 3, 0},
        {"65534 then 0", 65533, {65534, 0}, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        channel = std::make_unique<AssemblyChannel>(&driver, params);
        channel->Run(704, 480);
        const size_t before = user.FrameCount();
        Prime(c.primeSeq);
        for (size_t i = 0; i < c.lostPicture.size(); ++i) {
            Feed(c.lostPicture[i], i + 1 == c.lostPicture.size(), MakePicture(400, 3));
        }
        EXPECT_EQ(user.FrameCount(), before) << "the picture with the gap";
        uint16_t seq = c.nextSeq;
        seq = FeedPicture(seq, MakePicture(800, 4), 2);  // dropped: it ends the discarding
        EXPECT_EQ(user.FrameCount(), before);
        const auto kept = MakePicture(800, 5);
        FeedPicture(seq, kept, 2);
        ASSERT_EQ(user.FrameCount(), before + 1);
        EXPECT_EQ(user.Frames().back().data, kept);
    }
}

TEST_F(FrameAssembly, SequenceWrapLosesNothing) {
    // The picture spans 65534, 65535, 0, 1 and the next one follows the wrap.
    Prime(65533);
    const auto a = MakePicture(1200, 6);
    const auto b = MakePicture(700, 9);
    FeedPicture(FeedPicture(65534, a, 4), b, 2);
    EXPECT_EQ(FramesData(), (std::vector<std::vector<uint8_t>>{a, b}));
}

TEST_F(FrameAssembly, OnlyTheVeryFirstPacketIsUntested) {
    Feed(0, true, {0x00});  // nothing before it: accepted, ends discarding
    const auto picture = MakePicture(700, 6);
    FeedPicture(7, picture, 2);  // 7 after 0 is a gap
    EXPECT_EQ(user.FrameCount(), 0u);
    FeedPicture(9, picture, 2);
    EXPECT_EQ(FramesData(), std::vector<std::vector<uint8_t>>{picture});
}

TEST_F(FrameAssembly, EmptyMarkerPacketNeitherCompletesNorEndsAPicture) {
    const auto picture = MakePicture(1000, 7);
    Prime(19);
    Feed(20, false, std::vector<uint8_t>(picture.begin(), picture.begin() + 600));
    Feed(21, true, {});
    EXPECT_EQ(user.FrameCount(), 0u);
    Feed(22, true, std::vector<uint8_t>(picture.begin() + 600, picture.end()));
    EXPECT_EQ(FramesData(), std::vector<std::vector<uint8_t>>{picture});
}

TEST_F(FrameAssembly, PictureSizeLimit) {
    // Held bytes when the last packet arrives: exactly the limit accepts it,
    // one byte more throws the picture away.
    for (const size_t held : {CSonyMJPEGChannelRTP::kMaxPictureBytes, CSonyMJPEGChannelRTP::kMaxPictureBytes + 1}) {
        SCOPED_TRACE(held);
        channel = std::make_unique<AssemblyChannel>(&driver, params);
        channel->Run(704, 480);
        const size_t before = user.FrameCount();
        const auto big = MakePicture(held + 100, 8);
        Prime(1);
        uint16_t seq = 2;
        const size_t chunk = 1400;
        size_t off = 0;
        while (off < held) {
            const size_t end = std::min(held, off + chunk);
            Feed(seq++, false, std::vector<uint8_t>(big.begin() + static_cast<long>(off), big.begin() + static_cast<long>(end)));
            off = end;
        }
        Feed(seq++, true, std::vector<uint8_t>(big.begin() + static_cast<long>(held), big.end()));
        if (held == CSonyMJPEGChannelRTP::kMaxPictureBytes) {
            ASSERT_EQ(user.FrameCount(), before + 1);
            EXPECT_EQ(user.Frames().back().data, big);
        } else {
            EXPECT_EQ(user.FrameCount(), before);
            // The over-long picture's marker packet was dropped too, so the
            // next picture ends the discarding and the one after it comes through.
            seq = FeedPicture(seq, MakePicture(500, 9), 2);
            EXPECT_EQ(user.FrameCount(), before);
            const auto after = MakePicture(500, 10);
            FeedPicture(seq, after, 2);
            ASSERT_EQ(user.FrameCount(), before + 1);
            EXPECT_EQ(user.Frames().back().data, after);
        }
    }
}

TEST_F(FrameAssembly, RefusedFrameDropsTheNextPicture) {
    Prime(1);
    user.answer = testhost::TestCaptureUser::FrameAnswer::Refuse;
    uint16_t seq = FeedPicture(2, MakePicture(600, 11), 2);
    EXPECT_EQ(driver.Count("kestrel::CSonyMJPEGChannelRTP::FrameReceived: SendFrameCallback failed for camera 127.0.0.1:80", 1),
              1u);
    EXPECT_EQ(driver.Count("is online"), 0u) << "a refused frame does not report the camera online";

    user.answer = testhost::TestCaptureUser::FrameAnswer::Accept;
    seq = FeedPicture(seq, MakePicture(600, 12), 2);
    EXPECT_EQ(user.FrameCount(), 0u) << "the picture after a refused one is dropped";
    const auto kept = MakePicture(600, 13);
    seq = FeedPicture(seq, kept, 2);
    EXPECT_EQ(FramesData(), std::vector<std::vector<uint8_t>>{kept});

    // Refusals by exception, and by a missing capture user, take the same path.
    user.answer = testhost::TestCaptureUser::FrameAnswer::Throw;
    seq = FeedPicture(seq, MakePicture(600, 14), 2);
    driver.captureUser = nullptr;
    seq = FeedPicture(seq, MakePicture(600, 15), 2);  // dropped after the refusal
    seq = FeedPicture(seq, MakePicture(600, 16), 2);  // refused: no capture user
    EXPECT_EQ(driver.Count("SendFrameCallback failed"), 1u) << "the same text is logged once";
    EXPECT_EQ(allocator.allocated.load(), allocator.released.load());
    EXPECT_EQ(allocator.Outstanding(), 0u);
}

TEST_F(FrameAssembly, SilentDrops) {
    Prime(1);
    uint16_t seq = 2;
    // Not a JPEG: start of scan before any frame header.
    std::vector<uint8_t> notJpeg = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08};
    notJpeg.resize(300, 0x55);
    seq = FeedPicture(seq, notJpeg, 2);
    EXPECT_EQ(allocator.allocated.load(), 0);

    allocator.returnNull = true;  // the host has no buffer free
    seq = FeedPicture(seq, MakePicture(600, 17), 2);
    EXPECT_EQ(allocator.log.Count("AllocateFrame"), 1u);
    allocator.returnNull = false;

    driver.allocator = nullptr;
    seq = FeedPicture(seq, MakePicture(600, 18), 2);
    EXPECT_EQ(allocator.log.Count("AllocateFrame"), 1u);
    driver.allocator = &allocator;

    EXPECT_EQ(user.FrameCount(), 0u);
    EXPECT_TRUE(driver.Messages().empty());
    // Nothing above set the discard flag: the next picture is delivered.
    const auto kept = MakePicture(600, 19);
    FeedPicture(seq, kept, 2);
    EXPECT_EQ(FramesData(), std::vector<std::vector<uint8_t>>{kept});
}

TEST_F(FrameAssembly, PacketsOfAChannelNotRunningAreNotAccounted) {
    channel->SetState(StateStopped);
    Feed(50, true, {0x00});
    channel->SetState(StateSignalLost);
    Feed(51, true, {0x00});
    channel->SetState(StateRunning);
    // Had 50 or 51 been accounted, 1000 would be a gap and keep discarding.
    Feed(1000, true, {0x00});
    const auto picture = MakePicture(600, 20);
    FeedPicture(1001, picture, 2);
    EXPECT_EQ(FramesData(), std::vector<std::vector<uint8_t>>{picture});
}

TEST_F(FrameAssembly, RestartDropsThePartHeldFromBefore) {
    const auto a = MakePicture(1200, 22);
    Prime(1);
    Feed(2, false, std::vector<uint8_t>(a.begin(), a.begin() + 600));  // half a picture held
    channel->SetState(StateSignalLost);                                  // the stream failed
    channel->DiscardUntilMarker();                                       // and was started again
    channel->SetState(StateRunning);
    // The camera's numbering runs on without a gap.
    Feed(3, true, std::vector<uint8_t>(a.begin() + 600, a.end()));
    const auto b = MakePicture(900, 23);
    FeedPicture(4, b, 2);
    EXPECT_EQ(FramesData(), std::vector<std::vector<uint8_t>>{b});
}

// A host whose SendFrameCallback runs a hook first (here: the channel
// thread stopping the stream while the frame is with the host).
class HookUser : public testhost::TestCaptureUser {
public:
    int SendFrameCallback(uint32_t channel, IFrameBuffer* alternate, IFrameBuffer* frame) override {
        if (hook) hook();
        return TestCaptureUser::SendFrameCallback(channel, alternate, frame);
    }
    std::function<void()> hook;
};

TEST_F(FrameAssembly, FrameTakenDuringAStopDoesNotReportOnline) {
    HookUser hookUser;
    driver.captureUser = &hookUser;
    hookUser.hook = [&] {
        channel->SetState(StateStopped);
        channel->SetCameraState(false);
    };
    Prime(1);
    FeedPicture(2, MakePicture(600, 24), 2);
    EXPECT_EQ(hookUser.FrameCount(), 1u);
    EXPECT_TRUE(driver.Messages().empty()) << driver.Messages().front().text;
}

TEST_F(FrameAssembly, SocketClosedOnARunningChannel) {
    struct Case {
        const char* name;
        bool video;
        const char* text;
    };
    const Case cases[] = {
        {"video", true, "kestrel::CSonyMJPEGChannelRTP::SocketClosed: socket for receiving video from camera 127.0.0.1:80 is closed"},
        {"rtcp", false, "kestrel::CSonyMJPEGChannelRTP::SocketClosed: RTCP socket for camera 127.0.0.1:80 is closed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        channel.reset();
        driver.Clear();
        channel = std::make_unique<AssemblyChannel>(&driver, params);
        channel->Run(704, 480);
        Prime(1);
        FeedPicture(2, MakePicture(600, 21), 1);  // online
        const int stoppedBefore = user.videoStopped.load();
        if (c.video) {
            channel->ReceiverClosed(nullptr);
        } else {
            channel->RtcpSocketClosed(nullptr);
        }
        EXPECT_EQ(channel->GetState(), StateSignalLost);
        EXPECT_EQ(user.videoStopped.load(), stoppedBefore + 1);
        const auto m = driver.Messages();
        ASSERT_EQ(m.size(), 3u);
        EXPECT_EQ(m[1].level, 1);
        EXPECT_EQ(m[1].text, "kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1");
        EXPECT_EQ(m[2].level, 1);
        EXPECT_EQ(m[2].text, c.text);

        // Not running any more: a second failure reports nothing.
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
    EXPECT_EQ(m[1].text, "other");
    EXPECT_EQ(m[1].level, 2);
    EXPECT_EQ(m[2].text, "rate 100%s %u done");
    EXPECT_EQ(m[3].level, 3);
}

}  // namespace
