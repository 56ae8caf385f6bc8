// The pictures: real JPEG files that decode, show their number and carry a
// stamp that proves them unchanged.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <vector>

#include "tools/camsim/CPictureRing.h"
#include "tools/camsim/CPictureStamp.h"
#include "tools/camsim/CTestPattern.h"

using namespace camsim;

namespace {

bool Decode(const std::vector<uint8_t>& jpeg, std::vector<uint8_t>* rgb, int* w, int* h) {
    tjhandle tj = tjInitDecompress();
    int sub = 0, cs = 0;
    bool ok = tjDecompressHeader3(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), w, h, &sub, &cs) == 0;
    if (ok) {
        rgb->resize(static_cast<size_t>(*w) * *h * 3);
        ok = tjDecompress2(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), rgb->data(), *w, 0, *h, TJPF_RGB,
                           0) == 0;
    }
    tjDestroy(tj);
    return ok;
}

// Mean absolute difference inside the number box of the given number.
double BoxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, unsigned w, unsigned h,
                     unsigned number) {
    unsigned box[4];
    CTestPattern::NumberBox(w, h, number, box);
    double sum = 0;
    size_t n = 0;
    for (unsigned y = box[1]; y < box[3]; ++y)
        for (unsigned x = box[0]; x < box[2]; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t i = (static_cast<size_t>(y) * w + x) * 3 + static_cast<size_t>(c);
                sum += std::abs(int{a[i]} - int{b[i]});
                ++n;
            }
    return n ? sum / static_cast<double>(n) : 1e9;
}

}  // namespace

TEST(CamsimPictures, RingDecodesAndShowsEachNumber) {
    struct Case {
        unsigned w, h, quality, count;
    };
    for (const Case c : {Case{352, 288, 60, 12}, Case{704, 480, 80, 3}, Case{176, 144, 30, 2}}) {
        std::string error;
        auto ring = CPictureRing::Encode(c.w, c.h, c.quality, c.count, &error);
        ASSERT_TRUE(ring) << error;
        ASSERT_EQ(ring->Count(), c.count);
        for (unsigned i = 0; i < c.count; ++i) {
            const EncodedPicture& p = ring->At(i);
            PictureStampInfo info;
            ASSERT_EQ(CPictureStamp::Verify(p.bytes.data(), p.bytes.size(), &info), StampResult::Ok);
            EXPECT_EQ(info.ringIndex, i);
            EXPECT_EQ(info.width, c.w);
            EXPECT_EQ(info.height, c.h);
            std::vector<uint8_t> rgb;
            int w = 0, h = 0;
            ASSERT_TRUE(Decode(p.bytes, &rgb, &w, &h)) << c.w << "x" << c.h << " #" << i;
            EXPECT_EQ(w, static_cast<int>(c.w));
            EXPECT_EQ(h, static_cast<int>(c.h));
            // The number drawn is this picture's, not the next one's.
            std::vector<uint8_t> own, other;
            CTestPattern::Render(own, c.w, c.h, i, c.count);
            CTestPattern::Render(other, c.w, c.h, i + 1, c.count);
            const double same = BoxDifference(rgb, own, c.w, c.h, i);
            const double differs = BoxDifference(rgb, other, c.w, c.h, i);
            EXPECT_LT(same, 20.0) << "#" << i;
            EXPECT_GT(differs, 2 * same + 10.0) << "#" << i;
        }
    }
}

TEST(CamsimPictures, StampForAnyFrameNumberVerifies) {
    auto ring = CPictureRing::Encode(64, 48, 50, 2, nullptr);
    ASSERT_TRUE(ring);
    const EncodedPicture& p = ring->At(1);
    for (uint32_t frame : {0u, 1u, 77u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> copy = p.bytes;
        CPictureRing::StampFor(p, frame, copy.data() + p.stampOffset);
        PictureStampInfo info;
        ASSERT_EQ(CPictureStamp::Verify(copy.data(), copy.size(), &info), StampResult::Ok) << frame;
        EXPECT_EQ(info.frameNumber, frame);
        EXPECT_EQ(info.ringIndex, 1);
    }
}

TEST(CamsimPictures, OversizedPictureIsAValidJpegPastTheLimit) {
    auto ring = CPictureRing::Encode(352, 288, 60, 1, nullptr);
    ASSERT_TRUE(ring);
    auto big = CPictureRing::MakeOversized(ring->At(0), 786432);
    ASSERT_GT(big->bytes.size(), 786432u);
    PictureStampInfo info;
    ASSERT_EQ(CPictureStamp::Verify(big->bytes.data(), big->bytes.size(), &info), StampResult::Ok);
    EXPECT_TRUE(info.padded);
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    EXPECT_TRUE(Decode(big->bytes, &rgb, &w, &h));
    EXPECT_EQ(w, 352);
}

TEST(CamsimPictures, RefusesImpossibleSizes) {
    std::string error;
    EXPECT_FALSE(CPictureRing::Encode(0, 10, 50, 1, &error));
    EXPECT_FALSE(CPictureRing::Encode(5000, 10, 50, 1, &error));
    EXPECT_FALSE(error.empty());
}
