#include "driver/CSonyIPCapture.h"

#include <new>

#include "channels/CSonyMJPEGChannelRTP.h"
#include "io/CSonyDigitalIO.h"

namespace kestrel {

std::vector<uint32_t> SonyFrameIntervals(int32_t maxFrameRate, int32_t standard) {
    std::vector<uint32_t> intervals;
    if (maxFrameRate <= 0) return intervals;
    static constexpr int32_t kRates[] = {30, 25, 20, 15, 10, 8, 6, 5, 4, 3, 2, 1};
    for (int32_t rate : kRates) {
        if (standard == 0 && rate > 25) continue;
        if (rate > maxFrameRate) continue;
        intervals.push_back(1000u / static_cast<uint32_t>(rate));
    }
    return intervals;
}

CSonyIPCapture::CSonyIPCapture(int32_t creationValue) : CIPCapture(creationValue, "sony") {
    m_defaultKeepAliveMs = 60000;
}

CSonyIPCapture::~CSonyIPCapture() { Close(); }

std::string CSonyIPCapture::GetDriverName() { return "Halyard"; }

std::vector<uint32_t> CSonyIPCapture::GetFrameIntervals(int32_t standard) {
    return SonyFrameIntervals(GetConfiguration().maxFrameRate, standard);
}

ICameraChannel* CSonyIPCapture::CreateCameraChannel(uint32_t index) {
    const VideoChannelParams params = BuildChannelParams(index, m_defaultKeepAliveMs);
    return new (std::nothrow) CSonyMJPEGChannelRTP(static_cast<IDriver*>(this), params);
}

bool CSonyIPCapture::CreateDigitalIO() {
    const auto counts = GetIOCounts();
    if (counts.first == 0 && counts.second == 0) return true;
    if (m_digitalIO.load() == nullptr)
        m_digitalIO.store(new (std::nothrow) CSonyDigitalIO(static_cast<IDriver*>(this)));
    return m_digitalIO.load() != nullptr;
}

void CSonyIPCapture::DeleteDigitalIO() { delete m_digitalIO.exchange(nullptr); }

}  // namespace kestrel
