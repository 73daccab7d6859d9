// Smoothing, one pixel at a time: each source pixel c becomes a 2x2 block
//     T(l, u)  T(c, u)
//     T(c, l)  c
// with l the left and u the upper neighbour; a missing neighbour (column 0,
// the rectangle's first row) is c itself, so nothing outside the rectangle
// is read. The plain kernels do whole rows so, the vector ones the pixels
// after their last full vector. Static: a vector file's copy must not stand
// in for the plain kernels' one.
#pragma once
#include <cstdint>
#include <cstring>

// Pixels x..width-1 of a row of 8-bit pixels into the two output rows.
static inline void SmoothRow8(uint8_t* top, uint8_t* bottom, const uint8_t* src, const uint8_t* up, int x, int width,
                              const uint8_t* smoothTable) {
    uint32_t l = src[x ? x - 1 : 0];
    for (; x < width; ++x) {
        const uint32_t c = src[x], u = up[x];
        top[2 * x] = smoothTable[l * 256 + u];
        top[2 * x + 1] = smoothTable[c * 256 + u];
        bottom[2 * x] = smoothTable[c * 256 + l];
        bottom[2 * x + 1] = static_cast<uint8_t>(c);
        l = c;
    }
}

// The same into 16-bit pixels, T(c, c) standing for c.
static inline void SmoothRow16(uint8_t* top, uint8_t* bottom, const uint8_t* src, const uint8_t* up, int x, int width,
                               const uint16_t* smoothTable) {
    uint32_t l = src[x ? x - 1 : 0];
    for (; x < width; ++x) {
        const uint32_t c = src[x], u = up[x];
        const uint32_t upper = smoothTable[l * 256 + u] | static_cast<uint32_t>(smoothTable[c * 256 + u]) << 16;
        const uint32_t lower = smoothTable[c * 256 + l] | static_cast<uint32_t>(smoothTable[c * 257]) << 16;
        std::memcpy(top + 4 * x, &upper, 4);
        std::memcpy(bottom + 4 * x, &lower, 4);
        l = c;
    }
}
