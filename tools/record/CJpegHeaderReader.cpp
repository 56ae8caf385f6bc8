#include "tools/record/CJpegHeaderReader.h"

#include "runtime/CByteReader.h"

namespace kestrel::record {

namespace {

bool IsFrameHeader(uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

}  // namespace

bool CJpegHeaderReader::Inspect(const uint8_t* data, size_t size, JpegInfo& info) {
    info = JpegInfo{};
    if (data == nullptr || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t i = 2;
    while (i + 1 < size) {
        if (data[i] != 0xFF) break;  // not a marker: the headers are damaged
        const uint8_t m = data[i + 1];
        if (m == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (m == 0xD8 || (m >= 0xD0 && m <= 0xD7) || m == 0x01) {  // markers without a length
            i += 2;
            continue;
        }
        if (m == 0xDA || m == 0xD9) break;
        if (i + 4 > size) break;
        const uint32_t length = CByteReader::Get16(data + i + 2);
        if (length < 2 || i + 2 + length > size) break;
        const uint8_t* payload = data + i + 4;
        const size_t payloadSize = length - 2;
        if (IsFrameHeader(m) && info.width == 0 && payloadSize >= 5) {
            info.height = static_cast<int32_t>(CByteReader::Get16(payload + 1));
            info.width = static_cast<int32_t>(CByteReader::Get16(payload + 3));
        } else if (m == 0xFE && info.comment == nullptr) {
            info.comment = payload;
            info.commentSize = payloadSize;
        }
        i += 2 + length;
    }
    return info.width > 0 && info.height > 0;
}

}  // namespace kestrel::record
