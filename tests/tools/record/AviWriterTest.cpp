#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/tools/record/AviFile.h"
#include "tests/tools/record/TempDir.h"
#include "tests/tools/record/TestJpeg.h"
#include "tools/record/CAviWriter.h"

using kestrel::record::CAviWriter;
using kestrel::record::Picture;
using recordtest::AviFile;
using recordtest::ReadAvi;

namespace {

Picture MakePicture(const std::vector<uint8_t>& jpeg, uint64_t number, int64_t arrivalUs, int w, int h) {
    Picture p;
    p.data = jpeg.data();
    p.size = static_cast<uint32_t>(jpeg.size());
    p.number = number;
    p.arrivalUs = arrivalUs;
    p.width = w;
    p.height = h;
    return p;
}

// Odd and even sizes alike, so the padding after odd chunks is exercised.
std::vector<std::vector<uint8_t>> Pictures(size_t count) {
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t i = 0; i < count; ++i) {
        auto jpeg = recordtest::EncodeJpeg(64, 48, static_cast<uint8_t>(i * 13));
        if (jpeg.size() % 2 == i % 2) jpeg.push_back(0x00);  // alternate odd and even sizes; bytes after EOI are ignored
        pictures.push_back(std::move(jpeg));
    }
    return pictures;
}

}  // namespace

TEST(AviWriter, FileIsStructurallySoundAndEveryFrameDecodes) {
    recordtest::TempDir dir;
    const std::string path = dir.Path() + "/camera1.avi";
    const auto pictures = Pictures(7);
    {
        CAviWriter writer(path, 200);
        ASSERT_TRUE(writer.Open()) << writer.Error();
        for (size_t i = 0; i < pictures.size(); ++i) {
            // 40 ms apart: the header must say 25 pictures per second, not the nominal 5.
            ASSERT_TRUE(writer.Write(MakePicture(pictures[i], i + 1, 1000000 + 40000 * static_cast<int64_t>(i), 64, 48)));
        }
        ASSERT_TRUE(writer.Close()) << writer.Error();
        EXPECT_EQ(writer.Files(), std::vector<std::string>{path});
    }
    const AviFile avi = ReadAvi(path);
    ASSERT_EQ(avi.error, "");
    EXPECT_EQ(avi.streams, 1u);
    EXPECT_EQ(avi.streamType, "vids");
    EXPECT_EQ(avi.handler, "MJPG");
    EXPECT_EQ(avi.compression, "MJPG");
    EXPECT_EQ(avi.width, 64u);
    EXPECT_EQ(avi.height, 48u);
    EXPECT_EQ(avi.bmpWidth, 64u);
    EXPECT_EQ(avi.bmpHeight, 48u);
    EXPECT_EQ(avi.totalFrames, 7u);
    EXPECT_EQ(avi.length, 7u);
    EXPECT_EQ(avi.usPerFrame, 40000u);
    EXPECT_EQ(avi.rate / avi.scale, 25u);
    ASSERT_EQ(avi.frames.size(), 7u);
    ASSERT_EQ(avi.index.size(), 7u);
    size_t largest = 0;
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(avi.index[i].offset, avi.frames[i].offset) << i;
        EXPECT_EQ(avi.index[i].size, avi.frames[i].size) << i;
        ASSERT_EQ(avi.frames[i].size, pictures[i].size()) << i;
        EXPECT_EQ(std::memcmp(avi.FrameData(avi.frames[i]), pictures[i].data(), pictures[i].size()), 0) << i;
        int w = 0;
        int h = 0;
        EXPECT_TRUE(recordtest::DecodeJpeg(avi.FrameData(avi.frames[i]), avi.frames[i].size, &w, &h)) << i;
        EXPECT_EQ(w, 64);
        largest = std::max(largest, pictures[i].size());
    }
    EXPECT_GE(avi.suggestedBuffer, largest);
}

TEST(AviWriter, EmptyRecordingIsStillAValidFile) {
    recordtest::TempDir dir;
    const std::string path = dir.Path() + "/empty.avi";
    {
        CAviWriter writer(path, 100);
        ASSERT_TRUE(writer.Open());
        ASSERT_TRUE(writer.Close());
    }
    const AviFile avi = ReadAvi(path);
    EXPECT_EQ(avi.error, "");
    EXPECT_EQ(avi.totalFrames, 0u);
    EXPECT_EQ(avi.usPerFrame, 100000u);  // nominal rate when nothing was measured
}

// Past the size limit the recording goes on in a second file; each file is
// complete on its own.
TEST(AviWriter, RollsOverIntoANewFileAtTheLimit) {
    recordtest::TempDir dir;
    const std::string path = dir.Path() + "/camera2.avi";
    const auto pictures = Pictures(6);
    std::vector<std::string> files;
    {
        CAviWriter writer(path, 40, 224 + 3 * (pictures[0].size() + 24));
        ASSERT_TRUE(writer.Open());
        for (size_t i = 0; i < pictures.size(); ++i) {
            ASSERT_TRUE(writer.Write(MakePicture(pictures[i], i + 1, 40000 * static_cast<int64_t>(i), 64, 48)));
        }
        ASSERT_TRUE(writer.Close());
        files = writer.Files();
    }
    ASSERT_GE(files.size(), 2u);
    EXPECT_EQ(files[0], path);
    EXPECT_EQ(files[1], dir.Path() + "/camera2-002.avi");
    uint32_t total = 0;
    for (const auto& f : files) {
        const AviFile avi = ReadAvi(f);
        EXPECT_EQ(avi.error, "") << f;
        EXPECT_EQ(avi.totalFrames, avi.frames.size()) << f;
        EXPECT_EQ(avi.index.size(), avi.frames.size()) << f;
        EXPECT_LE(avi.bytes.size(), 224 + 3 * (pictures[0].size() + 24) + 2 * 24) << f;
        total += avi.totalFrames;
    }
    EXPECT_EQ(total, 6u);
}

TEST(AviWriter, UnwritablePlaceIsReported) {
    CAviWriter writer("/nonexistent-dir/x.avi", 40);
    EXPECT_FALSE(writer.Open());
    EXPECT_NE(writer.Error().find("/nonexistent-dir/x.avi"), std::string::npos);
}
