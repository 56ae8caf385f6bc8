#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/record/CCommandLine.h"

using kestrel::record::CCommandLine;
using kestrel::record::DriverInterface;
using kestrel::record::RecordOptions;

namespace {

CCommandLine::Result Parse(std::vector<std::string> args, RecordOptions& options, std::string* message = nullptr) {
    args.insert(args.begin(), "halyard-record");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    CCommandLine commandLine;
    const auto result = commandLine.Parse(static_cast<int>(argv.size()), argv.data(), options);
    if (message != nullptr) *message = commandLine.Message();
    return result;
}

}  // namespace

TEST(CommandLine, DefaultsRecordOneSimulatedCamera) {
    RecordOptions o;
    ASSERT_EQ(Parse({}, o), CCommandLine::Result::Run);
    EXPECT_TRUE(o.cameras.empty());
    EXPECT_EQ(o.simulated, 1u);
    EXPECT_EQ(o.model, "SNC-RZ50P");
    EXPECT_EQ(o.resolution, 2);
    EXPECT_EQ(o.intervalMs, 200u);
    EXPECT_EQ(o.quality, 60);
    EXPECT_EQ(o.standard, 0);
    EXPECT_EQ(o.api, DriverInterface::Legacy);
    EXPECT_EQ(o.durationS, 0.0);
    EXPECT_TRUE(o.writeJpeg);
    EXPECT_FALSE(o.writeAvi);
    EXPECT_EQ(o.firstPictureTimeoutS, 10u);
}

TEST(CommandLine, EveryOptionReachesTheOptions) {
    RecordOptions o;
    ASSERT_EQ(Parse({"-c", "192.168.0.90", "--camera", "cam.local:8080", "--port", "81", "-m", "SNC-DF40P", "-u",
                     "admin", "--password-file", "/run/pw", "-r", "4CIF", "--fps", "30", "-q", "80", "--standard",
                     "ntsc", "--interface", "ip", "-d", "12.5", "-o", "out/", "--format", "both", "--input", "--output",
                     "2=on", "--output", "1=OFF", "--library", "/opt/libHalyard.so", "--first-picture-timeout", "3",
                     "-v"},
                    o),
              CCommandLine::Result::Run);
    ASSERT_EQ(o.cameras.size(), 2u);
    EXPECT_EQ(o.cameras[0].address, "192.168.0.90");
    EXPECT_EQ(o.cameras[0].port, 81);  // --port applies to cameras without one
    EXPECT_EQ(o.cameras[1].address, "cam.local");
    EXPECT_EQ(o.cameras[1].port, 8080);
    EXPECT_EQ(o.simulated, 0u);
    EXPECT_EQ(o.model, "SNC-DF40P");
    EXPECT_EQ(o.user, "admin");
    EXPECT_EQ(o.passwordFile, "/run/pw");
    EXPECT_EQ(o.resolution, 4);
    EXPECT_EQ(o.intervalMs, 33u);
    EXPECT_EQ(o.quality, 80);
    EXPECT_EQ(o.standard, 1);
    EXPECT_EQ(o.api, DriverInterface::IP);
    EXPECT_EQ(o.durationS, 12.5);
    EXPECT_EQ(o.outputDir, "out/");
    EXPECT_TRUE(o.writeJpeg);
    EXPECT_TRUE(o.writeAvi);
    EXPECT_TRUE(o.showInputs);
    ASSERT_EQ(o.outputs.size(), 2u);
    EXPECT_EQ(o.outputs[0].index, 1u);
    EXPECT_TRUE(o.outputs[0].on);
    EXPECT_EQ(o.outputs[1].index, 0u);
    EXPECT_FALSE(o.outputs[1].on);
    EXPECT_EQ(o.library, "/opt/libHalyard.so");
    EXPECT_EQ(o.firstPictureTimeoutS, 3u);
    EXPECT_TRUE(o.verbose);
}

TEST(CommandLine, IntervalAndSimulatedCount) {
    struct Case {
        std::vector<std::string> args;
        uint32_t interval;
        uint32_t simulated;
    };
    const std::vector<Case> cases = {
        {{"-i", "40"}, 40, 1},    {{"--fps", "25"}, 40, 1},   {{"--fps", "0.5"}, 2000, 1},
        {{"--fps", "6"}, 166, 1}, {{"--simulate", "16"}, 200, 16},
    };
    for (const auto& c : cases) {
        RecordOptions o;
        ASSERT_EQ(Parse(c.args, o), CCommandLine::Result::Run) << c.args[0];
        EXPECT_EQ(o.intervalMs, c.interval) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(o.simulated, c.simulated) << c.args[0];
    }
}

// Each wrong input is one line naming what is wrong.
TEST(CommandLine, WrongInputsAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string mentions;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "--bogus"},
        {{"--password", "secret"}, "--password"},
        {{"-c", "10.0.0.1:0"}, "10.0.0.1:0"},
        {{"-c", "10.0.0.1:70000"}, "10.0.0.1:70000"},
        {{"-c", ":80"}, ":80"},
        {{"-c", "http://cam/"}, "http://cam/"},
        {{"-c", "10.0.0.1", "--simulate", "2"}, "--simulate"},
        {{"-r", "8cif"}, "8cif"},
        {{"-q", "101"}, "101"},
        {{"-i", "40", "--fps", "25"}, "--fps"},
        {{"--standard", "secam"}, "secam"},
        {{"--interface", "onvif"}, "onvif"},
        {{"--format", "mp4"}, "mp4"},
        {{"--output", "0=on"}, "0=on"},
        {{"--output", "1=blink"}, "1=blink"},
        {{"--output", "x"}, "x"},
        {{"--password-file", "f", "--ask-password"}, "--ask-password"},
        {{"-m", "../etc/passwd"}, "../etc/passwd"},
        {{"--simulate", "0"}, "--simulate"},
        {{"-d", "-1"}, "-1"},
    };
    for (const auto& c : cases) {
        RecordOptions o;
        std::string message;
        EXPECT_EQ(Parse(c.args, o, &message), CCommandLine::Result::Error) << c.args[0];
        EXPECT_NE(message.find(c.mentions), std::string::npos) << "\"" << message << "\" lacks " << c.mentions;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

TEST(CommandLine, HelpNamesEveryOption) {
    RecordOptions o;
    std::string message;
    std::vector<std::string> args = {"halyard-record", "--help"};
    std::vector<const char*> argv = {args[0].c_str(), args[1].c_str()};
    CCommandLine commandLine;
    ASSERT_EQ(commandLine.Parse(2, argv.data(), o), CCommandLine::Result::Help);
    for (const char* option :
         {"--camera", "--port", "--simulate", "--model", "--user", "--password-file", "--ask-password", "--resolution",
          "--interval", "--fps", "--quality", "--standard", "--interface", "--duration", "--output-dir", "--format",
          "--input", "--output", "--library", "--first-picture-timeout", "--verbose", "Exit status"}) {
        EXPECT_NE(commandLine.HelpText().find(option), std::string::npos) << option;
    }
}
