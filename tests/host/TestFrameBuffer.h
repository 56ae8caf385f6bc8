#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "host/IFrameBuffer.h"
#include "tests/host/CallLog.h"

namespace testhost {

// A frame buffer that records every call in order into the allocator's log.
class TestFrameBuffer : public IFrameBuffer {
public:
    explicit TestFrameBuffer(CallLog* log, uint32_t capacity) : m_log(log), m_data(capacity) {}

    uint32_t GetCapacity() override { return static_cast<uint32_t>(m_data.size()); }
    uint8_t* GetData(uint32_t size) override;
    uint32_t GetDataSize() override { return m_dataSize; }
    void SetDataSize(uint32_t size) override;
    void BeginFrame() override;
    uint64_t GetTimestamp() override { return 0; }
    void SetTimestamp(uint64_t) override {}
    uint32_t GetFlags() override { return 0; }
    void SetFlags(uint32_t) override {}
    void SetFrameFourCC(uint32_t fourcc) override;
    uint32_t GetFrameFourCC() override { return m_fourcc; }
    void SetHeight(int32_t height) override;
    int32_t GetHeight() override { return m_height; }
    void SetWidth(int32_t width) override;
    int32_t GetWidth() override { return m_width; }
    void SetResolution(int32_t kind) override;
    int32_t GetResolution() override { return m_resolution; }

    std::vector<uint8_t> Bytes() const {
        return std::vector<uint8_t>(m_data.begin(),
                                    m_data.begin() + static_cast<long>(std::min<size_t>(m_dataSize, m_data.size())));
    }

private:
    CallLog* m_log;
    std::vector<uint8_t> m_data;
    uint32_t m_dataSize = 0;
    uint32_t m_fourcc = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_resolution = 0;
};

}  // namespace testhost
