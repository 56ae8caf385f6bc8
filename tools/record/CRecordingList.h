#pragma once
#include <string>
#include <vector>

#include "tools/record/ILiveSource.h"

namespace kestrel::record {

// The recorded files of one camera found in a folder: PREFIX.EXT and
// PREFIX-anything.EXT (any name with the extension when the prefix is
// empty), oldest first. A name that holds
// its start time (2026-12-08T18-00-00) gives start and length; the newest
// file is the one being written while the recorder runs.
class CRecordingList {
public:
    static std::vector<RecordingFile> Scan(const std::string& directory, const std::string& prefix,
                                           const std::string& extension, bool newestBeingWritten);
    // Local time in a name such as "2026-12-08T18-00-00.mkv", microseconds since 1970; 0 if none.
    static int64_t StartFromName(const std::string& name);
};

}  // namespace kestrel::record
