// The JPEG check on any picture: never reads outside it and answers as the
// marker walk does.
#include <cstddef>
#include <cstdint>

#include "channels/JpegFrame.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/channels/JpegWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool found = kestrel::FindJpegFrameHeader(data, size);
    FUZZ_CHECK(found == (size != 0 && fuzzchannels::ReferenceJpegWalk(data, size)));
    return 0;
}
