#pragma once
#include <cstddef>
#include <cstdint>

namespace kestrel::record {

// What the recorder needs from a JPEG picture's headers.
struct JpegInfo {
    int32_t width = 0;  // from the frame header; 0 when none was found
    int32_t height = 0;
    const uint8_t* comment = nullptr;  // payload of the first comment segment, or null
    size_t commentSize = 0;
};

// Walks the marker segments of a JPEG picture up to the start of scan.
//
//   FF D8                          start of image
//   FF xx LH LL <LH:LL - 2 bytes>  segment: marker, big-endian length counting itself
//   FF Cn LH LL P HH HH WW WW ...  frame header (SOF0-3, 5-7, 9-11, 13-15):
//                                  precision, height, width
//   FF FE LH LL <text>             comment
//   FF DA ...                      start of scan: the walk ends here
//
// Lengths are checked against the data; a truncated segment ends the walk.
class CJpegHeaderReader {
public:
    // True when a frame header with a non-zero size was found.
    static bool Inspect(const uint8_t* data, size_t size, JpegInfo& info);
};

}  // namespace kestrel::record
