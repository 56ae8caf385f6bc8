#pragma once
#include <cstdint>
#include <mutex>

#include "settings/DriverConfiguration.h"

namespace kestrel {

// The driver's configuration as Open last read it. Open replaces it whole
// while host threads read it, so readers get a copy or the few values they
// need, never a reference.
class CConfigurationSnapshot {
public:
    DriverConfiguration Get() const;
    void Replace(const DriverConfiguration& config);
    // The size of a resolution kind (1..4); false when the model lacks it.
    bool Resolution(int32_t kind, int32_t& width, int32_t& height) const;

private:
    mutable std::mutex m_lock;
    DriverConfiguration m_config;
};

}  // namespace kestrel
