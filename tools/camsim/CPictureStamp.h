#pragma once
// The stamp every simulated picture carries, so that a receiver can prove
// that a delivered picture is byte-identical to one the simulator sent.
//
// A comment segment (COM, FF FE) placed after the SOI and the JFIF APP0:
//
//   off len
//    0   2  FF FE          COM marker
//    2   2  00 1E          segment length 30 (counts itself)
//    4   4  "CSIM"         magic
//    8   1  01             layout version
//    9   1  flags          bit 0: padded (oversized) picture
//   10   2  ring index     which pre-encoded picture; also the number drawn in it
//   12   4  frame number   pictures the stream sent before this one
//   16   4  file size      whole JPEG file in bytes
//   20   2  width
//   22   2  height
//   24   8  checksum       FNV-1a 64, see below
//
// All numbers big-endian. The checksum runs over every byte of the file
// except its own 8, in this order: the bytes after the COM segment to the
// end of the file, then the bytes before the COM segment, then bytes 0..23
// of the segment. This order lets the sender hash the fixed parts of a
// picture once and finish the hash over 24 bytes per picture sent.
#include <cstddef>
#include <cstdint>

namespace camsim {

struct PictureStampInfo {
    uint16_t ringIndex = 0;
    uint32_t frameNumber = 0;
    uint32_t fileSize = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    bool padded = false;
    size_t stampOffset = 0;  // where the COM marker starts
};

enum class StampResult {
    Ok,
    NotJpeg,       // no SOI, or a segment runs past the end
    NoStamp,       // no CSIM comment before the first frame header / scan
    SizeMismatch,  // stamp's file size differs from the buffer's
    ChecksumMismatch,
};

class CPictureStamp {
public:
    static constexpr size_t kSegmentSize = 32;  // marker included
    static constexpr size_t kChecksumOffset = 24;
    static constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
    static constexpr uint64_t kFnvPrime = 0x100000001b3ull;

    static uint64_t Fnv1a(uint64_t state, const uint8_t* data, size_t size);

    // Writes the 24 leading bytes of the segment (marker .. height) to out;
    // the checksum bytes are left alone.
    static void WriteFields(uint8_t* out, const PictureStampInfo& info);
    // Writes the 8 checksum bytes.
    static void WriteChecksum(uint8_t* out, uint64_t checksum);

    // Finds the stamp and checks it. info may be null.
    static StampResult Verify(const uint8_t* data, size_t size, PictureStampInfo* info);
    // Finds the stamp without checking sizes or checksum; false when absent.
    static bool Find(const uint8_t* data, size_t size, PictureStampInfo* info);

    static const char* ResultText(StampResult result);
};

}  // namespace camsim
