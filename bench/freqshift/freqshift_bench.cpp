// Cost of the render's frequency shift over whole layers, as CPU time per second of
// the layer (1 s would be real time on one core), for 6 s and 60 s of
// mono 48 kHz audio: equal figures show the cost grows with the length and no
// faster. The peer is the render's pitch shift by band-limited resampling (a
// semitone up) over the same audio, a step every shifted layer already pays.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "audio/frequency_shift.h"
#include "audio/resample.h"

using namespace morvane;

namespace {

constexpr int kRate = 48000;

std::vector<float> Material(int64_t seconds) {
    std::vector<float> x(static_cast<size_t>(seconds * kRate));
    uint32_t state = 1;
    for (size_t i = 0; i < x.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const float noise = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
        x[i] = 0.3f * std::sin(0.05f * static_cast<float>(i % 100000)) + 0.1f * noise;
    }
    return x;
}

void Report(benchmark::State& state, int64_t seconds) {
    state.counters["cpu_per_audio_second"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(seconds),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FrequencyShift(benchmark::State& state) {
    const std::vector<float> source = Material(state.range(0));
    for (auto _ : state) {
        std::vector<float> x = source;
        ShiftFrequency(x, 23.0f, kRate);
        benchmark::DoNotOptimize(x.data());
    }
    Report(state, state.range(0));
}
BENCHMARK(BM_FrequencyShift)->Arg(6)->Arg(60)->Unit(benchmark::kMillisecond);

void BM_PitchShiftPeer(benchmark::State& state) {
    const std::vector<float> source = Material(state.range(0));
    const int64_t frames = PitchShiftedLength(static_cast<int64_t>(source.size()), 1.0);
    for (auto _ : state) {
        std::vector<float> x = ResampleToLength(source, frames);
        benchmark::DoNotOptimize(x.data());
    }
    Report(state, state.range(0));
}
BENCHMARK(BM_PitchShiftPeer)->Arg(6)->Arg(60)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
