#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/IFrameBuffer.h"
#include "tools/record/CRecordFrameAllocator.h"

using kestrel::record::CRecordFrameAllocator;

namespace {
constexpr uint32_t kJpeg = 0x4745504Au;
}

// The driver's calls for one picture, in its order.
TEST(FramePool, ServesTheDriversSequenceAndReusesBuffers) {
    CRecordFrameAllocator allocator;
    const std::vector<uint8_t> picture(300000, 0x5A);  // larger than a fresh buffer
    IFrameBuffer* first = nullptr;
    for (int round = 0; round < 3; ++round) {
        IFrameBuffer* frame = allocator.AllocateFrame(kJpeg, static_cast<uint32_t>(picture.size()), "Halyard");
        ASSERT_NE(frame, nullptr);
        if (round == 0) first = frame;
        EXPECT_EQ(frame, first) << "a released buffer is used again";
        frame->SetWidth(704);
        frame->SetHeight(576);
        frame->SetResolution(4);
        frame->SetDataSize(static_cast<uint32_t>(picture.size()));
        frame->SetFrameFourCC(kJpeg);
        frame->BeginFrame();
        uint8_t* data = frame->GetData(static_cast<uint32_t>(picture.size()));
        ASSERT_NE(data, nullptr);
        std::memcpy(data, picture.data(), picture.size());
        EXPECT_GE(frame->GetCapacity(), picture.size());
        EXPECT_EQ(frame->GetDataSize(), picture.size());
        EXPECT_EQ(frame->GetWidth(), 704);
        EXPECT_EQ(frame->GetResolution(), 4);
        EXPECT_EQ(allocator.Own(frame), frame);
        allocator.ReleaseFrame(frame);
    }
}

TEST(FramePool, LimitedAndSafeAgainstForeignPointers) {
    CRecordFrameAllocator allocator;
    std::vector<IFrameBuffer*> held;
    for (size_t i = 0; i < CRecordFrameAllocator::kMaxBuffers; ++i) {
        held.push_back(allocator.AllocateFrame(kJpeg, 1000, "Halyard"));
        ASSERT_NE(held.back(), nullptr);
    }
    EXPECT_EQ(allocator.AllocateFrame(kJpeg, 1000, "Halyard"), nullptr);
    EXPECT_EQ(allocator.AllocateFrame(kJpeg, CRecordFrameAllocator::kMaxPicture + 1, "Halyard"), nullptr);
    EXPECT_EQ(allocator.Refused(), 2u);

    // Unknown pointers and double releases change nothing.
    int notAFrame = 0;
    allocator.ReleaseFrame(reinterpret_cast<IFrameBuffer*>(&notAFrame));
    allocator.ReleaseFrame(nullptr);
    allocator.ReleaseFrame(held[0]);
    allocator.ReleaseFrame(held[0]);
    EXPECT_EQ(allocator.GetFreeCount(), 1u);
    EXPECT_NE(allocator.AllocateFrame(kJpeg, 1000, "Halyard"), nullptr);
    EXPECT_EQ(allocator.AllocateFrame(kJpeg, 1000, "Halyard"), nullptr);
}
