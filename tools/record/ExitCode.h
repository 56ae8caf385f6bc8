#pragma once

namespace kestrel::record {

// Exit status of halyard-record; scripts can tell the causes apart.
enum ExitCode : int {
    ExitOk = 0,
    ExitFailure = 1,        // anything not listed below
    ExitUsage = 2,          // wrong option or value
    ExitLibrary = 3,        // driver library not loadable
    ExitUnreachable = 4,    // camera cannot be reached
    ExitCredentials = 5,    // user name or password refused
    ExitModel = 6,          // model file missing or unreadable
    ExitNoPicture = 7,      // camera reachable but no picture arrives
    ExitWrite = 8,          // recording could not be written
    ExitNoAnswer = 9,       // camera takes the connection but never answers
    ExitStoppedEarly = 10,  // stopped before a camera sent a picture, no cause known yet
};

}  // namespace kestrel::record
