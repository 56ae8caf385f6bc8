// The halyard-camsim program as a user starts it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

// Runs a shell command; its output and exit status.
std::string RunShell(const std::string& command, int* status) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    std::string out;
    if (p == nullptr) {
        *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = pclose(p);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

}  // namespace

TEST(CamsimCli, HelpExplainsTheOptionsAndCommands) {
    int status = 0;
    const std::string out = RunShell(std::string(CAMSIM_EXE) + " --help", &status);
    EXPECT_EQ(status, 0);
    for (const char* part : {"Usage:", "--cameras", "--base-port", "--auth", "--https", "--size", "drop=F", "hang=PATTERN",
                             "mjpeg?UdpMode=unicast&UdpPort=N"})
        EXPECT_NE(out.find(part), std::string::npos) << part;
}

TEST(CamsimCli, RefusesBadOptions) {
    int status = 0;
    RunShell(std::string(CAMSIM_EXE) + " --auth kerberos", &status);
    EXPECT_NE(status, 0);
    RunShell(std::string(CAMSIM_EXE) + " --size big --duration 1", &status);
    EXPECT_NE(status, 0);
}

TEST(CamsimCli, RunsCommandsFromStandardInputAndSummarises) {
    int status = 0;
    // quit ends the run long before the duration.
    const std::string out = RunShell("printf '0 sensor=1:1\\nall drop=0.5\\nnonsense\\nquit\\n' | " +
                                    std::string(CAMSIM_EXE) + " --cameras 2 --port 0 --duration 20 -q",
                                &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("2 camera(s) ready; first at http://127.0.0.1:"), std::string::npos) << out;
    EXPECT_NE(out.find("cam0: ok sensor=1:1"), std::string::npos) << out;
    EXPECT_NE(out.find("cam1: ok drop=0.5"), std::string::npos) << out;
    EXPECT_NE(out.find("error: unknown command nonsense"), std::string::npos) << out;
    EXPECT_NE(out.find("halyard-camsim summary:"), std::string::npos) << out;
    EXPECT_NE(out.find("total: 0 pictures"), std::string::npos) << out;
}
