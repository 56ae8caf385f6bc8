#pragma once
#include "host/IStreamFormat.h"
#include "tools/record/CRecordStreamParameters.h"
#include "tools/record/CRecordVideoDescriptor.h"

namespace kestrel::record {

// The stream format handed to IIPVideoCapture::StartVideo.
class CRecordStreamFormat : public kestrel::ipcapture::IStreamFormat {
public:
    CRecordStreamFormat(uint16_t width, uint16_t height, uint16_t intervalMs, uint16_t quality)
        : m_video(width, height), m_parameters(intervalMs, quality) {}
    kestrel::ipcapture::IVideoDescriptor* GetVideoDescriptor() override { return &m_video; }
    kestrel::ipcapture::IStreamParameters* GetStreamParameters() override { return &m_parameters; }

private:
    CRecordVideoDescriptor m_video;
    CRecordStreamParameters m_parameters;
};

}  // namespace kestrel::record
