#include "tools/camsim/CPictureCache.h"

namespace camsim {

std::shared_ptr<const CPictureRing> CPictureCache::Get(unsigned width, unsigned height, unsigned quality,
                                                       unsigned count, std::string* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto key = std::make_tuple(width, height, quality, count);
    auto it = m_rings.find(key);
    if (it != m_rings.end()) {
        if (auto ring = it->second.lock()) return ring;
    }
    auto ring = CPictureRing::Encode(width, height, quality, count, error);
    if (ring) m_rings[key] = ring;
    return ring;
}

}  // namespace camsim
