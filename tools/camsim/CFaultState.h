#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "tools/camsim/CPictureRing.h"
#include "tools/camsim/CamsimTypes.h"

namespace camsim {

// The faults switched on for one camera. Shared by the camera (which sets
// them from any thread) and its stream (which reads them once per picture).
class CFaultState {
public:
    // What one picture is sent with; one-shot requests are consumed by Take.
    struct PictureFaults {
        RtpFaults rtp;
        uint32_t sequenceJump = 0;
        bool newSsrc = false;
        std::optional<uint32_t> ssrc;
        size_t longDatagram = 0;                            // >0: first datagram of the picture this long
        std::shared_ptr<const EncodedPicture> replacement;  // oversized picture
    };

    void SetRtp(const RtpFaults& faults);
    RtpFaults Rtp() const;
    void SetPaused(bool paused);
    void RequestSequenceJump(uint32_t delta);
    void RequestNewSsrc(std::optional<uint32_t> ssrc);
    void RequestLongDatagram(size_t bytes);
    void RequestPicture(std::shared_ptr<const EncodedPicture> picture);
    PictureFaults Take();

    void AddHttpRule(const HttpFaultRule& rule);
    // Removes every rule and releases every hanging request.
    void ClearHttpRules();
    std::vector<HttpFaultRule> HttpRules() const;
    // The first rule matching the target, its count consumed.
    std::optional<HttpFaultRule> MatchHttp(std::string_view target);
    void ReleaseHangs() { m_hangGeneration.fetch_add(1); }
    uint64_t HangGeneration() const { return m_hangGeneration.load(); }

    // Everything off, one-shots forgotten, hangs released.
    void Reset();

private:
    mutable std::mutex m_mutex;
    PictureFaults m_pending;
    std::vector<HttpFaultRule> m_rules;
    std::atomic<uint64_t> m_hangGeneration{0};
};

}  // namespace camsim
