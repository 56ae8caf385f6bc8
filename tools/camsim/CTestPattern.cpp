#include "tools/camsim/CTestPattern.h"

#include <algorithm>
#include <string>

namespace camsim {
namespace {

// 5x7 digits, one byte per row, bit 4 is the left column.
constexpr uint8_t kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

}  // namespace

unsigned CTestPattern::DigitScale(unsigned height) { return std::max(1u, height / 48); }

void CTestPattern::NumberBox(unsigned width, unsigned height, unsigned number, unsigned box[4]) {
    const unsigned s = DigitScale(height);
    const unsigned digits = static_cast<unsigned>(std::to_string(number).size());
    box[0] = std::min(width, 2 * s);
    box[1] = std::min(height, 2 * s);
    box[2] = std::min(width, box[0] + (digits * 6 + 1) * s);
    box[3] = std::min(height, box[1] + 9 * s);
}

void CTestPattern::Render(std::vector<uint8_t>& rgb, unsigned width, unsigned height, unsigned index, unsigned count) {
    rgb.resize(static_cast<size_t>(width) * height * 3);
    if (count == 0) count = 1;
    const unsigned phase = index * 64 / count;             // stripes move one period per ring
    const unsigned bar = width * (index % count) / count;  // bar sweeps once per ring
    const unsigned barWidth = std::max(2u, width / 32);
    for (unsigned y = 0; y < height; ++y) {
        uint8_t* row = rgb.data() + static_cast<size_t>(y) * width * 3;
        for (unsigned x = 0; x < width; ++x) {
            const unsigned d = (x + y + phase) & 63;
            uint8_t r = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
            uint8_t g = static_cast<uint8_t>(d < 32 ? d * 8 : (63 - d) * 8);
            uint8_t b = static_cast<uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
            if (x >= bar && x < bar + barWidth) r = g = b = 240;
            row[3 * x] = r;
            row[3 * x + 1] = g;
            row[3 * x + 2] = b;
        }
    }
    unsigned box[4];
    NumberBox(width, height, index, box);
    for (unsigned y = box[1]; y < box[3]; ++y)
        for (unsigned x = box[0]; x < box[2]; ++x) {
            uint8_t* p = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
            p[0] = p[1] = p[2] = 0;
        }
    const unsigned s = DigitScale(height);
    const std::string text = std::to_string(index);
    for (size_t k = 0; k < text.size(); ++k) {
        const uint8_t* glyph = kDigits[text[k] - '0'];
        const unsigned gx = box[0] + s + static_cast<unsigned>(k) * 6 * s;
        const unsigned gy = box[1] + s;
        for (unsigned r = 0; r < 7; ++r)
            for (unsigned c = 0; c < 5; ++c) {
                if (((glyph[r] >> (4 - c)) & 1) == 0) continue;
                for (unsigned yy = gy + r * s; yy < gy + (r + 1) * s && yy < height; ++yy)
                    for (unsigned xx = gx + c * s; xx < gx + (c + 1) * s && xx < width; ++xx) {
                        uint8_t* p = rgb.data() + (static_cast<size_t>(yy) * width + xx) * 3;
                        p[0] = p[1] = p[2] = 255;
                    }
            }
    }
}

}  // namespace camsim
