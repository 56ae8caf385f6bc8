#pragma once
#include "host/IVideoDescriptor.h"
#include "tools/record/CRecordResolution.h"

namespace kestrel::record {

class CRecordVideoDescriptor : public kestrel::ipcapture::IVideoDescriptor {
public:
    CRecordVideoDescriptor(uint16_t width, uint16_t height) : m_resolution(width, height) {}
    uint32_t GetCodec() override { return 0x47504A4Du; }  // "MJPG"
    uint32_t GetBitRate() override { return 0; }
    kestrel::ipcapture::IResolution* GetResolution() override { return &m_resolution; }

private:
    CRecordResolution m_resolution;
};

}  // namespace kestrel::record
