#include "driver/CCapabilityList.h"

namespace kestrel {

namespace {

template <typename T, typename Out>
int EnumerateFirst(const std::vector<T>& list, int32_t& cursor, Out* out) {
    if (list.empty()) {
        cursor = -1;
        return 0;
    }
    cursor = 0;
    if (out != nullptr) *out = static_cast<Out>(list[0]);
    return 1;
}

template <typename T, typename Out>
int EnumerateNext(const std::vector<T>& list, int32_t& cursor, Out* out) {
    if (cursor == -1) return 0;
    ++cursor;
    if (cursor >= 0 && static_cast<size_t>(cursor) < list.size()) {
        if (out != nullptr) *out = static_cast<Out>(list[static_cast<size_t>(cursor)]);
        return 1;
    }
    cursor = -1;
    return 0;
}

}  // namespace

int CCapabilityList::FirstFourCC(uint32_t* fourcc) {
    std::lock_guard<std::mutex> guard(m_lock);
    return EnumerateFirst(m_fourccs, m_fourccCursor, fourcc);
}

int CCapabilityList::NextFourCC(uint32_t* fourcc) {
    std::lock_guard<std::mutex> guard(m_lock);
    return EnumerateNext(m_fourccs, m_fourccCursor, fourcc);
}

int CCapabilityList::FirstResolution(int* kind) {
    std::lock_guard<std::mutex> guard(m_lock);
    return EnumerateFirst(m_resolutions, m_resolutionCursor, kind);
}

int CCapabilityList::NextResolution(int* kind) {
    std::lock_guard<std::mutex> guard(m_lock);
    return EnumerateNext(m_resolutions, m_resolutionCursor, kind);
}

int CCapabilityList::FirstFrameInterval(uint32_t* interval) {
    std::lock_guard<std::mutex> guard(m_lock);
    return EnumerateFirst(m_frameIntervals, m_intervalCursor, interval);
}

int CCapabilityList::NextFrameInterval(uint32_t* interval) {
    std::lock_guard<std::mutex> guard(m_lock);
    return EnumerateNext(m_frameIntervals, m_intervalCursor, interval);
}

int CCapabilityList::SelectFourCC(uint32_t fourcc) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_selectedFourCC = 0;
    uint32_t candidate = 0;
    for (int more = EnumerateFirst(m_fourccs, m_fourccCursor, &candidate); more != 0;
         more = EnumerateNext(m_fourccs, m_fourccCursor, &candidate)) {
        if (candidate == fourcc) {
            m_selectedFourCC = fourcc;
            break;
        }
    }
    return m_selectedFourCC != 0 ? 1 : 0;
}

void CCapabilityList::ClearFrameIntervals() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_frameIntervals.clear();
    m_intervalCursor = -1;
}

void CCapabilityList::Offer(const std::vector<uint32_t>& intervals, const bool (&supported)[4]) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_frameIntervals = intervals;
    m_intervalCursor = -1;
    if (m_resolutions.empty()) {
        for (int32_t kind = 1; kind <= 4; ++kind) {
            if (supported[kind - 1]) m_resolutions.push_back(kind);
        }
    }
}

}  // namespace kestrel
