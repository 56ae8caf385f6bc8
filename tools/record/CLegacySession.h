#pragma once
#include <string>

#include "tools/record/CCameraRecording.h"
#include "tools/record/CRecordCaptureUser.h"
#include "tools/record/ICameraSession.h"

class CCaptureAPIEx;

namespace kestrel::record {

class CDriverLibrary;
class CModelDirectory;

// Drives a camera through the legacy interface: CreateCapture, the five
// device settings, Open, StartChannel ... StopChannel, Close, DeleteCapture.
class CLegacySession : public ICameraSession {
public:
    CLegacySession(CDriverLibrary& library, const CModelDirectory& models, CCameraRecording& recording,
                   const RecordOptions& options);
    ~CLegacySession() override;

    bool Open() override;
    bool StartVideo() override;
    int32_t ChannelState() override;
    kestrel::ICaptureIOApi* IOApi() override;
    void Close() override;

    uint32_t IntervalMs() const { return m_intervalMs; }

private:
    bool Configure();
    bool ChooseResolution();
    void ChooseInterval();

    CDriverLibrary& m_library;
    const CModelDirectory& m_models;
    CCameraRecording& m_recording;
    const RecordOptions& m_options;
    CRecordCaptureUser m_user;
    CCaptureAPIEx* m_driver = nullptr;
    bool m_started = false;
    uint32_t m_intervalMs;
};

}  // namespace kestrel::record
