// halyard-record: a command-line host for the Halyard capture driver.
#include <csignal>
#include <cstdio>
#include <exception>

#include "tools/record/CCommandLine.h"
#include "tools/record/CPasswordReader.h"
#include "tools/record/CRecorder.h"
#include "tools/record/ExitCode.h"

using namespace kestrel::record;

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe on stdout must not kill a recording
    RecordOptions options;
    CCommandLine commandLine;
    switch (commandLine.Parse(argc, argv, options)) {
    case CCommandLine::Result::Help:
        std::fputs(commandLine.HelpText().c_str(), stdout);
        return ExitOk;
    case CCommandLine::Result::Error:
        std::fprintf(stderr, "halyard-record: %s (see --help)\n", commandLine.Message().c_str());
        return ExitUsage;
    case CCommandLine::Result::Run:
        break;
    }
    std::string error;
    if (!options.passwordFile.empty() && !CPasswordReader::FromFile(options.passwordFile, options.password, error)) {
        std::fprintf(stderr, "halyard-record: %s\n", error.c_str());
        return ExitUsage;
    }
    if (!options.livePasswordFile.empty()) {
        if (!CPasswordReader::FromFile(options.livePasswordFile, options.livePassword, error)) {
            std::fprintf(stderr, "halyard-record: %s\n", error.c_str());
            return ExitUsage;
        }
        if (options.livePassword.empty()) {
            std::fprintf(stderr, "halyard-record: %s holds an empty password\n", options.livePasswordFile.c_str());
            return ExitUsage;
        }
    }
    if (options.askPassword &&
        !CPasswordReader::FromTerminal(
            "Password for " + (options.user.empty() ? std::string("the camera") : options.user) + ": ",
            options.password, error)) {
        std::fprintf(stderr, "halyard-record: %s\n", error.c_str());
        return ExitUsage;
    }
    try {
        CRecorder recorder(std::move(options));
        return recorder.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "halyard-record: error: %s\n", e.what());
        return ExitFailure;
    }
}
