#pragma once
// Real JPEG pictures for the tests, made and checked with libjpeg-turbo.
#include <turbojpeg.h>

#include <cstdint>
#include <vector>

namespace recordtest {

inline std::vector<uint8_t> EncodeJpeg(int width, int height, uint8_t shade) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(shade + i * 7);
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> jpeg;
    if (tjCompress2(h, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_420, 75, 0) == 0) {
        jpeg.assign(out, out + size);
    }
    tjFree(out);
    tjDestroy(h);
    return jpeg;
}

// Decodes the whole picture; false when libjpeg-turbo refuses it.
inline bool DecodeJpeg(const uint8_t* data, size_t size, int* width, int* height) {
    tjhandle h = tjInitDecompress();
    int w = 0;
    int hh = 0;
    int subsampling = 0;
    int colorspace = 0;
    bool ok = tjDecompressHeader3(h, data, static_cast<unsigned long>(size), &w, &hh, &subsampling, &colorspace) == 0 &&
              w > 0 && hh > 0;
    if (ok) {
        std::vector<uint8_t> rgb(static_cast<size_t>(w) * hh * 3);
        ok = tjDecompress2(h, data, static_cast<unsigned long>(size), rgb.data(), w, 0, hh, TJPF_RGB, 0) == 0;
    }
    tjDestroy(h);
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = hh;
    return ok;
}

}  // namespace recordtest
