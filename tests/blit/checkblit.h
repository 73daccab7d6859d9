// checkblit: runs one kernel of one variant and of the plain reference on
// the same random input, with guard bands and poisoned destinations, and
// reports the first difference. Shared by the native GoogleTest suite and
// the Win32 check program (which runs the 32-bit MMX code for real), so it
// depends on nothing but the kernel tables.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "blit/kernels.h"

namespace checkblit {

// splitmix64: the same sequence on every platform for a given seed.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
    uint8_t Byte() { return static_cast<uint8_t>(Next()); }
    void Fill(uint8_t* p, size_t n) { std::generate(p, p + n, [this] { return Byte(); }); }

private:
    uint64_t state_;
};

enum Kernel { kCopy8, kDouble8, kInterlace8, kSmooth8, kLookup16, kDouble16, kInterlace16, kSmooth16, kTrans8, kMerge8, kMask8, kKernelCount };

inline const char* KernelName(Kernel k) {
    static const char* const names[kKernelCount] = {"Copy8",       "Double8",  "Interlace8", "Smooth8", "Lookup16", "Double16",
                                                    "Interlace16", "Smooth16", "Trans8",     "Merge8",  "Mask8"};
    return names[k];
}

// The destination footprint of a kernel for a width x height source: lines
// of rowBytes bytes, every line or (interlaced) every other one.
struct Footprint {
    int rowBytes, lines;
    bool everyOther;
};

inline Footprint FootprintOf(Kernel k, int width, int height) {
    const int bytes = k >= kLookup16 && k <= kSmooth16 ? 2 : 1, scale = k == kCopy8 || k == kLookup16 || k >= kTrans8 ? 1 : 2;
    const bool interlaced = k == kInterlace8 || k == kInterlace16;
    return {bytes * scale * width, scale * height - (interlaced ? 1 : 0), interlaced};
}

// A byte area with guard bands on both sides, the usable part starting at a
// chosen misalignment; rows may be walked with a negative pitch.
struct Area {
    static constexpr size_t kGuard = 64;
    std::vector<uint8_t> bytes;
    size_t start = 0;  // offset of line 0's first byte within bytes (for a negative pitch: of the last line)
    ptrdiff_t pitch = 0;

    void Make(int lines, ptrdiff_t linePitch, size_t misalign) {
        pitch = linePitch;
        const size_t span = static_cast<size_t>(linePitch < 0 ? -linePitch : linePitch) * lines;
        bytes.assign(span + 2 * kGuard + 16, 0);
        start = kGuard + misalign + (linePitch < 0 ? span - static_cast<size_t>(-linePitch) : 0);
    }
    uint8_t* Line(int y) { return bytes.data() + start + y * pitch; }
    const uint8_t* Line(int y) const { return bytes.data() + start + y * pitch; }
    size_t OffsetOf(int x, int y) const { return static_cast<size_t>(static_cast<ptrdiff_t>(start) + y * pitch + x); }
};

struct Tables {
    uint16_t colorTable16[256];
    uint8_t smooth8[65536];
    uint16_t smooth16[65536];
    void Randomise(Rng& rng) {
        for (auto& v : colorTable16) v = static_cast<uint16_t>(rng.Next());
        rng.Fill(smooth8, sizeof smooth8);
        for (auto& v : smooth16) v = static_cast<uint16_t>(rng.Next());
    }
};

// One randomly chosen call: pitches (odd and negative ones included),
// misalignments, source pixels from a small or the full alphabet (so that
// the transparent value really occurs), and a poisoned destination.
struct Case {
    Kernel kernel;
    int width, height;
    uint32_t transparent;
    Area src, second, dst;
};

inline void MakeCase(Case& c, Kernel k, int width, int height, Rng& rng) {
    c.kernel = k, c.width = width, c.height = height;
    const Footprint f = FootprintOf(k, width, height);
    ptrdiff_t srcPitch = width + static_cast<ptrdiff_t>(rng.Below(10)), dstPitch = f.rowBytes + static_cast<ptrdiff_t>(rng.Below(10));
    if (rng.Below(4) == 0) srcPitch = -srcPitch;
    if (rng.Below(4) == 0) dstPitch = -dstPitch;
    c.src.Make(height, srcPitch, rng.Below(16));
    c.second.Make(height, srcPitch, rng.Below(16));
    c.dst.Make(f.lines, dstPitch, rng.Below(16));
    const uint32_t alphabet = rng.Below(3) == 0 ? 256 : 3;
    const uint8_t base = rng.Byte();
    for (auto* a : {&c.src, &c.second}) {
        rng.Fill(a->bytes.data(), a->bytes.size());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) a->Line(y)[x] = static_cast<uint8_t>(base + rng.Below(alphabet));
    }
    rng.Fill(c.dst.bytes.data(), c.dst.bytes.size());
    c.transparent = (rng.Next() & ~0xFFull) | static_cast<uint8_t>(base + rng.Below(alphabet));
}

// Runs the kernel of `dsp` on the case's buffers (the destination in place).
inline void Run(const BlitDSP& dsp, Case& c, const Tables& t) {
    const int w = c.width, h = c.height;
    uint8_t* d = c.dst.Line(0);
    const uint8_t *s = c.src.Line(0), *s2 = c.second.Line(0);
    const ptrdiff_t dp = c.dst.pitch, sp = c.src.pitch;
    switch (c.kernel) {
        case kCopy8: dsp.copy8(d, dp - w, s, sp - w, w, h); break;
        case kDouble8: dsp.double8(d, dp, s, sp - w, w, h); break;
        case kInterlace8: dsp.interlace8(d, 2 * (dp - w), s, sp - w, w, h); break;
        case kSmooth8: dsp.smooth8(d, dp, s, sp, w, h, t.smooth8); break;
        case kLookup16: dsp.lookup16(d, dp - 2 * w, s, sp - w, w, h, t.colorTable16); break;
        case kDouble16: dsp.double16(d, dp, s, sp - w, w, h, t.colorTable16); break;
        case kInterlace16: dsp.interlace16(d, 2 * (dp - 2 * w), s, sp - w, w, h, t.colorTable16); break;
        case kSmooth16: dsp.smooth16(d, dp, s, sp, w, h, t.smooth16); break;
        case kTrans8: dsp.trans8(d, dp - w, s, sp - w, w, h, c.transparent); break;
        case kMerge8: dsp.merge8(d, dp - w, s, sp - w, w, h, c.transparent, s2); break;
        case kMask8: dsp.mask8(d, dp - w, s, sp - w, w, h, c.transparent, s2); break;
        default: break;
    }
}

// True when the x87 registers are all free (tag word 0xFFFF): an MMX path
// that forgot EMMS leaves them marked in use, and x87 code after it breaks.
inline bool FpuRegistersFree() {
#if defined(__i386__) || defined(__x86_64__)
    struct {
        uint16_t control, pad0, status, pad1, tags, pad2;
        uint32_t rest[4];
    } env;
    __asm__ volatile("fnstenv %0\n\tfldenv %0" : "+m"(env));
    return env.tags == 0xFFFF;
#else
    return true;
#endif
}

// Marks the x87 registers free again, so that one kernel that forgot EMMS
// is not blamed on the calls after it.
inline void FreeFpuRegisters() {
#if defined(__i386__) || defined(__x86_64__)
    __asm__ volatile("emms");
#endif
}

// Runs `dsp` (a variant's table, or a broken one) against the plain table
// on one case. Empty result = pass; else where and what differs: the first
// bytes inside the footprint as byte column and destination line, or a
// write outside it, or x87 registers left in use.
inline std::string CheckCase(const BlitDSP& dsp, const char* name, Case& c, const Tables& t) {
    const std::vector<uint8_t> before = c.dst.bytes;
    Run(BlitDspFor(kBlitPlain), c, t);
    const std::vector<uint8_t> want = c.dst.bytes;
    c.dst.bytes = before;
    FreeFpuRegisters();
    Run(dsp, c, t);
    const bool fpuFree = FpuRegistersFree();
    const std::vector<uint8_t> got = c.dst.bytes;
    c.dst.bytes = before;
    char text[200];
    std::snprintf(text, sizeof text, "%s %s %dx%d srcPitch %ld dstPitch %ld transparent 0x%x: ", name, KernelName(c.kernel), c.width,
                  c.height, static_cast<long>(c.src.pitch), static_cast<long>(c.dst.pitch), static_cast<unsigned>(c.transparent));
    std::string out;
    const Footprint f = FootprintOf(c.kernel, c.width, c.height);
    std::vector<bool> writable(before.size(), false);
    for (int y = 0; y < f.lines; ++y)
        for (int x = 0; x < f.rowBytes && !(f.everyOther && (y & 1)); ++x) {
            const size_t o = c.dst.OffsetOf(x, y);
            writable[o] = true;
            if (want[o] == got[o] || out.size() > 200) continue;
            char line[80];
            std::snprintf(line, sizeof line, "\n  line %d byte %d: want %02x got %02x", y, x, want[o], got[o]);
            out += line;
        }
    for (size_t i = 0; i < before.size(); ++i)
        if (!writable[i] && (before[i] != got[i] || before[i] != want[i]))
            return text + std::string(before[i] != want[i] ? "(plain) " : "") + "write outside the rectangle at byte " +
                   std::to_string(static_cast<ptrdiff_t>(i) - static_cast<ptrdiff_t>(c.dst.start)) + " from line 0's start";
    if (!fpuFree) return text + std::string("x87 registers left in use (no EMMS)");
    return out.empty() ? out : text + std::string("differs from plain") + out;
}

// Every width from 1 to 70 at several heights, each with fresh random
// pitches, offsets and pixels. Returns the first failure, or empty.
inline std::string CheckKernel(BlitVariant variant, Kernel k, uint64_t seed) {
    Rng rng(seed * 131 + static_cast<uint64_t>(k) * 7 + static_cast<uint64_t>(variant));
    static Tables tables;
    tables.Randomise(rng);
    Case c;
    for (int height : {1, 2, 3, 5, 8})
        for (int width = 1; width <= 70; ++width) {
            MakeCase(c, k, width, height, rng);
            const std::string failure = CheckCase(BlitDspFor(variant), BlitVariantName(variant), c, tables);
            if (!failure.empty()) return failure;
        }
    return {};
}

// The table builders: random palettes, some with repeated colours (ties) and
// some with few distinct reds (long searches).
inline void RandomPalette(uint8_t palette[768], Rng& rng) {
    rng.Fill(palette, 768);
    const uint32_t kind = rng.Below(3);
    for (int i = 0; kind == 1 && i < 64; ++i) std::memcpy(palette + 3 * rng.Below(256), palette + 3 * rng.Below(256), 3);
    for (int i = 0; kind == 2 && i < 256; ++i) palette[3 * i] = static_cast<uint8_t>(palette[3 * i] & 0xC0);
}

inline std::string CheckBuilders(BlitVariant variant, uint64_t seed, int palettes) {
    Rng rng(seed * 977 + static_cast<uint64_t>(variant));
    const BlitDSP &ref = BlitDspFor(kBlitPlain), &dsp = BlitDspFor(variant);
    std::vector<uint8_t> want(131072), got(131072);
    uint8_t palette[768];
    for (int n = 0; n < palettes; ++n) {
        RandomPalette(palette, rng);
        for (int b = 0; b < 3; ++b) {  // the 8-bit, 16-bit 5-5-5 and 5-6-5 builders
            const char* names[3] = {"BuildSmooth8", "BuildSmooth16 5-5-5", "BuildSmooth16 5-6-5"};
            for (const BlitDSP* d : {&ref, &dsp}) {
                std::vector<uint8_t>& out = d == &ref ? want : got;
                FreeFpuRegisters();
                if (b == 0) d->buildSmooth8(out.data(), palette);
                if (b > 0) (b == 1 ? d->buildSmooth16_555 : d->buildSmooth16_565)(reinterpret_cast<uint16_t*>(out.data()), palette);
            }
            const std::string where = std::string(BlitVariantName(variant)) + " palette " + std::to_string(n) + ": " + names[b];
            if (!FpuRegistersFree()) return where + " left x87 registers in use";
            if (want != got) return where + " differs from plain";
        }
    }
    return {};
}

}  // namespace checkblit
