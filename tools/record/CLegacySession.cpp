#include "tools/record/CLegacySession.h"

#include <cstdint>
#include <vector>

#include "host/CCaptureAPIEx.h"
#include "tools/record/CDriverLibrary.h"
#include "tools/record/CModelDirectory.h"

namespace kestrel::record {

namespace {

constexpr uint32_t kFourCCJpeg = 0x4745504Au;  // "JPEG"
const char* const kKindNames[] = {"?", "qcif", "cif", "2cif", "4cif"};

std::string KindName(int32_t kind) { return kind >= 1 && kind <= 4 ? kKindNames[kind] : std::to_string(kind); }

}  // namespace

CLegacySession::CLegacySession(CDriverLibrary& library, const CModelDirectory& models, CCameraRecording& recording,
                               const RecordOptions& options)
    : m_library(library),
      m_models(models),
      m_recording(recording),
      m_options(options),
      m_user(recording),
      m_intervalMs(options.intervalMs) {}

CLegacySession::~CLegacySession() { Close(); }

bool CLegacySession::Open() {
    m_driver = m_library.createCapture(0);
    if (m_driver == nullptr) {
        m_recording.SetProblem(CameraProblem::OpenFailed, "CreateCapture returned no driver object");
        return false;
    }
    m_driver->SetCaptureUser(&m_user);
    m_driver->SetFrameAllocator(&m_recording.Allocator());
    m_driver->SetVideoStandard(m_options.standard);
    if (!Configure()) return false;
    if (m_driver->Open("") == 0) {
        // The driver has said why in a debug message, which set the problem.
        if (!m_models.Has(m_options.model)) {
            m_recording.SetProblem(CameraProblem::ModelFile, "");
        } else {
            m_recording.SetProblem(CameraProblem::ModelFile,
                                   "the driver could not open with model file " + m_options.model + ".xml");
        }
        return false;
    }
    if (m_driver->SetFourCC(kFourCCJpeg) == 0) {
        m_recording.SetProblem(CameraProblem::OpenFailed, "the driver does not offer JPEG pictures");
        return false;
    }
    if (!ChooseResolution()) return false;
    ChooseInterval();
    return true;
}

bool CLegacySession::Configure() {
    const CameraTarget& target = m_recording.Target();
    // The legacy interface carries the port in the pointer itself.
    const auto port =
        reinterpret_cast<const void*>(static_cast<uintptr_t>(target.port));  // NOLINT(performance-no-int-to-ptr)
    const bool ok = m_driver->SetParameter("IPSERVERADDRESS", target.address.c_str(),
                                           static_cast<int32_t>(target.address.size())) != 0 &&
                    m_driver->SetParameter("IPSERVERTYPE", m_options.model.c_str(),
                                           static_cast<int32_t>(m_options.model.size())) != 0 &&
                    m_driver->SetParameter("IPSERVERPORT", port, static_cast<int32_t>(sizeof(void*))) != 0 &&
                    m_driver->SetParameter("IPSERVERUSERNAME", m_options.user.c_str(),
                                           static_cast<int32_t>(m_options.user.size())) != 0 &&
                    m_driver->SetParameter("IPSERVERPASSWORD", m_options.password.c_str(),
                                           static_cast<int32_t>(m_options.password.size())) != 0;
    if (!ok) m_recording.SetProblem(CameraProblem::OpenFailed, "the driver refused a device setting");
    return ok;
}

bool CLegacySession::ChooseResolution() {
    std::vector<int> kinds;
    int kind = 0;
    for (int more = m_driver->GetFirstResolution(&kind); more != 0; more = m_driver->GetNextResolution(&kind)) {
        kinds.push_back(kind);
    }
    for (int k : kinds) {
        if (k == m_options.resolution) {
            int width = 0;
            int height = 0;
            if (m_options.verbose && m_driver->GetResolutionSize(k, &width, &height) != 0) {
                m_recording.Note("info", "resolution " + KindName(k) + " is " + std::to_string(width) + "x" +
                                             std::to_string(height));
            }
            return true;
        }
    }
    std::string offered;
    for (int k : kinds) {
        if (!offered.empty()) offered += ", ";
        offered += KindName(k);
    }
    m_recording.SetProblem(CameraProblem::StartRefused, "model " + m_options.model + " offers no " +
                                                            KindName(m_options.resolution) +
                                                            "; use --resolution with one of: " + offered);
    return false;
}

// The camera is asked for a rate the model supports: the offered interval
// closest to the wish without being faster; the slowest one for a slower wish.
void CLegacySession::ChooseInterval() {
    std::vector<uint32_t> intervals;
    uint32_t interval = 0;
    for (int more = m_driver->GetFirstFrameInterval(&interval); more != 0;
         more = m_driver->GetNextFrameInterval(&interval)) {
        intervals.push_back(interval);
    }
    if (intervals.empty()) return;
    uint32_t best = 0;
    uint32_t slowest = 0;
    for (uint32_t i : intervals) {
        if (i >= m_options.intervalMs && (best == 0 || i < best)) best = i;
        if (i > slowest) slowest = i;
    }
    if (best == 0) best = slowest;
    if (best != m_options.intervalMs) {
        std::string list;
        for (uint32_t i : intervals) {
            if (!list.empty()) list += ' ';
            list += std::to_string(i);
        }
        m_recording.Note("warning", "model " + m_options.model + " offers no interval of " +
                                        std::to_string(m_options.intervalMs) + " ms (offers " + list + "); using " +
                                        std::to_string(best) + " ms");
    }
    m_intervalMs = best;
}

bool CLegacySession::StartVideo() {
    if (m_driver == nullptr) return false;
    if (m_driver->StartChannel(0, m_intervalMs, m_options.resolution, m_options.quality) == 0) {
        m_recording.SetProblem(CameraProblem::StartRefused, "the driver did not start the video channel");
        return false;
    }
    m_started = true;
    return true;
}

int32_t CLegacySession::ChannelState() {
    if (m_driver == nullptr) return -1;
    int state = 0;
    int second = 0;
    char text[64];
    if (m_driver->GetChannelStatus(0, &state, &second, text, sizeof(text)) == 0) return -1;
    return state;
}

kestrel::ICaptureIOApi* CLegacySession::IOApi() {
    if (m_driver == nullptr) return nullptr;
    kestrel::ICaptureIOApi* io = nullptr;
    // NOLINTNEXTLINE(bugprone-sizeof-expression): the size of the pointer is what is asked
    if (m_driver->GetParameter("ICaptureIOApi", &io, static_cast<int32_t>(sizeof(io))) == 0) return nullptr;
    return io;
}

void CLegacySession::Close() {
    if (m_driver == nullptr) return;
    if (m_started) m_driver->StopChannel(0);
    m_started = false;
    m_driver->Close();
    m_library.deleteCapture(&m_driver);
    m_driver = nullptr;
}

}  // namespace kestrel::record
