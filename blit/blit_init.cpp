// The kernel tables, one per variant. Each variant starts from the one below
// it and replaces only what it does faster, so a new variant is one more
// rung here. The tables are constant data: the exported blitter works even
// when the executable is loaded as a module and no start-up code has run.
#include "blit/kernels.h"
#include "common/cpu.h"

namespace {

constexpr BlitDSP MakePlain() {
    BlitDSP c{};
    c.copy8 = Copy8_plain;
    c.double8 = Double8_plain;
    c.interlace8 = Interlace8_plain;
    c.smooth8 = Smooth8_plain;
    c.lookup16 = Lookup16_plain;
    c.double16 = Double16_plain;
    c.interlace16 = Interlace16_plain;
    c.smooth16 = Smooth16_plain;
    c.trans8 = Trans8_plain;
    c.merge8 = Merge8_plain;
    c.mask8 = Mask8_plain;
    c.buildSmooth8 = BuildSmooth8_plain;
    c.buildSmooth16_555 = BuildSmooth16_555_plain;
    c.buildSmooth16_565 = BuildSmooth16_565_plain;
    return c;
}

#if defined(__i386__) || defined(__x86_64__)
constexpr BlitDSP MakeMmx() {
    BlitDSP c = MakePlain();
    c.double8 = Double8_mmx;
    c.interlace8 = Interlace8_mmx;
    c.double16 = Double16_mmx;
    c.interlace16 = Interlace16_mmx;
    c.trans8 = Trans8_mmx;
    c.merge8 = Merge8_mmx;
    c.mask8 = Mask8_mmx;
    return c;
}

constexpr BlitDSP MakeSse2() {
    BlitDSP c = MakeMmx();
    c.double8 = Double8_sse2;
    c.interlace8 = Interlace8_sse2;
    c.double16 = Double16_sse2;
    c.interlace16 = Interlace16_sse2;
    c.trans8 = Trans8_sse2;
    c.merge8 = Merge8_sse2;
    c.mask8 = Mask8_sse2;
    return c;
}

constexpr BlitDSP MakeAvx2() {
    BlitDSP c = MakeSse2();
    c.interlace8 = Interlace8_avx2;
    c.smooth8 = Smooth8_avx2;
    c.smooth16 = Smooth16_avx2;
    c.double16 = Double16_avx2;
    c.trans8 = Trans8_avx2;
    c.merge8 = Merge8_avx2;
    c.mask8 = Mask8_avx2;
    return c;
}

constexpr BlitDSP kTables[kBlitVariantCount] = {MakePlain(), MakeMmx(), MakeSse2(), MakeAvx2()};
#else
// Other processors (the WebAssembly build) have only the plain kernels; their
// feature probe finds no MMX, so no other variant is ever chosen.
constexpr BlitDSP kTables[kBlitVariantCount] = {MakePlain(), MakePlain(), MakePlain(), MakePlain()};
#endif
constexpr uint32_t kNeeds[kBlitVariantCount] = {0, kCpuMmx, kCpuMmx | kCpuSse2, kCpuMmx | kCpuSse2 | kCpuAvx2};
constexpr const char* kNames[kBlitVariantCount] = {"plain", "mmx", "sse2", "avx2"};

bool ValidVariant(BlitVariant v) { return v >= kBlitPlain && v < kBlitVariantCount; }

}  // namespace

const char* BlitVariantName(BlitVariant variant) { return ValidVariant(variant) ? kNames[variant] : "?"; }

const BlitDSP& BlitDspFor(BlitVariant variant) { return kTables[ValidVariant(variant) ? variant : kBlitPlain]; }

bool BlitVariantSupported(BlitVariant variant) {
    if (!ValidVariant(variant)) return false;
    return (CpuFeatures() & kNeeds[variant]) == kNeeds[variant];
}

BlitVariant CurrentBlitVariant() {
    if (MmxLevel == 0) DetectMmx();
    if (MmxLevel != 2) return kBlitPlain;
    for (int v = kBlitVariantCount - 1; v > kBlitMmx; --v)
        if (BlitVariantSupported(static_cast<BlitVariant>(v))) return static_cast<BlitVariant>(v);
    return kBlitMmx;
}
