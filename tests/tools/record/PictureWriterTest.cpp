#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/record/CPictureWriter.h"

using kestrel::record::CPictureWriter;
using kestrel::record::IPictureSink;
using kestrel::record::Picture;

namespace {

// A sink the test can hold up and make fail.
struct SinkState {
    std::mutex mutex;
    std::condition_variable cv;
    bool held = false;
    bool failOpen = false;
    int failAt = -1;  // the write (0-based) that fails
    bool opened = false;
    bool closed = false;
    std::vector<std::vector<uint8_t>> written;
    std::vector<uint64_t> numbers;
};

class TestSink : public IPictureSink {
public:
    explicit TestSink(SinkState& state) : m_state(state) {}
    bool Open() override {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        m_state.opened = !m_state.failOpen;
        if (m_state.failOpen) m_error = "cannot open test sink";
        return m_state.opened;
    }
    bool Write(const Picture& picture) override {
        std::unique_lock<std::mutex> lock(m_state.mutex);
        m_state.cv.wait(lock, [this] { return !m_state.held; });
        if (static_cast<int>(m_state.written.size()) == m_state.failAt) {
            m_error = "disk full";
            m_state.failAt = -1;
            return false;
        }
        m_state.written.emplace_back(picture.data, picture.data + picture.size);
        m_state.numbers.push_back(picture.number);
        return true;
    }
    bool Close() override {
        std::lock_guard<std::mutex> lock(m_state.mutex);
        m_state.closed = true;
        return true;
    }
    const std::string& Error() const override { return m_error; }

private:
    SinkState& m_state;
    std::string m_error;
};

std::vector<std::unique_ptr<IPictureSink>> Sinks(SinkState& state) {
    std::vector<std::unique_ptr<IPictureSink>> sinks;
    sinks.push_back(std::make_unique<TestSink>(state));
    return sinks;
}

Picture Make(std::vector<uint8_t>& bytes, uint64_t number) {
    Picture p;
    p.data = bytes.data();
    p.size = static_cast<uint32_t>(bytes.size());
    p.number = number;
    return p;
}

}  // namespace

// The caller's buffer is reused right after Push; what gets written is the
// copy, in order, and Stop writes what is still queued.
TEST(PictureWriter, CopiesInOrderAndDrainsAtStop) {
    SinkState state;
    CPictureWriter writer(Sinks(state));
    std::string error;
    ASSERT_TRUE(writer.Start(error));
    std::vector<uint8_t> buffer;
    for (uint8_t i = 1; i <= 20; ++i) {
        buffer.assign(i, i);
        ASSERT_TRUE(writer.Push(Make(buffer, i)));
        buffer.assign(i, 0xEE);  // the driver reuses its buffer at once
    }
    writer.Stop();
    ASSERT_EQ(state.written.size(), 20u);
    for (uint8_t i = 1; i <= 20; ++i) {
        EXPECT_EQ(state.written[i - 1], std::vector<uint8_t>(i, i));
        EXPECT_EQ(state.numbers[i - 1], i);
    }
    EXPECT_TRUE(state.closed);
    EXPECT_EQ(writer.Written(), 20u);
    EXPECT_FALSE(writer.Failed());
}

TEST(PictureWriter, FullQueueRefusesWithoutBlocking) {
    SinkState state;
    state.held = true;
    CPictureWriter writer(Sinks(state));
    std::string error;
    ASSERT_TRUE(writer.Start(error));
    std::vector<uint8_t> buffer(100, 1);
    size_t accepted = 0;
    for (size_t i = 0; i < CPictureWriter::kSlots + 10; ++i) accepted += writer.Push(Make(buffer, i + 1)) ? 1 : 0;
    EXPECT_EQ(accepted, CPictureWriter::kSlots);
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.held = false;
    }
    state.cv.notify_all();
    writer.Stop();
    EXPECT_EQ(state.written.size(), CPictureWriter::kSlots);
    EXPECT_FALSE(writer.Push(Make(buffer, 999)));  // stopped
}

TEST(PictureWriter, AWriteFailureStopsWritingAndIsReported) {
    SinkState state;
    state.failAt = 2;
    CPictureWriter writer(Sinks(state));
    std::string error;
    ASSERT_TRUE(writer.Start(error));
    std::vector<uint8_t> buffer(10, 3);
    for (int i = 0; i < 5; ++i) writer.Push(Make(buffer, static_cast<uint64_t>(i + 1)));
    writer.Stop();
    EXPECT_TRUE(writer.Failed());
    EXPECT_EQ(writer.Error(), "disk full");
    EXPECT_EQ(state.written.size(), 2u);  // nothing after the failure
    EXPECT_EQ(writer.Written(), 2u);
}

TEST(PictureWriter, SinkThatCannotOpenFailsStart) {
    SinkState state;
    state.failOpen = true;
    CPictureWriter writer(Sinks(state));
    std::string error;
    EXPECT_FALSE(writer.Start(error));
    EXPECT_EQ(error, "cannot open test sink");
}
