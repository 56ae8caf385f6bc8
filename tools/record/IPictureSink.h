#pragma once
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
    // What went wrong, for the one line the user sees.
    virtual const std::string& Error() const = 0;
};

}  // namespace kestrel::record
