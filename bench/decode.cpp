// Frame decoding speed: frames per second and pixels per second for the
// 320 x 240 demo movie, a 640 x 480 movie of mostly full blocks and a
// 640 x 480 mixture, through the plain and the wide bit reader, into 8-bit
// and 16-bit buffers. Movies are made by the writer library when the
// benchmark starts; only DecodeFrame is timed.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_data.h"
#include "common/cpu.h"
#include "movie/movie.h"
#include "video/frame_target.h"

namespace {

using benchdata::Content;
using benchdata::kDemo;
using benchdata::kFull;
using benchdata::kMix;
using benchdata::Prepared;

void Decode(benchmark::State& state, Content c, uint32_t mmxLevel, uint32_t flags) {
    const Prepared& p = benchdata::Load(c);
    const uint32_t bpp = flags ? 2 : 1;
    std::vector<uint8_t> pixels(static_cast<size_t>(p.width) * bpp * p.height);
    Movie* m = new Movie();
    m->Header.Width = p.width;
    m->Header.Height = p.height;
    QuarvToBuffer(m, 0, 0, static_cast<int32_t>(p.width * bpp), p.height, pixels.data(), flags);
    std::vector<uint8_t> tables = p.tables;  // the caches are written while decoding
    auto* t = reinterpret_cast<DecodeTables*>(tables.data());
    uint16_t colors[256];
    for (int i = 0; i < 256; ++i) colors[i] = static_cast<uint16_t>(i * 0x0101);
    const uint32_t saved = MmxLevel;
    MmxLevel = mmxLevel;
    size_t frame = 0;
    for (auto _ : state) {
        const auto& v = p.videos[frame];
        DecodeFrame(v.first, v.second, t, m->FrameTarget, colors);
        benchmark::ClobberMemory();
        if (++frame == p.videos.size()) frame = 0;
    }
    MmxLevel = saved;
    state.SetItemsProcessed(state.iterations());
    state.counters["Mpixels/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * p.width * p.height / 1e6,
                                                     benchmark::Counter::kIsRate);
    uint64_t blocks = 0;
    for (uint64_t n : p.blockCounts) blocks += n;
    if (blocks) {
        state.counters["full%"] = 100.0 * p.blockCounts[1] / blocks;
        state.counters["skip%"] = 100.0 * p.blockCounts[2] / blocks;
    }
    QuarvToBuffer(m, 0, 0, 0, 0, nullptr, 0);
    delete m;
}

}  // namespace

BENCHMARK_CAPTURE(Decode, demo320_plain_8bit, kDemo, 1, 0);
BENCHMARK_CAPTURE(Decode, demo320_wide_8bit, kDemo, 2, 0);
BENCHMARK_CAPTURE(Decode, demo320_wide_565, kDemo, 2, 0xC0000000u);
BENCHMARK_CAPTURE(Decode, full640_plain_8bit, kFull, 1, 0);
BENCHMARK_CAPTURE(Decode, full640_wide_8bit, kFull, 2, 0);
BENCHMARK_CAPTURE(Decode, full640_wide_565, kFull, 2, 0xC0000000u);
BENCHMARK_CAPTURE(Decode, mixed640_plain_8bit, kMix, 1, 0);
BENCHMARK_CAPTURE(Decode, mixed640_wide_8bit, kMix, 2, 0);

BENCHMARK_MAIN();
