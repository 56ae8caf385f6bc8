#pragma once
#include <cstddef>
#include <cstdint>

namespace fuzzchannels {

// The frame-header walk written out again, step by step as the channel's
// rules give it, as the judge of FindJpegFrameHeader.
inline bool ReferenceJpegWalk(const uint8_t* d, size_t n) {
    size_t i = 0;
    while (i < n) {
        if (d[i] != 0xFF) {
            i += 1;
            continue;
        }
        if (i + 1 >= n) {
            i += 1;
            continue;
        }
        const uint8_t m = d[i + 1];
        switch (m) {
        case 0xC0:
        case 0xC1:
        case 0xC2:
        case 0xC3:
        case 0xC5:
        case 0xC6:
        case 0xC7:
        case 0xC9:
        case 0xCA:
        case 0xCB:
        case 0xCD:
        case 0xCE:
        case 0xCF:
            return i + 9 < n;
        case 0xDA:
            return false;
        case 0xD0:
        case 0xD1:
        case 0xD2:
        case 0xD3:
        case 0xD4:
        case 0xD5:
        case 0xD6:
        case 0xD7:
        case 0xD8:
            i += 2;
            continue;
        default:
            if (i + 3 >= n) return false;
            i += size_t{d[i + 2]} * 256 + d[i + 3] + 2;
        }
    }
    return false;
}

// A whole picture, said another way: SOI at 0, and the last byte that is
// not padding (00 or FF) is the D9 of an EOI after the SOI.
inline bool ReferenceWholeJpeg(const uint8_t* d, size_t n) {
    if (d == nullptr || n < 4 || d[0] != 0xFF || d[1] != 0xD8) return false;
    size_t last = n;
    for (size_t i = n; i-- > 0;) {
        if (d[i] != 0x00 && d[i] != 0xFF) {
            last = i;
            break;
        }
    }
    return last != n && last >= 3 && d[last] == 0xD9 && d[last - 1] == 0xFF;
}

}  // namespace fuzzchannels
