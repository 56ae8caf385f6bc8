// The host core module's version decides the levels the host receives.
#include "runtime/HostVersion.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(HostVersion, LevelForHost) {
    struct Row {
        uint16_t major, minor;
        int level, delivered;
        // clang-format off
    } rows[] = {
        {5, 11, 1, 1}, {5, 11, 2, 2}, {5, 11, 3, 2}, {5, 11, 100, 2}, {4, 99, 3, 2},  // below 5.12: warnings
        {5, 12, 2, 2}, {5, 12, 3, 3}, {5, 12, 100, 3}, {6, 2, 100, 3}, {5, 65535, 100, 3},  // to 6.3: information
        {6, 3, 1, 1}, {6, 3, 100, 100}, {7, 0, 100, 100}, {65535, 65535, 100, 100},       // from 6.3: unchanged
    };
    // clang-format on
    for (const Row& row : rows) {
        EXPECT_EQ(kestrel::AdaptDebugLevel(row.level, {row.major, row.minor, 9, 9}), row.delivered)
            << row.major << "." << row.minor << " level " << row.level;
    }
    EXPECT_EQ(kestrel::AdaptDebugLevel(100, kestrel::HostVersion{}), 3) << "default 5.12";
}

std::string Text(const kestrel::HostVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) + "." +
           std::to_string(v.revision);
}

TEST(HostVersion, ParsedFromTheFileName) {
    // clang-format off
    const std::pair<const char*, const char*> rows[] = {
        {"/lib/libosprey.so.6.3", "6.3.0.0"},             // missing parts are 0
        {"/lib/libosprey.so.6.3.1.2.9", "6.3.1.2"},       // extra parts ignored
        {"/lib/libosprey.so.6.2.beta", "6.2.0.0"},        // ends at the first non-number
        {"/lib/libosprey.so.65535", "65535.0.0.0"},
        // No number (the version stays untouched), or not the host core module.
        {"/lib/libosprey.so.", nullptr}, {"/lib/libosprey.so.65536", nullptr}, {"/lib/libosprey.so.-1", nullptr},
        {"/lib/libospreyx.so.6.3", nullptr}, {"/lib/libosprey.sox.6.3", nullptr}, {"/libosprey.so.6.3/libx.so", nullptr},
    };
    // clang-format on
    for (const auto& [path, expected] : rows) {
        kestrel::HostVersion version{1, 2, 3, 4};
        EXPECT_EQ(kestrel::ParseHostCoreVersion(path, version), expected != nullptr) << path;
        EXPECT_EQ(Text(version), expected != nullptr ? expected : "1.2.3.4") << path;
    }
}

// Loads `library` into a child process and answers the version it reads.
std::string ReadVersionInChild(const fs::path& library) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        char text[64];
        int length = std::snprintf(text, sizeof text, "dlopen failed");
        if (library.empty() || ::dlopen(library.c_str(), RTLD_NOW) != nullptr) {
            const kestrel::HostVersion v = kestrel::ReadHostCoreVersion();
            length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", v.major, v.minor, v.build, v.revision);
        }
        ::_exit(::write(fds[1], text, static_cast<size_t>(length)) == length ? 0 : 1);
    }
    ::close(fds[1]);
    std::string result = child < 0 ? "fork failed" : "";
    char buffer[64];
    for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, static_cast<size_t>(got));
    ::close(fds[0]);
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) result += " (child failed)";
    return result;
}

// Real shared objects: the stand-in library copied under the names below
// ("a -> b" is a symbolic link a to b), loaded by the first one.
TEST(HostVersion, ReadFromTheLoadedModule) {
    struct Row {
        std::vector<std::string> files;
        std::string expected;
        // clang-format off
    } rows[] = {
        {{}, "5.12.0.0"},  // nothing loaded
        {{"libosprey.so.6.3.1.2"}, "6.3.1.2"},
        // Through the development and soname links: the real path counts.
        {{"libosprey.so -> libosprey.so.6", "libosprey.so.6 -> libosprey.so.6.2.7.1", "libosprey.so.6.2.7.1"}, "6.2.7.1"},
        {{"libosprey.so"}, "5.12.0.0"},
        {{"libosprey.so.7.1 -> libosprey.so", "libosprey.so"}, "5.12.0.0"},  // real file unnumbered
        {{"libfalcon.so.6.3.1.2"}, "5.12.0.0"},                              // some other library
    };
    // clang-format on
    for (const Row& row : rows) {
        const fs::path dir = fs::temp_directory_path() / ("halyard-osprey-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const std::string& file : row.files) {
            const size_t arrow = file.find(" -> ");
            if (arrow == std::string::npos)
                fs::copy_file(HALYARD_FAKE_OSPREY, dir / file);
            else
                fs::create_symlink(file.substr(arrow + 4), dir / file.substr(0, arrow));
        }
        const std::string load = row.files.empty() ? "" : row.files[0].substr(0, row.files[0].find(" -> "));
        EXPECT_EQ(ReadVersionInChild(load.empty() ? fs::path() : dir / load), row.expected) << load;
        fs::remove_all(dir);
    }
}

}  // namespace
