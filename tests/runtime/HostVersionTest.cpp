#include "runtime/HostVersion.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Level delivered to the host, by host version.
struct LevelRow {
    uint16_t major;
    uint16_t minor;
    int level;
    int delivered;
};
void PrintTo(const LevelRow& row, std::ostream* os) { *os << row.major << "." << row.minor << " level " << row.level; }

class AdaptDebugLevelRows : public ::testing::TestWithParam<LevelRow> {};

TEST_P(AdaptDebugLevelRows, LevelForHost) {
    const LevelRow& row = GetParam();
    const kestrel::HostVersion version{row.major, row.minor, 9, 9};
    EXPECT_EQ(kestrel::AdaptDebugLevel(row.level, version), row.delivered)
        << row.major << "." << row.minor << " level " << row.level;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AdaptDebugLevelRows,
    ::testing::Values(
        // Below 5.12: information and debug become warnings.
        LevelRow{5, 11, 1, 1}, LevelRow{5, 11, 2, 2}, LevelRow{5, 11, 3, 2}, LevelRow{5, 11, 100, 2},
        LevelRow{4, 99, 3, 2}, LevelRow{0, 0, 100, 2},
        // 5.12 up to 6.3: debug becomes information.
        LevelRow{5, 12, 1, 1}, LevelRow{5, 12, 2, 2}, LevelRow{5, 12, 3, 3}, LevelRow{5, 12, 100, 3},
        LevelRow{6, 2, 100, 3}, LevelRow{6, 2, 3, 3}, LevelRow{6, 0, 100, 3}, LevelRow{5, 65535, 100, 3},
        // From 6.3 on: unchanged.
        LevelRow{6, 3, 1, 1}, LevelRow{6, 3, 2, 2}, LevelRow{6, 3, 3, 3}, LevelRow{6, 3, 100, 100},
        LevelRow{7, 0, 100, 100}, LevelRow{65535, 65535, 100, 100}));

TEST(HostVersionTest, DefaultIsFiveTwelve) {
    const kestrel::HostVersion version;
    EXPECT_EQ(kestrel::AdaptDebugLevel(3, version), 3);
    EXPECT_EQ(kestrel::AdaptDebugLevel(100, version), 3);
}

struct ParseRow {
    const char* path;
    bool ok;
    uint16_t major, minor, build, revision;
};
void PrintTo(const ParseRow& row, std::ostream* os) { *os << "\"" << row.path << "\""; }

class ParseHostCoreVersionRows : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ParseHostCoreVersionRows, VersionFromFileName) {
    const ParseRow& row = GetParam();
    kestrel::HostVersion version{1, 2, 3, 4};
    EXPECT_EQ(kestrel::ParseHostCoreVersion(row.path, version), row.ok) << row.path;
    if (row.ok) {
        EXPECT_EQ(version.major, row.major) << row.path;
        EXPECT_EQ(version.minor, row.minor) << row.path;
        EXPECT_EQ(version.build, row.build) << row.path;
        EXPECT_EQ(version.revision, row.revision) << row.path;
    } else {
        EXPECT_EQ(version.major, 1) << "changed on failure: " << row.path;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ParseHostCoreVersionRows,
    ::testing::Values(
        ParseRow{"/opt/host/libosprey.so.6.3.1.2", true, 6, 3, 1, 2},
        ParseRow{"libosprey.so.6.3.1.2", true, 6, 3, 1, 2},
        // Missing parts are 0.
        ParseRow{"/lib/libosprey.so.5.11", true, 5, 11, 0, 0},
        ParseRow{"/lib/libosprey.so.7", true, 7, 0, 0, 0},
        ParseRow{"/lib/libosprey.so.6.3.1", true, 6, 3, 1, 0},
        // Extra parts are ignored; the number ends at the first non-number.
        ParseRow{"/lib/libosprey.so.6.3.1.2.9", true, 6, 3, 1, 2},
        ParseRow{"/lib/libosprey.so.6.2.beta", true, 6, 2, 0, 0},
        ParseRow{"/lib/libosprey.so.65535.0", true, 65535, 0, 0, 0},
        // No number.
        ParseRow{"/lib/libosprey.so", false, 0, 0, 0, 0},
        ParseRow{"/lib/libosprey.so.", false, 0, 0, 0, 0},
        ParseRow{"/lib/libosprey.so.beta", false, 0, 0, 0, 0},
        ParseRow{"/lib/libosprey.so.65536", false, 0, 0, 0, 0},
        ParseRow{"/lib/libosprey.so.-1", false, 0, 0, 0, 0},
        // Not the host core module.
        ParseRow{"/lib/libospreyx.so.6.3", false, 0, 0, 0, 0},
        ParseRow{"/lib/libosprey.sox.6.3", false, 0, 0, 0, 0},
        ParseRow{"/libosprey.so.6.3/libother.so", false, 0, 0, 0, 0},
        ParseRow{"", false, 0, 0, 0, 0}));

TEST(ReadHostCoreVersionTest, NoneLoadedGivesFiveTwelve) {
    const kestrel::HostVersion version = kestrel::ReadHostCoreVersion();
    EXPECT_EQ(version.major, 5);
    EXPECT_EQ(version.minor, 12);
    EXPECT_EQ(version.build, 0);
    EXPECT_EQ(version.revision, 0);
}

// Real shared objects: the stand-in library is copied under the file names
// below (a name "a -> b" is a symbolic link a pointing at file b) and loaded
// into a child process by the first name, which then reads the version.
struct LoadRow {
    const char* name;
    std::vector<std::string> files;
    std::string load;
    std::string expected;
};
void PrintTo(const LoadRow& row, std::ostream* os) { *os << row.name; }

class ReadHostCoreVersionRows : public ::testing::TestWithParam<LoadRow> {};

std::string ReadVersionInChild(const fs::path& library) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        char text[64];
        int length;
        if (::dlopen(library.c_str(), RTLD_NOW) == nullptr) {
            length = std::snprintf(text, sizeof text, "dlopen failed");
        } else {
            const kestrel::HostVersion v = kestrel::ReadHostCoreVersion();
            length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", v.major, v.minor, v.build, v.revision);
        }
        const bool written = ::write(pipeFds[1], text, static_cast<size_t>(length)) == length;
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeFds[1]);
    if (child < 0) {
        ::close(pipeFds[0]);
        return "fork failed";
    }
    std::string result;
    char buffer[64];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) result.append(buffer, static_cast<size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) result += " (child failed)";
    return result;
}

TEST_P(ReadHostCoreVersionRows, VersionOfTheLoadedModule) {
    const LoadRow& row = GetParam();
    const fs::path dir = fs::temp_directory_path() /
                         ("halyard-osprey-" + std::to_string(::getpid()) + "-" + row.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const std::string& file : row.files) {
        const size_t arrow = file.find(" -> ");
        if (arrow == std::string::npos) {
            fs::copy_file(HALYARD_FAKE_OSPREY, dir / file);
        } else {
            fs::create_symlink(file.substr(arrow + 4), dir / file.substr(0, arrow));
        }
    }
    EXPECT_EQ(ReadVersionInChild(dir / row.load), row.expected);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadHostCoreVersionRows,
    ::testing::Values(
        LoadRow{"Full", {"libosprey.so.6.3.1.2"}, "libosprey.so.6.3.1.2", "6.3.1.2"},
        LoadRow{"Old", {"libosprey.so.5.11"}, "libosprey.so.5.11", "5.11.0.0"},
        // Loaded through the development and soname links: the real path counts.
        LoadRow{"ThroughLinks",
                {"libosprey.so.6.2.7.1", "libosprey.so.6 -> libosprey.so.6.2.7.1", "libosprey.so -> libosprey.so.6"},
                "libosprey.so",
                "6.2.7.1"},
        LoadRow{"NoNumber", {"libosprey.so"}, "libosprey.so", "5.12.0.0"},
        // A numbered link to an unnumbered file: the real path has no number.
        LoadRow{"RealFileUnnumbered", {"libosprey.so", "libosprey.so.7.1 -> libosprey.so"}, "libosprey.so.7.1",
                "5.12.0.0"},
        // Some other library does not count.
        LoadRow{"OtherName", {"libfalcon.so.6.3.1.2"}, "libfalcon.so.6.3.1.2", "5.12.0.0"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
