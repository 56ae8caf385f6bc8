#pragma once
#include "host/IHostSink.h"
#include "tools/record/CCameraRecording.h"

namespace kestrel::record {

// The IP interface's debug message sink.
class CRecordHostSink : public kestrel::ipcapture::IHostSink {
public:
    explicit CRecordHostSink(CCameraRecording& recording) : m_recording(recording) {}
    void OnDebugInfo(CDebugInfoIf* message) override { m_recording.TakeMessage(message); }

private:
    CCameraRecording& m_recording;
};

}  // namespace kestrel::record
