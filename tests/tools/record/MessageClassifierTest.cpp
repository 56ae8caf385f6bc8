#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/record/CMessageClassifier.h"

using kestrel::record::CameraProblem;
using kestrel::record::CMessageClassifier;

// The driver's texts as they reach the host, and what the recorder makes of them.
TEST(MessageClassifier, DriverTexts) {
    struct Case {
        std::string text;
        CameraProblem problem;
        int exit;
    };
    const std::vector<Case> cases = {
        {"kestrel::CIPCapture::Open: Unable to read configuration from SNC-NONE.xml file", CameraProblem::ModelFile, 6},
        {"kestrel::CIPCapture::Open: IP Server Type hasn't been set", CameraProblem::ModelFile, 6},
        {"kestrel::CSonyMJPEGChannelRTP::SetCameraVideoMode: 127.0.0.1:1 is unable to process "
         "\"command/camera.cgi?VideoOutMode=PAL\" request. Device is inaccessible (12029)",
         CameraProblem::Unreachable, 4},
        {"kestrel::CSonyMJPEGChannelRTP::SetCameraVideoMode: Device 127.0.0.1:8080 is unable to process "
         "\"command/camera.cgi?VideoOutMode=PAL\" request: credentials are invalid",
         CameraProblem::Credentials, 5},
        {"kestrel::CSonyMJPEGChannelRTP::StartJPEGStream: The \"mjpeg?UdpMode=unicast&UdpPort=3556\" URL was not "
         "found on device 127.0.0.1:8080",
         CameraProblem::NotSupported, 1},
        {"kestrel::CSonyMJPEGChannelRTP::UpdateCameraParameters: 127.0.0.1:8080 is unable to process "
         "\"command/camera.cgi?ImageCodec=jpeg\" request. HTTP status code is 500",
         CameraProblem::HttpStatus, 1},
        {"kestrel::CBaseCameraChannel::SetCameraState: Camera 127.0.0.1 is online", CameraProblem::None, 0},
        {"kestrel::CBaseCameraChannel::SetCameraState: Signal was lost for camera 127.0.0.1", CameraProblem::None, 0},
        {"DRIVER IS OPENED (name: Halyard, device model: SNC-RZ50P, address: 127.0.0.1:80)", CameraProblem::None, 0},
        {"", CameraProblem::None, 0},
    };
    for (const auto& c : cases) {
        const CameraProblem problem = CMessageClassifier::Classify(c.text);
        EXPECT_EQ(problem, c.problem) << c.text;
        EXPECT_EQ(static_cast<int>(CMessageClassifier::ExitFor(problem)), c.exit) << c.text;
    }
}

TEST(MessageClassifier, EveryProblemHasADistinctName) {
    const CameraProblem all[] = {CameraProblem::None,        CameraProblem::Unreachable, CameraProblem::Credentials,
                                 CameraProblem::ModelFile,   CameraProblem::NotSupported, CameraProblem::HttpStatus,
                                 CameraProblem::NoPicture,   CameraProblem::StartRefused, CameraProblem::OpenFailed,
                                 CameraProblem::WriteFailed};
    std::vector<std::string> names;
    for (auto p : all) {
        const std::string name = CMessageClassifier::Name(p);
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 0) << name;
        names.push_back(name);
    }
    EXPECT_EQ(CMessageClassifier::ExitFor(CameraProblem::NoPicture), kestrel::record::ExitNoPicture);
    EXPECT_EQ(CMessageClassifier::ExitFor(CameraProblem::WriteFailed), kestrel::record::ExitWrite);
}
