#pragma once
#include <string>

#include "tools/record/ExitCode.h"

namespace kestrel::record {

// What a driver debug message says about a camera that has not yet sent a
// picture: the cause the recorder reports for a camera that recorded nothing.
enum class CameraProblem {
    None,
    Unreachable,   // no connection: refused, no route, name unknown
    NoAnswer,      // connected, but no answer within the request time limit
    Credentials,   // 401
    ModelFile,     // model file missing or unusable
    NotSupported,  // 404: not a camera of this family
    HttpStatus,    // any other HTTP error
    NoPicture,     // first-picture time limit passed
    StartRefused,  // StartChannel / StartVideo said no
    OpenFailed,    // Open / Initialize failed for another reason
    WriteFailed,   // the recording could not be written
};

class CMessageClassifier {
public:
    static CameraProblem Classify(const std::string& text);
    static ExitCode ExitFor(CameraProblem problem);
    static const char* Name(CameraProblem problem);
    // Driver messages start with the function that wrote them; a user
    // needs only what follows.
    static std::string WithoutOrigin(const std::string& text);
};

}  // namespace kestrel::record
