#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tools/record/Gap.h"
#include "tools/record/IPictureSink.h"

namespace kestrel::record {

// Notes every period without pictures longer than three picture intervals
// (at least a second) and appends it to gaps.csv in the camera's folder as
// soon as it ends, so a killed recorder keeps the gaps found so far.
class CGapTracker : public IPictureSink {
public:
    // An empty directory keeps the gaps in memory only.
    CGapTracker(const std::string& directory, uint32_t intervalMs);
    ~CGapTracker() override;

    static int64_t ThresholdUs(uint32_t intervalMs);

    bool Open() override;
    bool Write(const Picture& picture) override;
    // Ends the recording now; a silence up to now counts as an open gap.
    bool Close() override;
    const std::string& Error() const override { return m_error; }

    // Closes with a given end (tests, and a recorder that knows its stop time).
    bool CloseAt(int64_t endUs);
    // Any thread: the recording of this camera ended at endUs; Close() then
    // judges the last silence up to there, not up to when the files close.
    void EndAt(int64_t endUs) { m_endUs.store(endUs, std::memory_order_relaxed); }

    // Any thread.
    std::vector<Gap> Gaps() const;
    // One line per gap for the summary: "gap 18:02:11.400 for 6.2 s"; at most
    // a few, then how many more.
    static std::vector<std::string> Describe(const std::vector<Gap>& gaps);

private:
    void Add(const Gap& gap);

    std::string m_path;
    int64_t m_thresholdUs;
    int64_t m_lastUs = 0;
    bool m_seen = false;
    bool m_closed = false;
    std::atomic<int64_t> m_endUs{0};
    mutable std::mutex m_mutex;
    std::vector<Gap> m_gaps;
    std::string m_error;
};

}  // namespace kestrel::record
