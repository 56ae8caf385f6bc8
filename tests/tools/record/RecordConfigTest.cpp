// The configuration file: defaults at the top reach every camera, a camera
// overrides them, and each wrong file is refused naming its line and key.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tools/record/CConfigFile.h"

using namespace kestrel::record;

namespace {

bool Parse(const std::string& text, std::vector<CameraSetup>& cameras, std::string& error, CConfigFile* out = nullptr) {
    CConfigFile config;
    const bool ok = config.Parse(text, "rec.toml", RecordOptions{}, cameras);
    error = config.Error();
    if (out != nullptr) *out = config;
    return ok;
}

}  // namespace

TEST(ConfigFile, DefaultsReachEveryCameraAndCamerasOverrideThem) {
    char pattern[] = "/tmp/halyard-config-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::ofstream(dir + "/pw") << "S3cret\n";
    const std::string text = R"(# two cameras
model = "SNC-CS50P"
user = "admin"
password_file = ")" + dir + R"(/pw"
fps = 10
output = "/srv/rec"
retry_max = 30
max_disk = "2G"
keep_days = 7
segment = 300

[[camera]]
address = "192.168.0.90"

[[camera]]
name = "gate"
address = "gate.local:8080"
interface = "ip"
resolution = "4cif"
interval_ms = 40
quality = 80
inputs = true
outputs = ["1=on"]
format = "both"
output = "/srv/gate"
model = "SNC-RZ50P"

[[camera]]
name = "yard"
address = "10.0.0.3"
https = true
)";
    std::vector<CameraSetup> cameras;
    std::string error;
    CConfigFile config;
    ASSERT_TRUE(Parse(text, cameras, error, &config)) << error;
    ASSERT_EQ(cameras.size(), 3u);
    EXPECT_EQ(config.OutputRoot(), "/srv/rec");
    const auto& first = cameras[0];
    EXPECT_EQ(first.name + " " + first.target.address + ":" + std::to_string(first.target.port),
              "camera1 192.168.0.90:80");
    EXPECT_EQ(first.options.model + " " + first.options.user + " " + first.options.password, "SNC-CS50P admin S3cret");
    EXPECT_EQ(first.options.intervalMs, 100u);
    EXPECT_EQ(first.options.retryMaxS, 30u);
    EXPECT_EQ(first.options.maxDiskBytes, 2ull << 30);
    EXPECT_EQ(first.options.keepDays, 7.0);
    EXPECT_EQ(first.options.segmentS, 300u);
    EXPECT_EQ(first.folder, "");
    const auto& gate = cameras[1];
    EXPECT_EQ(gate.name + " " + gate.target.address + ":" + std::to_string(gate.target.port), "gate gate.local:8080");
    EXPECT_EQ(gate.options.api, DriverInterface::IP);
    EXPECT_EQ(gate.options.resolution, 4);
    EXPECT_EQ(gate.options.intervalMs, 40u);
    EXPECT_EQ(gate.options.quality, 80);
    EXPECT_TRUE(gate.options.showInputs && gate.options.writeJpeg && gate.options.video == VideoFormat::Matroska);
    ASSERT_EQ(gate.options.outputs.size(), 1u);
    EXPECT_TRUE(gate.options.outputs[0].index == 0 && gate.options.outputs[0].on);
    EXPECT_EQ(gate.folder, "/srv/gate");
    EXPECT_EQ(gate.options.model, "SNC-RZ50P");
    EXPECT_EQ(cameras[2].target.port, 443);  // https without a port
    EXPECT_NE(first.options, gate.options);
    EXPECT_EQ(cameras[0].options, cameras[0].options);

    // The same file read again gives equal cameras: a reload leaves them be.
    std::vector<CameraSetup> again;
    ASSERT_TRUE(Parse(text, again, error)) << error;
    EXPECT_TRUE(again == cameras);
    ::unlink((dir + "/pw").c_str());
    ::rmdir(dir.c_str());
}

TEST(ConfigFile, EachWrongFileNamesItsLineAndKey) {
    const std::string camera = "[[camera]]\naddress = \"10.0.0.1\"\n";
    struct Case {
        const char* name;
        std::string text;
        std::string error;  // start of the message
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"unknown key at the top", "modle = \"SNC-RZ50P\"\n" + camera, "rec.toml:1: modle: unknown key"},
        {"unknown key in a camera", camera + "fsp = 10\n", "rec.toml:3: fsp: unknown key"},
        {"text for a number", "quality = \"high\"\n" + camera, "rec.toml:1: quality: expected a whole number"},
        {"number out of range", camera + "quality = 101\n", "rec.toml:3: quality: expected a whole number from 0"},
        {"resolution", camera + "resolution = \"8cif\"\n", "rec.toml:3: resolution: \"8cif\""},
        {"interface", "interface = \"onvif\"\n" + camera, "rec.toml:1: interface: \"onvif\""},
        {"fps zero", camera + "fps = 0\n", "rec.toml:3: fps: expected"},
        {"flag as text", camera + "https = \"yes\"\n", "rec.toml:3: https: expected true or false"},
        {"output list", camera + "outputs = [\"1=blink\"]\n", "rec.toml:3: outputs:"},
        {"size", "max_disk = \"lots\"\n" + camera, "rec.toml:1: max_disk: expected a size"},
        {"address at the top", "address = \"10.0.0.1\"\n" + camera, "rec.toml:1: address: belongs in a [[camera]]"},
        {"library in a camera", camera + "library = \"/x.so\"\n", "rec.toml:3: library: belongs at the top"},
        {"bad address", "[[camera]]\naddress = \"http://x/\"\n", "rec.toml:2: address:"},
        {"bad name", camera + "name = \"../etc\"\n", "rec.toml:3: name: \"../etc\""},
        {"no address", "[[camera]]\nname = \"a\"\n", "rec.toml:1: camera: address missing"},
        {"name twice", camera + "name = \"a\"\n" + camera + "name = \"a\"\n", "rec.toml:4: name: \"a\" is used twice"},
        {"user without password", "user = \"admin\"\n" + camera, "rec.toml:2: user: camera1 has a user but no"},
        {"password file missing", camera + "user = \"a\"\npassword_file = \"/nonexistent/pw\"\n", "rec.toml:1: password_file:"},
        {"no camera", "model = \"SNC-RZ50P\"\n", "rec.toml:1: camera: no [[camera]]"},
        {"camera not a table", "camera = 3\n", "rec.toml:1: camera: expected [[camera]]"},
        {"syntax", camera + "quality = \n", "rec.toml:3: "},
    };
    // clang-format on
    for (const auto& c : cases) {
        std::vector<CameraSetup> cameras;
        std::string error;
        EXPECT_FALSE(Parse(c.text, cameras, error)) << c.name;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.name << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.name << ": " << error;
    }
}
