#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace camsim {

// One pre-encoded JPEG file with room for its stamp (CPictureStamp.h).
struct EncodedPicture {
    std::vector<uint8_t> bytes;  // stamp's frame number and checksum not yet filled in
    size_t stampOffset = 0;
    uint64_t hashState = 0;  // checksum state over the bytes outside the stamp
    uint16_t ringIndex = 0;
    unsigned width = 0;
    unsigned height = 0;
    bool padded = false;
};

// A ring of test pictures encoded once, so that streaming costs no
// encoding. Immutable after Encode, so streams of many cameras share it.
class CPictureRing {
public:
    // quality is libjpeg's 1..100.
    static std::shared_ptr<const CPictureRing> Encode(unsigned width, unsigned height, unsigned quality, unsigned count,
                                                      std::string* error);
    // A copy of base grown past minSize with padding comment segments; still
    // a valid JPEG file.
    static std::shared_ptr<const EncodedPicture> MakeOversized(const EncodedPicture& base, size_t minSize);
    // The 32 stamp bytes of picture for a given frame number.
    static void StampFor(const EncodedPicture& picture, uint32_t frameNumber, uint8_t out[32]);

    size_t Count() const { return m_pictures.size(); }
    const EncodedPicture& At(size_t i) const { return m_pictures[i]; }
    unsigned Width() const { return m_width; }
    unsigned Height() const { return m_height; }
    unsigned Quality() const { return m_quality; }
    size_t LargestPicture() const;

private:
    static void Finish(EncodedPicture& p);

    std::vector<EncodedPicture> m_pictures;
    unsigned m_width = 0;
    unsigned m_height = 0;
    unsigned m_quality = 0;
};

}  // namespace camsim
