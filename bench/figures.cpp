// The speed figures of decoding, sound unpacking and the smoothing and
// doubling kernels in one run (smoothing also on pixels of 64 colours), each next to a memcpy of the same number of
// output bytes timed in the same round. Rounds interleave every measurement,
// so a machine whose load changes meets them all alike; the figures are the
// medians over the rounds, in processor time of this thread.
//   bench_figures [--rounds N]
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "blit/kernels.h"
#include "common/cpu.h"
#include "movie/movie.h"
#include "movie/sound_unpack.h"
#include "tests/blit/checkblit.h"
#include "video/frame_target.h"

namespace {

double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Calls per second of `call`, over at least 20 ms.
double CallsPerSecond(const std::function<void()>& call) {
    call();  // warm caches and tables
    uint64_t calls = 1;
    for (;;) {
        const double start = ThreadSeconds();
        for (uint64_t i = 0; i < calls; ++i) call();
        const double spent = ThreadSeconds() - start;
        if (spent >= 0.02) return static_cast<double>(calls) / spent;
        calls *= spent > 0.002 ? static_cast<uint64_t>(0.03 / spent) + 1 : 10;
    }
}

double LoadAverage() {
    double load = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    return load;
}

// One figure: `call` does the work of `scale` units (pixels, frames, bytes,
// counted in the unit's size: 1e6 for "M..."); `copy` memcpys the bytes the
// call writes into the same destination, from a buffer of their own.
struct Figure {
    std::string name;
    std::string unit;
    double scale;
    std::function<void()> call;
    std::function<void()> copy;
    std::vector<double> rates = {}, copyRates = {};
};

// The memcpy reference: `bytes` bytes into `to`, from a buffer of their own.
std::function<void()> CopyInto(uint8_t* to, size_t bytes) {
    auto from = std::make_shared<std::vector<uint8_t>>(bytes, 0x5A);
    return [to, bytes, from] {
        std::memcpy(to, from->data(), bytes);
        __asm__ volatile("" : : "r"(to) : "memory");
    };
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Frame decoding of a prepared movie into a buffer of its size, cycling
// through its frames; reader: 1 = plain, 2 = wide.
struct DecodeRig {
    const benchdata::Prepared& movie;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> tables;
    Movie* m = new Movie();
    size_t frame = 0;
    explicit DecodeRig(const benchdata::Prepared& p) : movie(p), pixels(size_t{p.width} * p.height), tables(p.tables) {
        m->Header.Width = p.width;
        m->Header.Height = p.height;
        QuarvToBuffer(m, 0, 0, static_cast<int32_t>(p.width), p.height, pixels.data(), 0);
    }
    ~DecodeRig() {
        QuarvToBuffer(m, 0, 0, 0, 0, nullptr, 0);
        delete m;
    }
    void Frame(uint32_t reader) {
        const auto& v = movie.videos[frame];
        MmxLevel = reader;
        DecodeFrame(v.first, v.second, reinterpret_cast<DecodeTables*>(tables.data()), m->FrameTarget, nullptr);
        if (++frame == movie.videos.size()) frame = 0;
    }
};

// One compressed chunk of 16-bit stereo sound, unpacked into a ring.
struct SoundRig {
    std::vector<uint8_t> pcm, stream, ring = std::vector<uint8_t>(102400);
    std::vector<uint32_t> scratch = std::vector<uint32_t>(kSoundScratchBytes / 4);
    uint32_t at = 0;
    explicit SoundRig(size_t bytes) : pcm(benchdata::MakeSound(true, true, bytes)), stream(benchdata::PackSound(pcm, true, true)) {}
    void Chunk() {
        UnpackSound(stream.data(), static_cast<uint32_t>(stream.size()), static_cast<uint32_t>(pcm.size()), scratch.data(),
                    ring.data(), ring.data() + ring.size(), ring.data() + at);
        at = static_cast<uint32_t>((at + pcm.size()) % ring.size());
    }
};

// A 320 x 240 source of random pixels and random tables, and a destination
// wide enough for every kernel. `few` holds pixels of only 64 colours: the
// smoothing tables' entries for them fit the first-level cache, as those of
// a real picture's neighbouring colours tend to, where random pixels of all
// 256 colours reach all over the tables (128 KB for Smooth16).
struct BlitRig {
    static constexpr int kWidth = 320, kHeight = 240;
    std::vector<uint8_t> src = std::vector<uint8_t>(kWidth * kHeight);
    std::vector<uint8_t> few = std::vector<uint8_t>(kWidth * kHeight);
    std::vector<uint8_t> dst = std::vector<uint8_t>(8 * kWidth * kHeight);
    checkblit::Tables tables;
    BlitRig() {
        checkblit::Rng rng(2024);
        rng.Fill(src.data(), src.size());
        for (auto& p : few) p = static_cast<uint8_t>(rng.Below(64));
        tables.Randomise(rng);
    }
};

int Usage(FILE* to, int status) {
    std::fprintf(to,
                 "usage: bench_figures [--rounds N]\n"
                 "Times frame decoding, sound unpacking and the smoothing and doubling kernels,\n"
                 "each next to a memcpy of the same output bytes, in N interleaved rounds\n"
                 "(default 5), and prints the medians.\n");
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") return Usage(stdout, 0);
        if (a == "--rounds" && i + 1 < argc) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end || n < 1 || n > 1000) {
                std::fprintf(stderr, "bench_figures: --rounds wants a number from 1 to 1000, not '%s'\n", argv[i]);
                return 2;
            }
            rounds = static_cast<int>(n);
            continue;
        }
        std::fprintf(stderr, "bench_figures: unknown argument '%s'\n", a.c_str());
        return Usage(stderr, 2);
    }

    const double loadBefore = LoadAverage();
    std::printf("Preparing the movies and the sound...\n");
    std::fflush(stdout);
    DecodeRig full(benchdata::Load(benchdata::kFull)), demo(benchdata::Load(benchdata::kDemo));
    SoundRig chunk(94080), frameChunk(5880);
    BlitRig blit;
    const double fullBytes = 640.0 * 480;
    const double blitPixels = BlitRig::kWidth * BlitRig::kHeight;

    std::vector<Figure> figures;
    figures.push_back({"640x480 full blocks, 8-bit, wide reader", "Mpixels/s", fullBytes / 1e6,
                       [&] { full.Frame(2); }, CopyInto(full.pixels.data(), full.pixels.size())});
    figures.push_back({"640x480 full blocks, 8-bit, plain reader", "Mpixels/s", fullBytes / 1e6,
                       [&] { full.Frame(1); }, CopyInto(full.pixels.data(), full.pixels.size())});
    figures.push_back({"demo 320x240, 8-bit, wide reader", "frames/s", 1, [&] { demo.Frame(2); },
                       CopyInto(demo.pixels.data(), demo.pixels.size())});
    figures.push_back({"sound unpacking, 16-bit stereo, 94080-byte chunk", "MB/s", 94080 / 1e6,
                       [&] { chunk.Chunk(); }, CopyInto(chunk.ring.data(), chunk.pcm.size())});
    figures.push_back({"sound unpacking, 16-bit stereo, 5880-byte chunk", "MB/s", 5880 / 1e6,
                       [&] { frameChunk.Chunk(); }, CopyInto(frameChunk.ring.data(), frameChunk.pcm.size())});
    for (const checkblit::Kernel k : {checkblit::kSmooth8, checkblit::kSmooth16, checkblit::kDouble16}) {
        for (int v = 0; v < kBlitVariantCount; ++v) {
            const auto variant = static_cast<BlitVariant>(v);
            if (!BlitVariantSupported(variant)) continue;
            const BlitDSP& dsp = BlitDspFor(variant);
            const int w = BlitRig::kWidth, h = BlitRig::kHeight;
            const checkblit::Footprint fp = checkblit::FootprintOf(k, w, h);
            std::function<void()> call;
            if (k == checkblit::kSmooth8)
                call = [&blit, &dsp, fp, w, h] {
                    dsp.smooth8(blit.dst.data(), fp.rowBytes, blit.src.data(), w, w, h, blit.tables.smooth8);
                };
            else if (k == checkblit::kSmooth16)
                call = [&blit, &dsp, fp, w, h] {
                    dsp.smooth16(blit.dst.data(), fp.rowBytes, blit.src.data(), w, w, h, blit.tables.smooth16);
                };
            else
                call = [&blit, &dsp, fp, w, h] {
                    dsp.double16(blit.dst.data(), fp.rowBytes, blit.src.data(), 0, w, h, blit.tables.colorTable16);
                };
            figures.push_back({std::string(checkblit::KernelName(k)) + " 320x240, " + BlitVariantName(variant),
                               "Mpixels/s", blitPixels / 1e6, call,
                               CopyInto(blit.dst.data(), static_cast<size_t>(fp.rowBytes) * fp.lines)});
        }
    }

    // The smoothing kernels the blitter uses, on pixels of 64 colours.
    if (MmxLevel == 0) DetectMmx();
    const BlitVariant used = CurrentBlitVariant();
    const BlitDSP& usedDsp = BlitDspFor(used);
    {
        const int w = BlitRig::kWidth, h = BlitRig::kHeight;
        figures.push_back({std::string("Smooth8 320x240, ") + BlitVariantName(used) + ", 64 colours", "Mpixels/s",
                           blitPixels / 1e6,
                           [&blit, &usedDsp, w, h] {
                               usedDsp.smooth8(blit.dst.data(), 2 * w, blit.few.data(), w, w, h, blit.tables.smooth8);
                           },
                           CopyInto(blit.dst.data(), 4 * blitPixels)});
        figures.push_back({std::string("Smooth16 320x240, ") + BlitVariantName(used) + ", 64 colours", "Mpixels/s",
                           blitPixels / 1e6,
                           [&blit, &usedDsp, w, h] {
                               usedDsp.smooth16(blit.dst.data(), 4 * w, blit.few.data(), w, w, h, blit.tables.smooth16);
                           },
                           CopyInto(blit.dst.data(), 8 * blitPixels)});
    }

    const uint32_t savedLevel = MmxLevel;
    for (int r = 0; r < rounds; ++r) {
        std::printf("Round %d of %d\n", r + 1, rounds);
        std::fflush(stdout);
        for (Figure& f : figures) {
            f.rates.push_back(CallsPerSecond(f.call) * f.scale);
            f.copyRates.push_back(CallsPerSecond(f.copy) * f.scale);
        }
    }
    MmxLevel = savedLevel;

    std::printf("\nMedians of %d interleaved rounds, processor time of this thread; load average %.2f before, %.2f after.\n",
                rounds, loadBefore, LoadAverage());
    std::printf("The memcpy column copies each call's output bytes into the same destination, in the same unit.\n\n");
    std::printf("%-50s %10s %10s %7s  %s\n", "measure", "rate", "memcpy", "ratio", "unit");
    for (const Figure& f : figures) {
        const double rate = Median(f.rates), copy = Median(f.copyRates);
        std::printf("%-50s %10.1f %10.1f %6.2fx  %s\n", f.name.c_str(), rate, copy, rate / copy, f.unit.c_str());
    }
    std::printf("\nThe blitter uses the %s kernels here.\n", BlitVariantName(used));
    return 0;
}
