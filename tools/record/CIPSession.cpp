#include "tools/record/CIPSession.h"

#include "host/IIPCaptureDriver.h"
#include "host/IIPVideoCapture.h"
#include "tools/record/CDriverLibrary.h"
#include "tools/record/CModelDirectory.h"

namespace kestrel::record {

CIPSession::CIPSession(CDriverLibrary& library, const CModelDirectory& models, CCameraRecording& recording,
                       const RecordOptions& options)
    : m_library(library),
      m_models(models),
      m_recording(recording),
      m_options(options),
      m_hostSink(recording),
      m_videoSink(recording),
      m_device(options.model, recording.Target().address, recording.Target().port, options.user, options.password) {}

CIPSession::~CIPSession() { Close(); }

bool CIPSession::Open() {
    m_driver = m_library.createIPCapture();
    if (m_driver == nullptr) {
        m_recording.SetProblem(CameraProblem::OpenFailed, "CreateIPCapture returned no driver object");
        return false;
    }
    // Messages of Initialize do not reach the host on this interface, so a
    // failure is explained from what the recorder can see itself.
    if (!m_driver->Initialize(&m_hostSink, &m_recording.Allocator(), &m_device)) {
        if (!m_models.Has(m_options.model)) {
            m_recording.SetProblem(CameraProblem::ModelFile, "");
        } else {
            m_recording.SetProblem(CameraProblem::OpenFailed,
                                   "the driver's Initialize failed with model file " + m_options.model + ".xml");
        }
        return false;
    }
    m_video = m_driver->GetVideoCapture();
    if (m_video == nullptr) {
        m_recording.SetProblem(CameraProblem::OpenFailed, "GetVideoCapture returned nothing");
        return false;
    }
    if (m_options.standard != 0) {
        m_recording.Note("warning", "the IP interface has no video standard setting; the model file decides");
    }
    // The driver picks the resolution kind by picture size, as listed in the
    // model file; QCIF is not among them and falls back to CIF.
    uint16_t width = 0;
    uint16_t height = 0;
    if (m_options.resolution == 1 || !m_models.ResolutionSize(m_options.model, m_options.resolution, width, height)) {
        m_recording.Note("warning", "the IP interface offers this resolution not for model " + m_options.model +
                                        "; the driver records CIF");
    }
    uint32_t interval = m_options.intervalMs;
    if (interval > 1000) {
        m_recording.Note("warning", "the slowest rate the camera takes is 1 picture per second; using 1000 ms");
        interval = 1000;
    }
    const auto quality = static_cast<uint16_t>(m_options.quality);
    m_format = std::make_unique<CRecordStreamFormat>(width, height, static_cast<uint16_t>(interval), quality);
    return true;
}

bool CIPSession::StartVideo() {
    if (m_video == nullptr || !m_format) return false;
    if (!m_video->StartVideo(0, &m_videoSink, m_format.get())) {
        m_recording.SetProblem(CameraProblem::StartRefused, "the driver did not start the video channel");
        return false;
    }
    m_started = true;
    return true;
}

int32_t CIPSession::ChannelState() {
    if (m_video == nullptr) return -1;
    int state = 0;
    int second = 0;
    char text[64];
    if (!m_video->GetChannelStatus(0, &state, &second, text, sizeof(text))) return -1;
    return state;
}

kestrel::ICaptureIOApi* CIPSession::IOApi() { return m_driver != nullptr ? m_driver->GetIOApi() : nullptr; }

void CIPSession::Close() {
    if (m_driver == nullptr) return;
    if (m_started && m_video != nullptr) m_video->StopVideo(0);
    m_started = false;
    m_video = nullptr;
    m_library.deleteIPCapture(m_driver);
    m_driver = nullptr;
}

}  // namespace kestrel::record
