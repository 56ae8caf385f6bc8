#include "tools/record/CSimulatorStamp.h"

#include "runtime/CByteReader.h"

namespace kestrel::record {

bool CSimulatorStamp::Read(const uint8_t* comment, size_t size, uint64_t& number) {
    if (comment == nullptr || size < 12) return false;
    if (comment[0] != 'C' || comment[1] != 'S' || comment[2] != 'I' || comment[3] != 'M' || comment[4] != 1) {
        return false;
    }
    number = kestrel::CByteReader::Get32(comment + 8);
    return true;
}

}  // namespace kestrel::record
