// MMX kernels: the pure data-movement modes and the transparent, mask and
// merge copies. Each ends with EMMS so that floating-point code after it
// finds the x87 registers free.
#include <mmintrin.h>

#include "blit/kernels.h"
#include "blit/pixel_io.h"

using namespace blit_io;

namespace {

// A 64-bit vector that may sit at any address and alias any bytes.
typedef int Unaligned64 __attribute__((__vector_size__(8), __may_alias__, __aligned__(1)));

inline __m64 Load64(const uint8_t* p) { return reinterpret_cast<__m64>(*reinterpret_cast<const Unaligned64*>(p)); }
inline void Store64(uint8_t* p, __m64 v) { *reinterpret_cast<Unaligned64*>(p) = reinterpret_cast<Unaligned64>(v); }

// Four 64-bit words to one output line, and to the line below when doubling.
template <bool kTwoLines>
inline void Put4(uint8_t* o, ptrdiff_t below, __m64 a, __m64 b, __m64 c, __m64 d) {
    Store64(o, a);
    Store64(o + 8, b);
    Store64(o + 16, c);
    Store64(o + 24, d);
    if (kTwoLines) {
        Store64(o + below, a);
        Store64(o + below + 8, b);
        Store64(o + below + 16, c);
        Store64(o + below + 24, d);
    }
}

// Sixteen source pixels per step, each byte unpacked with itself; the tail
// (width mod 16) one by one.
template <bool kTwoLines>
inline void DoubleRow8(uint8_t* out, ptrdiff_t below, const uint8_t* in, int width) {
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m64 a = Load64(in + x), b = Load64(in + x + 8);
        Put4<kTwoLines>(out + 2 * x, below, _mm_unpacklo_pi8(a, a), _mm_unpackhi_pi8(a, a), _mm_unpacklo_pi8(b, b),
                        _mm_unpackhi_pi8(b, b));
    }
    for (; x < width; ++x) {
        out[2 * x] = out[2 * x + 1] = in[x];
        if (kTwoLines) out[below + 2 * x] = out[below + 2 * x + 1] = in[x];
    }
}

// Eight pixels per step, from a table of every colour already duplicated
// into a 32-bit pair (built per call, 1 KB): two pairs are loaded straight
// into an MMX register and joined. Building the vector from 16-bit pieces
// instead would go through memory on a 32-bit compiler and cost more than
// the plain loop.
struct PairTable {
    uint32_t pairs[256];
    explicit PairTable(const uint16_t* table) {
        for (int i = 0; i < 256; ++i) pairs[i] = table[i] * 0x10001u;
    }
    __m64 Two(uint32_t a, uint32_t b) const {
        return _mm_unpacklo_pi32(_mm_cvtsi32_si64(static_cast<int>(pairs[a])),
                                 _mm_cvtsi32_si64(static_cast<int>(pairs[b])));
    }
};

template <bool kTwoLines>
inline void DoubleRow16(uint8_t* out, ptrdiff_t below, const uint8_t* in, int width, const PairTable& t) {
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const uint32_t v0 = Load32(in + x), v1 = Load32(in + x + 4);
        Put4<kTwoLines>(out + 4 * x, below, t.Two(Byte(v0, 0), Byte(v0, 1)), t.Two(Byte(v0, 2), Byte(v0, 3)),
                        t.Two(Byte(v1, 0), Byte(v1, 1)), t.Two(Byte(v1, 2), Byte(v1, 3)));
    }
    for (; x < width; ++x) {
        blit_io::Store32(out + 4 * x, t.pairs[in[x]]);
        if (kTwoLines) blit_io::Store32(out + below + 4 * x, t.pairs[in[x]]);
    }
}

inline __m64 Select(__m64 takeSecond, __m64 first, __m64 second) {
    return _mm_or_si64(_mm_and_si64(takeSecond, second), _mm_andnot_si64(takeSecond, first));
}

}  // namespace

DECL_BLIT8_FN(Double8_mmx) {
    for (int y = 0; y < height; ++y) {
        DoubleRow8<true>(dst, dstStride, src, width);
        dst += 2 * dstStride;
        src += width + srcStep;
    }
    _mm_empty();
}

DECL_BLIT8_FN(Interlace8_mmx) {
    for (int y = 0; y < height; ++y) {
        DoubleRow8<false>(dst, 0, src, width);
        dst += 2 * width + dstStride;
        src += width + srcStep;
    }
    _mm_empty();
}

// Small rectangles do not pay for the pair table.
inline bool FewPixels(int width, int height) { return width < 8 || static_cast<int64_t>(width) * height < 256; }

DECL_BLIT16_FN(Double16_mmx) {
    if (FewPixels(width, height)) return Double16_plain(dst, dstStride, src, srcStep, width, height, colorTable16);
    const PairTable pairs(colorTable16);
    for (int y = 0; y < height; ++y) {
        DoubleRow16<true>(dst, dstStride, src, width, pairs);
        dst += 2 * dstStride;
        src += width + srcStep;
    }
    _mm_empty();
}

DECL_BLIT16_FN(Interlace16_mmx) {
    if (FewPixels(width, height)) return Interlace16_plain(dst, dstStride, src, srcStep, width, height, colorTable16);
    const PairTable pairs(colorTable16);
    for (int y = 0; y < height; ++y) {
        DoubleRow16<false>(dst, 0, src, width, pairs);
        dst += 4 * width + dstStride;
        src += width + srcStep;
    }
    _mm_empty();
}

// The selecting copies: eight pixels per step against the transparent byte
// replicated eight times. Narrow rectangles do not pay for the set-up.
DECL_TRANS8_FN(Trans8_mmx) {
    if (width < 8) return Trans8_plain(dst, dstStep, src, srcStep, width, height, transparent);
    const uint8_t key = static_cast<uint8_t>(transparent);
    const __m64 keys = _mm_set1_pi8(static_cast<char>(key));
    for (int y = 0; y < height; ++y) {
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m64 s = Load64(src + x);
            Store64(dst + x, Select(_mm_cmpeq_pi8(s, keys), s, Load64(dst + x)));
        }
        for (; x < width; ++x)
            if (src[x] != key) dst[x] = src[x];
        dst += width + dstStep;
        src += width + srcStep;
    }
    _mm_empty();
}

DECL_SELECT8_FN(Merge8_mmx) {
    if (width < 8) return Merge8_plain(dst, dstStep, src, srcStep, width, height, transparent, second);
    const uint8_t key = static_cast<uint8_t>(transparent);
    const __m64 keys = _mm_set1_pi8(static_cast<char>(key));
    for (int y = 0; y < height; ++y) {
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m64 s = Load64(src + x);
            Store64(dst + x, Select(_mm_cmpeq_pi8(s, keys), s, Load64(second + x)));
        }
        for (; x < width; ++x) dst[x] = src[x] != key ? src[x] : second[x];
        dst += width + dstStep;
        src += width + srcStep;
        second += width + srcStep;
    }
    _mm_empty();
}

DECL_SELECT8_FN(Mask8_mmx) {
    if (width < 8) return Mask8_plain(dst, dstStep, src, srcStep, width, height, transparent, second);
    const uint8_t key = static_cast<uint8_t>(transparent);
    const __m64 keys = _mm_set1_pi8(static_cast<char>(key));
    for (int y = 0; y < height; ++y) {
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m64 keep = _mm_cmpeq_pi8(Load64(second + x), keys);
            Store64(dst + x, Select(keep, Load64(src + x), Load64(dst + x)));
        }
        for (; x < width; ++x)
            if (second[x] != key) dst[x] = src[x];
        dst += width + dstStep;
        src += width + srcStep;
        second += width + srcStep;
    }
    _mm_empty();
}
