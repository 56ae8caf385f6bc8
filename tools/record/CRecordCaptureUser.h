#pragma once
#include "host/CCaptureAPIUser.h"
#include "tools/record/CCameraRecording.h"

namespace kestrel::record {

// The legacy interface's callback object: routes to the camera's recording.
class CRecordCaptureUser : public CCaptureAPIUser {
public:
    explicit CRecordCaptureUser(CCameraRecording& recording) : m_recording(recording) {}

    int SendFrameCallback(uint32_t, IFrameBuffer* alternate, IFrameBuffer* frame) override {
        return m_recording.TakeFrame(frame != nullptr ? frame : alternate) ? 1 : 0;
    }
    void VideoStopped(uint32_t) override { m_recording.TakeVideoStopped(); }
    void Reserved3() override {}
    void DebugInfo(CDebugInfoIf* message) override { m_recording.TakeMessage(message); }

private:
    CCameraRecording& m_recording;
};

}  // namespace kestrel::record
