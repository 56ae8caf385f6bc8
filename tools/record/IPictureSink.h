#pragma once
#include <cstdint>
#include <string>

#include "tools/record/Picture.h"

namespace kestrel::record {

// A place pictures are written to, on the camera's writer thread only.
class IPictureSink {
public:
    virtual ~IPictureSink() = default;
    virtual bool Open() = 0;
    virtual bool Write(const Picture& picture) = 0;
    virtual bool Close() = 0;
    // Pictures the sink could not store but went on without (a full disk);
    // read from any thread.
    virtual uint64_t Skipped() const { return 0; }
    // What went wrong, for the one line the user sees.
    virtual const std::string& Error() const = 0;
};

}  // namespace kestrel::record
