#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "tools/record/IPictureSink.h"
#include "tools/record/RecordOptions.h"

struct AVFormatContext;
struct AVPacket;

namespace kestrel::record {

class CDiskRetention;

// Motion JPEG pictures stored as they came (no decoding) into Matroska or
// AVI files through libavformat, one file per wall-clock segment:
// DIR/2026-12-08T18-00-00.mkv. Each picture's time stamp is its arrival
// time from the segment's start, so a pause stays a pause on playback.
//
// Matroska is written so that a file cut by a kill or a full disk still
// plays up to its last second or so: the header first, then clusters of at
// most a second, flushed to the file as they end.
//
// A picture that cannot be written (disk full) is counted and skipped; the
// segment is closed and the next picture starts a new one, after the
// retention had a chance to make room.
class CVideoSegmentWriter : public IPictureSink {
public:
    struct Settings {
        VideoFormat format = VideoFormat::Matroska;
        uint32_t segmentS = 600;
        uint32_t intervalMs = 200;  // nominal; AVI counts time in these
    };

    CVideoSegmentWriter(std::string directory, Settings settings, CDiskRetention* retention);
    ~CVideoSegmentWriter() override;
    CVideoSegmentWriter(const CVideoSegmentWriter&) = delete;
    CVideoSegmentWriter& operator=(const CVideoSegmentWriter&) = delete;

    bool Open() override;
    bool Write(const Picture& picture) override;
    bool Close() override;
    const std::string& Error() const override { return m_error; }
    uint64_t Skipped() const override { return m_skipped.load(std::memory_order_relaxed); }

    static const char* Extension(VideoFormat format);
    // YYYY-MM-DDTHH-MM-SS in local time.
    static std::string SegmentName(int64_t startUs);
    // Start of the segment that holds a picture at timeUs.
    static int64_t BoundaryBefore(int64_t timeUs, uint32_t segmentS);

    uint64_t Segments() const { return m_segments; }  // writer thread

private:
    bool OpenSegment(const Picture& first, int64_t startUs);
    void CloseSegment();
    bool Flush();
    bool WritePacket(const Picture& picture);
    void Skip(const std::string& why);

    std::string m_dir;
    Settings m_settings;
    CDiskRetention* m_retention;
    AVFormatContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    std::string m_path;
    int64_t m_segmentStartUs = 0;
    int64_t m_segmentEndUs = 0;
    int64_t m_lastPts = -1;
    int64_t m_lastFlushUs = 0;
    int64_t m_lastOpenTryUs = 0;
    int64_t m_nextStartUs = 0;  // where the segment that follows a closed one starts
    bool m_openFailed = false;
    uint64_t m_unflushed = 0;
    int64_t m_sizeReported = 0;
    uint64_t m_segments = 0;
    std::atomic<uint64_t> m_skipped{0};
    std::string m_error;
};

}  // namespace kestrel::record
