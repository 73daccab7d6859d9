// ColorTable16 builders shared by the decoder's 16-bit targets and the
// blitter: one 16-bit pixel per palette entry (palette = 256 x R, G, B).
#pragma once
#include <cstdint>

// Flags words mark 16-bit formats alike everywhere.
constexpr uint32_t kFormat555 = 0x80000000u;
constexpr uint32_t kFormat565 = 0xC0000000u;

inline uint16_t Pack555(uint32_t r, uint32_t g, uint32_t b) {
    return static_cast<uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
}
inline uint16_t Pack565(uint32_t r, uint32_t g, uint32_t b) {
    return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
}

void BuildColorTable555(uint16_t table[256], const uint8_t palette[768]);
void BuildColorTable565(uint16_t table[256], const uint8_t palette[768]);
