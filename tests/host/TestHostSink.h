#pragma once
#include <string>

#include "host/CDebugInfoIf.h"
#include "host/IHostSink.h"
#include "tests/host/CallLog.h"

namespace testhost {

// The IP host's debug sink: "<level> <text>".
class TestHostSink : public kestrel::ipcapture::IHostSink {
public:
    void OnDebugInfo(CDebugInfoIf* message) override {
        calls.Add(std::to_string(message->GetLevel()) + " " + (message->GetText() ? message->GetText() : ""));
    }
    CallLog calls;
};

}  // namespace testhost
