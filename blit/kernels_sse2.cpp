// SSE2 kernels: the MMX ones at twice the width (sixteen bytes a step),
// where that measured faster (Lookup16 gains nothing: its table reads bound
// it). SSE registers do not touch the x87 state, so these need no EMMS.
#include <emmintrin.h>

#include "blit/kernels.h"
#include "blit/pixel_io.h"

using namespace blit_io;

namespace {

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline __m128i Load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }

template <bool kTwoLines>
inline void Put(uint8_t* o, ptrdiff_t below, __m128i v) {
    Store(o, v);
    if (kTwoLines) Store(o + below, v);
}

// Sixteen source pixels a step, each byte unpacked with itself, then eight,
// then the rest one by one.
template <bool kTwoLines>
inline void DoubleRow8(uint8_t* out, ptrdiff_t below, const uint8_t* in, int width) {
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i v = Load(in + x);
        Put<kTwoLines>(out + 2 * x, below, _mm_unpacklo_epi8(v, v));
        Put<kTwoLines>(out + 2 * x + 16, below, _mm_unpackhi_epi8(v, v));
    }
    if (x + 8 <= width) {
        const __m128i v = Load8(in + x);
        Put<kTwoLines>(out + 2 * x, below, _mm_unpacklo_epi8(v, v));
        x += 8;
    }
    for (; x < width; ++x) {
        out[2 * x] = out[2 * x + 1] = in[x];
        if (kTwoLines) out[below + 2 * x] = out[below + 2 * x + 1] = in[x];
    }
}

// Every colour duplicated into a 32-bit pair, built per call (1 KB): four
// pairs join in a register from 32-bit pieces, which a 32-bit compiler keeps
// in registers (16-bit pieces would go through memory).
struct PairTable {
    uint32_t pairs[256];
    explicit PairTable(const uint16_t* table) {
        for (int i = 0; i < 256; ++i) pairs[i] = table[i] * 0x10001u;
    }
    __m128i Four(uint32_t v) const {
        return _mm_setr_epi32(static_cast<int>(pairs[Byte(v, 0)]), static_cast<int>(pairs[Byte(v, 1)]),
                              static_cast<int>(pairs[Byte(v, 2)]), static_cast<int>(pairs[Byte(v, 3)]));
    }
};

// Small rectangles do not pay for the pair table.
inline bool FewPixels(int width, int height) { return width < 8 || static_cast<int64_t>(width) * height < 256; }

template <bool kTwoLines>
inline void DoubleRow16(uint8_t* out, ptrdiff_t below, const uint8_t* in, int width, const PairTable& t) {
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        Put<kTwoLines>(out + 4 * x, below, t.Four(Load32(in + x)));
        Put<kTwoLines>(out + 4 * x + 16, below, t.Four(Load32(in + x + 4)));
    }
    for (; x < width; ++x) {
        Store32(out + 4 * x, t.pairs[in[x]]);
        if (kTwoLines) Store32(out + below + 4 * x, t.pairs[in[x]]);
    }
}

inline __m128i Select(__m128i takeSecond, __m128i first, __m128i second) {
    return _mm_or_si128(_mm_and_si128(takeSecond, second), _mm_andnot_si128(takeSecond, first));
}

}  // namespace

DECL_BLIT8_FN(Double8_sse2) {
    for (int y = 0; y < height; ++y) {
        DoubleRow8<true>(dst, dstStride, src, width);
        dst += 2 * dstStride;
        src += width + srcStep;
    }
}

DECL_BLIT8_FN(Interlace8_sse2) {
    for (int y = 0; y < height; ++y) {
        DoubleRow8<false>(dst, 0, src, width);
        dst += 2 * width + dstStride;
        src += width + srcStep;
    }
}

DECL_BLIT16_FN(Double16_sse2) {
    if (FewPixels(width, height)) return Double16_plain(dst, dstStride, src, srcStep, width, height, colorTable16);
    const PairTable pairs(colorTable16);
    for (int y = 0; y < height; ++y) {
        DoubleRow16<true>(dst, dstStride, src, width, pairs);
        dst += 2 * dstStride;
        src += width + srcStep;
    }
}

DECL_BLIT16_FN(Interlace16_sse2) {
    if (FewPixels(width, height)) return Interlace16_plain(dst, dstStride, src, srcStep, width, height, colorTable16);
    const PairTable pairs(colorTable16);
    for (int y = 0; y < height; ++y) {
        DoubleRow16<false>(dst, 0, src, width, pairs);
        dst += 4 * width + dstStride;
        src += width + srcStep;
    }
}

DECL_TRANS8_FN(Trans8_sse2) {
    const uint8_t key = static_cast<uint8_t>(transparent);
    const __m128i keys = _mm_set1_epi8(static_cast<char>(key));
    for (int y = 0; y < height; ++y) {
        int x = 0;
        for (; x + 16 <= width; x += 16) {
            const __m128i s = Load(src + x);
            Store(dst + x, Select(_mm_cmpeq_epi8(s, keys), s, Load(dst + x)));
        }
        for (; x < width; ++x)
            if (src[x] != key) dst[x] = src[x];
        dst += width + dstStep;
        src += width + srcStep;
    }
}

DECL_SELECT8_FN(Merge8_sse2) {
    const uint8_t key = static_cast<uint8_t>(transparent);
    const __m128i keys = _mm_set1_epi8(static_cast<char>(key));
    for (int y = 0; y < height; ++y) {
        int x = 0;
        for (; x + 16 <= width; x += 16) {
            const __m128i s = Load(src + x);
            Store(dst + x, Select(_mm_cmpeq_epi8(s, keys), s, Load(second + x)));
        }
        for (; x < width; ++x) dst[x] = src[x] != key ? src[x] : second[x];
        dst += width + dstStep;
        src += width + srcStep;
        second += width + srcStep;
    }
}

DECL_SELECT8_FN(Mask8_sse2) {
    const uint8_t key = static_cast<uint8_t>(transparent);
    const __m128i keys = _mm_set1_epi8(static_cast<char>(key));
    for (int y = 0; y < height; ++y) {
        int x = 0;
        for (; x + 16 <= width; x += 16) {
            const __m128i keep = _mm_cmpeq_epi8(Load(second + x), keys);
            Store(dst + x, Select(keep, Load(src + x), Load(dst + x)));
        }
        for (; x < width; ++x)
            if (second[x] != key) dst[x] = src[x];
        dst += width + dstStep;
        src += width + srcStep;
        second += width + srcStep;
    }
}
