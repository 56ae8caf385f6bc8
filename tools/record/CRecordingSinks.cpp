#include "tools/record/CRecordingSinks.h"

#include "tools/record/CGapTracker.h"
#include "tools/record/CJpegFileWriter.h"
#include "tools/record/CLogQueue.h"
#include "tools/record/CVideoSegmentWriter.h"

namespace kestrel::record {

namespace {

CDiskRetention::Limits LimitsOf(const RecordOptions& options) {
    CDiskRetention::Limits limits;
    limits.maxBytes = options.maxDiskBytes;
    limits.keepUs = static_cast<int64_t>(options.keepDays * 86400.0 * 1e6);
    return limits;
}

}  // namespace

CRecordingSinks::CRecordingSinks(const RecordOptions& options, std::string outputDir, CLogQueue& log)
    : m_options(options),
      m_dir(std::move(outputDir)),
      m_retention(m_dir, LimitsOf(options), [&log](const std::string& line) { log.Post("warning: " + line); }) {
    m_retention.Scan();
}

CRecordingSinks::CameraSinks CRecordingSinks::Make(const std::string& name) {
    return Make(m_dir + "/" + name, m_options);
}

CRecordingSinks::CameraSinks CRecordingSinks::Make(const std::string& dir, const RecordOptions& options) {
    CameraSinks made;
    if (options.video != VideoFormat::None) {
        CVideoSegmentWriter::Settings settings;
        settings.format = options.video;
        settings.segmentS = options.segmentS;
        settings.intervalMs = options.intervalMs;
        made.sinks.push_back(std::make_unique<CVideoSegmentWriter>(dir, settings, &m_retention));
    }
    if (options.writeJpeg) made.sinks.push_back(std::make_unique<CJpegFileWriter>(dir));
    auto gaps = std::make_unique<CGapTracker>(dir, options.intervalMs);
    made.gaps = gaps.get();
    made.sinks.push_back(std::move(gaps));
    return made;
}

std::string CRecordingSinks::VideoPattern() const {
    if (m_options.video == VideoFormat::None) return {};
    return m_dir + "/cameraN/YYYY-MM-DDTHH-MM-SS." + CVideoSegmentWriter::Extension(m_options.video);
}

}  // namespace kestrel::record
