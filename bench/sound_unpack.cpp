// Unpacking speed of compressed sound, in bytes of PCM produced per second.
// The input is a smooth random walk (skewed, small deltas like real sound),
// one chunk of 94080 unpacked bytes unpacked into a 102400-byte ring.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "movie/sound_unpack.h"
#include "writer/writer.h"

namespace {

std::vector<uint8_t> MakeSound(bool stereo, bool wide, size_t bytes) {
    std::mt19937 rng(7);
    size_t fs = (stereo ? 2 : 1) * (wide ? 2 : 1);
    std::vector<uint8_t> pcm(bytes / fs * fs);
    double level[2] = {0, 0}, speed[2] = {0, 0};
    std::normal_distribution<double> noise(0.0, wide ? 160.0 : 0.6);
    for (size_t f = 0; f < pcm.size() / fs; f++)
        for (int ch = 0; ch < (stereo ? 2 : 1); ch++) {
            speed[ch] = speed[ch] * 0.95 + noise(rng);
            level[ch] = level[ch] * 0.999 + speed[ch];
            int v = static_cast<int>(level[ch]);
            uint8_t* p = &pcm[f * fs + ch * (wide ? 2 : 1)];
            if (wide) {
                p[0] = static_cast<uint8_t>(v);
                p[1] = static_cast<uint8_t>(v >> 8);
            } else {
                p[0] = static_cast<uint8_t>(v + 128);
            }
        }
    return pcm;
}

void BM_UnpackSound(benchmark::State& state) {
    bool stereo = state.range(0) & 1, wide = state.range(0) & 2;
    std::vector<uint8_t> pcm = MakeSound(stereo, wide, 94080);
    const std::vector<uint8_t> chunk = qvw::EncodeSoundChunk(pcm.data(), pcm.size(), wide ? 16 : 8, stereo ? 2 : 1, true);
    const std::vector<uint8_t> stream(chunk.begin() + 8, chunk.end());  // the packed stream after the two header words
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
