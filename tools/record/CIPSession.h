#pragma once
#include <memory>

#include "tools/record/CCameraRecording.h"
#include "tools/record/CRecordDeviceDescription.h"
#include "tools/record/CRecordHostSink.h"
#include "tools/record/CRecordStreamFormat.h"
#include "tools/record/CRecordVideoSink.h"
#include "tools/record/ICameraSession.h"

namespace kestrel::ipcapture {
class IIPCaptureDriver;
class IIPVideoCapture;
}  // namespace kestrel::ipcapture

namespace kestrel::record {

class CDriverLibrary;
class CModelDirectory;

// Drives a camera through the IP capture interface: CreateIPCapture,
// Initialize with a device description, GetVideoCapture, StartVideo ...
// StopVideo, DeleteIPCapture.
class CIPSession : public ICameraSession {
public:
    CIPSession(CDriverLibrary& library, const CModelDirectory& models, CCameraRecording& recording,
               const RecordOptions& options);
    ~CIPSession() override;

    bool Open() override;
    bool StartVideo() override;
    int32_t ChannelState() override;
    kestrel::ICaptureIOApi* IOApi() override;
    void Close() override;

private:
    CDriverLibrary& m_library;
    const CModelDirectory& m_models;
    CCameraRecording& m_recording;
    const RecordOptions& m_options;
    CRecordHostSink m_hostSink;
    CRecordVideoSink m_videoSink;
    CRecordDeviceDescription m_device;
    std::unique_ptr<CRecordStreamFormat> m_format;
    kestrel::ipcapture::IIPCaptureDriver* m_driver = nullptr;
    kestrel::ipcapture::IIPVideoCapture* m_video = nullptr;
    bool m_started = false;
};

}  // namespace kestrel::record
