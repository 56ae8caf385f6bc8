#include "channels/JpegFrame.h"

namespace kestrel {

// The walk sees the picture as a run of markers:
//
//   FF D8                     start of image: no length
//   FF D0..D7                 restart markers: no length
//   FF Cn Lh Ll P Hh Hl Wh Wl frame header (n = 0-3, 5-7, 9-B, D-F);
//                             height and width at +5..+8
//   FF DA ...                 start of scan: the frame header comes too late
//   FF xx Lh Ll <L-2 bytes>   any other segment, L counts itself
//
// Bytes that are not FF between segments are stepped over one at a time.
bool FindJpegFrameHeader(const uint8_t* data, size_t size) {
    if (data == nullptr) return false;
    size_t i = 0;
    while (i < size) {
        if (data[i] != 0xFF || i + 1 >= size) {
            ++i;
            continue;
        }
        const uint8_t m = data[i + 1];
        const bool frameHeader = (m >= 0xC0 && m <= 0xCF) && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (frameHeader) return i + 9 < size;
        if (m == 0xDA) return false;
        if (m >= 0xD0 && m <= 0xD8) {
            i += 2;
            continue;
        }
        if (i + 3 >= size) return false;
        const size_t length = (static_cast<size_t>(data[i + 2]) << 8) | data[i + 3];
        i += length + 2;
    }
    return false;
}

//   FF D8 ... FF D9 [00|FF]*
bool IsWholeJpeg(const uint8_t* data, size_t size) {
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t end = size;
    while (end > 2 && (data[end - 1] == 0x00 || data[end - 1] == 0xFF)) --end;
    // SOI and EOI may not share a byte.
    return end >= 4 && data[end - 2] == 0xFF && data[end - 1] == 0xD9;
}

int32_t ResolutionKind(int32_t width, int32_t height) {
    if (width < 200) return 1;
    if (width < 400) return 2;
    // In 64 bits: twice a large height must not overflow.
    if (width < 1024 && static_cast<int64_t>(width) > 2 * static_cast<int64_t>(height)) return 3;
    return 4;
}

}  // namespace kestrel
