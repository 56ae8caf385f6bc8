#pragma once
#include <atomic>
#include <cstdint>

#include "host/ICaptureIOApiUser.h"
#include "tests/host/CallLog.h"

namespace testhost {

// The host's input callback: "Input <index> <state>" and "Reset".
class TestIOUser : public kestrel::ICaptureIOApiUser {
public:
    void InputStateChanged(uint32_t input, int32_t state) override {
        calls.Add("Input " + std::to_string(input) + " " + std::to_string(state));
    }
    void IOStatesReset() override {
        resets.fetch_add(1);
        calls.Add("Reset");
    }
    CallLog calls;
    std::atomic<int> resets{0};
};

}  // namespace testhost
