// Video segments through libavformat, read back as a player reads them, and
// the gaps noted beside them. Arrival times are made up, so a boundary or a
// pause costs no waiting.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include <filesystem>

#include "tests/tools/record/RecordTestUtil.h"
#include "tools/record/CDiskRetention.h"
#include "tools/record/CGapTracker.h"
#include "tools/record/CVideoSegmentWriter.h"

using namespace kestrel::record;
using recordtest::TempDir;

namespace {

constexpr int64_t kSecond = 1000000;

struct Stream {
    std::vector<std::vector<uint8_t>> jpegs;
    std::vector<int64_t> arrivals;
};

// Pictures at a steady interval from start, with an optional pause after
// pauseAfter pictures; each picture differs so a doubled or missing one shows.
Stream MakeStream(int64_t startUs, size_t count, int64_t intervalUs, size_t pauseAfter = 0, int64_t pauseUs = 0) {
    Stream s;
    int64_t t = startUs;
    for (size_t i = 0; i < count; ++i) {
        s.jpegs.push_back(recordtest::EncodeJpeg(64, 48, static_cast<uint8_t>(i * 7)));
        s.arrivals.push_back(t);
        t += intervalUs + (i + 1 == pauseAfter ? pauseUs : 0);
    }
    return s;
}

Picture At(const Stream& s, size_t i) {
    return Picture{s.jpegs[i].data(), static_cast<uint32_t>(s.jpegs[i].size()), i + 1, s.arrivals[i], 64, 48};
}

// Every segment of a folder read back and laid end to end, with each
// picture's time on the wall clock (segment start from its name plus pts).
struct Played {
    std::vector<std::string> files;
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<int64_t> timesMs;
    size_t undecoded = 0;
    std::string error;
};

Played Play(const std::string& dir, const std::string& ext) {
    Played p;
    p.files = recordtest::Segments(dir, ext);
    for (const auto& file : p.files) {
        const auto v = recordtest::ReadVideo(file);
        if (!v.error.empty() || v.codec != "mjpeg" || v.width != 64 || v.height != 48) {
            p.error += file + ": " + v.error + " " + v.codec + "; ";
            continue;
        }
        const int64_t startMs = recordtest::SegmentStartMs(file);
        for (const auto& f : v.frames) {
            p.pictures.push_back(f.bytes);
            p.timesMs.push_back(startMs + f.ptsMs);
            p.undecoded += f.decoded ? 0 : 1;
        }
    }
    return p;
}

VideoFormat Format(const std::string& ext) { return ext == ".avi" ? VideoFormat::Avi : VideoFormat::Matroska; }

}  // namespace

// Across a boundary and a 6 s pause, in both containers: every picture once,
// in order, decodable, at its arrival time (AVI to the nearest interval),
// and the files named by their start.
TEST(VideoSegmentWriter, BoundaryAndPauseKeepEveryPictureAtItsTime) {
    struct Case {
        const char* ext;
        int64_t toleranceMs;
    };
    for (const Case c : {Case{".mkv", 1}, Case{".avi", 50}}) {
        SCOPED_TRACE(c.ext);
        TempDir dir;
        const int64_t boundary = CVideoSegmentWriter::BoundaryBefore(1796000000LL * kSecond, 10) + 10 * kSecond;
        // 2.5 s before a boundary, 100 ms apart, 6 s without pictures after the 40th.
        const Stream s = MakeStream(boundary - 2500000 + 3000, 60, 100000, 40, 6000000);
        CVideoSegmentWriter writer(dir.Path() + "/camera1", {Format(c.ext), 10, 100}, nullptr);
        ASSERT_TRUE(writer.Open()) << writer.Error();
        for (size_t i = 0; i < s.jpegs.size(); ++i) ASSERT_TRUE(writer.Write(At(s, i)));
        ASSERT_TRUE(writer.Close());
        EXPECT_EQ(writer.Skipped(), 0u);

        const Played p = Play(dir.Path() + "/camera1", c.ext);
        ASSERT_EQ(p.error, "");
        ASSERT_EQ(p.files.size(), 2u);
        EXPECT_EQ(std::filesystem::path(p.files[0]).filename().string(),
                  CVideoSegmentWriter::SegmentName(boundary - 3 * kSecond) + c.ext);
        EXPECT_EQ(std::filesystem::path(p.files[1]).filename().string(),
                  CVideoSegmentWriter::SegmentName(boundary) + c.ext);
        ASSERT_EQ(p.pictures.size(), s.jpegs.size()) << "a picture lost or doubled at the boundary";
        EXPECT_EQ(p.undecoded, 0u);
        for (size_t i = 0; i < s.jpegs.size(); ++i) {
            EXPECT_EQ(p.pictures[i], s.jpegs[i]) << i;
            EXPECT_NEAR(static_cast<double>(p.timesMs[i]), static_cast<double>(s.arrivals[i] / 1000),
                        static_cast<double>(c.toleranceMs))
                << i;
        }
        // The pause is still there on playback.
        EXPECT_NEAR(static_cast<double>(p.timesMs[40] - p.timesMs[39]), 6100.0,
                    2.0 * static_cast<double>(c.toleranceMs));
    }
}

// What a kill leaves on disk is what the writer handed to the kernel: a
// copy of the file taken while it is still being written plays to within
// about a second of its last picture.
TEST(VideoSegmentWriter, FileCutWhileWritingPlaysToItsLastSecond) {
    TempDir dir;
    const int64_t start = CVideoSegmentWriter::BoundaryBefore(1796000000LL * kSecond, 600);
    const Stream s = MakeStream(start + 1000, 125, 40000);  // 5 s at 25/s
    CVideoSegmentWriter writer(dir.Path() + "/camera1", {VideoFormat::Matroska, 600, 40}, nullptr);
    ASSERT_TRUE(writer.Open());
    for (size_t i = 0; i < s.jpegs.size(); ++i) ASSERT_TRUE(writer.Write(At(s, i)));
    const auto files = recordtest::Segments(dir.Path() + "/camera1");
    ASSERT_EQ(files.size(), 1u);
    const std::string cut = dir.Path() + "/cut.mkv";
    std::filesystem::copy_file(files[0], cut);
    const auto v = recordtest::ReadVideo(cut);
    ASSERT_EQ(v.error, "");
    ASSERT_GE(v.frames.size(), s.jpegs.size() - 26) << "more than a second missing";
    for (size_t i = 0; i < v.frames.size(); ++i) {
        EXPECT_TRUE(v.frames[i].decoded) << i;
        EXPECT_EQ(v.frames[i].bytes, s.jpegs[i]) << i;
    }
    writer.Close();
}

// A wall clock stepped back keeps time stamps increasing (a muxer refuses
// anything else); a segment opened twice within a second gets its own name.
TEST(VideoSegmentWriter, ClockStepBackAndNameTaken) {
    TempDir dir;
    const int64_t t0 = CVideoSegmentWriter::BoundaryBefore(1796000000LL * kSecond, 600) + 5 * kSecond;
    Stream s = MakeStream(t0, 6, 100000);
    s.arrivals[3] = t0 - 2 * kSecond;  // NTP stepped the clock
    for (int run = 0; run < 2; ++run) {
        CVideoSegmentWriter writer(dir.Path() + "/camera1", {VideoFormat::Matroska, 600, 100}, nullptr);
        ASSERT_TRUE(writer.Open());
        for (size_t i = 0; i < s.jpegs.size(); ++i) ASSERT_TRUE(writer.Write(At(s, i)));
        writer.Close();
    }
    const auto files = recordtest::Segments(dir.Path() + "/camera1");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(std::filesystem::path(files[1]).filename().string(), CVideoSegmentWriter::SegmentName(t0) + "-2.mkv");
    for (const auto& f : files) {
        const auto v = recordtest::ReadVideo(f);
        ASSERT_EQ(v.frames.size(), 6u) << f;
        for (size_t i = 1; i < v.frames.size(); ++i) EXPECT_GT(v.frames[i].ptsMs, v.frames[i - 1].ptsMs) << i;
    }
}

// A file system that fills up: pictures that do not fit are counted, never
// fatal; the oldest finished segment makes room; every file left decodes.
TEST(VideoSegmentWriter, FullDiskCountsSkippedPicturesAndFilesStayDecodable) {
    TempDir dir;
    const std::string mnt = dir.Path() + "/small";
    std::filesystem::create_directories(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=2m") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mnt};
    std::vector<std::string> said;
    CDiskRetention::Limits limits;
    limits.reserveShare = 0;  // no early deletion: the writes themselves must fail
    CDiskRetention retention(mnt, limits, [&](const std::string& line) { said.push_back(line); });
    // 100 kB/s fills 2 MiB in about 20 s of made-up time, two 10 s segments.
    std::vector<uint8_t> big = recordtest::EncodeJpeg(320, 240, 1);
    // Filled up with a comment segment right after the start of image.
    const std::vector<uint8_t> comment = {0xFF, 0xFE, 0x27, 0x10};  // 10000 bytes with the length field
    std::vector<uint8_t> filler(comment);
    filler.resize(comment.size() + 10000 - 2, 'c');
    big.insert(big.begin() + 2, filler.begin(), filler.end());
    const int64_t t0 = CVideoSegmentWriter::BoundaryBefore(1796000000LL * kSecond, 10);
    CVideoSegmentWriter writer(mnt + "/camera1", {VideoFormat::Matroska, 10, 100}, &retention);
    ASSERT_TRUE(writer.Open());
    size_t count = 0;
    for (int64_t t = t0; t < t0 + 60 * kSecond; t += 100000, ++count) {
        const Picture p{big.data(), static_cast<uint32_t>(big.size()), count + 1, t, 320, 240};
        ASSERT_TRUE(writer.Write(p)) << "a full disk is not fatal";
    }
    writer.Close();
    EXPECT_GT(writer.Skipped(), 0u);
    EXPECT_LT(writer.Skipped(), count);
    EXPECT_GT(retention.Deleted(), 0u) << "the oldest segments make room";
    const auto files = recordtest::Segments(mnt + "/camera1");
    ASSERT_FALSE(files.empty());
    // The newest segment is from the last seconds: recording went on.
    EXPECT_GE(recordtest::SegmentStartMs(files.back()), (t0 + 50 * kSecond) / 1000);
    for (const auto& f : files) {
        const auto v = recordtest::ReadVideo(f);
        EXPECT_EQ(v.error, "") << f;
        for (const auto& frame : v.frames) EXPECT_TRUE(frame.decoded) << f;
    }
}

// A pause longer than three intervals (at least a second) is a gap, listed
// with its start and length; a silence until the end is an open one.
TEST(GapTracker, PausesBeyondTheThresholdAreGaps) {
    struct Case {
        const char* name;
        uint32_t intervalMs;
        std::vector<int64_t> arrivalsMs;
        int64_t endMs;
        std::vector<Gap> gaps;  // in microseconds
    };
    const std::vector<Case> cases = {
        {"steady", 40, {0, 40, 80, 120}, 150, {}},
        {"one second is not yet a gap at 25/s", 40, {0, 1000, 1040}, 1050, {}},
        {"just over a second", 40, {0, 1001, 1041}, 1050, {{0, 1001000, false}}},
        {"three slow intervals", 500, {0, 1500, 3001}, 3010, {{1500000, 1501000, false}}},
        {"open at the end", 100, {0, 100}, 5100, {{100000, 5000000, true}}},
        {"clock back then a pause", 100, {1000, 500, 2100}, 2150, {{1000000, 1100000, false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CGapTracker tracker("", c.intervalMs);
        ASSERT_TRUE(tracker.Open());
        std::vector<uint8_t> jpeg(10, 0);
        for (int64_t ms : c.arrivalsMs) tracker.Write(Picture{jpeg.data(), 10, 1, ms * 1000, 1, 1});
        tracker.CloseAt(c.endMs * 1000);
        const auto got = tracker.Gaps();
        ASSERT_EQ(got.size(), c.gaps.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].startUs, c.gaps[i].startUs);
            EXPECT_EQ(got[i].lengthUs, c.gaps[i].lengthUs);
            EXPECT_EQ(got[i].open, c.gaps[i].open);
        }
    }
}

TEST(GapTracker, GapsCsvGrowsAsGapsEnd) {
    TempDir dir;
    CGapTracker tracker(dir.Path() + "/camera1", 100);
    ASSERT_TRUE(tracker.Open());
    std::vector<uint8_t> jpeg(10, 0);
    const int64_t t0 = 1796000000LL * kSecond;
    for (int64_t t : {t0, t0 + 2500000, t0 + 2600000}) tracker.Write(Picture{jpeg.data(), 10, 1, t, 1, 1});
    // Written before the recording ends, so a killed recorder keeps it.
    EXPECT_EQ(recordtest::ReadText(dir.Path() + "/camera1/gaps.csv"),
              "start,length_s,until_end\n1796000000.000000,2.500,0\n");
    tracker.EndAt(t0 + 4 * kSecond);  // the recorder stopped the camera then; the files close later
    tracker.Close();
    EXPECT_EQ(recordtest::Split(recordtest::ReadText(dir.Path() + "/camera1/gaps.csv")).back(),
              "1796000002.600000,1.400,1");
}
