#pragma once
#include "host/ICaptureIOApiUser.h"
#include "tools/record/CCameraRecording.h"

namespace kestrel::record {

// Receives the camera's sensor input changes.
class CRecordIOUser : public kestrel::ICaptureIOApiUser {
public:
    explicit CRecordIOUser(CCameraRecording& recording) : m_recording(recording) {}

    void InputStateChanged(uint32_t input, int32_t state) override { m_recording.TakeInput(input, state); }
    void IOStatesReset() override { m_recording.TakeInputsReset(); }

private:
    CCameraRecording& m_recording;
};

}  // namespace kestrel::record
