#pragma once
#include <string>

#include "tools/record/ExitCode.h"

namespace kestrel::record {

// What a driver debug message says about a camera that has not yet sent a
// picture. The driver keeps retrying on its own; the recorder uses these to
// give up early with a message that says what to check.
enum class CameraProblem {
    None,
    Unreachable,     // HTTP request could not be sent
    Credentials,     // 401
    ModelFile,       // model file missing or unusable
    NotSupported,    // 404: not a camera of this family
    HttpStatus,      // any other HTTP error
    NoPicture,       // first-picture time limit passed
    StartRefused,    // StartChannel / StartVideo said no
    OpenFailed,      // Open / Initialize failed for another reason
    WriteFailed,     // the recording could not be written
};

class CMessageClassifier {
public:
    static CameraProblem Classify(const std::string& text);
    static ExitCode ExitFor(CameraProblem problem);
    static const char* Name(CameraProblem problem);
};

}  // namespace kestrel::record
