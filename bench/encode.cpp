// Encoding speed of the movie writer, in frames per second: the demo movie
// (lossless and lossy), and noise frames, the worst case (every block full).
#include <benchmark/benchmark.h>

#include <random>

#include "writer/writer.h"

namespace {

const qvw::MoviePlan& Demo() {
    static const qvw::MoviePlan plan = qvw::MakeDemoPlan(225);
    return plan;
}

void Run(benchmark::State& state, const qvw::MoviePlan& plan) {
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<uint8_t> movie = qvw::WriteMovie(plan);
        bytes = movie.size();
        benchmark::DoNotOptimize(movie.data());
    }
    const double frames = static_cast<double>(plan.frames.size());
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["ms_per_frame"] =
        benchmark::Counter(frames / 1000.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_EncodeDemo(benchmark::State& state) { Run(state, Demo()); }

void BM_EncodeDemoLossy(benchmark::State& state) {
    static qvw::MoviePlan plan = [] {
        qvw::MoviePlan s = Demo();
        s.lossy_threshold = 3 * 9.0 * 9.0;
        return s;
    }();
    Run(state, plan);
}

void BM_EncodeDemoPicturesOnly(benchmark::State& state) {
    static qvw::MoviePlan plan = [] {
        qvw::MoviePlan s = Demo();
        s.tracks = {};
        return s;
    }();
    Run(state, plan);
}

void BM_EncodeNoise320x240(benchmark::State& state) {
    static const qvw::MoviePlan plan = [] {
        qvw::MoviePlan s;
        s.width = 320;
        s.height = 240;
        std::mt19937 rng(1);
        for (int f = 0; f < 30; ++f) {
            qvw::FramePlan fs;
            fs.picture.resize(320 * 240);
            for (auto& p : fs.picture) p = static_cast<uint8_t>(rng());
            s.frames.push_back(std::move(fs));
        }
        return s;
    }();
    Run(state, plan);
}

}  // namespace

BENCHMARK(BM_EncodeDemo)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeDemoPicturesOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeDemoLossy)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeNoise320x240)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
