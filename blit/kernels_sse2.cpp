// SSE2 kernels: the MMX ones at twice the width (sixteen bytes a step),
// where that measured faster (Lookup16 gains nothing: its table reads bound
// it), and the smoothing kernels, whose table reads stay one at a time
// (there is no gather) but whose indices and output rows are built eight
// pixels at once. SSE registers do not touch the x87 state, so these need
// no EMMS.
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

// Eight looked-up pixels gathered into one register.
inline __m128i Look8(const uint8_t* in, const uint16_t* t) {
    const uint32_t a = Load32(in), b = Load32(in + 4);
    return _mm_setr_epi16(static_cast<short>(t[Byte(a, 0)]), static_cast<short>(t[Byte(a, 1)]),
                          static_cast<short>(t[Byte(a, 2)]), static_cast<short>(t[Byte(a, 3)]),
                          static_cast<short>(t[Byte(b, 0)]), static_cast<short>(t[Byte(b, 1)]),
                          static_cast<short>(t[Byte(b, 2)]), static_cast<short>(t[Byte(b, 3)]));
}

template <bool kTwoLines>
inline void DoubleRow16(uint8_t* out, ptrdiff_t below, const uint8_t* in, int width, const uint16_t* table) {
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i p = Look8(in + x, table);
        Put<kTwoLines>(out + 4 * x, below, _mm_unpacklo_epi16(p, p));
        Put<kTwoLines>(out + 4 * x + 16, below, _mm_unpackhi_epi16(p, p));
    }
    for (; x < width; ++x) {
        const uint32_t pair = table[in[x]] * 0x10001u;
        Store32(out + 4 * x, pair);
        if (kTwoLines) Store32(out + below + 4 * x, pair);
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
    for (int y = 0; y < height; ++y) {
        DoubleRow16<true>(dst, dstStride, src, width, colorTable16);
        dst += 2 * dstStride;
        src += width + srcStep;
    }
}

DECL_BLIT16_FN(Interlace16_sse2) {
    for (int y = 0; y < height; ++y) {
        DoubleRow16<false>(dst, 0, src, width, colorTable16);
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

// Smoothing, eight pixels a step: the table indices come from unpacking the
// pixel rows into 16-bit words (low byte the second pixel, high byte the
// first), the entries are read one by one (SSE2 has no gather) and gathered
// into a general register, and the output rows are interleaved from those.
namespace {

// The left neighbours of pixels x..x+7: the pixels one to the left, or in
// column 0 the pixel itself.
inline __m128i Left8(const uint8_t* row, int x, __m128i c) {
    if (x) return Load8(row + x - 1);
    return _mm_or_si128(_mm_slli_si128(c, 1), _mm_and_si128(c, _mm_cvtsi32_si128(0xFF)));
}

// The eight 16-bit words of v as table indices, their eight byte entries
// as one 64-bit word (entry k in byte k): the words leave the vector four at
// a time into a general register, which is cheaper than one at a time.
inline uint64_t LookBytes(const uint8_t* t, __m128i v) {
    uint64_t out = 0;
#pragma GCC unroll 2
    for (int half = 0; half < 2; ++half) {
#if defined(__x86_64__)
        const uint64_t w = static_cast<uint64_t>(_mm_cvtsi128_si64(half ? _mm_unpackhi_epi64(v, v) : v));
#else
        const __m128i h = half ? _mm_unpackhi_epi64(v, v) : v;
        const uint64_t w = static_cast<uint32_t>(_mm_cvtsi128_si32(h)) |
                           static_cast<uint64_t>(static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_epi64(h, 32)))) << 32;
#endif
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) out |= static_cast<uint64_t>(t[w >> (16 * k) & 0xFFFF]) << (8 * (4 * half + k));
    }
    return out;
}

// The same for 16-bit entries, four at a time (entry k in word k).
inline uint64_t LookWords4(const uint16_t* t, __m128i v) {
#if defined(__x86_64__)
    const uint64_t w = static_cast<uint64_t>(_mm_cvtsi128_si64(v));
#else
    const uint64_t w = static_cast<uint32_t>(_mm_cvtsi128_si32(v)) |
                       static_cast<uint64_t>(static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_epi64(v, 32)))) << 32;
#endif
    uint64_t out = 0;
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) out |= static_cast<uint64_t>(t[w >> (16 * k) & 0xFFFF]) << (16 * k);
    return out;
}

inline __m128i FromU64(uint64_t v) { return _mm_set_epi64x(0, static_cast<long long>(v)); }

}  // namespace

DECL_SMOOTH8_FN(Smooth8_sse2) {
    const uint8_t* up = src;
    for (int y = 0; y < height; ++y) {
        uint8_t* top = dst;
        uint8_t* bottom = dst + dstPitch;
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m128i c = Load8(src + x), u = Load8(up + x), l = Left8(src, x, c);
            const __m128i lu = _mm_unpacklo_epi8(u, l), cu = _mm_unpacklo_epi8(u, c), cl = _mm_unpacklo_epi8(l, c);
            const __m128i tlu = FromU64(LookBytes(smoothTable, lu)), tcu = FromU64(LookBytes(smoothTable, cu));
            const __m128i tcl = FromU64(LookBytes(smoothTable, cl));
            Store(top + 2 * x, _mm_unpacklo_epi8(tlu, tcu));
            Store(bottom + 2 * x, _mm_unpacklo_epi8(tcl, c));
        }
        uint32_t l = x ? src[x - 1] : src[0];
        for (; x < width; ++x) {
            const uint32_t c = src[x], u = up[x];
            top[2 * x] = smoothTable[l * 256 + u];
            top[2 * x + 1] = smoothTable[c * 256 + u];
            bottom[2 * x] = smoothTable[c * 256 + l];
            bottom[2 * x + 1] = static_cast<uint8_t>(c);
            l = c;
        }
        up = src;
        src += srcPitch;
        dst += 2 * dstPitch;
    }
}

DECL_SMOOTH16_FN(Smooth16_sse2) {
    // T(c, c) for every c from 512 bytes instead of from 256 cache lines
    // spread over the table; not worth building for a few pixels.
    uint16_t diagonal[256];
    const uint16_t* diag = smoothTable;  // T(c, c) is at c * 257
    int diagStep = 257;
    if (width >= 8 && static_cast<int64_t>(width) * height >= 256) {
        for (int c = 0; c < 256; ++c) diagonal[c] = smoothTable[c * 257];
        diag = diagonal;
        diagStep = 1;
    }
    const uint8_t* up = src;
    for (int y = 0; y < height; ++y) {
        uint8_t* top = dst;
        uint8_t* bottom = dst + dstPitch;
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m128i c = Load8(src + x), u = Load8(up + x), l = Left8(src, x, c);
            __m128i lu = _mm_unpacklo_epi8(u, l), cu = _mm_unpacklo_epi8(u, c), cl = _mm_unpacklo_epi8(l, c);
            __m128i cc = _mm_mullo_epi16(_mm_unpacklo_epi8(c, _mm_setzero_si128()),
                                               _mm_set1_epi16(static_cast<short>(diagStep)));
#pragma GCC unroll 2
            for (int half = 0; half < 2; ++half) {
                const __m128i tlu = FromU64(LookWords4(smoothTable, lu)), tcu = FromU64(LookWords4(smoothTable, cu));
                const __m128i tcl = FromU64(LookWords4(smoothTable, cl)), tcc = FromU64(LookWords4(diag, cc));
                Store(top + 4 * x + 16 * half, _mm_unpacklo_epi16(tlu, tcu));
                Store(bottom + 4 * x + 16 * half, _mm_unpacklo_epi16(tcl, tcc));
                lu = _mm_srli_si128(lu, 8);
                cu = _mm_srli_si128(cu, 8);
                cl = _mm_srli_si128(cl, 8);
                cc = _mm_srli_si128(cc, 8);
            }
        }
        uint32_t l = x ? src[x - 1] : src[0];
        for (; x < width; ++x) {
            const uint32_t c = src[x], u = up[x];
            Store32(top + 4 * x, smoothTable[l * 256 + u] | static_cast<uint32_t>(smoothTable[c * 256 + u]) << 16);
            Store32(bottom + 4 * x, smoothTable[c * 256 + l] | static_cast<uint32_t>(smoothTable[c * 257]) << 16);
            l = c;
        }
        up = src;
        src += srcPitch;
        dst += 2 * dstPitch;
    }
}
