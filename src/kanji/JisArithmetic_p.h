#pragma once

// The two code arithmetics between JIS X 0208 row/cell bytes (0x21-0x7E each) and Shift-JIS.

#include <cstdint>

namespace orvalink::kanji {

struct BytePair {
    std::uint8_t first;
    std::uint8_t second;
};

// JIS X 0208 -> Shift-JIS. Both bytes must be within 0x20-0x7E.
constexpr BytePair jisToShiftJis(int j1, int j2)
{
    const int s1 = ((j1 - 1) >> 1) + (j1 < 0x5F ? 0x71 : 0xB1);
    const int s2 = j2 + ((j1 & 1) == 0 ? 0x7E : (j2 < 0x60 ? 0x1F : 0x20));
    return {static_cast<std::uint8_t>(s1), static_cast<std::uint8_t>(s2)};
}

// Shift-JIS -> JIS X 0208 for any pair of bytes; the result is only meaningful for a valid pair,
// and the caller checks its range after bit 7 is cleared. The values wrap to a byte.
constexpr BytePair shiftJisToJis(int a, int b)
{
    int j1 = a * 2 - (a < 0xA0 ? 0xE1 : 0x161);
    int j2;
    if (b > 0x9E) {
        ++j1;
        j2 = b - 0x7E;
    } else {
        j2 = b - (b < 0x80 ? 0x1F : 0x20);
    }
    return {static_cast<std::uint8_t>(j1 & 0xFF), static_cast<std::uint8_t>(j2 & 0xFF)};
}

} // namespace orvalink::kanji
