// Where pictures go: JPEG files with their index, the queue
// in front of them and the driver's frame buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include "host/IFrameBuffer.h"
#include "tests/tools/record/RecordTestUtil.h"
#include "tools/record/CJpegFileWriter.h"
#include "tools/record/CPictureWriter.h"
#include "tools/record/CRecordFrameAllocator.h"

using namespace kestrel::record;
using recordtest::TempDir;

namespace {

Picture Make(const std::vector<uint8_t>& bytes, uint64_t number, int64_t arrivalUs = 0, int w = 64, int h = 48) {
    return Picture{bytes.data(), static_cast<uint32_t>(bytes.size()), number, arrivalUs, w, h};
}

}  // namespace

TEST(JpegFileWriter, OneFilePerPictureOneIndexRowAndNoPartialRowOnFailure) {
    TempDir dir;
    const std::string cam = dir.Path() + "/camera1";
    const std::vector<std::vector<uint8_t>> data = {{0xFF, 0xD8, 1, 0xFF, 0xD9}, {0xFF, 0xD8, 2, 2, 0xFF, 0xD9}};
    CJpegFileWriter writer(cam);
    ASSERT_TRUE(writer.Open()) << writer.Error();
    for (size_t i = 0; i < data.size(); ++i)
        ASSERT_TRUE(writer.Write(Make(data[i], i + 1, 1700000000123456 + static_cast<int64_t>(i) * 40000, 352, 288)));
    EXPECT_EQ(recordtest::ReadFile(cam + "/000002.jpg"), data[1]);
    EXPECT_EQ(recordtest::ReadText(cam + "/index.csv"),
              "frame,arrival_time,size,width,height\n"
              "1,1700000000.123456,5,352,288\n"
              "2,1700000000.163456,6,352,288\n");
    EXPECT_EQ(CJpegFileWriter::FileName(999999), "999999.jpg");
    EXPECT_EQ(CJpegFileWriter::FileName(1000000), "1000000.jpg");  // still sorts after

    // The directory disappears while recording.
    std::filesystem::rename(cam, dir.Path() + "/moved");
    EXPECT_FALSE(writer.Write(Make(data[0], 3)));
    EXPECT_NE(writer.Error().find("000003.jpg"), std::string::npos);
    writer.Close();
    EXPECT_EQ(recordtest::Split(recordtest::ReadText(dir.Path() + "/moved/index.csv")).size(), 3u);
    // A file where the camera directory should go.
    CJpegFileWriter blocked(dir.Path() + "/moved/index.csv");
    EXPECT_FALSE(blocked.Open());
    EXPECT_NE(blocked.Error().find(dir.Path() + "/moved/index.csv"), std::string::npos);
}

namespace {

// A sink the test can hold up and make fail; its record outlives it (the
// writer lets its sinks go at Stop).
struct SinkState {
    std::mutex mutex;
    std::condition_variable cv;
    bool held = false, failOpen = false, closed = false;
    size_t failAt = 99;  // the write (0-based) that fails
    std::vector<std::vector<uint8_t>> written;
};

struct TestSink : IPictureSink {
    explicit TestSink(SinkState& s) : state(s) {}
    SinkState& state;
    std::string error;
    bool Open() override { return !state.failOpen || (error = "cannot open test sink", false); }
    bool Write(const Picture& picture) override {
        std::unique_lock<std::mutex> lock(state.mutex);
        state.cv.wait(lock, [this] { return !state.held; });
        if (state.written.size() == state.failAt) return error = "disk full", false;
        state.written.emplace_back(picture.data, picture.data + picture.size);
        return true;
    }
    bool Close() override { return state.closed = true; }
    const std::string& Error() const override { return error; }
};

struct Queue {
    SinkState state, *sink = &state;
    std::unique_ptr<CPictureWriter> writer;
    Queue() {
        std::vector<std::unique_ptr<IPictureSink>> sinks;
        sinks.push_back(std::make_unique<TestSink>(state));
        writer = std::make_unique<CPictureWriter>(std::move(sinks));
    }
};

}  // namespace

// In-order copying and draining at Stop are proven by the recorder runs.
TEST(PictureWriter, FullQueueRefusesWithoutBlocking) {
    Queue q;
    q.sink->held = true;
    std::string error;
    ASSERT_TRUE(q.writer->Start(error));
    std::vector<uint8_t> buffer(100, 1);
    size_t accepted = 0;
    for (size_t i = 0; i < CPictureWriter::kSlots + 10; ++i) accepted += q.writer->Push(Make(buffer, i + 1));
    EXPECT_EQ(accepted, CPictureWriter::kSlots);
    {
        std::lock_guard<std::mutex> lock(q.sink->mutex);
        q.sink->held = false;
    }
    q.sink->cv.notify_all();
    q.writer->Stop();
    EXPECT_EQ(q.sink->written.size(), CPictureWriter::kSlots);
    EXPECT_FALSE(q.writer->Push(Make(buffer, 999)));  // stopped
}

TEST(PictureWriter, FailuresToOpenAndToWriteAreReported) {
    Queue bad;
    bad.sink->failOpen = true;
    std::string error;
    EXPECT_FALSE(bad.writer->Start(error));
    EXPECT_EQ(error, "cannot open test sink");

    Queue q;
    q.sink->failAt = 2;
    ASSERT_TRUE(q.writer->Start(error));
    std::vector<uint8_t> buffer(10, 3);
    for (uint64_t i = 1; i <= 5; ++i) q.writer->Push(Make(buffer, i));
    q.writer->Stop();
    EXPECT_TRUE(q.writer->Failed());
    EXPECT_EQ(q.writer->Error(), "disk full");
    EXPECT_EQ(q.sink->written.size(), 2u);  // nothing after the failure
    EXPECT_EQ(q.writer->Written(), 2u);
}

// Buffers are limited and safe against foreign pointers; their reuse is
// proven by the recorder runs (no picture refused).
TEST(FramePool, RefusesBeyondItsLimitsAndIgnoresForeignPointers) {
    constexpr uint32_t kJpeg = 0x4745504Au;
    CRecordFrameAllocator allocator;
    std::vector<IFrameBuffer*> held;
    for (size_t i = 0; i < CRecordFrameAllocator::kMaxBuffers; ++i)
        held.push_back(allocator.AllocateFrame(kJpeg, 1000, "Halyard"));
    EXPECT_EQ(std::count(held.begin(), held.end(), nullptr), 0);
    EXPECT_EQ(allocator.AllocateFrame(kJpeg, 1000, "Halyard"), nullptr);
    EXPECT_EQ(allocator.AllocateFrame(kJpeg, CRecordFrameAllocator::kMaxPicture + 1, "Halyard"), nullptr);
    EXPECT_EQ(allocator.Refused(), 2u);
    int notAFrame = 0;
    allocator.ReleaseFrame(reinterpret_cast<IFrameBuffer*>(&notAFrame));
    allocator.ReleaseFrame(nullptr);
    allocator.ReleaseFrame(held[0]);
    allocator.ReleaseFrame(held[0]);  // twice changes nothing
    EXPECT_EQ(allocator.GetFreeCount(), 1u);
    EXPECT_NE(allocator.AllocateFrame(kJpeg, 1000, "Halyard"), nullptr);
    EXPECT_EQ(allocator.AllocateFrame(kJpeg, 1000, "Halyard"), nullptr);
}
