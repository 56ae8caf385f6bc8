#include "tools/record/CSimulatorStamp.h"

namespace kestrel::record {

bool CSimulatorStamp::Read(const uint8_t* comment, size_t size, uint64_t& number) {
    if (comment == nullptr || size < 12) return false;
    if (comment[0] != 'C' || comment[1] != 'S' || comment[2] != 'I' || comment[3] != 'M' || comment[4] != 1) {
        return false;
    }
    number = (static_cast<uint64_t>(comment[8]) << 24) | (static_cast<uint64_t>(comment[9]) << 16) |
             (static_cast<uint64_t>(comment[10]) << 8) | comment[11];
    return true;
}

}  // namespace kestrel::record
