#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

namespace kestrel {

// What the driver offers the host: picture formats, resolution kinds and
// frame intervals, each walked by the host with First/Next over one cursor
// of its own. Returns follow the host's convention: 1 for a value, 0 at the
// end or for an empty list. A leaf lock: nothing is called under it.
class CCapabilityList {
public:
    explicit CCapabilityList(std::vector<uint32_t> fourccs) : m_fourccs(std::move(fourccs)) {}

    int FirstFourCC(uint32_t* fourcc);
    int NextFourCC(uint32_t* fourcc);
    int FirstResolution(int* kind);
    int NextResolution(int* kind);
    int FirstFrameInterval(uint32_t* interval);
    int NextFrameInterval(uint32_t* interval);

    // Walks the formats with their cursor, as the host's own walk would;
    // 1 and the format selected when it is offered, else 0 and none.
    int SelectFourCC(uint32_t fourcc);
    // A new video standard: the intervals are made again at the next Open.
    void ClearFrameIntervals();
    // At Open: the intervals, and the resolution kinds (1..4) the model
    // supports unless an earlier Open already listed them.
    void Offer(const std::vector<uint32_t>& intervals, const bool (&supported)[4]);

private:
    std::mutex m_lock;
    std::vector<uint32_t> m_fourccs;
    std::vector<int32_t> m_resolutions;
    std::vector<uint32_t> m_frameIntervals;
    int32_t m_fourccCursor = -1;
    int32_t m_resolutionCursor = -1;
    int32_t m_intervalCursor = -1;
    uint32_t m_selectedFourCC = 0;
};

}  // namespace kestrel
