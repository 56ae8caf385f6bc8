#include "tools/record/CMessageClassifier.h"

#include <cctype>
#include <cstring>

namespace kestrel::record {

namespace {

// "... Device is inaccessible (12002)": the number is the HTTP client's
// error of its last try. A time-out means the camera took the connection and
// kept silent; so does a TLS failure, which the driver reports when its
// HTTPS try follows a silent HTTP one (a TLS failure needs a connection).
CameraProblem InaccessibleCause(const std::string& text, size_t from) {
    constexpr unsigned long kTimeout = 12002;
    constexpr unsigned long kTlsFailure = 12175;
    constexpr unsigned long kCancelled = 12017;  // our own stop, not the camera's fault
    const auto open = text.find('(', from);
    if (open == std::string::npos) return CameraProblem::Unreachable;
    unsigned long code = 0;
    size_t i = open + 1;
    for (; i < text.size() && i < open + 11 && text[i] >= '0' && text[i] <= '9'; ++i) {
        code = code * 10 + static_cast<unsigned long>(text[i] - '0');
    }
    if (i >= text.size() || text[i] != ')') return CameraProblem::Unreachable;
    if (code == kTimeout || code == kTlsFailure) return CameraProblem::NoAnswer;
    if (code == kCancelled) return CameraProblem::None;
    return CameraProblem::Unreachable;
}

}  // namespace

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
        const auto at = text.find(rule.needle);
        if (at == std::string::npos) continue;
        if (rule.problem == CameraProblem::Unreachable) return InaccessibleCause(text, at + std::strlen(rule.needle));
        return rule.problem;
    }
    return CameraProblem::None;
}

ExitCode CMessageClassifier::ExitFor(CameraProblem problem) {
    switch (problem) {
    case CameraProblem::None:
        return ExitOk;
    case CameraProblem::Unreachable:
        return ExitUnreachable;
    case CameraProblem::NoAnswer:
        return ExitNoAnswer;
    case CameraProblem::Credentials:
        return ExitCredentials;
    case CameraProblem::ModelFile:
        return ExitModel;
    case CameraProblem::NoPicture:
        return ExitNoPicture;
    case CameraProblem::WriteFailed:
        return ExitWrite;
    case CameraProblem::NotSupported:
    case CameraProblem::HttpStatus:
    case CameraProblem::StartRefused:
    case CameraProblem::OpenFailed:
        return ExitFailure;
    }
    return ExitFailure;
}

const char* CMessageClassifier::Name(CameraProblem problem) {
    switch (problem) {
    case CameraProblem::None:
        return "none";
    case CameraProblem::Unreachable:
        return "unreachable";
    case CameraProblem::NoAnswer:
        return "no-answer";
    case CameraProblem::Credentials:
        return "credentials";
    case CameraProblem::ModelFile:
        return "model-file";
    case CameraProblem::NotSupported:
        return "not-supported";
    case CameraProblem::HttpStatus:
        return "http-status";
    case CameraProblem::NoPicture:
        return "no-picture";
    case CameraProblem::StartRefused:
        return "start-refused";
    case CameraProblem::OpenFailed:
        return "open-failed";
    case CameraProblem::WriteFailed:
        return "write-failed";
    }
    return "unknown";
}

}  // namespace kestrel::record

namespace kestrel::record {

std::string CMessageClassifier::WithoutOrigin(const std::string& text) {
    // "kestrel::CClass::Method: text": a word of letters, digits, '_' and
    // "::" before ": ".
    const auto end = text.find(": ");
    if (end == std::string::npos || text.find("::") >= end) return text;
    for (size_t i = 0; i < end; ++i) {
        const char c = text[i];
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':')) return text;
    }
    return text.substr(end + 2);
}

}  // namespace kestrel::record
