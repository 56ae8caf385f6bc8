#pragma once
#include <cstdint>
#include <vector>

#include "host/IFrameBuffer.h"

namespace kestrel::record {

// A frame buffer lent to the driver for one picture. It keeps its capacity
// between pictures, so a steady stream allocates nothing.
class CRecordFrameBuffer : public IFrameBuffer {
public:
    explicit CRecordFrameBuffer(uint32_t capacity) : m_data(capacity) {}

    // Prepares the buffer for the next picture of the given size.
    void Reset(uint32_t size);
    const uint8_t* Data() const { return m_data.data(); }

    uint32_t GetCapacity() override { return static_cast<uint32_t>(m_data.size()); }
    uint8_t* GetData(uint32_t size) override;
    uint32_t GetDataSize() override { return m_size; }
    void SetDataSize(uint32_t size) override;
    void BeginFrame() override {}
    uint64_t GetTimestamp() override { return m_timestamp; }
    void SetTimestamp(uint64_t value) override { m_timestamp = value; }
    uint32_t GetFlags() override { return m_flags; }
    void SetFlags(uint32_t flags) override { m_flags = flags; }
    void SetFrameFourCC(uint32_t fourcc) override { m_fourcc = fourcc; }
    uint32_t GetFrameFourCC() override { return m_fourcc; }
    void SetHeight(int32_t height) override { m_height = height; }
    int32_t GetHeight() override { return m_height; }
    void SetWidth(int32_t width) override { m_width = width; }
    int32_t GetWidth() override { return m_width; }
    void SetResolution(int32_t kind) override { m_kind = kind; }
    int32_t GetResolution() override { return m_kind; }

private:
    std::vector<uint8_t> m_data;
    uint32_t m_size = 0;
    uint32_t m_fourcc = 0;
    uint32_t m_flags = 0;
    uint64_t m_timestamp = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_kind = 0;
};

}  // namespace kestrel::record
