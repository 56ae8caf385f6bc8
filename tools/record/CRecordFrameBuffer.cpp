#include "tools/record/CRecordFrameBuffer.h"

namespace kestrel::record {

void CRecordFrameBuffer::Reset(uint32_t size) {
    if (m_data.size() < size) m_data.resize(size);
    m_size = 0;
    m_fourcc = 0;
    m_flags = 0;
    m_timestamp = 0;
    m_width = 0;
    m_height = 0;
    m_kind = 0;
}

uint8_t* CRecordFrameBuffer::GetData(uint32_t size) {
    if (m_data.size() < size) m_data.resize(size);
    return m_data.data();
}

// The buffer grows to the announced size, so reading the picture back never
// runs past its end.
void CRecordFrameBuffer::SetDataSize(uint32_t size) {
    if (m_data.size() < size) m_data.resize(size);
    m_size = size;
}

}  // namespace kestrel::record
