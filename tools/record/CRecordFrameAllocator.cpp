#include "tools/record/CRecordFrameAllocator.h"

#include <algorithm>

namespace kestrel::record {

namespace {
constexpr uint32_t kInitialCapacity = 256u << 10;
}

CRecordFrameAllocator::CRecordFrameAllocator() {
    m_all.reserve(kMaxBuffers);
    m_free.reserve(kMaxBuffers);
    for (int i = 0; i < 2; ++i) {
        m_all.push_back(std::make_unique<CRecordFrameBuffer>(kInitialCapacity));
        m_free.push_back(m_all.back().get());
    }
}

uint32_t CRecordFrameAllocator::GetFreeCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<uint32_t>(m_free.size() + (kMaxBuffers - m_all.size()));
}

uint32_t CRecordFrameAllocator::GetFrameCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<uint32_t>(m_all.size());
}

IFrameBuffer* CRecordFrameAllocator::AllocateFrame(uint32_t, uint32_t size, const char*) {
    if (size > kMaxPicture) {
        m_refused.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    CRecordFrameBuffer* frame = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_free.empty()) {
            frame = m_free.back();
            m_free.pop_back();
        } else if (m_all.size() < kMaxBuffers) {
            m_all.push_back(std::make_unique<CRecordFrameBuffer>(kInitialCapacity));
            frame = m_all.back().get();
        }
    }
    if (frame == nullptr) {
        m_refused.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    frame->Reset(size);
    return frame;
}

void CRecordFrameAllocator::ReleaseFrame(IFrameBuffer* frame) {
    CRecordFrameBuffer* own = Own(frame);
    if (own == nullptr) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (std::find(m_free.begin(), m_free.end(), own) == m_free.end()) m_free.push_back(own);
}

CRecordFrameBuffer* CRecordFrameAllocator::Own(IFrameBuffer* frame) {
    if (frame == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& buffer : m_all) {
        if (buffer.get() == frame) return buffer.get();
    }
    return nullptr;
}

}  // namespace kestrel::record
