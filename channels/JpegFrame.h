#pragma once
#include <cstddef>
#include <cstdint>

#include "capture/JpegFourCC.h"

namespace kestrel {

// True when the JPEG marker walk from the start of the data meets a frame
// header (SOFn) whose height and width lie inside the data, before any
// start of scan. Skips whole segments by their lengths.
bool FindJpegFrameHeader(const uint8_t* data, size_t size);

// True when the data starts with SOI (FF D8) and ends with EOI (FF D9),
// bytes 00 and FF after the EOI being padding: a picture cut short fails.
bool IsWholeJpeg(const uint8_t* data, size_t size);

// The size class written into each frame: 1 QCIF, 2 CIF, 3 2CIF, 4 4CIF.
int32_t ResolutionKind(int32_t width, int32_t height);

}  // namespace kestrel
