#pragma once
#include <atomic>

#include "host/IVideoSink.h"
#include "tests/host/CallLog.h"

namespace testhost {

// A per-channel video sink: counts frames and stop notices.
class TestVideoSink : public kestrel::ipcapture::IVideoSink {
public:
    bool OnFrame(IFrameBuffer*) override {
        frames.fetch_add(1);
        calls.Add("OnFrame");
        return accept.load();
    }
    void OnStatus(int32_t) override {}
    void OnVideoStopped() override {
        stopped.fetch_add(1);
        calls.Add("OnVideoStopped");
    }
    CallLog calls;
    std::atomic<int> frames{0};
    std::atomic<int> stopped{0};
    std::atomic<bool> accept{true};
};

}  // namespace testhost
