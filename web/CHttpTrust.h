#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace Web {

// What the senders of one driver object have learned about their camera:
// the authentication scheme it answers and the key of its certificate.
// Shared by all of them, so that one sender's lesson is every sender's.
class CHttpTrust {
public:
    // The scheme bit learned, 0 when none.
    uint32_t LearnedScheme() const { return m_scheme.load(); }
    // Keeps the first scheme learned; a later lesson changes nothing.
    void Learn(uint32_t scheme);
    // At a stream start: the camera may have been set up anew.
    void ForgetScheme() { m_scheme.store(0); }
    // Whether a request may carry the Basic password before a scheme is
    // learned. The first one does (the probe); while its answer is awaited
    // the others wait for it, up to `deadline` or until `stop` holds. A
    // camera that took Basic gets it from then on, one that refused it
    // never again in advance: a Digest-only camera sees the password in
    // clear at most once per driver object.
    enum class Basic { Probe, Send, Withhold };
    Basic MayAskWithBasic(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& stop);
    // The probe's outcome: taken, refused, or unknown (no answer).
    enum class Probe { Taken, Refused, Unknown };
    void SettleProbe(Probe outcome);

    // "sha256//<base64>" of the pinned key; empty before the first key.
    std::string PinnedKey() const;
    // Pins `pin` when nothing is pinned yet; false when another key is.
    bool PinOrMatch(const std::string& pin);

private:
    enum class BasicState { Unknown, InFlight, Taken, Refused };

    std::atomic<uint32_t> m_scheme{0};
    std::mutex m_basicLock;
    std::condition_variable m_basicSettled;
    BasicState m_basic = BasicState::Unknown;  // under m_basicLock
    mutable std::mutex m_pinLock;
    std::string m_pin;  // under m_pinLock
};

}  // namespace Web
