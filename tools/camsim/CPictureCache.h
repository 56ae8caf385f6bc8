#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "tools/camsim/CPictureRing.h"

namespace camsim {

// Rings shared by the cameras that want the same size, quality and count,
// so that 64 alike cameras encode their pictures once.
class CPictureCache {
public:
    std::shared_ptr<const CPictureRing> Get(unsigned width, unsigned height, unsigned quality, unsigned count,
                                            std::string* error);

private:
    std::mutex m_mutex;
    std::map<std::tuple<unsigned, unsigned, unsigned, unsigned>, std::weak_ptr<const CPictureRing>> m_rings;
};

}  // namespace camsim
