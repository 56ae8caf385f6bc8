#pragma once
#include "host/IVideoSink.h"
#include "tools/record/CCameraRecording.h"

namespace kestrel::record {

// The IP interface's per-channel video sink.
class CRecordVideoSink : public kestrel::ipcapture::IVideoSink {
public:
    explicit CRecordVideoSink(CCameraRecording& recording) : m_recording(recording) {}
    bool OnFrame(IFrameBuffer* frame) override { return m_recording.TakeFrame(frame); }
    void OnStatus(int32_t) override {}
    void OnVideoStopped() override { m_recording.TakeVideoStopped(); }

private:
    CCameraRecording& m_recording;
};

}  // namespace kestrel::record
