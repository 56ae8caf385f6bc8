// Which video segments the retention deletes, on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/tools/record/RecordTestUtil.h"
#include "tools/record/CDiskRetention.h"
#include "tools/record/CVideoSegmentWriter.h"

using namespace kestrel::record;
using recordtest::TempDir;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kSecond = 1000000;
constexpr int64_t kDay = 86400 * kSecond;

void MakeFile(const std::string& path, size_t bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

std::string Name(const std::string& path) {
    return fs::path(path).parent_path().filename().string() + "/" + fs::path(path).filename().string();
}

}  // namespace

TEST(DiskRetention, SegmentNames) {
    struct Case {
        const char* name;
        bool segment;
    };
    for (const auto& c : {Case{"2026-12-08T18-00-00.mkv", true}, Case{"2026-12-08T18-00-00.avi", true},
                          Case{"2026-12-08T18-00-00-2.mkv", true}, Case{"2026-12-08T18-00-00-.mkv", false},
                          Case{"2026-12-08T18-00-00.mkv.part", false}, Case{"2026-12-08 18-00-00.mkv", false},
                          Case{"000001.jpg", false}, Case{"index.csv", false}, Case{"gaps.csv", false},
                          Case{"2026-12-08T18-00-0x.mkv", false}, Case{"camera1.avi", false}}) {
        EXPECT_EQ(CDiskRetention::IsSegmentName(c.name), c.segment) << c.name;
    }
}

// Segments of two cameras, the newest of each being written; the limits
// decide which go. Oldest first across cameras, never one being written,
// other files untouched.
TEST(DiskRetention, OldestFinishedGoFirstAcrossCameras) {
    struct Case {
        const char* name;
        uint64_t maxBytes;
        int64_t keepUs;
        std::vector<std::string> left;
        size_t said;
    };
    // camera1: 1000 (day 0), 1000 (day 1), writing 500 (day 3)
    // camera2: 1000 (day 0.5), writing 500 (day 2)
    const std::vector<Case> cases = {
        {"no limits", 0, 0, {"c1/0", "c2/0.5", "c1/1", "c2/2w", "c1/3w"}, 0},
        {"within the limit", 4000, 0, {"c1/0", "c2/0.5", "c1/1", "c2/2w", "c1/3w"}, 0},
        {"one over", 3999, 0, {"c2/0.5", "c1/1", "c2/2w", "c1/3w"}, 0},
        {"across cameras", 2500, 0, {"c1/1", "c2/2w", "c1/3w"}, 0},
        {"only what is written is left", 1500, 0, {"c2/2w", "c1/3w"}, 0},
        {"written ones alone are over: said once", 100, 0, {"c2/2w", "c1/3w"}, 1},
        {"older than two days", 0, 2 * kDay, {"c1/1", "c2/2w", "c1/3w"}, 0},
        {"age and size together", 3000, 2 * kDay, {"c1/1", "c2/2w", "c1/3w"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const int64_t day0 = 1796000000LL * kSecond;
        struct File {
            const char* label;
            const char* camera;
            double day;
            size_t bytes;
            bool writing;
        };
        const std::vector<File> files = {{"c1/0", "camera1", 0, 1000, false},
                                         {"c1/1", "camera1", 1, 1000, false},
                                         {"c1/3w", "camera1", 3, 500, true},
                                         {"c2/0.5", "camera2", 0.5, 1000, false},
                                         {"c2/2w", "camera2", 2, 500, true}};
        std::map<std::string, std::string> labels;
        for (const auto& f : files) {
            const int64_t start = day0 + static_cast<int64_t>(f.day * static_cast<double>(kDay));
            const std::string path =
                dir.Path() + "/" + f.camera + "/" + CVideoSegmentWriter::SegmentName(start) + ".mkv";
            labels[Name(path)] = f.label;
            if (!f.writing) MakeFile(path, f.bytes);
        }
        MakeFile(dir.Path() + "/camera1/index.csv", 5000);  // not a segment: never counted nor deleted
        size_t said = 0;
        CDiskRetention::Limits limits;
        limits.maxBytes = c.maxBytes;
        limits.keepUs = c.keepUs;
        limits.reserveShare = 0;
        CDiskRetention retention(dir.Path(), limits, [&](const std::string&) { ++said; });
        retention.Scan();  // the finished ones, from an earlier run
        for (const auto& f : files) {
            if (!f.writing) continue;
            const int64_t start = day0 + static_cast<int64_t>(f.day * static_cast<double>(kDay));
            const std::string path =
                dir.Path() + "/" + f.camera + "/" + CVideoSegmentWriter::SegmentName(start) + ".mkv";
            MakeFile(path, 0);
            retention.Opened(path, start);
            retention.Grew(path, f.bytes);
        }
        const int64_t now = day0 + 3 * kDay - kSecond;
        retention.Enforce(now);
        retention.Enforce(now);  // a second pass changes nothing and says nothing again
        std::vector<std::string> left;
        for (const auto& path : retention.Segments()) {
            left.push_back(labels[Name(path)]);
            EXPECT_TRUE(fs::exists(path)) << path;
        }
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(said, c.said);
        EXPECT_TRUE(fs::exists(dir.Path() + "/camera1/index.csv"));
        uint64_t bytes = 0;
        for (const auto& f : files) {
            for (const auto& l : left) bytes += l == f.label ? f.bytes : 0;
        }
        EXPECT_EQ(retention.Bytes(), bytes);
    }
}

// A finished segment counts with its size on disk (the container's closing
// adds to what the writer reported), and MakeRoom deletes one at a time.
TEST(DiskRetention, FinishedSegmentsCountTheirRealSizeAndMakeRoomOneByOne) {
    TempDir dir;
    CDiskRetention::Limits limits;
    limits.reserveShare = 0;
    size_t said = 0;
    CDiskRetention retention(dir.Path(), limits, [&](const std::string&) { ++said; });
    const int64_t t0 = 1796000000LL * kSecond;
    std::vector<std::string> paths;
    for (int i = 0; i < 2; ++i) {
        const std::string path =
            dir.Path() + "/camera1/" + CVideoSegmentWriter::SegmentName(t0 + i * 600 * kSecond) + ".mkv";
        MakeFile(path, 700);
        retention.Opened(path, t0 + i * 600 * kSecond);
        retention.Grew(path, 600);
        paths.push_back(path);
    }
    EXPECT_EQ(retention.Bytes(), 1200u);
    retention.Finished(paths[0]);
    EXPECT_EQ(retention.Bytes(), 1300u);
    EXPECT_TRUE(retention.MakeRoom());
    EXPECT_FALSE(fs::exists(paths[0]));
    EXPECT_TRUE(fs::exists(paths[1]));
    EXPECT_FALSE(retention.MakeRoom()) << "the one being written stays";
    EXPECT_FALSE(retention.MakeRoom());
    EXPECT_EQ(said, 1u);
    EXPECT_EQ(retention.Bytes(), 600u);
}
