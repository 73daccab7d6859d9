// Unaligned loads and stores for the kernels: pitches may be odd, so 16-bit
// and wider accesses go through memcpy, which compiles to single moves.
#pragma once
#include <cstdint>
#include <cstring>

namespace blit_io {

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store16(uint8_t* p, uint32_t v) {
    const uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(p, &w, 2);
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Byte b of a little-endian word; the kernels rely on x86 byte order.
inline uint32_t Byte(uint32_t v, int b) { return (v >> (8 * b)) & 0xFF; }

}  // namespace blit_io
