// Unpacking speed of compressed sound, in bytes of PCM produced per second.
// The input is a smooth random walk (skewed, small deltas like real sound),
// one chunk of 94080 unpacked bytes unpacked into a 102400-byte ring.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_data.h"
#include "movie/sound_unpack.h"

namespace {

void BM_UnpackSound(benchmark::State& state) {
    bool stereo = state.range(0) & 1, wide = state.range(0) & 2;
    std::vector<uint8_t> pcm = benchdata::MakeSound(stereo, wide, 94080);
    const std::vector<uint8_t> stream = benchdata::PackSound(pcm, stereo, wide);
    std::vector<uint32_t> scratch(kSoundScratchBytes / 4);
    std::vector<uint8_t> ring(102400);
    uint32_t at = 0;
    for (auto _ : state) {
        UnpackSound(stream.data(), static_cast<uint32_t>(stream.size()), static_cast<uint32_t>(pcm.size()),
                    scratch.data(), ring.data(), ring.data() + ring.size(), ring.data() + at);
        at = static_cast<uint32_t>((at + pcm.size()) % ring.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pcm.size()));
    state.counters["packed_ratio"] = static_cast<double>(stream.size()) / pcm.size();
}

}  // namespace

BENCHMARK(BM_UnpackSound)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->ArgName("layout");
BENCHMARK_MAIN();
