#pragma once
#include <atomic>
#include <cstdint>
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
    // True for the first caller only: before a scheme is learned the Basic
    // password goes out once per driver object, afterwards only on request
    // of a camera that asked for Basic itself.
    bool TakeBasicProbe() { return !m_basicProbed.exchange(true); }

    // "sha256//<base64>" of the pinned key; empty before the first key.
    std::string PinnedKey() const;
    // Pins `pin` when nothing is pinned yet; false when another key is.
    bool PinOrMatch(const std::string& pin);

private:
    std::atomic<uint32_t> m_scheme{0};
    std::atomic<bool> m_basicProbed{false};
    mutable std::mutex m_pinLock;
    std::string m_pin;  // under m_pinLock
};

}  // namespace Web
