#pragma once
#include <memory>
#include <string>
#include <vector>

#include "tools/record/CDiskRetention.h"
#include "tools/record/IPictureSink.h"
#include "tools/record/RecordOptions.h"

namespace kestrel::record {

class CGapTracker;
class CLogQueue;

// Makes the sinks of each camera of one recording: the video segments, the
// JPEG files if asked, and the gap list; all cameras share one retention.
class CRecordingSinks {
public:
    struct CameraSinks {
        std::vector<std::unique_ptr<IPictureSink>> sinks;
        CGapTracker* gaps = nullptr;  // owned by one of the sinks
    };

    CRecordingSinks(const RecordOptions& options, std::string outputDir, CLogQueue& log);

    // Sinks writing into outputDir/name/.
    CameraSinks Make(const std::string& name);
    // Sinks of a camera with settings and a folder of its own.
    CameraSinks Make(const std::string& dir, const RecordOptions& options);

    CDiskRetention& Retention() { return m_retention; }
    // What the summary names as the video files.
    std::string VideoPattern() const;

private:
    const RecordOptions& m_options;
    std::string m_dir;
    CDiskRetention m_retention;
};

}  // namespace kestrel::record
