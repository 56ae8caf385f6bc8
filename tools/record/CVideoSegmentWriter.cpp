#include "tools/record/CVideoSegmentWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include "tools/record/CDiskRetention.h"

namespace kestrel::record {

namespace {

constexpr int64_t kSecondUs = 1000000;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

int64_t LocalOffsetUs(int64_t timeUs) {
    const std::time_t seconds = static_cast<std::time_t>(FloorDiv(timeUs, kSecondUs));
    std::tm local{};
    localtime_r(&seconds, &local);
    return static_cast<int64_t>(local.tm_gmtoff) * kSecondUs;
}

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

}  // namespace

CVideoSegmentWriter::CVideoSegmentWriter(std::string directory, Settings settings, CDiskRetention* retention)
    : m_dir(std::move(directory)), m_settings(settings), m_retention(retention) {
    if (m_settings.intervalMs == 0) m_settings.intervalMs = 1;
}

CVideoSegmentWriter::~CVideoSegmentWriter() { Close(); }

const char* CVideoSegmentWriter::Extension(VideoFormat format) { return format == VideoFormat::Avi ? "avi" : "mkv"; }

std::string CVideoSegmentWriter::SegmentName(int64_t startUs) {
    const std::time_t seconds = static_cast<std::time_t>(FloorDiv(startUs, kSecondUs));
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H-%M-%S", &local);
    return text;
}

int64_t CVideoSegmentWriter::BoundaryBefore(int64_t timeUs, uint32_t segmentS) {
    if (segmentS == 0) return FloorDiv(timeUs, kSecondUs) * kSecondUs;
    // On the local wall clock, so that hourly files start on the hour wherever the zone is.
    const int64_t offset = LocalOffsetUs(timeUs);
    const int64_t length = static_cast<int64_t>(segmentS) * kSecondUs;
    return FloorDiv(timeUs + offset, length) * length - offset;
}

bool CVideoSegmentWriter::Open() {
    if (::mkdir(m_dir.c_str(), 0777) != 0 && errno != EEXIST) {
        m_error = "cannot create " + m_dir + ": " + std::strerror(errno);
        return false;
    }
    if (m_packet == nullptr) m_packet = av_packet_alloc();
    if (m_packet == nullptr) {
        m_error = "out of memory for the video writer";
        return false;
    }
    return true;
}

void CVideoSegmentWriter::Skip(const std::string& why) {
    m_skipped.fetch_add(1, std::memory_order_relaxed);
    m_error = why;
}

bool CVideoSegmentWriter::OpenSegment(const Picture& first, int64_t startUs) {
    const std::string base = m_dir + "/" + SegmentName(startUs);
    const std::string ext = std::string(".") + Extension(m_settings.format);
    m_path = base + ext;
    // A restart within the same second, or the hour a clock turns back, finds the name taken.
    for (int n = 2; ::access(m_path.c_str(), F_OK) == 0 && n < 1000; ++n) {
        m_path = base + "-" + std::to_string(n) + ext;
    }
    const bool avi = m_settings.format == VideoFormat::Avi;
    int r = avformat_alloc_output_context2(&m_context, nullptr, avi ? "avi" : "matroska", m_path.c_str());
    if (r < 0 || m_context == nullptr) {
        m_error = "cannot set up " + m_path + ": " + AvError(r);
        m_context = nullptr;
        return false;
    }
    AVStream* stream = avformat_new_stream(m_context, nullptr);
    if (stream == nullptr) {
        avformat_free_context(m_context);
        m_context = nullptr;
        m_error = "out of memory for " + m_path;
        return false;
    }
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = AV_CODEC_ID_MJPEG;
    stream->codecpar->width = first.width;
    stream->codecpar->height = first.height;
    // AVI counts time in frames: a pause becomes empty frames of the nominal interval.
    stream->time_base = avi ? AVRational{static_cast<int>(m_settings.intervalMs), 1000} : AVRational{1, 1000};
    if (avi) stream->avg_frame_rate = AVRational{1000, static_cast<int>(m_settings.intervalMs)};

    char created[40];
    const std::time_t seconds = static_cast<std::time_t>(FloorDiv(startUs, kSecondUs));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    std::strftime(created, sizeof(created), "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
    av_dict_set(&m_context->metadata, "creation_time", created, 0);

    r = avio_open(&m_context->pb, m_path.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
        m_error = "cannot create " + m_path + ": " + AvError(r);
        avformat_free_context(m_context);
        m_context = nullptr;
        return false;
    }
    AVDictionary* options = nullptr;
    if (!avi) {
        av_dict_set(&options, "cluster_time_limit", "1000", 0);
        // The file's header is complete before the first picture; nothing is left to patch for it to play.
        av_dict_set(&options, "write_crc32", "0", 0);
    }
    r = avformat_write_header(m_context, &options);
    av_dict_free(&options);
    if (r >= 0) {
        avio_flush(m_context->pb);
        if (m_context->pb->error < 0) r = m_context->pb->error;
    }
    if (r < 0) {
        m_error = "cannot write " + m_path + ": " + AvError(r);
        avio_closep(&m_context->pb);
        avformat_free_context(m_context);
        m_context = nullptr;
        ::unlink(m_path.c_str());
        return false;
    }
    m_segmentStartUs = startUs;
    m_segmentEndUs = m_settings.segmentS == 0 ? INT64_MAX
                                              : BoundaryBefore(startUs, m_settings.segmentS) +
                                                    static_cast<int64_t>(m_settings.segmentS) * kSecondUs;
    m_lastPts = -1;
    m_lastFlushUs = first.arrivalUs;
    m_unflushed = 0;
    m_sizeReported = avio_tell(m_context->pb);
    ++m_segments;
    if (m_retention != nullptr) {
        m_retention->Opened(m_path, startUs);
        m_retention->Grew(m_path, static_cast<uint64_t>(m_sizeReported));
    }
    return true;
}

void CVideoSegmentWriter::CloseSegment() {
    if (m_context == nullptr) return;
    av_write_trailer(m_context);
    avio_closep(&m_context->pb);
    avformat_free_context(m_context);
    m_context = nullptr;
    if (m_retention != nullptr) m_retention->Finished(m_path);
}

bool CVideoSegmentWriter::Flush() {
    // Ends the muxer's cluster, then hands the bytes to the kernel.
    av_write_frame(m_context, nullptr);
    avio_flush(m_context->pb);
    return m_context->pb->error >= 0;
}

bool CVideoSegmentWriter::Write(const Picture& picture) {
    if (m_packet == nullptr) return false;
    const int64_t t = picture.arrivalUs;
    if (m_context != nullptr && t >= m_segmentEndUs) {
        CloseSegment();
        m_nextStartUs = m_segmentEndUs;
        // Short segments end before a second of flushing has passed.
        if (m_retention != nullptr) m_retention->Enforce(t);
    }
    if (m_context == nullptr) {
        // After a failure the disk gets a second to make room.
        if (m_openFailed && t - m_lastOpenTryUs < kSecondUs && t >= m_lastOpenTryUs) {
            Skip(m_error);
            return true;
        }
        m_lastOpenTryUs = t;
        const int64_t boundary = BoundaryBefore(t, m_settings.segmentS);
        // A segment that follows the previous one starts on the boundary; otherwise at the picture's second.
        const int64_t start = m_nextStartUs == boundary ? boundary : FloorDiv(t, kSecondUs) * kSecondUs;
        if (!OpenSegment(picture, start)) {
            m_openFailed = true;
            if (m_retention != nullptr) m_retention->MakeRoom();
            Skip(m_error);
            return true;
        }
        m_openFailed = false;
    }

    const AVStream* stream = m_context->streams[0];
    int64_t pts = av_rescale_q_rnd((t - m_segmentStartUs) / 1000, AVRational{1, 1000}, stream->time_base,
                                   static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    // Strictly increasing, also when the wall clock steps back.
    if (pts <= m_lastPts) pts = m_lastPts + 1;
    // The AVI muxer starts a file at its first picture; empty frames keep the
    // picture at its time from the segment's start.
    if (m_settings.format == VideoFormat::Avi && m_lastPts < 0) {
        for (int64_t empty = 0; empty < pts; ++empty) {
            m_packet->data = nullptr;
            m_packet->size = 0;
            m_packet->pts = m_packet->dts = empty;
            m_packet->stream_index = 0;
            m_packet->flags = 0;
            if (av_write_frame(m_context, m_packet) < 0) break;
        }
    }
    m_packet->data = const_cast<uint8_t*>(picture.data);
    m_packet->size = static_cast<int>(picture.size);
    m_packet->pts = pts;
    m_packet->dts = pts;
    m_packet->duration = 0;
    m_packet->stream_index = 0;
    m_packet->flags = AV_PKT_FLAG_KEY;
    int r = av_write_frame(m_context, m_packet);
    m_packet->data = nullptr;
    m_packet->size = 0;
    bool ok = r >= 0 && m_context->pb->error >= 0;
    if (ok) {
        m_lastPts = pts;
        ++m_unflushed;  // from here on this picture is among them
        if (t - m_lastFlushUs >= kSecondUs || t < m_lastFlushUs) {
            m_lastFlushUs = t;
            ok = Flush();
            if (ok) m_unflushed = 0;
        }
    }
    if (!ok) {
        // Whatever sat in the cluster since the last flush is lost with this picture
        // (counted among them when it got that far).
        const uint64_t lost = m_unflushed + (m_lastPts == pts ? 0 : 1);
        m_skipped.fetch_add(lost - 1, std::memory_order_relaxed);
        Skip("cannot write " + m_path + ": " + AvError(r < 0 ? r : m_context->pb->error));
        CloseSegment();
        m_openFailed = true;
        m_lastOpenTryUs = t;
        m_nextStartUs = 0;
        if (m_retention != nullptr) m_retention->MakeRoom();
        return true;
    }
    if (m_retention != nullptr) {
        const int64_t size = avio_tell(m_context->pb);
        if (size > m_sizeReported) {
            m_retention->Grew(m_path, static_cast<uint64_t>(size - m_sizeReported));
            m_sizeReported = size;
        }
        if (m_unflushed == 0) m_retention->Enforce(t);
    }
    return true;
}

bool CVideoSegmentWriter::Close() {
    CloseSegment();
    av_packet_free(&m_packet);
    return true;
}

}  // namespace kestrel::record
