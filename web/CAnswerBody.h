#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Web {

// The body of the camera's answer as the transfer hands it over, one
// delivery at a time, never more than `limit` bytes in all. Between reads
// one delivery waits here; while a caller reads the whole body, deliveries
// go straight into the caller's vector. No libcurl and no I/O.
class CAnswerBody {
public:
    // What became of one delivery.
    enum class Taken {
        Kept,      // buffered or appended to the caller's vector
        Held,      // one delivery already waits: hand this one over again later
        TooLarge,  // it would pass the limit: the transfer ends
    };

    // `deliveryHint` bytes are kept ready, so that steady state allocates nothing.
    CAnswerBody(size_t limit, size_t deliveryHint);

    Taken Deliver(const uint8_t* data, size_t size);
    void Reset();

    // Reading the whole body: what waits moves into `out`, and later
    // deliveries follow it there until EndWhole.
    void BeginWhole(std::vector<uint8_t>& out);
    void EndWhole() { m_whole = nullptr; }

    // Bytes of the waiting delivery not yet taken.
    size_t Waiting() const { return m_pending.size() - m_pendingPos; }
    // Appends up to `maxBytes` of the waiting delivery to `out`.
    size_t TakeInto(std::vector<uint8_t>& out, size_t maxBytes);

    // Some body bytes arrived (the head before them was final).
    bool Started() const { return m_started; }
    bool TooLarge() const { return m_tooLarge; }

private:
    size_t m_limit;
    std::vector<uint8_t> m_pending;  // at most one delivery
    size_t m_pendingPos = 0;
    std::vector<uint8_t>* m_whole = nullptr;
    size_t m_bytes = 0;  // of this answer so far
    bool m_started = false;
    bool m_tooLarge = false;
};

}  // namespace Web
