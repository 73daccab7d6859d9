// AVX2 kernels: thirty-two bytes a step where that measured faster than
// SSE2 (interlacing and the selecting copies; 8-bit doubling is bound by its
// stores and gains nothing), and table lookups by gathers (smoothing, 16-bit
// doubling). The rest of a row falls to sixteen-byte steps and then single
// pixels.
#include <immintrin.h>

#include <cstring>

#include "blit/kernels.h"
#include "blit/smooth_row.h"

namespace {

inline __m256i Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Store(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

inline void InterlaceRow8(uint8_t* out, const uint8_t* in, int width) {
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        // Quarters 0 2 | 1 3, so that unpacking within each half yields the
        // doubled bytes in order.
        const __m256i v = _mm256_permute4x64_epi64(Load(in + x), 0xD8);
        const __m256i lo = _mm256_unpacklo_epi8(v, v), hi = _mm256_unpackhi_epi8(v, v);
        Store(out + 2 * x, lo);
        Store(out + 2 * x + 32, hi);
    }
    for (; x + 16 <= width; x += 16) {
        const __m128i v = Load16(in + x);
        const __m128i lo = _mm_unpacklo_epi8(v, v), hi = _mm_unpackhi_epi8(v, v);
        Store16(out + 2 * x, lo);
        Store16(out + 2 * x + 16, hi);
    }
    for (; x < width; ++x) out[2 * x] = out[2 * x + 1] = in[x];
}

// The three selecting copies share one loop: where `test` equals the key,
// the pixel comes from `ifKey`, elsewhere from `otherwise`.
template <typename Scalar>
inline void SelectRow(uint8_t* dst, const uint8_t* test, const uint8_t* ifKey, const uint8_t* otherwise, int width,
                      uint8_t key, Scalar scalar) {
    const __m256i keys = _mm256_set1_epi8(static_cast<char>(key));
    const __m128i keys16 = _mm_set1_epi8(static_cast<char>(key));
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m256i m = _mm256_cmpeq_epi8(Load(test + x), keys);
        Store(dst + x, _mm256_blendv_epi8(Load(otherwise + x), Load(ifKey + x), m));
    }
    for (; x + 16 <= width; x += 16) {
        const __m128i m = _mm_cmpeq_epi8(Load16(test + x), keys16);
        Store16(dst + x, _mm_blendv_epi8(Load16(otherwise + x), Load16(ifKey + x), m));
    }
    for (; x < width; ++x) scalar(x);
}

}  // namespace

DECL_BLIT8_FN(Interlace8_avx2) {
    for (int y = 0; y < height; ++y) {
        InterlaceRow8(dst, src, width);
        dst += 2 * width + dstStride;
        src += width + srcStep;
    }
}

DECL_TRANS8_FN(Trans8_avx2) {
    const uint8_t key = static_cast<uint8_t>(transparent);
    for (int y = 0; y < height; ++y) {
        SelectRow(dst, src, dst, src, width, key, [&](int x) {
            if (src[x] != key) dst[x] = src[x];
        });
        dst += width + dstStep;
        src += width + srcStep;
    }
}

DECL_SELECT8_FN(Merge8_avx2) {
    const uint8_t key = static_cast<uint8_t>(transparent);
    for (int y = 0; y < height; ++y) {
        SelectRow(dst, src, second, src, width, key, [&](int x) { dst[x] = src[x] != key ? src[x] : second[x]; });
        dst += width + dstStep;
        src += width + srcStep;
        second += width + srcStep;
    }
}

DECL_SELECT8_FN(Mask8_avx2) {
    const uint8_t key = static_cast<uint8_t>(transparent);
    for (int y = 0; y < height; ++y) {
        SelectRow(dst, second, dst, src, width, key, [&](int x) {
            if (second[x] != key) dst[x] = src[x];
        });
        dst += width + dstStep;
        src += width + srcStep;
        second += width + srcStep;
    }
}

// Smoothing: the three (Smooth16: four) table entries of eight pixels come
// from one gather each. A gather reads 32 bits at a time; none may reach
// past the table's last entry.
namespace {

// Eight source pixels widened to 32-bit lanes.
inline __m256i Widen8(const uint8_t* p) { return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))); }

// Entries of an 8-bit table: each gather reads the aligned 32 bits that
// hold its entry (the index with its low bits cleared) and shifts the entry
// out of them.
inline __m256i LookByte(const uint8_t* table, __m256i index) {
    const __m256i word = _mm256_and_si256(index, _mm256_set1_epi32(~3));
    const __m256i got = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), word, 1);
    const __m256i shift = _mm256_slli_epi32(_mm256_and_si256(index, _mm256_set1_epi32(3)), 3);
    return _mm256_and_si256(_mm256_srlv_epi32(got, shift), _mm256_set1_epi32(0xFF));
}

// Entries of a 16-bit table in the low halves of the lanes; the high halves
// hold the next entries. The last entry has no next one to read with it: its
// lanes are left out of the gather and take `last` instead.
inline __m256i LookWords(const uint16_t* table, __m256i index, __m256i last) {
    const __m256i inside = _mm256_cmpgt_epi32(_mm256_set1_epi32(65535), index);
    return _mm256_mask_i32gather_epi32(last, reinterpret_cast<const int*>(table), index, inside, 2);
}

// The left neighbours of pixels x..x+7: the pixels one to the left, or in
// column 0 the pixel itself.
inline __m256i Left8(const uint8_t* row, int x) {
    if (x) return Widen8(row + x - 1);
    const __m256i c = Widen8(row);
    // Lanes shifted up by one, lane 0 repeated.
    return _mm256_permutevar8x32_epi32(c, _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6));
}

}  // namespace

DECL_SMOOTH8_FN(Smooth8_avx2) {
    const uint8_t* up = src;
    for (int y = 0; y < height; ++y) {
        uint8_t* top = dst;
        uint8_t* bottom = dst + dstPitch;
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m256i c = Widen8(src + x), u = Widen8(up + x), l = Left8(src, x);
            const __m256i c8 = _mm256_slli_epi32(c, 8);
            const __m256i lu = LookByte(smoothTable, _mm256_or_si256(_mm256_slli_epi32(l, 8), u));
            const __m256i cu = LookByte(smoothTable, _mm256_or_si256(c8, u));
            const __m256i cl = LookByte(smoothTable, _mm256_or_si256(c8, l));
            // Pixel pairs as 16-bit words: T(l,u) T(c,u) above, T(c,l) c below.
            const __m256i upper = _mm256_or_si256(lu, _mm256_slli_epi32(cu, 8));
            const __m256i lower = _mm256_or_si256(cl, c8);
            // Words of upper 0-3, lower 0-3 | upper 4-7, lower 4-7; then in order.
            const __m256i both = _mm256_permute4x64_epi64(_mm256_packus_epi32(upper, lower), 0xD8);
            Store16(top + 2 * x, _mm256_castsi256_si128(both));
            Store16(bottom + 2 * x, _mm256_extracti128_si256(both, 1));
        }
        SmoothRow8(top, bottom, src, up, x, width, smoothTable);
        up = src;
        src += srcPitch;
        dst += 2 * dstPitch;
    }
}

DECL_SMOOTH16_FN(Smooth16_avx2) {
    const __m256i last = _mm256_set1_epi32(smoothTable[65535]);
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    // T(c, c) for every c, gathered from 1 KB instead of from 256 cache
    // lines spread over the table; not worth building for a few pixels.
    alignas(32) uint32_t diagonal[256];
    const bool ownDiagonal = width >= 8 && static_cast<int64_t>(width) * height >= 256;
    if (ownDiagonal)
        for (int c = 0; c < 256; ++c) diagonal[c] = smoothTable[c * 257];
    const uint8_t* up = src;
    for (int y = 0; y < height; ++y) {
        uint8_t* top = dst;
        uint8_t* bottom = dst + dstPitch;
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m256i c = Widen8(src + x), u = Widen8(up + x), l = Left8(src, x);
            const __m256i c8 = _mm256_slli_epi32(c, 8);
            const __m256i lu = LookWords(smoothTable, _mm256_or_si256(_mm256_slli_epi32(l, 8), u), last);
            const __m256i cu = LookWords(smoothTable, _mm256_or_si256(c8, u), last);
            const __m256i cl = LookWords(smoothTable, _mm256_or_si256(c8, l), last);
            const __m256i cc = ownDiagonal ? _mm256_i32gather_epi32(reinterpret_cast<const int*>(diagonal), c, 4)
                                           : LookWords(smoothTable, _mm256_or_si256(c8, c), last);
            Store(top + 4 * x, _mm256_or_si256(_mm256_and_si256(lu, low), _mm256_slli_epi32(cu, 16)));
            Store(bottom + 4 * x, _mm256_or_si256(_mm256_and_si256(cl, low), _mm256_slli_epi32(cc, 16)));
        }
        SmoothRow16(top, bottom, src, up, x, width, smoothTable);
        up = src;
        src += srcPitch;
        dst += 2 * dstPitch;
    }
}

// Double16: every colour doubled into a 32-bit pair once per call, then
// eight pairs a step come from one gather of that 1 KB table (which stays
// in the first-level cache) and go to both lines. Narrow or small
// rectangles do not pay for the table.
DECL_BLIT16_FN(Double16_avx2) {
    if (width < 16 || static_cast<int64_t>(width) * height < 256)
        return Double16_sse2(dst, dstStride, src, srcStep, width, height, colorTable16);
    alignas(32) uint32_t pairs[256];
    for (int i = 0; i < 256; ++i) pairs[i] = colorTable16[i] * 0x10001u;
    for (int y = 0; y < height; ++y) {
        uint8_t* below = dst + dstStride;
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m256i p = _mm256_i32gather_epi32(reinterpret_cast<const int*>(pairs), Widen8(src + x), 4);
            Store(dst + 4 * x, p);
            Store(below + 4 * x, p);
        }
        for (; x < width; ++x) {
            std::memcpy(dst + 4 * x, &pairs[src[x]], 4);
            std::memcpy(below + 4 * x, &pairs[src[x]], 4);
        }
        dst += 2 * dstStride;
        src += width + srcStep;
    }
}
