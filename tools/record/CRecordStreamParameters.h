#pragma once
#include "host/IStreamParameters.h"

namespace kestrel::record {

class CRecordStreamParameters : public kestrel::ipcapture::IStreamParameters {
public:
    CRecordStreamParameters(uint16_t intervalMs, uint16_t quality) : m_interval(intervalMs), m_quality(quality) {}
    uint16_t GetFrameInterval() override { return m_interval; }
    uint16_t GetKeyFrameInterval() override { return 1; }
    uint16_t GetQuality() override { return m_quality; }

private:
    uint16_t m_interval;
    uint16_t m_quality;
};

}  // namespace kestrel::record
