// The shared big-endian reader and writer: every field width, every truncation.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "runtime/CByteReader.h"
#include "runtime/CByteWriter.h"

namespace {

using kestrel::CByteReader;
using kestrel::CByteWriter;

// One of each field, most significant byte first.
constexpr std::array<uint8_t, 18> kFields = {
    0xA1,                                            // u8   0xA1
    0xB2, 0xC3,                                      // u16  0xB2C3
    0x01, 0x02, 0x03,                                // u24  0x010203
    0xD4, 0xE5, 0xF6, 0x07,                          // u32  0xD4E5F607
    0x80, 0x00, 0x00, 0x01, 0x12, 0x34, 0x56, 0x78,  // u64  0x8000000112345678
};

struct Fields {
    uint8_t a;
    uint16_t b;
    uint32_t c;
    uint32_t d;
    uint64_t e;
};

bool ReadFields(const uint8_t* data, size_t length, Fields& f) {
    CByteReader r(data, length);
    f.a = r.U8();
    f.b = r.U16();
    f.c = r.U24();
    f.d = r.U32();
    f.e = r.U64();
    return r.Ok() && r.Remaining() == 0;
}

TEST(CByteReader, ReadsEveryWidthInNetworkOrder) {
    Fields f{};
    ASSERT_TRUE(ReadFields(kFields.data(), kFields.size(), f));
    EXPECT_EQ(f.a, 0xA1);
    EXPECT_EQ(f.b, 0xB2C3);
    EXPECT_EQ(f.c, 0x010203u);
    EXPECT_EQ(f.d, 0xD4E5F607u);
    EXPECT_EQ(f.e, 0x8000000112345678ull);
    EXPECT_EQ(CByteReader::Get16(kFields.data() + 1), 0xB2C3);
    EXPECT_EQ(CByteReader::Get32(kFields.data() + 6), 0xD4E5F607u);
}

TEST(CByteReader, EveryTruncationFailsWithoutReadingPastTheEnd) {
    for (size_t length = 0; length < kFields.size(); ++length) {
        // A heap copy of exactly `length` bytes, so ASan sees any overread.
        std::vector<uint8_t> copy(kFields.begin(), kFields.begin() + static_cast<std::ptrdiff_t>(length));
        Fields f{};
        EXPECT_FALSE(ReadFields(copy.data(), copy.size(), f)) << "length " << length;
    }
}

TEST(CByteReader, AFailedReadStaysFailedAndReturnsZero) {
    const uint8_t data[] = {0x12, 0x34, 0x56};
    CByteReader r(data, sizeof data);
    EXPECT_EQ(r.U32(), 0u);  // 3 bytes left: too short
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Offset(), 0u);
    EXPECT_EQ(r.U8(), 0u);  // would fit, but the error sticks
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Bytes(1), nullptr);
}

TEST(CByteReader, BytesAndSkipHonourTheEnd) {
    const uint8_t data[] = {1, 2, 3, 4, 5};
    struct Case {
        size_t skip;
        size_t take;
        bool ok;
    };
    const Case cases[] = {{0, 5, true}, {2, 3, true}, {5, 0, true}, {3, 3, false}, {6, 0, false}, {0, SIZE_MAX, false}};
    for (const Case& c : cases) {
        CByteReader r(data, sizeof data);
        r.Skip(c.skip);
        const uint8_t* p = r.Bytes(c.take);
        EXPECT_EQ(r.Ok(), c.ok) << c.skip << "+" << c.take;
        if (c.ok) {
            EXPECT_EQ(p, data + c.skip);
        }
    }
    CByteReader none(nullptr, 100);  // a null buffer has no bytes, whatever its length says
    EXPECT_EQ(none.U8(), 0u);
    EXPECT_FALSE(none.Ok());
}

void WriteFields(CByteWriter& w) {
    w.U8(0xA1);
    w.U16(0xB2C3);
    w.U24(0x010203);
    w.U32(0xD4E5F607u);
    w.U64(0x8000000112345678ull);
}

TEST(CByteWriter, WritesEveryWidthInNetworkOrder) {
    std::array<uint8_t, 18> out{};
    CByteWriter w(out.data(), out.size());
    WriteFields(w);
    ASSERT_TRUE(w.Ok());
    EXPECT_EQ(w.Size(), kFields.size());
    EXPECT_EQ(out, kFields);
}

TEST(CByteWriter, EveryShortBufferFailsWithoutWritingPastItsEnd) {
    for (size_t capacity = 0; capacity < kFields.size(); ++capacity) {
        // A guard byte after the buffer must survive.
        std::vector<uint8_t> out(capacity + 1, 0xEE);
        CByteWriter w(out.data(), capacity);
        WriteFields(w);
        EXPECT_FALSE(w.Ok()) << "capacity " << capacity;
        EXPECT_LE(w.Size(), capacity);
        EXPECT_EQ(out[capacity], 0xEE) << "capacity " << capacity;
    }
}

TEST(CByteWriter, BytesZerosAndPatch) {
    uint8_t out[8] = {};
    CByteWriter w(out, sizeof out);
    w.U16(0);  // length, patched below
    const uint8_t payload[] = {0xAA, 0xBB};
    w.Bytes(payload, sizeof payload);
    w.Zeros(2);
    w.PatchU16(0, 0x0102);
    ASSERT_TRUE(w.Ok());
    const uint8_t expected[] = {0x01, 0x02, 0xAA, 0xBB, 0x00, 0x00};
    EXPECT_EQ(w.Size(), sizeof expected);
    EXPECT_TRUE(std::equal(expected, expected + sizeof expected, out));

    w.PatchU16(5, 0xFFFF);  // would run past what was written
    EXPECT_FALSE(w.Ok());
    EXPECT_EQ(out[5], 0x00);

    CByteWriter full(out, 2);
    full.Zeros(3);
    EXPECT_FALSE(full.Ok());
    EXPECT_EQ(full.Size(), 0u);
}

}  // namespace
