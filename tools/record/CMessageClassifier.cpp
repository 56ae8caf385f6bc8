#include "tools/record/CMessageClassifier.h"

namespace kestrel::record {

CameraProblem CMessageClassifier::Classify(const std::string& text) {
    struct Rule {
        const char* needle;
        CameraProblem problem;
    };
    static constexpr Rule kRules[] = {
        {"Unable to read configuration from ", CameraProblem::ModelFile},
        {"IP Server Type hasn't been set", CameraProblem::ModelFile},
        {"credentials are invalid", CameraProblem::Credentials},
        {"Device is inaccessible", CameraProblem::Unreachable},
        {"URL was not found on device", CameraProblem::NotSupported},
        {"HTTP status code is ", CameraProblem::HttpStatus},
    };
    for (const auto& rule : kRules) {
        if (text.find(rule.needle) != std::string::npos) return rule.problem;
    }
    return CameraProblem::None;
}

ExitCode CMessageClassifier::ExitFor(CameraProblem problem) {
    switch (problem) {
        case CameraProblem::None: return ExitOk;
        case CameraProblem::Unreachable: return ExitUnreachable;
        case CameraProblem::Credentials: return ExitCredentials;
        case CameraProblem::ModelFile: return ExitModel;
        case CameraProblem::NoPicture: return ExitNoPicture;
        case CameraProblem::WriteFailed: return ExitWrite;
        case CameraProblem::NotSupported:
        case CameraProblem::HttpStatus:
        case CameraProblem::StartRefused:
        case CameraProblem::OpenFailed: return ExitFailure;
    }
    return ExitFailure;
}

const char* CMessageClassifier::Name(CameraProblem problem) {
    switch (problem) {
        case CameraProblem::None: return "none";
        case CameraProblem::Unreachable: return "unreachable";
        case CameraProblem::Credentials: return "credentials";
        case CameraProblem::ModelFile: return "model-file";
        case CameraProblem::NotSupported: return "not-supported";
        case CameraProblem::HttpStatus: return "http-status";
        case CameraProblem::NoPicture: return "no-picture";
        case CameraProblem::StartRefused: return "start-refused";
        case CameraProblem::OpenFailed: return "open-failed";
        case CameraProblem::WriteFailed: return "write-failed";
    }
    return "unknown";
}

}  // namespace kestrel::record
