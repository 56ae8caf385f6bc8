#pragma once
#include <cstddef>
#include <cstdint>

namespace kestrel::record {

// The picture number the camera simulator writes into the comment segment
// of every picture; with it the recorder counts lost pictures exactly.
//
// Comment payload (after FF FE and the two length bytes), big-endian:
//   off len
//    0   4  "CSIM"         magic
//    4   1  01             layout version
//    5   1  flags
//    6   2  ring index
//    8   4  frame number   pictures the stream sent before this one
//   12  ...                sizes and checksum (not needed here)
class CSimulatorStamp {
public:
    static bool Read(const uint8_t* comment, size_t size, uint64_t& number);
};

}  // namespace kestrel::record
