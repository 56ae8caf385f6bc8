#pragma once
// Hosts call by position. With the Itanium C++ ABI a pointer to a virtual
// member function holds 1 + its byte offset in the vtable, and the virtual
// destructor takes two entries (complete and deleting), so slot n >= 1 sits
// at entry n + 1.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace testhost {

template <typename M>
long SlotOf(M member) {
    static_assert(sizeof(M) == 2 * sizeof(void*));
    ptrdiff_t raw = 0;
    std::memcpy(&raw, &member, sizeof(raw));
    if ((raw & 1) == 0) return -1;  // not virtual
    return static_cast<long>((raw - 1) / static_cast<ptrdiff_t>(sizeof(void*))) - 1;
}

}  // namespace testhost

#define EXPECT_SLOT(member, slot) EXPECT_EQ(::testhost::SlotOf(&member), (slot)) << #member
