// Pixel kernels of the blitter: the inner loops that turn rectangles of 8-bit
// palettised pixels into 8-bit or 16-bit destination pixels, and the builders
// of the smoothing tables.
//
// Each kernel's signature is written once, by the DECL_ macros below; every
// variant (plain, MMX, SSE2, AVX2) declares its functions with the same macro,
// so a signature that drifts fails to compile. The variants give identical
// pixels; BlitDspFor() hands out one table of pointers per variant.
//
// Conventions shared by all kernels:
// - dst points at the first output pixel, src at the first source pixel;
// - width and height count source pixels and are both at least 1;
// - a "step" argument is the advance added after each row (pitch minus the
//   bytes touched in the row), a "pitch" argument is the full row distance;
//   both are in bytes and may be negative or odd;
// - 16-bit destinations need no particular alignment;
// - nothing is clipped.
#pragma once
#include <cstddef>
#include <cstdint>

// Copy8 (dstStep, srcStep), Double8 (dstPitch, srcStep), Interlace8 (dstStep, srcStep).
#define DECL_BLIT8_FN(name) \
    void(name)(uint8_t * dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStep, int width, int height)
// Lookup16 (dstStep), Double16 (dstPitch), Interlace16 (dstStep); srcStep.
#define DECL_BLIT16_FN(name)                                                                                      \
    void(name)(uint8_t * dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStep, int width, int height, \
               const uint16_t* colorTable16)
// Smooth8: both arguments are pitches; table is the 8-bit SmoothTable.
#define DECL_SMOOTH8_FN(name)                                                                                     \
    void(name)(uint8_t * dst, ptrdiff_t dstPitch, const uint8_t* src, ptrdiff_t srcPitch, int width, int height, \
               const uint8_t* smoothTable)
// Smooth16: both arguments are pitches; table is the 16-bit SmoothTable.
#define DECL_SMOOTH16_FN(name)                                                                                    \
    void(name)(uint8_t * dst, ptrdiff_t dstPitch, const uint8_t* src, ptrdiff_t srcPitch, int width, int height, \
               const uint16_t* smoothTable)
// Trans8: only the low byte of transparent counts.
#define DECL_TRANS8_FN(name)                                                                                      \
    void(name)(uint8_t * dst, ptrdiff_t dstStep, const uint8_t* src, ptrdiff_t srcStep, int width, int height, \
               uint32_t transparent)
// Merge8 and Mask8: the second source has src's layout and advances with srcStep.
#define DECL_SELECT8_FN(name)                                                                                     \
    void(name)(uint8_t * dst, ptrdiff_t dstStep, const uint8_t* src, ptrdiff_t srcStep, int width, int height, \
               uint32_t transparent, const uint8_t* second)
// Palette: 256 entries of red, green, blue.
#define DECL_BUILD_SMOOTH8_FN(name) void(name)(uint8_t * smoothTable, const uint8_t* palette)
#define DECL_BUILD_SMOOTH16_FN(name) void(name)(uint16_t * smoothTable, const uint8_t* palette)

typedef DECL_BLIT8_FN(*Blit8Fn);
typedef DECL_BLIT16_FN(*Blit16Fn);
typedef DECL_SMOOTH8_FN(*Smooth8Fn);
typedef DECL_SMOOTH16_FN(*Smooth16Fn);
typedef DECL_TRANS8_FN(*Trans8Fn);
typedef DECL_SELECT8_FN(*Select8Fn);
typedef DECL_BUILD_SMOOTH8_FN(*BuildSmooth8Fn);
typedef DECL_BUILD_SMOOTH16_FN(*BuildSmooth16Fn);

struct BlitDSP {
    Blit8Fn copy8;
    Blit8Fn double8;
    Blit8Fn interlace8;
    Smooth8Fn smooth8;
    Blit16Fn lookup16;
    Blit16Fn double16;
    Blit16Fn interlace16;
    Smooth16Fn smooth16;
    Trans8Fn trans8;
    Select8Fn merge8;
    Select8Fn mask8;
    BuildSmooth8Fn buildSmooth8;
    BuildSmooth16Fn buildSmooth16_555;
    BuildSmooth16Fn buildSmooth16_565;
};

// The variants, from the reference up. Each later one starts from the one
// before and replaces only the kernels it makes faster.
enum BlitVariant : int { kBlitPlain = 0, kBlitMmx, kBlitSse2, kBlitAvx2, kBlitVariantCount };

const char* BlitVariantName(BlitVariant variant);
// The table of one variant, whether or not the processor can run it.
const BlitDSP& BlitDspFor(BlitVariant variant);
// True when this processor can run the variant (ignores MmxLevel).
bool BlitVariantSupported(BlitVariant variant);
// The variant the blitter uses now: plain unless MmxLevel is 2 (probing
// first when it is still 0), then the widest the processor has.
BlitVariant CurrentBlitVariant();
inline const BlitDSP& CurrentBlitDsp() { return BlitDspFor(CurrentBlitVariant()); }

// --- The variants' functions ------------------------------------------------
DECL_BLIT8_FN(Copy8_plain);
DECL_BLIT8_FN(Double8_plain);
DECL_BLIT8_FN(Interlace8_plain);
DECL_SMOOTH8_FN(Smooth8_plain);
DECL_BLIT16_FN(Lookup16_plain);
DECL_BLIT16_FN(Double16_plain);
DECL_BLIT16_FN(Interlace16_plain);
DECL_SMOOTH16_FN(Smooth16_plain);
DECL_TRANS8_FN(Trans8_plain);
DECL_SELECT8_FN(Merge8_plain);
DECL_SELECT8_FN(Mask8_plain);
DECL_BUILD_SMOOTH8_FN(BuildSmooth8_plain);
DECL_BUILD_SMOOTH16_FN(BuildSmooth16_555_plain);
DECL_BUILD_SMOOTH16_FN(BuildSmooth16_565_plain);

DECL_BLIT8_FN(Double8_mmx);
DECL_BLIT8_FN(Interlace8_mmx);
DECL_BLIT16_FN(Double16_mmx);
DECL_BLIT16_FN(Interlace16_mmx);
DECL_TRANS8_FN(Trans8_mmx);
DECL_SELECT8_FN(Merge8_mmx);
DECL_SELECT8_FN(Mask8_mmx);

DECL_BLIT8_FN(Double8_sse2);
DECL_BLIT8_FN(Interlace8_sse2);
DECL_BLIT16_FN(Double16_sse2);
DECL_BLIT16_FN(Interlace16_sse2);
DECL_TRANS8_FN(Trans8_sse2);
DECL_SELECT8_FN(Merge8_sse2);
DECL_SELECT8_FN(Mask8_sse2);

DECL_BLIT8_FN(Interlace8_avx2);
DECL_SMOOTH8_FN(Smooth8_avx2);
DECL_SMOOTH16_FN(Smooth16_avx2);
DECL_BLIT16_FN(Double16_avx2);
DECL_TRANS8_FN(Trans8_avx2);
DECL_SELECT8_FN(Merge8_avx2);
DECL_SELECT8_FN(Mask8_avx2);
