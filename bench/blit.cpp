// Speed of every blitter kernel in every variant this processor has, on a
// 320 x 240 source rectangle, next to a plain memcpy of the same number of
// destination bytes (the physical reference). Rates are in source pixels
// per second ("items_per_second"), so a kernel and its memcpy line compare
// directly. Also times the smoothing-table builds on random palettes.
//   bench_blit [--benchmark_filter=Double8]
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "blit/kernels.h"
#include "tests/blit/checkblit.h"

namespace {

constexpr int kWidth = 320, kHeight = 240;

struct Frame {
    std::vector<uint8_t> src, second, dst;
    std::vector<uint8_t> reference;  // the memcpy lines' source, as large as the largest output
    checkblit::Tables tables;
    int dstPitch = 0;
    Frame() {
        checkblit::Rng rng(2024);
        src.resize(kWidth * kHeight);
        second.resize(src.size());
        rng.Fill(src.data(), src.size());
        rng.Fill(second.data(), second.size());
        reference.resize(8 * src.size());
        rng.Fill(reference.data(), reference.size());
        tables.Randomise(rng);
        dstPitch = 4 * kWidth;  // wide enough for every kernel's row
        dst.assign(static_cast<size_t>(dstPitch) * 2 * kHeight, 0);
    }
};

Frame& TheFrame() {
    static Frame* frame = new Frame;
    return *frame;
}

// Destination bytes each kernel writes per source pixel.
int OutputBytes(checkblit::Kernel k) {
    switch (k) {
        case checkblit::kDouble8:
        case checkblit::kSmooth8: return 4;
        case checkblit::kInterlace8:
        case checkblit::kLookup16: return 2;
        case checkblit::kDouble16:
        case checkblit::kSmooth16: return 8;
        case checkblit::kInterlace16: return 4;
        default: return 1;
    }
}

void RunKernel(benchmark::State& state, BlitVariant variant, checkblit::Kernel k) {
    Frame& f = TheFrame();
    const BlitDSP& dsp = BlitDspFor(variant);
    const int w = kWidth, h = kHeight, dp = f.dstPitch;
    const ptrdiff_t sp = kWidth;
    uint8_t* d = f.dst.data();
    const uint8_t* s = f.src.data();
    const uint8_t* o = f.second.data();
    const checkblit::Tables& t = f.tables;
    const uint32_t transparent = s[0];
    for (auto _ : state) {
        switch (k) {
            case checkblit::kCopy8: dsp.copy8(d, dp - w, s, sp - w, w, h); break;
            case checkblit::kDouble8: dsp.double8(d, dp, s, sp - w, w, h); break;
            case checkblit::kInterlace8: dsp.interlace8(d, 2 * (dp - w), s, sp - w, w, h); break;
            case checkblit::kSmooth8: dsp.smooth8(d, dp, s, sp, w, h, t.smooth8); break;
            case checkblit::kLookup16: dsp.lookup16(d, dp - 2 * w, s, sp - w, w, h, t.colorTable16); break;
            case checkblit::kDouble16: dsp.double16(d, dp, s, sp - w, w, h, t.colorTable16); break;
            case checkblit::kInterlace16:
                dsp.interlace16(d, 2 * (dp - 2 * w), s, sp - w, w, h, t.colorTable16);
                break;
            case checkblit::kSmooth16: dsp.smooth16(d, dp, s, sp, w, h, t.smooth16); break;
            case checkblit::kTrans8: dsp.trans8(d, dp - w, s, sp - w, w, h, transparent); break;
            case checkblit::kMerge8: dsp.merge8(d, dp - w, s, sp - w, w, h, transparent, o); break;
            case checkblit::kMask8: dsp.mask8(d, dp - w, s, sp - w, w, h, transparent, o); break;
            default: break;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * w * h);
    state.SetBytesProcessed(state.iterations() * w * h * OutputBytes(k));
}

// memcpy (or memmove, which this C library does faster for some sizes) of
// exactly the destination lines the kernel writes, into the same destination
// layout, from a separate source.
template <void* (*Copy)(void*, const void*, size_t)>
void RunMemcpy(benchmark::State& state, checkblit::Kernel k) {
    Frame& f = TheFrame();
    const checkblit::Footprint fp = checkblit::FootprintOf(k, kWidth, kHeight);
    for (auto _ : state) {
        const uint8_t* in = f.reference.data();
        for (int y = 0; y < fp.lines; y += fp.everyOther ? 2 : 1, in += fp.rowBytes)
            Copy(f.dst.data() + static_cast<size_t>(y) * f.dstPitch, in, static_cast<size_t>(fp.rowBytes));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * OutputBytes(k));
}

void RunBuildSmooth8(benchmark::State& state, BlitVariant variant) {
    checkblit::Rng rng(7);
    std::vector<uint8_t> table(65536);
    uint8_t palette[768];
    rng.Fill(palette, sizeof palette);
    for (auto _ : state) {
        BlitDspFor(variant).buildSmooth8(table.data(), palette);
        benchmark::ClobberMemory();
    }
}

void RunBuildSmooth16(benchmark::State& state, BlitVariant variant) {
    checkblit::Rng rng(7);
    std::vector<uint16_t> table(65536);
    uint8_t palette[768];
    rng.Fill(palette, sizeof palette);
    for (auto _ : state) {
        BlitDspFor(variant).buildSmooth16_565(table.data(), palette);
        benchmark::ClobberMemory();
    }
}

int RegisterAll() {
    for (int k = 0; k < checkblit::kKernelCount; ++k) {
        const auto kernel = static_cast<checkblit::Kernel>(k);
        const std::string name = checkblit::KernelName(kernel);
        for (int v = 0; v < kBlitVariantCount; ++v) {
            const auto variant = static_cast<BlitVariant>(v);
            if (!BlitVariantSupported(variant)) continue;
            benchmark::RegisterBenchmark((name + "/" + BlitVariantName(variant)).c_str(),
                                         [variant, kernel](benchmark::State& s) { RunKernel(s, variant, kernel); })
                ->Unit(benchmark::kMicrosecond);
        }
        benchmark::RegisterBenchmark((name + "/memcpy").c_str(),
                                     [kernel](benchmark::State& s) { RunMemcpy<std::memcpy>(s, kernel); })
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((name + "/memmove").c_str(),
                                     [kernel](benchmark::State& s) { RunMemcpy<std::memmove>(s, kernel); })
            ->Unit(benchmark::kMicrosecond);
    }
    for (int v = 0; v < kBlitVariantCount; ++v) {
        const auto variant = static_cast<BlitVariant>(v);
        if (!BlitVariantSupported(variant)) continue;
        benchmark::RegisterBenchmark((std::string("BuildSmooth8/") + BlitVariantName(variant)).c_str(),
                                     [variant](benchmark::State& s) { RunBuildSmooth8(s, variant); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BuildSmooth16/") + BlitVariantName(variant)).c_str(),
                                     [variant](benchmark::State& s) { RunBuildSmooth16(s, variant); })
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}

const int g_registered = RegisterAll();

}  // namespace

BENCHMARK_MAIN();
