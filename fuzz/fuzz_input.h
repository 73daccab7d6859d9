// What the fuzz targets share: the input's little-endian words, and the
// pixel formats their option bits pick.
#pragma once
#include <cstdint>

inline uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
// 8-bit, 5-5-5, 5-6-5, and 8-bit again for the fourth value of two bits.
constexpr uint32_t kPixelFormats[4] = {0, 0x80000000u, 0xC0000000u, 0};
