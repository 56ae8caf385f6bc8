// The pictures: real JPEG files that decode, show their number and carry a
// stamp that proves them unchanged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "CamsimTestUtil.h"
#include "tools/camsim/CPictureRing.h"
#include "tools/camsim/CPictureStamp.h"
#include "tools/camsim/CTestPattern.h"

using namespace camsim;

namespace {

// A minimal stamped file, checksum made here independently: FNV-1a 64 over
// what follows the stamp, then what precedes it, then the stamp up to the sum.
std::vector<uint8_t> StampedFile(uint32_t frame) {
    std::vector<uint8_t> f = {
        0xFF, 0xD8,                                                        // SOI
        0xFF, 0xE0, 0x00, 0x04,                                            // APP0, length 4
        0x4A, 0x46,                                                        // payload
        0xFF, 0xFE, 0x00, 0x1E,                                            // COM, length 30      (offset 8)
        'C',  'S',  'I',  'M',                                             // magic
        0x01, 0x00,                                                        // version 1, flags 0
        0x00, 0x07,                                                        // ring index 7
        0,    0,    0,    0,                                               // frame number        (offset 20)
        0,    0,    0,    0,                                               // file size           (offset 24)
        0x01, 0x60, 0x01, 0x20,                                            // 352 x 288
        0,    0,    0,    0,    0,    0,    0,    0,                       // checksum (offset 32)
        0xFF, 0xC0, 0x00, 0x0B,                                            // SOF0, length 11
        0x08, 0x01, 0x20, 0x01, 0x60, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9,  // EOI
    };
    const uint32_t size = static_cast<uint32_t>(f.size());
    for (int i = 0; i < 4; ++i) {
        f[20 + i] = static_cast<uint8_t>(frame >> (24 - 8 * i));
        f[24 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }
    uint64_t h = 0xcbf29ce484222325ull;
    for (auto [from, to] : {std::pair<size_t, size_t>{40, f.size()}, {0, 8}, {8, 32}})
        for (size_t i = from; i < to; ++i) h = (h ^ f[i]) * 0x100000001b3ull;
    for (int i = 0; i < 8; ++i) f[32 + i] = static_cast<uint8_t>(h >> (56 - 8 * i));
    return f;
}

// Mean absolute difference inside the box where the number is drawn.
double BoxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, unsigned w, unsigned h,
                     unsigned number) {
    unsigned box[4];
    CTestPattern::NumberBox(w, h, number, box);
    double sum = 0;
    size_t n = 0;
    for (unsigned y = box[1]; y < box[3]; ++y)
        for (size_t i = (size_t{y} * w + box[0]) * 3; i < (size_t{y} * w + box[2]) * 3; ++i, ++n)
            sum += std::abs(int{a[i]} - int{b[i]});
    return n ? sum / static_cast<double>(n) : 1e9;
}

}  // namespace

TEST(CamsimPictureStamp, HandBuiltFileEveryFlippedByteAndEveryCut) {
    const auto good = StampedFile(123456);
    PictureStampInfo info;
    ASSERT_EQ(CPictureStamp::Verify(good.data(), good.size(), &info), StampResult::Ok);
    EXPECT_EQ(info.frameNumber, 123456u);
    EXPECT_EQ(info.ringIndex, 7);
    EXPECT_EQ(info.width * 1000 + info.height, 352288);
    EXPECT_EQ(info.stampOffset, 8u);
    EXPECT_FALSE(info.padded);
    for (size_t i = 0; i < good.size(); ++i) {
        auto f = good;
        f[i] ^= 0x01;
        EXPECT_NE(CPictureStamp::Verify(f.data(), f.size(), nullptr), StampResult::Ok) << "byte " << i;
    }
    // Before the stamp ends a cut file cannot show one; after, its size tells.
    for (size_t n = 0; n < good.size(); ++n) {
        const StampResult r = CPictureStamp::Verify(good.data(), n, nullptr);
        EXPECT_TRUE(n < 40 ? r == StampResult::NotJpeg || r == StampResult::NoStamp : r == StampResult::SizeMismatch)
            << n << ": " << static_cast<int>(r);
    }
    auto longer = good;
    longer.push_back(0);
    EXPECT_EQ(CPictureStamp::Verify(longer.data(), longer.size(), nullptr), StampResult::SizeMismatch);
    const std::vector<uint8_t> late = {0xFF, 0xD8,               // SOI
                                       0xFF, 0xC0, 0x00, 0x02,   // frame header first
                                       0xFF, 0xFE, 0x00, 0x1E};  // a stamp after it does not count
    EXPECT_EQ(CPictureStamp::Verify(late.data(), late.size(), nullptr), StampResult::NoStamp);
}

TEST(CamsimPictures, RingDecodesAndShowsEachNumber) {
    struct Case {
        unsigned w, h, quality, count;
    };
    for (const Case c : {Case{352, 288, 60, 6}, Case{704, 480, 80, 2}, Case{176, 144, 30, 2}}) {
        auto ring = CPictureRing::Encode(c.w, c.h, c.quality, c.count, nullptr);
        ASSERT_TRUE(ring);
        ASSERT_EQ(ring->Count(), c.count);
        for (unsigned i = 0; i < c.count; ++i) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " #" << i);
            const EncodedPicture& p = ring->At(i);
            PictureStampInfo info;
            ASSERT_EQ(CPictureStamp::Verify(p.bytes.data(), p.bytes.size(), &info), StampResult::Ok);
            EXPECT_EQ(info.ringIndex, i);
            std::vector<uint8_t> rgb, own, next;
            int w = 0, h = 0;
            ASSERT_TRUE(camsim_test::Decodes(p.bytes, &w, &h, &rgb));
            ASSERT_EQ(w * 10000 + h, static_cast<int>(c.w * 10000 + c.h));
            // The number drawn is this picture's, not the next one's.
            CTestPattern::Render(own, c.w, c.h, i, c.count);
            CTestPattern::Render(next, c.w, c.h, i + 1, c.count);
            const double same = BoxDifference(rgb, own, c.w, c.h, i);
            EXPECT_LT(same, 20.0);
            EXPECT_GT(BoxDifference(rgb, next, c.w, c.h, i), 2 * same + 10.0);
        }
    }
    EXPECT_FALSE(CPictureRing::Encode(0, 10, 50, 1, nullptr));
    EXPECT_FALSE(CPictureRing::Encode(5000, 10, 50, 1, nullptr));
}
