#include "tools/camsim/CPictureRing.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

#include "tools/camsim/CPictureStamp.h"
#include "tools/camsim/CTestPattern.h"

namespace camsim {

void CPictureRing::Finish(EncodedPicture& p) {
    PictureStampInfo info;
    info.ringIndex = p.ringIndex;
    info.fileSize = static_cast<uint32_t>(p.bytes.size());
    info.width = static_cast<uint16_t>(p.width);
    info.height = static_cast<uint16_t>(p.height);
    info.padded = p.padded;
    CPictureStamp::WriteFields(p.bytes.data() + p.stampOffset, info);
    const size_t after = p.stampOffset + CPictureStamp::kSegmentSize;
    uint64_t h = CPictureStamp::Fnv1a(CPictureStamp::kFnvOffset, p.bytes.data() + after, p.bytes.size() - after);
    p.hashState = CPictureStamp::Fnv1a(h, p.bytes.data(), p.stampOffset);
    // A valid stamp for frame 0, so the stored bytes verify as they are.
    uint8_t stamp[CPictureStamp::kSegmentSize];
    StampFor(p, 0, stamp);
    std::memcpy(p.bytes.data() + p.stampOffset, stamp, sizeof stamp);
}

void CPictureRing::StampFor(const EncodedPicture& picture, uint32_t frameNumber, uint8_t out[32]) {
    PictureStampInfo info;
    info.ringIndex = picture.ringIndex;
    info.frameNumber = frameNumber;
    info.fileSize = static_cast<uint32_t>(picture.bytes.size());
    info.width = static_cast<uint16_t>(picture.width);
    info.height = static_cast<uint16_t>(picture.height);
    info.padded = picture.padded;
    CPictureStamp::WriteFields(out, info);
    const uint64_t h = CPictureStamp::Fnv1a(picture.hashState, out, CPictureStamp::kChecksumOffset);
    CPictureStamp::WriteChecksum(out, h);
}

std::shared_ptr<const CPictureRing> CPictureRing::Encode(unsigned width, unsigned height, unsigned quality,
                                                         unsigned count, std::string* error) {
    if (width == 0 || height == 0 || width > 4096 || height > 4096) {
        if (error) *error = "picture size out of range";
        return nullptr;
    }
    quality = std::clamp(quality, 1u, 100u);
    count = std::max(1u, count);
    tjhandle tj = tjInitCompress();
    if (tj == nullptr) {
        if (error) *error = "TurboJPEG: cannot make a compressor";
        return nullptr;
    }
    auto ring = std::make_shared<CPictureRing>();
    ring->m_width = width;
    ring->m_height = height;
    ring->m_quality = quality;
    std::vector<uint8_t> rgb;
    for (unsigned i = 0; i < count; ++i) {
        CTestPattern::Render(rgb, width, height, i, count);
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        if (tjCompress2(tj, rgb.data(), static_cast<int>(width), 0, static_cast<int>(height), TJPF_RGB, &jpeg, &size,
                        TJSAMP_420, static_cast<int>(quality), 0) != 0) {
            if (error) *error = std::string("TurboJPEG: ") + tjGetErrorStr2(tj);
            tjFree(jpeg);
            tjDestroy(tj);
            return nullptr;
        }
        EncodedPicture p;
        p.ringIndex = static_cast<uint16_t>(i);
        p.width = width;
        p.height = height;
        // The stamp goes after SOI and, when present, the JFIF APP0 that must
        // stay first.
        size_t at = 2;
        if (size >= 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0) at = 4 + ((size_t{jpeg[4]} << 8) | jpeg[5]);
        at = std::min<size_t>(at, size);
        p.bytes.reserve(size + CPictureStamp::kSegmentSize);
        p.bytes.assign(jpeg, jpeg + at);
        p.bytes.resize(at + CPictureStamp::kSegmentSize);
        p.bytes.insert(p.bytes.end(), jpeg + at, jpeg + size);
        p.stampOffset = at;
        tjFree(jpeg);
        Finish(p);
        ring->m_pictures.push_back(std::move(p));
    }
    tjDestroy(tj);
    return ring;
}

std::shared_ptr<const EncodedPicture> CPictureRing::MakeOversized(const EncodedPicture& base, size_t minSize) {
    auto p = std::make_shared<EncodedPicture>(base);
    p->padded = true;
    const size_t insertAt = p->stampOffset + CPictureStamp::kSegmentSize;
    std::vector<uint8_t> pad;
    // Padding comments of the largest size a segment can have.
    while (p->bytes.size() + pad.size() <= minSize) {
        const size_t start = pad.size();
        pad.resize(start + 2 + 0xFFFF, 'P');
        pad[start] = 0xFF;
        pad[start + 1] = 0xFE;
        pad[start + 2] = 0xFF;
        pad[start + 3] = 0xFF;
    }
    p->bytes.insert(p->bytes.begin() + static_cast<std::ptrdiff_t>(insertAt), pad.begin(), pad.end());
    Finish(*p);
    return p;
}

size_t CPictureRing::LargestPicture() const {
    size_t n = 0;
    for (const auto& p : m_pictures) n = std::max(n, p.bytes.size());
    return n;
}

}  // namespace camsim
