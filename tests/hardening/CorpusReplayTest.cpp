// Replays every committed corpus file (seeds and the inputs of faults the
// fuzzers found) through its target. A broken invariant or a sanitizer
// report in a target aborts this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#define HALYARD_REPLAY_TARGET(area, name) extern "C" int HalyardFuzz_##name(const uint8_t* data, size_t size);
#include "ReplayTargets.inc"
#undef HALYARD_REPLAY_TARGET

namespace {

struct Target {
    const char* area;
    const char* name;
    int (*entry)(const uint8_t*, size_t);
};

const Target kTargets[] = {
#define HALYARD_REPLAY_TARGET(area, name) {#area, #name, &HalyardFuzz_##name},
#include "ReplayTargets.inc"
#undef HALYARD_REPLAY_TARGET
};

class CorpusReplay : public ::testing::TestWithParam<Target> {};

TEST_P(CorpusReplay, EveryCommittedInputPasses) {
    const Target& target = GetParam();
    const std::filesystem::path dir = std::filesystem::path(HALYARD_FUZZ_DIR) / target.area / "corpus" / target.name;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty()) << "no seeds in " << dir;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // A copy of exactly the file's size, as libFuzzer hands it over.
        const std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        EXPECT_EQ(target.entry(exact.get(), bytes.size()), 0);
    }
    // The empty input too: every target must take it.
    EXPECT_EQ(target.entry(nullptr, 0), 0);
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace
