#include "tools/camsim/CPictureStamp.h"

namespace camsim {
namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Get32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

bool IsFrameHeader(uint8_t m) { return (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC); }

}  // namespace

uint64_t CPictureStamp::Fnv1a(uint64_t state, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        state ^= data[i];
        state *= kFnvPrime;
    }
    return state;
}

void CPictureStamp::WriteFields(uint8_t* out, const PictureStampInfo& info) {
    out[0] = 0xFF;
    out[1] = 0xFE;
    Put16(out + 2, kSegmentSize - 2);
    out[4] = 'C';
    out[5] = 'S';
    out[6] = 'I';
    out[7] = 'M';
    out[8] = 1;
    out[9] = info.padded ? 1 : 0;
    Put16(out + 10, info.ringIndex);
    Put32(out + 12, info.frameNumber);
    Put32(out + 16, info.fileSize);
    Put16(out + 20, info.width);
    Put16(out + 22, info.height);
}

void CPictureStamp::WriteChecksum(uint8_t* out, uint64_t checksum) {
    for (int i = 0; i < 8; ++i) out[kChecksumOffset + i] = static_cast<uint8_t>(checksum >> (56 - 8 * i));
}

bool CPictureStamp::Find(const uint8_t* data, size_t size, PictureStampInfo* info) {
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t i = 2;
    // Segments: FF, marker, 16-bit length counting itself, payload.
    while (i + 4 <= size) {
        if (data[i] != 0xFF) return false;
        const uint8_t m = data[i + 1];
        if (m == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (m == 0xDA || m == 0xD9 || IsFrameHeader(m)) return false;
        const size_t len = Get16(data + i + 2);
        if (len < 2 || i + 2 + len > size) return false;
        if (m == 0xFE && len == kSegmentSize - 2 && data[i + 4] == 'C' && data[i + 5] == 'S' && data[i + 6] == 'I' &&
            data[i + 7] == 'M' && data[i + 8] == 1) {
            if (info != nullptr) {
                const uint8_t* s = data + i;
                info->padded = (s[9] & 1) != 0;
                info->ringIndex = Get16(s + 10);
                info->frameNumber = Get32(s + 12);
                info->fileSize = Get32(s + 16);
                info->width = Get16(s + 20);
                info->height = Get16(s + 22);
                info->stampOffset = i;
            }
            return true;
        }
        i += 2 + len;
    }
    return false;
}

StampResult CPictureStamp::Verify(const uint8_t* data, size_t size, PictureStampInfo* info) {
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return StampResult::NotJpeg;
    PictureStampInfo found;
    if (!Find(data, size, &found)) return StampResult::NoStamp;
    if (info != nullptr) *info = found;
    if (found.fileSize != size) return StampResult::SizeMismatch;
    const size_t at = found.stampOffset;
    uint64_t h = Fnv1a(kFnvOffset, data + at + kSegmentSize, size - at - kSegmentSize);
    h = Fnv1a(h, data, at);
    h = Fnv1a(h, data + at, kChecksumOffset);
    uint64_t stored = 0;
    for (size_t k = 0; k < 8; ++k) stored = (stored << 8) | data[at + kChecksumOffset + k];
    return stored == h ? StampResult::Ok : StampResult::ChecksumMismatch;
}

const char* CPictureStamp::ResultText(StampResult result) {
    switch (result) {
    case StampResult::Ok:
        return "ok";
    case StampResult::NotJpeg:
        return "not a JPEG file";
    case StampResult::NoStamp:
        return "no simulator stamp";
    case StampResult::SizeMismatch:
        return "size differs from the stamp";
    case StampResult::ChecksumMismatch:
        return "checksum differs";
    }
    return "?";
}

}  // namespace camsim
