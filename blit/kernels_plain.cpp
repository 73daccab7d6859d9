// The reference kernels: plain C++, every other variant must match them
// byte for byte.
#include <algorithm>
#include <cstring>

#include "blit/kernels.h"
#include "blit/pixel_io.h"
#include "blit/smooth_row.h"
#include "common/color_table16.h"

using namespace blit_io;

DECL_BLIT8_FN(Copy8_plain) {
    // memmove so that a copy within one buffer (a scroll) stays sound.
    for (int y = 0; y < height; ++y) {
        std::memmove(dst, src, static_cast<size_t>(width));
        dst += width + dstStride;
        src += width + srcStep;
    }
}

namespace {

// Two source bytes a, b as the four bytes a a b b.
inline uint32_t Doubled(uint32_t pair) { return (pair & 0xFF) * 0x0101u | (pair >> 8 & 0xFF) * 0x01010000u; }

// One row of 8-bit doubling: four source pixels per step (one 32-bit read,
// two 32-bit writes), then the rest one by one.
inline void DoubleRow8(uint8_t* out, const uint8_t* in, int width) {
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const uint32_t v = Load32(in + x);
        Store32(out + 2 * x, Doubled(v));
        Store32(out + 2 * x + 4, Doubled(v >> 16));
    }
    for (; x < width; ++x) out[2 * x] = out[2 * x + 1] = in[x];
}

inline void LookupRow16(uint8_t* out, const uint8_t* in, int width, const uint16_t* table) {
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const uint32_t v = Load32(in + x);
        Store32(out + 2 * x, table[Byte(v, 0)] | static_cast<uint32_t>(table[Byte(v, 1)]) << 16);
        Store32(out + 2 * x + 4, table[Byte(v, 2)] | static_cast<uint32_t>(table[Byte(v, 3)]) << 16);
    }
    for (; x < width; ++x) Store16(out + 2 * x, table[in[x]]);
}

// Every looked-up pixel twice: four source pixels per step.
inline void DoubleRow16(uint8_t* out, const uint8_t* in, int width, const uint16_t* table) {
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const uint32_t v = Load32(in + x);
        for (int k = 0; k < 4; ++k) Store32(out + 4 * (x + k), table[Byte(v, k)] * 0x10001u);
    }
    for (; x < width; ++x) Store32(out + 4 * x, table[in[x]] * 0x10001u);
}

}  // namespace

DECL_BLIT8_FN(Double8_plain) {
    // The row is written once and copied to the line below it.
    for (int y = 0; y < height; ++y) {
        DoubleRow8(dst, src, width);
        std::memcpy(dst + dstStride, dst, 2 * static_cast<size_t>(width));
        dst += 2 * dstStride;
        src += width + srcStep;
    }
}

DECL_BLIT8_FN(Interlace8_plain) {
    for (int y = 0; y < height; ++y) {
        DoubleRow8(dst, src, width);
        dst += 2 * width + dstStride;
        src += width + srcStep;
    }
}

DECL_BLIT16_FN(Lookup16_plain) {
    for (int y = 0; y < height; ++y) {
        LookupRow16(dst, src, width, colorTable16);
        dst += 2 * width + dstStride;
        src += width + srcStep;
    }
}

DECL_BLIT16_FN(Double16_plain) {
    for (int y = 0; y < height; ++y) {
        DoubleRow16(dst, src, width, colorTable16);
        std::memcpy(dst + dstStride, dst, 4 * static_cast<size_t>(width));
        dst += 2 * dstStride;
        src += width + srcStep;
    }
}

DECL_BLIT16_FN(Interlace16_plain) {
    for (int y = 0; y < height; ++y) {
        DoubleRow16(dst, src, width, colorTable16);
        dst += 4 * width + dstStride;
        src += width + srcStep;
    }
}

// Smoothing (the rule in smooth_row.h), a row at a time.
DECL_SMOOTH8_FN(Smooth8_plain) {
    const uint8_t* up = src;
    for (int y = 0; y < height; ++y) {
        uint8_t* top = dst;
        uint8_t* bottom = dst + dstPitch;
        SmoothRow8(top, bottom, src, up, 0, width, smoothTable);
        up = src;
        src += srcPitch;
        dst += 2 * dstPitch;
    }
}

DECL_SMOOTH16_FN(Smooth16_plain) {
    const uint8_t* up = src;
    for (int y = 0; y < height; ++y) {
        uint8_t* top = dst;
        uint8_t* bottom = dst + dstPitch;
        SmoothRow16(top, bottom, src, up, 0, width, smoothTable);
        up = src;
        src += srcPitch;
        dst += 2 * dstPitch;
    }
}

DECL_TRANS8_FN(Trans8_plain) {
    const uint8_t key = static_cast<uint8_t>(transparent);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            if (src[x] != key) dst[x] = src[x];
        dst += width + dstStep;
        src += width + srcStep;
    }
}

DECL_SELECT8_FN(Merge8_plain) {
    const uint8_t key = static_cast<uint8_t>(transparent);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) dst[x] = src[x] != key ? src[x] : second[x];
        dst += width + dstStep;
        src += width + srcStep;
        second += width + srcStep;
    }
}

DECL_SELECT8_FN(Mask8_plain) {
    const uint8_t key = static_cast<uint8_t>(transparent);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            if (second[x] != key) dst[x] = src[x];
        dst += width + dstStep;
        src += width + srcStep;
        second += width + srcStep;
    }
}

// Nearest palette colour to the midpoint of every pair, ties going to the
// candidate that comes first in order of red, then index. That is the
// smallest (distance, position in red order), so the search may start where
// the reds are nearest the target and work outwards:
// - upwards (red >= target, positions rising), a candidate must be strictly
//   nearer to win, and once the red distance alone reaches the best no later
//   one can;
// - then downwards (positions falling), an equally near candidate also wins,
//   being earlier, and the walk ends once the red distance alone exceeds it.
DECL_BUILD_SMOOTH8_FN(BuildSmooth8_plain) {
    uint16_t keys[256];
    for (int i = 0; i < 256; ++i) keys[i] = static_cast<uint16_t>(palette[3 * i] * 256 + i);
    std::sort(keys, keys + 256);
    int red[256], green[256], blue[256];
    uint8_t index[256];
    int firstAtLeast[257];  // first position whose red is >= r
    for (int k = 0; k < 256; ++k) {
        const int i = keys[k] & 0xFF;
        index[k] = static_cast<uint8_t>(i);
        red[k] = palette[3 * i];
        green[k] = palette[3 * i + 1];
        blue[k] = palette[3 * i + 2];
    }
    for (int r = 0, k = 0; r <= 256; ++r) {
        while (k < 256 && red[k] < r) ++k;
        firstAtLeast[r] = k;
    }
    for (int i = 0; i < 255; ++i) {
        const uint8_t* a = palette + 3 * i;
        for (int j = i + 1; j < 256; ++j) {
            const uint8_t* b = palette + 3 * j;
            const int R = (a[0] + b[0]) / 2, G = (a[1] + b[1]) / 2, B = (a[2] + b[2]) / 2;
            int best = 0x40000, chosen = 0;
            for (int k = firstAtLeast[R]; k < 256; ++k) {
                const int dr = red[k] - R, dr2 = dr * dr;
                if (dr2 >= best) break;
                const int dg = G - green[k], db = B - blue[k];
                const int d = dr2 + dg * dg + db * db;
                if (d < best) best = d, chosen = k;
            }
            for (int k = firstAtLeast[R] - 1; k >= 0; --k) {
                const int dr = R - red[k], dr2 = dr * dr;
                if (dr2 > best) break;
                const int dg = G - green[k], db = B - blue[k];
                const int d = dr2 + dg * dg + db * db;
                if (d <= best) best = d, chosen = k;
            }
            smoothTable[i * 256 + j] = index[chosen];
        }
    }
    for (int i = 0; i < 256; ++i) {
        smoothTable[i * 257] = static_cast<uint8_t>(i);
        for (int j = i + 1; j < 256; ++j) smoothTable[j * 256 + i] = smoothTable[i * 256 + j];
    }
}

namespace {

// Midpoint of two entries per component, the low bit of each dropped first so
// that the halves never carry into the next component.
template <uint16_t (*Pack)(uint32_t, uint32_t, uint32_t)>
void BuildSmooth16(uint16_t* table, const uint8_t* palette) {
    for (int a = 0; a < 256; ++a) {
        const uint8_t* pa = palette + 3 * a;
        for (int b = 0; b < 256; ++b) {
            const uint8_t* pb = palette + 3 * b;
            table[a * 256 + b] = Pack(((pa[0] & 0xFEu) + (pb[0] & 0xFEu)) / 2, ((pa[1] & 0xFEu) + (pb[1] & 0xFEu)) / 2,
                                      ((pa[2] & 0xFEu) + (pb[2] & 0xFEu)) / 2);
        }
    }
}

}  // namespace

DECL_BUILD_SMOOTH16_FN(BuildSmooth16_555_plain) { BuildSmooth16<Pack555>(smoothTable, palette); }
DECL_BUILD_SMOOTH16_FN(BuildSmooth16_565_plain) { BuildSmooth16<Pack565>(smoothTable, palette); }
