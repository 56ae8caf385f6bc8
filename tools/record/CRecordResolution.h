#pragma once
#include "host/IResolution.h"

namespace kestrel::record {

class CRecordResolution : public kestrel::ipcapture::IResolution {
public:
    CRecordResolution(uint16_t width, uint16_t height) : m_width(width), m_height(height) {}
    uint16_t GetWidth() override { return m_width; }
    uint16_t GetHeight() override { return m_height; }

private:
    uint16_t m_width;
    uint16_t m_height;
};

}  // namespace kestrel::record
