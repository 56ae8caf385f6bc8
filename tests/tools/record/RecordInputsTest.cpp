// What the recorder reads: picture headers, the simulator's stamp, its
// command line, arrival times for losses, and the driver's messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/record/CCommandLine.h"
#include "tools/record/CJpegHeaderReader.h"
#include "tools/record/CLossCounter.h"
#include "tools/record/CMessageClassifier.h"
#include "tools/record/CSimulatorStamp.h"

using namespace kestrel::record;

namespace {

// A picture's headers as the simulator and most cameras write them.
const std::vector<uint8_t> kHeaders = {
    0xFF, 0xD8,                                                  //  0 SOI
    0xFF, 0xE0, 0x00, 0x10,                                      //  2 APP0, length 16
    'J',  'F',  'I',  'F',  0x00, 0x01, 0x01, 0x00,              //  6 JFIF ...
    0x00, 0x01, 0x00, 0x01, 0x00, 0x00,                          // 14 ... density, no thumbnail
    0xFF, 0xFE, 0x00, 0x0E,                                      // 20 COM, length 14
    'C',  'S',  'I',  'M',  0x01, 0x00, 0x00, 0x03,              // 24 magic, version 1, flags, ring 3
    0x00, 0x00, 0x01, 0x02,                                      // 32 frame number 258
    0xFF, 0xDB, 0x00, 0x04, 0x00, 0x01,                          // 36 DQT, length 4 (content cut short on purpose)
    0xFF, 0xC0, 0x00, 0x0B, 0x08,                                // 42 SOF0, length 11, precision 8
    0x01, 0x20,                                                  // 47 height 288
    0x01, 0x60,                                                  // 49 width 352
    0x01, 0x01, 0x11, 0x00,                                      // 51 one component
    0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00,  // 55 SOS
    0x12, 0x34,                                                  // 65 entropy-coded data
    0xFF, 0xD9,                                                  // 67 EOI
};

}  // namespace

// Every cut of the headers: no read past the data, and a size only when the
// whole frame header is inside.
TEST(JpegHeaderReader, CompletePictureAndEveryTruncation) {
    for (size_t cut = 0; cut <= kHeaders.size(); ++cut) {
        const std::vector<uint8_t> part(kHeaders.begin(), kHeaders.begin() + static_cast<long>(cut));
        JpegInfo info;
        EXPECT_EQ(CJpegHeaderReader::Inspect(part.data(), part.size(), info), cut >= 55) << "cut at " << cut;
        if (info.comment != nullptr) {
            EXPECT_GE(cut, 36u) << "comment reported before its end at cut " << cut;
            EXPECT_LE(info.comment + info.commentSize, part.data() + part.size());
        }
    }
    JpegInfo info;
    ASSERT_TRUE(CJpegHeaderReader::Inspect(kHeaders.data(), kHeaders.size(), info));
    EXPECT_EQ(info.width * 1000 + info.height, 352288);
    EXPECT_EQ(info.comment, kHeaders.data() + 24);
    EXPECT_EQ(info.commentSize, 12u);
    uint64_t number = 0;
    ASSERT_TRUE(CSimulatorStamp::Read(info.comment, info.commentSize, number));
    EXPECT_EQ(number, 258u);
}

TEST(JpegHeaderReader, DamagedHeaders) {
    const std::vector<uint8_t> sof = {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x20, 0x01, 0x01, 0x11, 0x00};
    auto with = [&sof](std::vector<uint8_t> head) { return head.insert(head.end(), sof.begin(), sof.end()), head; };
    // clang-format off
    const std::vector<std::pair<int, std::vector<uint8_t>>> cases = {  // width found (0: none), bytes
        {0, sof},                                                      // no SOI
        {0, with({0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02})},               // SOI, scan before the frame header
        {0, with({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x00})},               // SOI, APP1 of length 0
        {0, {0xFF, 0xD8, 0xFF, 0xE1, 0x7F, 0xFF, 0x00}},               // SOI, APP1 claims 32767 bytes
        {0, {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x05, 0x08, 0x00, 0x10}},   // SOI, SOF0 of length 5: no width
        {0, with({0xFF, 0xD8, 0x00, 0x00})},                           // SOI, garbage where a marker belongs
        {32, {0xFF, 0xD8, 0xFF, 0xFF, 0xFF,                            // SOI, fill bytes
              0xFF, 0xC2, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x20, 0x01, 0x01, 0x11, 0x00}},  // SOF2 32x16
        {64, {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x07, 0x00, 0x10, 0x00, 0x20, 0x01,  // SOI, DHT with size-like bytes
              0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x40, 0x01, 0x01, 0x11, 0x00}},  // SOF0 64x8
    };
    // clang-format on
    for (size_t i = 0; i < cases.size(); ++i) {
        JpegInfo info;
        const auto& [width, bytes] = cases[i];
        EXPECT_EQ(CJpegHeaderReader::Inspect(bytes.data(), bytes.size(), info), width != 0) << "row " << i;
        EXPECT_EQ(info.width, width) << "row " << i;
    }
    JpegInfo info;
    EXPECT_FALSE(CJpegHeaderReader::Inspect(nullptr, 10, info));
}

TEST(SimulatorStamp, OnlyTheSimulatorsCommentCounts) {
    struct Case {
        const char* name;
        std::vector<uint8_t> comment;
        bool read;
        uint64_t number;
    };
    const std::vector<Case> cases = {
        {"stamp", {'C', 'S', 'I', 'M', 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFE}, true, 0xFFFFFFFEu},
        {"stamp with more fields", {'C', 'S', 'I', 'M', 1, 1, 0, 9, 0, 0, 0, 7, 0, 0, 0x10, 0}, true, 7},
        {"one byte short", {'C', 'S', 'I', 'M', 1, 0, 0, 0, 0, 0, 0}, false, 0},
        {"other layout version", {'C', 'S', 'I', 'M', 2, 0, 0, 0, 0, 0, 0, 1}, false, 0},
        {"someone else's comment", {'H', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'}, false, 0},
    };
    for (const auto& c : cases) {
        uint64_t number = 0;
        EXPECT_EQ(CSimulatorStamp::Read(c.comment.data(), c.comment.size(), number), c.read) << c.name;
        EXPECT_EQ(number, c.number) << c.name;
    }
    uint64_t number = 0;
    EXPECT_FALSE(CSimulatorStamp::Read(nullptr, 12, number));
}

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

TEST(CommandLine, EveryOptionReachesTheOptions) {
    RecordOptions o;
    ASSERT_EQ(Parse({"--camera",
                     "192.168.0.90",
                     "--camera",
                     "cam.local:8080",
                     "--port",
                     "81",
                     "-m",
                     "SNC-DF40P",
                     "-u",
                     "admin",
                     "--password-file",
                     "/run/pw",
                     "--resolution",
                     "4CIF",
                     "--fps",
                     "30",
                     "--quality",
                     "80",
                     "--standard",
                     "ntsc",
                     "--interface",
                     "ip",
                     "-d",
                     "12.5",
                     "-o",
                     "out/",
                     "--format",
                     "avi,jpeg",
                     "--segment",
                     "60",
                     "--max-disk",
                     "1.5G",
                     "--keep",
                     "7",
                     "--input",
                     "--output",
                     "2=on",
                     "--output",
                     "1=OFF",
                     "--library",
                     "/opt/libHalyard.so",
                     "--first-picture-timeout",
                     "3",
                     "--retry-max",
                     "30",
                     "--https",
                     "--insecure",
                     "--verbose"},
                    o),
              CCommandLine::Result::Run);
    ASSERT_EQ(o.cameras.size(), 2u);
    EXPECT_EQ(o.cameras[0].address + ":" + std::to_string(o.cameras[0].port), "192.168.0.90:81");  // --port: default
    EXPECT_EQ(o.cameras[1].address + ":" + std::to_string(o.cameras[1].port), "cam.local:8080");
    EXPECT_EQ(o.simulated, 0u);
    EXPECT_EQ(o.model + o.user + o.passwordFile + o.outputDir + o.library,
              "SNC-DF40Padmin/run/pwout//opt/libHalyard.so");
    EXPECT_EQ(std::vector<int>({o.resolution, static_cast<int>(o.intervalMs), o.quality, o.standard}),
              std::vector<int>({4, 33, 80, 1}));
    EXPECT_EQ(o.api, DriverInterface::IP);
    EXPECT_EQ(o.durationS, 12.5);
    EXPECT_TRUE(o.writeJpeg && o.video == VideoFormat::Avi && o.showInputs && o.verbose);
    EXPECT_EQ(o.segmentS, 60u);
    EXPECT_EQ(o.maxDiskBytes, 3ull << 29);
    EXPECT_EQ(o.keepDays, 7.0);
    ASSERT_EQ(o.outputs.size(), 2u);  // 0-based outputs
    EXPECT_TRUE(o.outputs[0].index == 1 && o.outputs[0].on && o.outputs[1].index == 0 && !o.outputs[1].on);
    EXPECT_EQ(o.firstPictureTimeoutS, 3u);
    EXPECT_EQ(o.retryMaxS, 30u);
    EXPECT_TRUE(o.https && o.insecure);
    EXPECT_EQ(o.logLevel, 100);  // --verbose shows debug messages
}

// Quiet, log level and HTTPS decide together what is shown and which port
// a camera without one gets.
TEST(CommandLine, MessagesAndPorts) {
    struct Case {
        std::vector<std::string> args;
        int logLevel;
        bool quiet;
        uint16_t port;
    };
    const std::vector<Case> cases = {
        {{"--camera", "cam"}, 3, false, 80},
        {{"--camera", "cam", "-q"}, 2, true, 80},
        {{"--camera", "cam", "--quiet", "--log-level", "error"}, 1, true, 80},
        {{"--camera", "cam", "--log-level", "debug"}, 100, false, 80},
        {{"--camera", "cam", "--https"}, 3, false, 443},
        {{"--camera", "cam", "--https", "--port", "8443"}, 3, false, 8443},
        {{"--camera", "cam:8080", "--https"}, 3, false, 8080},
    };
    for (const auto& c : cases) {
        RecordOptions o;
        ASSERT_EQ(Parse(c.args, o), CCommandLine::Result::Run) << c.args.back();
        EXPECT_EQ(o.logLevel, c.logLevel) << c.args.back();
        EXPECT_EQ(o.quiet, c.quiet) << c.args.back();
        ASSERT_EQ(o.cameras.size(), 1u);
        EXPECT_EQ(o.cameras[0].port, c.port) << c.args.back();
    }
    RecordOptions o;
    CCommandLine commandLine;
    const char* version[] = {"halyard-record", "--version"};
    ASSERT_EQ(commandLine.Parse(2, version, o), CCommandLine::Result::Help);
    EXPECT_EQ(commandLine.HelpText().rfind("halyard-record ", 0), 0u);
    EXPECT_EQ(commandLine.HelpText().find("--camera"), std::string::npos);
}

TEST(CommandLine, IntervalsAndSimulatedCameras) {
    struct Case {
        std::vector<std::string> args;
        uint32_t interval, simulated;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{}, 200, 1},           {{"--interval", "40"}, 40, 1},  {{"--fps", "25"}, 40, 1},         {{"--fps", "0.5"}, 2000, 1},
        {{"--fps", "6"}, 166, 1}, {{"--simulate", "16"}, 200, 16},
    };
    // clang-format on
    for (const auto& c : cases) {
        RecordOptions o;
        ASSERT_EQ(Parse(c.args, o), CCommandLine::Result::Run);
        EXPECT_EQ(o.intervalMs, c.interval) << c.args.size();
        EXPECT_EQ(o.simulated, c.simulated);
        EXPECT_EQ(o.api, DriverInterface::Legacy);
    }
}

TEST(CommandLine, LiveViewAddress) {
    struct Case {
        std::vector<std::string> args;
        bool http;
        std::string address;
        uint16_t port;
    };
    const std::vector<Case> cases = {
        {{}, false, "127.0.0.1", 8080},
        {{"--http"}, true, "127.0.0.1", 8080},
        {{"--http", "-d", "5"}, true, "127.0.0.1", 8080},  // no value: the next option is not taken as one
        {{"--http", "127.0.0.2:9000"}, true, "127.0.0.2", 9000},
        {{"--http", ":0"}, true, "127.0.0.1", 0},
        {{"--http", "8081"}, true, "127.0.0.1", 8081},
        {{"--http", "localhost:80"}, true, "localhost", 80},
        {{"--http", "0.0.0.0:8443", "--http-password-file", "pw"}, true, "0.0.0.0", 8443},
    };
    for (const auto& c : cases) {
        RecordOptions o;
        std::string message;
        ASSERT_EQ(Parse(c.args, o, &message), CCommandLine::Result::Run) << message;
        EXPECT_EQ(o.live, c.http);
        EXPECT_EQ(o.liveAddress + ":" + std::to_string(o.livePort), c.address + ":" + std::to_string(c.port));
    }
}

// Each wrong input is one line naming what is wrong.
TEST(CommandLine, WrongInputsAreRefused) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "--bogus"},
        {{"--password", "secret"}, "--password"},  // never on the command line
        {{"--camera", "10.0.0.1:0"}, "10.0.0.1:0"},
        {{"--camera", "10.0.0.1:70000"}, "10.0.0.1:70000"},
        {{"--camera", ":80"}, ":80"},
        {{"--camera", "http://cam/"}, "http://cam/"},
        {{"--camera", "10.0.0.1", "--simulate", "2"}, "--simulate"},
        {{"--config", "r.toml", "--camera", "10.0.0.1"}, "--config"},
        {{"--resolution", "8cif"}, "8cif"},
        {{"--quality", "101"}, "101"},
        {{"--interval", "40", "--fps", "25"}, "--fps"},
        {{"-u", "admin"}, "--password-file"},  // never an empty password sent silently
        {{"--log-level", "loud"}, "loud"},
        // Letters an ffmpeg user types with another meaning are no options here.
        {{"-c", "10.0.0.1"}, "-c"},
        {{"-f", "avi"}, "-f"},
        {{"-r", "25"}, "-r"},
        {{"-i", "40"}, "-i"},
        {{"-t", "10"}, "-t"},
        {{"-s", "cif"}, "-s"},
        {{"-v"}, "-v"},
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
        {{"--http", "0.0.0.0:8080"}, "--http-password-file"},  // beyond loopback only with a password
        {{"--http", "192.168.0.2:80"}, "192.168.0.2"},
        {{"--http", "127.0.0.1:99999"}, "99999"},
        {{"--http", "web"}, "web"},
        {{"--http", "[::1]:80"}, "[::1]:80"},
        {{"--http-password-file", "pw"}, "--http"},
    };
    for (const auto& [args, mentions] : cases) {
        RecordOptions o;
        std::string message;
        EXPECT_EQ(Parse(args, o, &message), CCommandLine::Result::Error) << args[0];
        EXPECT_NE(message.find(mentions), std::string::npos) << "\"" << message << "\" lacks " << mentions;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

namespace {

struct Arrival {
    int64_t ms;  // arrival time
    bool hasNumber;
    uint64_t number;
    uint64_t lost;  // expected count before this picture
};

void CheckLosses(const char* name, uint32_t intervalMs, const std::vector<Arrival>& arrivals, uint64_t total) {
    CLossCounter counter(intervalMs);
    for (size_t i = 0; i < arrivals.size(); ++i) {
        const auto& a = arrivals[i];
        EXPECT_EQ(counter.OnPicture(a.ms * 1000, a.hasNumber, a.number), a.lost) << name << " picture " << i;
    }
    EXPECT_EQ(counter.Lost(), total) << name;
}

}  // namespace

TEST(LossCounter, ByPictureNumberByTimingAndSwitchingBetween) {
    CheckLosses("two missing", 40, {{0, true, 10, 0}, {40, true, 11, 0}, {160, true, 14, 2}}, 2);
    CheckLosses("late but complete", 40, {{0, true, 1, 0}, {1000, true, 2, 0}}, 0);  // numbers beat timing
    CheckLosses("restart", 40, {{0, true, 500, 0}, {40, true, 501, 0}, {80, true, 0, 0}, {120, true, 1, 0}}, 0);
    CheckLosses("steady", 40, {{0, false, 0, 0}, {40, false, 0, 0}, {80, false, 0, 0}, {121, false, 0, 0}}, 0);
    CheckLosses("one gap of three", 40, {{0, false, 0, 0}, {40, false, 0, 0}, {200, false, 0, 3}}, 3);
    CheckLosses("jitter below 1.5 intervals", 100, {{0, false, 0, 0}, {140, false, 0, 0}, {200, false, 0, 0}}, 0);
    // A camera slower than asked: after the first few, its own interval counts.
    std::vector<Arrival> slower = {{0, false, 0, 0}, {100, false, 0, 2}, {200, false, 0, 2}, {300, false, 0, 2}};
    for (int i = 4; i <= 40; ++i) slower.push_back({i * 100, false, 0, 0});
    CheckLosses("camera slower than asked", 40, slower, 6);
    // A break of a few seconds counts its pictures but leaves the rate alone.
    std::vector<Arrival> pause;
    for (int i = 0; i < 10; ++i) pause.push_back({i * 40, false, 0, 0});
    pause.insert(pause.end(), {{2360, false, 0, 49}, {2400, false, 0, 0}, {2520, false, 0, 2}});
    CheckLosses("break", 40, pause, 51);
    CheckLosses("number then none", 40, {{0, true, 5, 0}, {400, false, 0, 0}, {440, false, 0, 0}}, 0);
    CheckLosses("none then number", 40, {{0, false, 0, 0}, {400, true, 9, 0}, {440, true, 10, 0}}, 0);
}

// Driver texts the recorder runs do not produce; the ones they do (model
// file, unreachable, credentials) are checked there with their exit codes.
TEST(MessageClassifier, DriverTexts) {
    const std::vector<std::pair<std::string, CameraProblem>> cases = {
        {"kestrel::CIPCapture::Open: IP Server Type hasn't been set", CameraProblem::ModelFile},
        {"kestrel::CSonyMJPEGChannelRTP::StartJPEGStream: The \"mjpeg?UdpMode=unicast&UdpPort=3556\" URL was not "
         "found on device 127.0.0.1:8080",
         CameraProblem::NotSupported},
        {"kestrel::CSonyMJPEGChannelRTP::UpdateCameraParameters: 127.0.0.1:8080 is unable to process "
         "\"command/camera.cgi?ImageCodec=jpeg\" request. HTTP status code is 500",
         CameraProblem::HttpStatus},
        {"kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1", CameraProblem::None},
        {"DRIVER IS OPENED (name: Halyard, device model: SNC-RZ50P, address: 127.0.0.1:80)", CameraProblem::None},
        {"", CameraProblem::None},
    };
    for (const auto& [text, problem] : cases) EXPECT_EQ(CMessageClassifier::Classify(text), problem) << text;
    // The HTTP client's error number tells a silent camera from a missing one.
    const std::string inaccessible =
        "kestrel::CSonyMJPEGChannelRTP::SetCameraVideoMode: 10.0.0.9:80 is unable to process "
        "\"/command/system.cgi?VideoOutMode=PAL\" request. Device is inaccessible ";
    // clang-format off
    const std::vector<std::pair<std::string, CameraProblem>> codes = {
        {"(12002)", CameraProblem::NoAnswer},     {"(12175)", CameraProblem::NoAnswer},
        {"(12029)", CameraProblem::Unreachable},
        {"(12007)", CameraProblem::Unreachable},  {"(12030)", CameraProblem::Unreachable},
        {"(12017)", CameraProblem::None},         // cancelled by our own stop
        {"(120021)", CameraProblem::Unreachable}, {"(12002", CameraProblem::Unreachable},
        {"", CameraProblem::Unreachable},
    };
    // clang-format on
    for (const auto& [code, problem] : codes) {
        EXPECT_EQ(CMessageClassifier::Classify(inaccessible + code), problem) << code;
    }
    EXPECT_EQ(static_cast<int>(CMessageClassifier::ExitFor(CameraProblem::NoAnswer)), 9);
    EXPECT_EQ(static_cast<int>(CMessageClassifier::ExitFor(CameraProblem::NotSupported)), 1);
    EXPECT_EQ(static_cast<int>(CMessageClassifier::ExitFor(CameraProblem::None)), 0);
}

// Driver messages lose the function that wrote them; anything else stays.
TEST(MessageClassifier, OriginIsDroppedOnlyWhereItIsOne) {
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"kestrel::CBaseCameraChannel::SetCameraState: Camera 10.0.0.9 is online", "Camera 10.0.0.9 is online"},
        {"kestrel::CIPCapture::Open: Unable to read configuration from X.xml file",
         "Unable to read configuration from X.xml file"},
        {"DRIVER IS OPENED (name: Halyard, device model: SNC-RZ50P)", "DRIVER IS OPENED (name: Halyard, device model: SNC-RZ50P)"},
        {"Unhandled exception in method kestrel::A::B: x", "Unhandled exception in method kestrel::A::B: x"},
        {"plain: text", "plain: text"},
        {"", ""},
    };
    // clang-format on
    for (const auto& [in, out] : cases) EXPECT_EQ(CMessageClassifier::WithoutOrigin(in), out) << in;
}
