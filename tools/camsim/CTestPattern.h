#pragma once
#include <cstdint>
#include <vector>

namespace camsim {

// Draws the simulator's moving test picture: diagonal colour stripes and a
// bar that move with the picture index, and the index itself as large
// digits in a black box at the top left.
class CTestPattern {
public:
    // rgb receives width * height * 3 bytes.
    static void Render(std::vector<uint8_t>& rgb, unsigned width, unsigned height, unsigned index, unsigned count);
    // Pixel scale of the digits for a picture height.
    static unsigned DigitScale(unsigned height);
    // The box holding the number: x0, y0, x1, y1 (exclusive) for a number.
    static void NumberBox(unsigned width, unsigned height, unsigned number, unsigned box[4]);
};

}  // namespace camsim
