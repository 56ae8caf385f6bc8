#pragma once
#include <cstdint>

namespace kestrel {

// An IPv4 socket address, both parts in host byte order
// (127.0.0.1 is 0x7F000001).
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

}  // namespace kestrel
